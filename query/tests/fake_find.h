#pragma once
// A scripted C-FIND peer for the query clients' tests: it accepts, reads the request and answers
// with the responses a test writes.
#include <cstdint>
#include <functional>
#include <string>

#include "tests/support/fake_scp.h"

namespace querytest {

using fakescp::Bytes;
using fakescp::Connection;
using fakescp::FakeScp;
using fakescp::Message;

// One C-FIND response PDU pair: the command, then the identifier (when given).
inline void SendFind(Connection& c, uint16_t id, uint16_t status, const char* sop, const Bytes& identifier = Bytes()) {
  bool with = !identifier.empty();
  c.Send(fakescp::PData({{1, 0x03, fakescp::FindRSP(id, status, sop, with)}}));
  if (with) c.Send(fakescp::PData({{1, 0x02, identifier}}));
}

inline Bytes StudyMatch(const std::string& name, const std::string& id) {
  return fakescp::Encode({fakescp::Text(0x0008, 0x0020, "20150312"), fakescp::Text(0x0008, 0x0052, "STUDY"),
                          fakescp::Text(0x0010, 0x0010, name), fakescp::Text(0x0010, 0x0020, id),
                          fakescp::UI(0x0020, 0x000D, "1.2.3." + id)});
}

struct Seen {
  Bytes command, identifier;
  bool released = false;
};

// Accepts, reads the C-FIND-RQ and its identifier, then runs `answer` with the Message ID.
inline FakeScp::Script FindScript(Seen& seen, std::function<void(Connection&, uint16_t)> answer) {
  return [&seen, answer](Connection& c) {
    if (!fakescp::AcceptAssociation(c)) return;
    Message m;
    if (!c.ReadMessage(m)) return;
    seen.command = m.data;
    uint16_t id = fakescp::MessageID(m.data);
    if (!c.ReadMessage(m)) return;
    seen.identifier = m.data;
    answer(c, id);
    // The release request arrives (the answer may find the requestor gone when it did not wait).
    fakescp::ReceivedPdu pdu;
    while (c.ReadPdu(pdu, 10000)) {
      if (pdu.type == 0x05) {
        seen.released = true;
        c.Send(fakescp::ReleaseRP());
        break;
      }
    }
  };
}

}  // namespace querytest
