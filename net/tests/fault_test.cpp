// Faults of the peer and of the link: a peer that never reads, a gigantic PDU length, a trickle of
// one byte per second, an abort between two stores. Each must end within the read time-out.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "core/dcmobj.h"
#include "net/dimse.h"
#include "net/pdu_service.h"
#include "tests/support/fake_scp.h"
#include "tests/support/log_capture.h"

using fakescp::Bytes;
using fakescp::Connection;
using fakescp::FakeScp;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char kPdfStorage[] = "1.2.840.10008.5.1.4.1.1.104.1";
constexpr uint32_t kTimeout = 2;  // seconds

double SecondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// An encapsulated document of `bytes` bytes, in implicit VR little endian.
DcmObj Document(const std::string& instance, size_t bytes) {
  DcmObj obj;
  obj.Add(DcmTag(0x0008, 0x0016, kPdfStorage, "UI"));
  obj.Add(DcmTag(0x0008, 0x0018, instance, "UI"));
  ByteBuffer doc(bytes);
  for (size_t i = 0; i < bytes; ++i) doc[i] = static_cast<uint8_t>(i * 31);
  obj.Add(DcmTag(0x0042, 0x0011, std::move(doc), "OB"));
  return obj;
}

// Waits, without reading, until the flag is set or 30 s pass.
void IdleUntil(const std::atomic<bool>& flag) {
  for (int i = 0; i < 600 && !flag; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

void AnswerStore(Connection& c, uint16_t status = 0) {
  fakescp::Message command, dataSet;
  if (!c.ReadMessage(command) || !c.ReadMessage(dataSet)) return;
  auto cmd = fakescp::Parse(command.data);
  c.Send(fakescp::PData({{command.context, 0x03,
                          fakescp::StoreRSP(fakescp::MessageID(command.data), status, fakescp::GetText(cmd, 0, 0x0002),
                                            fakescp::GetText(cmd, 0, 0x1000))}}));
}

}  // namespace

// The peer accepts and then reads nothing: once the socket buffers are full our send blocks, and
// the send time-out (the association's read time-out) must end it.
TEST(FaultTest, PeerThatReadsNothingEndsTheStoreWithTheTimeOut) {
  LogCapture log;
  std::atomic<bool> done{false};
  FakeScp scp([&](Connection& c) {
    fakescp::AcceptAssociation(c);
    IdleUntil(done);
  });
  PDU_Service pdu;
  ASSERT_TRUE(OpenAssociation(pdu, "SCRIVARA", "FAKESCP", "127.0.0.1", scp.PortText(), kPdfStorage, kTimeout));
  DcmObj doc = Document("1.2.3.1", 64u << 20);  // far more than loopback socket buffers hold
  const auto start = Clock::now();
  EXPECT_NE(StoreSCU(pdu, doc, kPdfStorage), 0);
  const double took = SecondsSince(start);
  done = true;
  EXPECT_LT(took, 4.0 * kTimeout + 3) << "the blocked send was not ended by the time-out";
  EXPECT_NE(log.Text().find("ERROR, Socket::SendBinary"), std::string::npos) << log.Text();
  pdu.Close();
}

// A PDU length of almost 4 GiB followed by a few bytes: nothing that size is allocated, and the
// read ends with the time-out (the peer then stays silent) or at the close.
TEST(FaultTest, GiganticPduLengthIsNeitherAllocatedNorWaitedForBeyondTheTimeOut) {
  for (bool closeAfter : {false, true}) {
    SCOPED_TRACE(closeAfter ? "peer closes" : "peer stays silent");
    LogCapture log;
    std::atomic<bool> done{false};
    FakeScp scp([&](Connection& c) {
      fakescp::AcceptAssociation(c);
      fakescp::Message command, dataSet;
      if (!c.ReadMessage(command) || !c.ReadMessage(dataSet)) return;
      c.Send(Bytes{0x04, 0x00, 0xFF, 0xFF, 0xFF, 0xF0, 0x00, 0x00, 0x10, 0x00, 0x01, 0x03, 'x', 'y'});
      if (closeAfter)
        c.Close();
      else
        IdleUntil(done);
    });
    PDU_Service pdu;
    ASSERT_TRUE(OpenAssociation(pdu, "SCRIVARA", "FAKESCP", "127.0.0.1", scp.PortText(), kPdfStorage, kTimeout));
    DcmObj doc = Document("1.2.3.2", 100);
    ASSERT_EQ(StoreSCU(pdu, doc, kPdfStorage), 0);
    const auto start = Clock::now();
    EXPECT_EQ(CStore::ReadRSP(&pdu), -1);
    EXPECT_LT(SecondsSince(start), kTimeout + 3.0);
    EXPECT_FALSE(pdu.IsConnected());
    done = true;
    pdu.Close();
  }
  // The same length in the answer to the association request.
  LogCapture log;
  FakeScp scp([&](Connection& c) {
    fakescp::ReceivedPdu rq;
    c.ReadPdu(rq);
    c.Send(Bytes{0x02, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x01});
    c.Close();
  });
  PDU_Service pdu;
  const auto start = Clock::now();
  EXPECT_FALSE(OpenAssociation(pdu, "SCRIVARA", "FAKESCP", "127.0.0.1", scp.PortText(), kPdfStorage, kTimeout));
  EXPECT_LT(SecondsSince(start), kTimeout + 3.0);
}

// The peer trickles its answer one byte per second: each byte comes within the read time-out, but
// the read as a whole must still end once the time-out has passed without a complete answer.
TEST(FaultTest, TrickleOfOneBytePerSecondIsEndedByTheReadTimeOut) {
  LogCapture log;
  std::atomic<bool> done{false};
  FakeScp scp([&](Connection& c) {
    fakescp::ReceivedPdu rq;
    if (!c.ReadPdu(rq)) return;
    fakescp::ACOptions o;
    o.contexts = {fakescp::ACContext{1, 0, "1.2.840.10008.1.2"}};
    const Bytes ac = fakescp::AssociateAC(o);
    for (size_t i = 0; i < ac.size() && !done; ++i) {
      if (!c.Send(Bytes{ac[i]})) return;
      for (int k = 0; k < 20 && !done; ++k) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  PDU_Service pdu;
  const auto start = Clock::now();
  EXPECT_FALSE(OpenAssociation(pdu, "SCRIVARA", "FAKESCP", "127.0.0.1", scp.PortText(), kPdfStorage, kTimeout));
  const double took = SecondsSince(start);
  done = true;
  EXPECT_LT(took, 2.0 * kTimeout + 2) << "a trickling peer held the association for " << took << " s";
}

// The peer answers the first store and then aborts, before the second file of the batch is sent:
// the second store fails cleanly and the association is gone.
TEST(FaultTest, AbortBetweenTwoFilesOfABatchFailsTheSecondCleanly) {
  LogCapture log;
  FakeScp scp([&](Connection& c) {
    fakescp::AcceptAssociation(c);
    AnswerStore(c);
    c.Send(fakescp::Abort());
    c.Close();
  });
  PDU_Service pdu;
  ASSERT_TRUE(OpenAssociation(pdu, "SCRIVARA", "FAKESCP", "127.0.0.1", scp.PortText(), kPdfStorage, kTimeout));
  std::vector<int> results;
  for (const char* uid : {"1.2.3.10", "1.2.3.11", "1.2.3.12"}) {
    DcmObj doc = Document(uid, 1000);
    int r = StoreSCU(pdu, doc, kPdfStorage);
    if (r == 0) r = CStore::ReadRSP(&pdu);
    results.push_back(r);
    if (results.size() == 1) scp.Join();  // the abort has been sent before the next file goes
  }
  ASSERT_EQ(results.size(), 3u);
  EXPECT_EQ(results[0], 0);
  EXPECT_LT(results[1], 0);
  EXPECT_LT(results[2], 0);
  const auto start = Clock::now();
  pdu.Close();
  EXPECT_LT(SecondsSince(start), 1.0) << "closing after the abort waited for an answer";
}
