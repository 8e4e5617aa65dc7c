// The association service against a scripted peer: negotiation outcomes, fragmentation, reassembly,
// the peer's release, abort and malformed PDUs, dead links.
#include "net/pdu_service.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "core/bufdata.h"
#include "core/dcmobj.h"
#include "core/transfer_syntax.h"
#include "core/uid_root.h"
#include "net/dimse.h"
#include "tests/support/fake_scp.h"
#include "tests/support/log_capture.h"
#include "tests/support/peer.h"

using fakescp::Bytes;
using fakescp::Connection;
using fakescp::FakeScp;

namespace {

constexpr const char kVerification[] = "1.2.840.10008.1.1";

bool Open(PDU_Service& pdu, const FakeScp& scp, uint32_t timeout = 5, const std::string& ts = "") {
  return OpenAssociation(pdu, "SCRIVARA", "FAKESCP", "127.0.0.1", scp.PortText(), kVerification, ts, "", timeout);
}

// A data set of exactly `size` encoded bytes (implicit VR little endian): one OB element.
DcmObj DataSetOfSize(uint32_t size) {
  Bytes value(size - 8);
  for (size_t i = 0; i < value.size(); ++i) value[i] = static_cast<uint8_t>(i * 31);
  DcmObj obj;
  obj.Add(DcmTag(0x0009, 0x1010, static_cast<uint32_t>(value.size()), value.data(), "OB"));
  return obj;
}

fakescp::ACOptions WithMaxLength(uint32_t max) {
  fakescp::ACOptions o;
  o.contexts = {{0, 0, "1.2.840.10008.1.2"}};
  o.maxLength = max;
  return o;
}

using Clock = std::chrono::steady_clock;

}  // namespace

TEST(AssociationTest, RequestCarriesOurUserInformation) {
  LogCapture log(1);
  fakescp::AssociateRequest rq;
  FakeScp scp([&](Connection& c) {
    fakescp::AcceptAssociation(c, "1.2.840.10008.1.2", &rq);
    fakescp::ServeRelease(c);
  });
  PDU_Service pdu;
  ASSERT_TRUE(Open(pdu, scp));
  EXPECT_TRUE(log.Has("INFO, Connected to: 127.0.0.1:" + scp.PortText()));
  EXPECT_EQ(pdu.pdata.PresentationContextID, 1);
  EXPECT_EQ(pdu.GetTransferSyntaxUID(1), "1.2.840.10008.1.2");
  EXPECT_EQ(pdu.GetTransferSyntaxUID(3), "");
  EXPECT_TRUE(pdu.Close());
  scp.Join();
  EXPECT_EQ(rq.calledAE, "FAKESCP         ");
  EXPECT_EQ(rq.callingAE, "SCRIVARA        ");
  EXPECT_EQ(rq.applicationContext, "1.2.840.10008.3.1.1.1");
  EXPECT_EQ(rq.maxLength, 16384u);
  EXPECT_EQ(rq.implementationClass, kImplementationClassUID);
  EXPECT_EQ(rq.implementationVersion, "Brelvando");
  ASSERT_EQ(rq.contexts.size(), 1u);
  EXPECT_EQ(rq.contexts[0].id, 1);
  EXPECT_EQ(rq.contexts[0].abstractSyntax, kVerification);
  EXPECT_EQ(rq.contexts[0].transferSyntaxes, std::vector<std::string>{"1.2.840.10008.1.2"});
  EXPECT_TRUE(log.Problems().empty());
}

TEST(AssociationTest, NegotiationFailures) {
  struct Case {
    const char* name;
    Bytes answer;
    std::vector<std::string> log;
    std::string problem = "the called application accepted none of the proposed transfer syntaxes";
  };
  fakescp::ACOptions bigEndian;
  bigEndian.contexts = {{1, 0, "1.2.840.10008.1.2.2"}};
  fakescp::ACOptions none;
  none.contexts = {};
  fakescp::ACOptions rejectedOnly;
  rejectedOnly.contexts = {{1, 4, "1.2.840.10008.1.2"}};
  std::vector<Case> cases = {
      {"rejection", fakescp::AssociateRJ(1, 1, 7), {"ERROR, Association Rejected..."},
       "association rejected permanently by the called application: called AE title not recognized"},
      {"congestion", fakescp::AssociateRJ(2, 3, 1), {"ERROR, Association Rejected..."},
       "association rejected for now by its DICOM provider: temporary congestion"},
      {"a syntax not proposed",
       fakescp::AssociateAC(bigEndian),
       {"WARNING, Presentation Context 1 accepted in a transfer syntax it did not propose: 1.2.840.10008.1.2.2",
        "ERROR, Transfer Syntax is Empty", "ERROR, PDU_Service::Connect, InterogateAAssociateAC failed"}},
      {"no context item",
       fakescp::AssociateAC(none),
       {"WARNING, assocAC.PresContextAccepts Count==0", "ERROR, Transfer Syntax is Empty",
        "ERROR, PDU_Service::Connect, InterogateAAssociateAC failed"}},
      {"context refused",
       fakescp::AssociateAC(rejectedOnly),
       {"ERROR, Transfer Syntax is Empty", "ERROR, PDU_Service::Connect, InterogateAAssociateAC failed"}},
      {"other PDU", fakescp::ReleaseRP(), {"ERROR, Corrupt Transmission..."},
       "the answer to the association request is not DICOM"},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.name);
    LogCapture log;
    FakeScp scp([&](Connection& c) {
      fakescp::ReceivedPdu rq;
      c.ReadPdu(rq);
      c.Send(tc.answer);
      c.WaitClosed(3000);
    });
    PDU_Service pdu;
    EXPECT_FALSE(Open(pdu, scp));
    EXPECT_FALSE(pdu.IsConnected());
    EXPECT_EQ(log.Messages(), tc.log);
    EXPECT_EQ(pdu.Problem, tc.problem);
  }
}

// A store proposes the file's own syntax alone, then the uncompressed ones; here the peer refuses
// the first and takes the second.
TEST(AssociationTest, StoreProposesTheFilesSyntaxThenUncompressed) {
  LogCapture log(2);
  fakescp::ACOptions o;
  o.contexts = {{1, 3, kTsJpegBaseline}, {3, 0, kTsExplicitLE}};
  fakescp::AssociateRequest rq;
  FakeScp scp([&](Connection& c) {
    fakescp::AcceptAssociation(c, o, &rq);
    fakescp::ServeRelease(c);
  });
  PDU_Service pdu;
  AssociationTarget target{"SCRIVARA", "FAKESCP", "127.0.0.1", scp.PortText(), 5};
  ASSERT_TRUE(OpenStoreAssociation(pdu, target, kVerification, kTsJpegBaseline));
  ASSERT_EQ(pdu.AcceptedPresentationContexts.size(), 1u);
  EXPECT_EQ(pdu.AcceptedPresentationContexts[0]->PresentationContextID, 3);
  EXPECT_EQ(pdu.pdata.PresentationContextID, 3);
  EXPECT_TRUE(log.Has("Presentation Context Accept ID: 3, Transfer Syntax: 1.2.840.10008.1.2.1"));
  pdu.Close();
  scp.Join();
  ASSERT_EQ(rq.contexts.size(), 2u);
  EXPECT_EQ(rq.contexts[0].id, 1);
  EXPECT_EQ(rq.contexts[0].transferSyntaxes, std::vector<std::string>{kTsJpegBaseline});
  EXPECT_EQ(rq.contexts[1].id, 3);
  EXPECT_EQ(rq.contexts[1].transferSyntaxes, (std::vector<std::string>{kTsExplicitLE, kTsImplicitLE}));
}

// After the release the requestor closes first and in order; a peer that does not close its side
// in return within a second gets a reset.
TEST(AssociationTest, ReleaseEndsTheConnectionInOrder) {
  for (const bool peerCloses : {true, false}) {
    SCOPED_TRACE(peerCloses);
    bool inOrder = false, reset = false;
    FakeScp scp([&](Connection& c) {
      fakescp::AcceptAssociation(c);
      fakescp::ServeRelease(c);
      if (!peerCloses) std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      inOrder = c.ClosedInOrder();
      reset = !c.Send(fakescp::ReleaseRP());
    });
    PDU_Service pdu;
    ASSERT_TRUE(Open(pdu, scp));
    pdu.Close();
    scp.Join();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(reset, !peerCloses);
  }
}

TEST(AssociationTest, UnknownItemsInTheAcceptStillLeaveTheContext) {
  LogCapture log;
  fakescp::ACOptions sub = WithMaxLength(16384);
  sub.extraSubItems = fakescp::Item(0x56, Bytes{0, 3, 'a', 'b', 'c', 1});
  fakescp::ACOptions item = WithMaxLength(16384);
  item.itemsBeforeUser = fakescp::Item(0x60, Bytes{9, 9, 9});
  for (const auto& o : {sub, item}) {
    LogCapture each;
    FakeScp scp([&](Connection& c) {
      fakescp::AcceptAssociation(c, o);
      fakescp::ServeRelease(c);
    });
    PDU_Service pdu;
    ASSERT_TRUE(Open(pdu, scp));
    EXPECT_EQ(pdu.pdata.PresentationContextID, 1);
    pdu.Close();
    if (!o.extraSubItems.empty()) {
      EXPECT_EQ(each.Messages(), (std::vector<std::string>{"WARNING, UserInformation::Read Unknown Packet",
                                                           "WARNING, UserInformation::Read Count=-1"}));
      EXPECT_EQ(pdu.assocAC.UserInfo.MaxSub.MaximumLength, 16384u);
    } else {
      EXPECT_TRUE(each.Messages().empty());
      EXPECT_EQ(pdu.assocAC.UserInfo.MaxSub.MaximumLength, 0u);  // never read
    }
  }
}

TEST(AssociationTest, SilentPeerAtConnectTimesOut) {
  LogCapture log;
  FakeScp scp([](Connection& c) { c.WaitClosed(5000); });
  PDU_Service pdu;
  auto start = Clock::now();
  EXPECT_FALSE(Open(pdu, scp, 1));
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2500));
  EXPECT_FALSE(pdu.IsConnected());
  EXPECT_EQ(log.Messages(), (std::vector<std::string>{"ERROR, Socket::ReadBinary, Timed out",
                                                      "ERROR, PDU_Service::Connect, Socket Level Error"}));
}

TEST(AssociationTest, PeerDiesInsideTheAccept) {
  LogCapture log;
  FakeScp scp([](Connection& c) {
    fakescp::ReceivedPdu rq;
    c.ReadPdu(rq);
    Bytes ac = fakescp::AssociateAC();
    c.Send(Bytes(ac.begin(), ac.begin() + 40));
    c.Close();
  });
  PDU_Service pdu;
  EXPECT_FALSE(Open(pdu, scp));
  EXPECT_FALSE(pdu.IsConnected());
  EXPECT_EQ(log.Messages(), std::vector<std::string>{"ERROR, PDU_Service::Connect, Socket Level Error"});
}

TEST(AssociationTest, UnreachablePeer) {
  LogCapture log;
  PDU_Service pdu;
  int port = testsupport::FreePort();
  EXPECT_FALSE(OpenAssociation(pdu, "A", "B", "127.0.0.1", std::to_string(port), kVerification, 2));
  EXPECT_EQ(log.Messages(), (std::vector<std::string>{
                                "ERROR, Connecting to Socket: 127.0.0.1:" + std::to_string(port) + ", " +
                                    std::to_string(ECONNREFUSED),
                                "ERROR, PDU_Service::Connect, Socket Level Error"}));
}

TEST(AssociationTest, WriteFragmentsByTheMaximumLength) {
  struct Case {
    uint32_t max;
    std::vector<size_t> pdvs;
    std::string logLine;
  };
  std::vector<Case> cases = {
      {16384, {16378, 16378, 7244}, ""},
      {65536, {16378, 16378, 7244}, "INFO, PDU_Service::Write, MaximumLength set to 16384"},
      {4096, {4090, 4090, 4090, 4090, 4090, 4090, 4090, 4090, 4090, 3190}, ""},
      {0, {40000}, "WARNING, BlockSize is too big: 4294967290"},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.max);
    LogCapture log(2);
    fakescp::Message data, command;
    FakeScp scp([&](Connection& c) {
      fakescp::AcceptAssociation(c, WithMaxLength(tc.max));
      c.ReadMessage(data);
      c.ReadMessage(command);
      fakescp::ServeRelease(c);
    });
    PDU_Service pdu;
    ASSERT_TRUE(Open(pdu, scp));
    DcmObj ds = DataSetOfSize(40000);
    ASSERT_TRUE(pdu.Write(ds, 0));
    DcmObj echo = MakeEchoRQ(kVerification);
    ASSERT_TRUE(pdu.Write(echo, 1));
    pdu.Close();
    scp.Join();
    Connection& c = scp.At(0);
    std::vector<std::vector<size_t>> expected;
    for (size_t n : tc.pdvs) expected.push_back({n});
    expected.push_back({68});
    EXPECT_EQ(c.PdvSizes(), expected);
    std::vector<uint8_t> controls(tc.pdvs.size() - 1, 0x00);
    controls.push_back(0x02);
    controls.push_back(0x03);
    EXPECT_EQ(c.Controls(), controls);
    EXPECT_EQ(data.data.size(), 40000u);
    EXPECT_FALSE(data.command);
    EXPECT_EQ(data.context, 1);
    EXPECT_EQ(data.data[8 + 1], 31);  // value bytes arrive in order
    if (!tc.logLine.empty()) {
      EXPECT_TRUE(log.Has(tc.logLine));
    }
  }
}

TEST(AssociationTest, LargeValuesGoIntoThePDUsStraightFromTheirElements) {
  // A value of 64 KB or more is cut into the PDUs from its element rather than from a copy of the
  // message; the PDUs and the bytes they carry are the same as for any other message.
  LogCapture log;
  Bytes px((3u << 20) + 2);
  for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint8_t>(i * 7 + (i >> 14));
  DcmObj ds;
  ds.AddText(0x0010, 0x0010, "Doe^J");
  ds.Add(DcmTag(0x7FE0, 0x0010, static_cast<uint32_t>(px.size()), px.data(), "OW"));
  ds.Add(DcmTag(0xFFFC, 0xFFFC, 6, "abcdef", "OB"));
  BufData whole;
  ASSERT_TRUE(whole.WriteObj(ds));
  const Bytes expected(whole.data(), whole.data() + whole.GetSize());
  fakescp::Message data;
  FakeScp scp([&](Connection& c) {
    fakescp::AcceptAssociation(c, WithMaxLength(16384));
    c.ReadMessage(data);
    fakescp::ServeRelease(c);
  });
  PDU_Service pdu;
  ASSERT_TRUE(Open(pdu, scp));
  ASSERT_TRUE(pdu.Write(ds, 0));
  pdu.Close();
  scp.Join();
  EXPECT_TRUE(data.data == expected);
  std::vector<std::vector<size_t>> sizes(expected.size() / 16378, std::vector<size_t>{16378});
  if (expected.size() % 16378) sizes.push_back({expected.size() % 16378});
  EXPECT_EQ(scp.At(0).PdvSizes(), sizes);
  EXPECT_EQ(scp.At(0).Controls().back(), 0x02);
  EXPECT_EQ(log.Messages().size(), 0u);
}

TEST(AssociationTest, WriteBeforeAContextIsChosen) {
  LogCapture log;
  PDU_Service pdu;
  DcmObj ds = DataSetOfSize(100);
  EXPECT_FALSE(pdu.Write(ds, 0));
  EXPECT_EQ(log.Messages(), std::vector<std::string>{"ERROR: pdata.PresentationContextID is 0"});
  DcmObj in;
  EXPECT_FALSE(pdu.Read(in));  // not connected: no message
  EXPECT_EQ(log.Messages().size(), 1u);
}

TEST(AssociationTest, CommandAndDataSetInOnePDU) {
  LogCapture log;
  Bytes command = fakescp::EchoRSP(3, 0);
  Bytes dataSet = fakescp::Encode({fakescp::Text(0x0010, 0x0010, "Doe^John"), fakescp::Text(0x0010, 0x0020, "ID42")});
  FakeScp scp([&](Connection& c) {
    fakescp::AcceptAssociation(c);
    // The command in two fragments over two PDUs, its last fragment and the data set in a third.
    Bytes first(command.begin(), command.begin() + 10), rest(command.begin() + 10, command.end());
    c.Send(fakescp::PData({{1, 0x01, first}}));
    c.Send(fakescp::PData({{1, 0x03, rest}, {1, 0x00, Bytes(dataSet.begin(), dataSet.begin() + 5)},
                           {1, 0x02, Bytes(dataSet.begin() + 5, dataSet.end())}}));
    fakescp::ServeRelease(c);
  });
  PDU_Service pdu;
  ASSERT_TRUE(Open(pdu, scp, 2));
  DcmObj rsp, ds;
  ASSERT_TRUE(pdu.Read(rsp));
  EXPECT_EQ(rsp.GetUS(0x0000, 0x0100), 0x8030);
  EXPECT_EQ(rsp.GetUS(0x0000, 0x0120), 3);
  EXPECT_NE(pdu.pdata.Length, 0u);  // the data set is still pending in the PDU
  auto start = Clock::now();
  ASSERT_TRUE(pdu.Read(ds));
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));  // taken without reading the socket
  EXPECT_EQ(ds.GetString(0x0010, 0x0010), "Doe^John");
  EXPECT_EQ(ds.GetString(0x0010, 0x0020), "ID42");
  EXPECT_EQ(ds.transferSyntax, "1.2.840.10008.1.2");
  EXPECT_FALSE(ds.explicitVR);
  pdu.Close();
  EXPECT_TRUE(log.Problems().empty());
}

TEST(AssociationTest, PeerReleaseDuringARead) {
  LogCapture log(2);
  fakescp::ReceivedPdu answer;
  FakeScp scp([&](Connection& c) {
    fakescp::AcceptAssociation(c);
    c.Send(fakescp::ReleaseRQ());
    c.ReadPdu(answer);
    c.WaitClosed(3000);
  });
  PDU_Service pdu;
  ASSERT_TRUE(Open(pdu, scp, 2));
  DcmObj rsp;
  EXPECT_FALSE(pdu.Read(rsp));
  EXPECT_TRUE(log.Has("INFO, PDU_Service::Read Release-RQ"));
  EXPECT_TRUE(pdu.IsConnected());
  pdu.GetSocket().Close();
  scp.Join();
  EXPECT_EQ(answer.type, 0x06);
  EXPECT_EQ(answer.body, Bytes(4, 0));
}

TEST(AssociationTest, ReadFailures) {
  struct Case {
    const char* name;
    std::function<void(Connection&)> play;
    std::vector<std::string> log;
    bool abortSent;
  };
  auto pdv = [](uint32_t pduLength, uint32_t pdvLength) {
    Bytes b{0x04, 0};
    fakescp::Put32BE(b, pduLength);
    fakescp::Put32BE(b, pdvLength);
    b.push_back(1);
    b.push_back(3);
    b.resize(6 + pduLength, 0);
    return b;
  };
  std::vector<Case> cases = {
      {"PDV length 1", [&](Connection& c) { c.Send(pdv(20, 1)); }, {"ERROR, PDU_Service::Read Protocol Error"}, true},
      {"PDV beyond its PDU", [&](Connection& c) { c.Send(pdv(20, 17)); }, {"ERROR, PDU_Service::Read Protocol Error"}, true},
      {"PDU too short for a PDV", [&](Connection& c) { c.Send(pdv(5, 0)); }, {"ERROR, PDU_Service::Read Protocol Error"}, true},
      {"hostile lengths, then silence",
       [&](Connection& c) {
         Bytes b{0x04, 0, 0xFF, 0xFF, 0xFF, 0xF0, 0xFF, 0xFF, 0xFF, 0x00, 1, 3, 'x'};
         c.Send(b);
       },
       {"ERROR, Socket::ReadBinary, Timed out", "ERROR, PDU_Service::Read Protocol Error"},
       false},
      {"unknown PDU type", [&](Connection& c) { c.Send(fakescp::Pdu(0x09, Bytes(4, 0))); }, {"ERROR, PDU_Service::Read Protocol Error"}, true},
      {"associate request", [&](Connection& c) { c.Send(fakescp::Pdu(0x01, Bytes(68, 0))); }, {"ERROR, PDU_Service::Read Associate-RQ"}, true},
      {"associate accept", [&](Connection& c) { c.Send(fakescp::AssociateAC()); }, {"ERROR, PDU_Service::Read Associate-AC"}, true},
      {"associate reject", [&](Connection& c) { c.Send(fakescp::AssociateRJ()); }, {"ERROR, PDU_Service::Read Associate-RJ"}, true},
      {"abort", [&](Connection& c) { c.Send(fakescp::Abort()); }, {"WARNING, PDU_Service::Read Abort-RQ"}, false},
      {"release answer", [&](Connection& c) { c.Send(fakescp::ReleaseRP()); }, {"WARNING, PDU_Service::Read Release-RSP"}, false},
      {"silent peer", [&](Connection&) {}, {"ERROR, Socket::ReadBinary, Timed out"}, false},
      {"closed socket", [&](Connection& c) { c.Close(); }, {}, false},
      {"closed inside a PDU",
       [&](Connection& c) {
         Bytes b = pdv(100, 96);
         b.resize(50);
         c.Send(b);
         c.Close();
       },
       {"ERROR, PDU_Service::Read Protocol Error"},
       false},
      {"message in a context never accepted",
       [&](Connection& c) { c.Send(fakescp::PData({{5, 0x03, fakescp::EchoRSP(1, 0)}})); },
       {"ERROR, PDU_Service::ParseRawVRIntoDCM GetTransferSyntaxUID()", "ERROR, PDU_Service::Read ParseRawVRIntoDCM()"},
       true},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.name);
    LogCapture log;
    Bytes after;
    FakeScp scp([&](Connection& c) {
      fakescp::AcceptAssociation(c);
      tc.play(c);
      uint8_t b[64];
      size_t n = 0;
      while (n < sizeof b && c.ReadExact(b + n, 1, 3000)) ++n;
      after.assign(b, b + n);
    });
    PDU_Service pdu;
    ASSERT_TRUE(Open(pdu, scp, 1));
    DcmObj rsp;
    auto start = Clock::now();
    EXPECT_FALSE(pdu.Read(rsp));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2500));
    EXPECT_FALSE(pdu.IsConnected());
    EXPECT_EQ(log.Messages(), tc.log);
    EXPECT_TRUE(pdu.Close());  // closed already: no release is attempted
    EXPECT_EQ(log.Messages(), tc.log);
    scp.Join();
    if (tc.abortSent)
      EXPECT_EQ(after, (Bytes{0x07, 0, 0, 0, 0, 4, 0, 0, 3, 1}));
    else
      EXPECT_TRUE(after.empty());
  }
}

TEST(AssociationTest, ReleaseWithoutAnswerCostsOneTimeOut) {
  LogCapture log;
  fakescp::ReceivedPdu release;
  FakeScp scp([&](Connection& c) {
    fakescp::AcceptAssociation(c);
    c.ReadPdu(release);
    c.WaitClosed(3000);
  });
  PDU_Service pdu;
  ASSERT_TRUE(Open(pdu, scp, 1));
  EXPECT_TRUE(pdu.Close());
  EXPECT_FALSE(pdu.IsConnected());
  scp.Join();
  EXPECT_EQ(release.type, 0x05);
  EXPECT_EQ(log.Messages(), std::vector<std::string>{"ERROR, Socket::ReadBinary, Timed out"});
}

TEST(AssociationTest, MessageDumpListsWhatIsWrittenAndRead) {
  LogCapture log;
  FakeScp scp([&](Connection& c) {
    fakescp::AcceptAssociation(c);
    fakescp::Message m;
    if (!c.ReadMessage(m)) return;
    c.Send(fakescp::PData({{1, 0x03, fakescp::EchoRSP(fakescp::MessageID(m.data), 0)}}));
    fakescp::ServeRelease(c);
  });
  PDU_Service pdu;
  ASSERT_TRUE(Open(pdu, scp));
  pdu.MessageDump = true;
  ASSERT_TRUE(WriteEchoRQ(pdu, kVerification));
  EXPECT_TRUE(ReadEchoRSP(pdu));
  pdu.Close();
  std::vector<std::string> m = log.Messages();
  // heading, four elements after the group length, an empty line; then the response with five.
  ASSERT_EQ(m.size(), 1u + 5 + 1 + 1 + 6 + 1);
  EXPECT_EQ(m[0], "SCRIVARA >> FAKESCP");
  EXPECT_EQ(m[1].rfind("(0000,0000)", 0), 0u);
  EXPECT_EQ(m[5].rfind("(0000,0800)", 0), 0u);
  EXPECT_EQ(m[6], "");
  EXPECT_EQ(m[7], "SCRIVARA << FAKESCP");
  EXPECT_EQ(m[13].rfind("(0000,0900)", 0), 0u);
  EXPECT_EQ(m[14], "");
}
