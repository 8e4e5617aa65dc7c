// DIMSE command sets, C-ECHO, C-STORE and C-FIND against the scripted peer.
#include "net/dimse.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/dcmobj.h"
#include "core/transfer_syntax.h"
#include "tests/support/fake_scp.h"
#include "tests/support/log_capture.h"
#include "tests/support/small_image.h"

using fakescp::Bytes;
using fakescp::Connection;
using fakescp::FakeScp;

namespace {

constexpr const char kVerification[] = "1.2.840.10008.1.1";
constexpr const char kPdfStorage[] = "1.2.840.10008.5.1.4.1.1.104.1";
constexpr const char kBasicTextSR[] = "1.2.840.10008.5.1.4.1.1.88.11";
constexpr const char kStudyFind[] = "1.2.840.10008.5.1.4.1.2.2.1";
constexpr const char kWorklistFind[] = "1.2.840.10008.5.1.4.31";

std::map<uint32_t, Bytes> Parsed(const Bytes& b) { return fakescp::Parse(b); }
uint32_t GroupLength(const Bytes& b) { return fakescp::Get32LE(Parsed(b).at(0), 0); }

// Answers one C-STORE with the given status, after reading command and data set.
struct StorePeer {
  explicit StorePeer(uint16_t status, std::string ts = "1.2.840.10008.1.2")
      : scp([this, status, ts](Connection& c) {
          fakescp::AcceptAssociation(c, ts);
          if (!c.ReadMessage(command) || !c.ReadMessage(dataSet)) return;
          auto cmd = Parsed(command.data);
          c.Send(fakescp::PData({{command.context, 0x03,
                                  fakescp::StoreRSP(fakescp::MessageID(command.data), status,
                                                    fakescp::GetText(cmd, 0, 0x0002), fakescp::GetText(cmd, 0, 0x1000))}}));
          released = fakescp::ServeRelease(c);
        }) {}
  fakescp::Message command, dataSet;
  bool released = false;
  FakeScp scp;
};

DcmObj SmallReport(const std::string& instance) {
  DcmObj obj;
  obj.transferSyntax = "1.2.840.10008.1.2.1";
  obj.explicitVR = true;
  obj.Add(DcmTag(0x0008, 0x0016, kBasicTextSR, "UI"));
  obj.Add(DcmTag(0x0008, 0x0018, instance, "UI"));
  obj.Add(DcmTag(0x0010, 0x0010, "Doe^Jane", "PN"));
  return obj;
}

}  // namespace

TEST(DimseTest, AETitlesArePaddedOrCutTo16) {
  EXPECT_EQ(PadAETitle("SCRIVARA"), "SCRIVARA        ");
  EXPECT_EQ(PadAETitle("ABCDEFGHIJKLMNOPQRST"), "ABCDEFGHIJKLMNOP");
  EXPECT_EQ(PadAETitle(""), std::string(16, ' '));
}

TEST(DimseTest, ProposedTransferSyntaxes) {
  struct Case {
    std::string proposed, additional;
    std::vector<std::string> expected;
  };
  std::vector<Case> cases = {
      {"", "", {"1.2.840.10008.1.2"}},
      {"1.2.840.10008.1.2.1", "", {"1.2.840.10008.1.2.1", "1.2.840.10008.1.2"}},
      {"1.2.840.10008.1.2.4.50", "1.2.840.10008.1.2.4.70",
       {"1.2.840.10008.1.2.4.70", "1.2.840.10008.1.2.4.50", "1.2.840.10008.1.2"}},
      {"1.2.840.10008.1.2.1", "1.2.840.10008.1.2.1", {"1.2.840.10008.1.2.1", "1.2.840.10008.1.2"}},
      {"1.2.840.10008.1.2", "1.2.840.10008.1.2.1", {"1.2.840.10008.1.2.1", "1.2.840.10008.1.2"}},
  };
  for (const auto& tc : cases) {
    LogCapture log(2);
    fakescp::AssociateRequest rq;
    FakeScp scp([&](Connection& c) {
      fakescp::AcceptAssociation(c, "1.2.840.10008.1.2", &rq);
      fakescp::ServeRelease(c);
    });
    PDU_Service pdu;
    ASSERT_TRUE(OpenAssociation(pdu, "ME", "PEER", "127.0.0.1", scp.PortText(), kPdfStorage, tc.proposed,
                                tc.additional, 5));
    pdu.Close();
    scp.Join();
    ASSERT_EQ(rq.contexts.size(), 1u);
    EXPECT_EQ(rq.contexts[0].abstractSyntax, kPdfStorage);
    EXPECT_EQ(rq.contexts[0].transferSyntaxes, tc.expected);
    EXPECT_TRUE(log.Has("INFO, OpenAssociation, Calling Ap. Title: ME              "));
    EXPECT_TRUE(log.Has("INFO, OpenAssociation, Called Ap. Title: PEER            "));
  }
}

TEST(DimseTest, EchoRequestsAndMessageIds) {
  LogCapture log;
  std::vector<fakescp::Message> requests(3);
  std::vector<std::vector<size_t>> pdus;
  FakeScp scp([&](Connection& c) {
    fakescp::AcceptAssociation(c);
    for (auto& m : requests) {
      if (!c.ReadMessage(m)) return;
      c.Send(fakescp::PData({{1, 0x03, fakescp::EchoRSP(fakescp::MessageID(m.data), 0)}}));
    }
    pdus = c.PdvSizes();
    fakescp::ServeRelease(c);
  });
  PDU_Service pdu;
  ASSERT_TRUE(OpenAssociation(pdu, "SCRIVARA", "FAKESCP", "127.0.0.1", scp.PortText(), kVerification, 5));
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(WriteEchoRQ(pdu, kVerification));
    EXPECT_TRUE(ReadEchoRSP(pdu));
  }
  pdu.Close();
  scp.Join();
  EXPECT_EQ(pdus, (std::vector<std::vector<size_t>>{{68}, {68}, {68}}));
  EXPECT_EQ(scp.At(0).Controls(), (std::vector<uint8_t>{3, 3, 3}));
  Bytes expected = fakescp::Command({fakescp::UI(0, 0x0002, kVerification), fakescp::US(0, 0x0100, 0x0030),
                                     fakescp::US(0, 0x0110, 3), fakescp::US(0, 0x0800, 0x0101)});
  EXPECT_EQ(requests[0].data, expected);
  EXPECT_EQ(GroupLength(requests[0].data), 56u);
  EXPECT_EQ(fakescp::MessageID(requests[1].data), 5);
  EXPECT_EQ(fakescp::MessageID(requests[2].data), 7);
  EXPECT_TRUE(log.Problems().empty());
}

TEST(DimseTest, EchoSCUResults) {
  struct Case {
    uint16_t status;
    bool expected;
  };
  for (const Case& tc : {Case{0, true}, Case{0x0110, false}}) {
    LogCapture log;
    bool released = false;
    FakeScp scp([&](Connection& c) {
      fakescp::AcceptAssociation(c);
      fakescp::Message m;
      if (!c.ReadMessage(m)) return;
      c.Send(fakescp::PData({{1, 0x03, fakescp::EchoRSP(fakescp::MessageID(m.data), tc.status)}}));
      released = fakescp::ServeRelease(c);
    });
    EXPECT_EQ(EchoSCU("SCRIVARA", "FAKESCP", "127.0.0.1", scp.PortText(), 5), tc.expected);
    scp.Join();
    EXPECT_TRUE(released);  // the association is released either way
    EXPECT_TRUE(log.Problems().empty());
  }
  LogCapture log;
  FakeScp rejecting([](Connection& c) {
    fakescp::ReceivedPdu rq;
    c.ReadPdu(rq);
    c.Send(fakescp::AssociateRJ());
  });
  EXPECT_FALSE(EchoSCU("SCRIVARA", "FAKESCP", "127.0.0.1", rejecting.PortText(), 5));
  EXPECT_EQ(log.Messages(), (std::vector<std::string>{"ERROR, Association Rejected...", "ERROR, EchoSCU, OpenAssoc failed"}));
}

TEST(DimseTest, CommandSetGroupLengths) {
  std::string instance(40, '1');
  instance[1] = '.';
  DcmObj store = MakeStoreRQ(kPdfStorage, instance);
  EXPECT_EQ(store.FindTag(0, 0)->data()[0], 126);
  DcmObj storeNoInstance = MakeStoreRQ(kPdfStorage, "");
  EXPECT_EQ(storeNoInstance.FindTag(0, 0)->data()[0], 30 + 48);
  EXPECT_EQ(storeNoInstance.FindTag(0, 0x1000), nullptr);
  DcmObj study = MakeFindRQ(kStudyFind);
  EXPECT_EQ(study.FindTag(0, 0)->data()[0], 76);
  DcmObj worklist = MakeFindRQ(kWorklistFind);
  EXPECT_EQ(worklist.FindTag(0, 0)->data()[0], 70);
  EXPECT_EQ(worklist.GetUS(0, 0x0100), 0x0020);
  EXPECT_EQ(worklist.GetUS(0, 0x0800), 0x0102);
}

TEST(DimseTest, StoreSendsCommandAndDataSet) {
  LogCapture log;
  StorePeer peer(0);
  PDU_Service pdu;
  ASSERT_TRUE(OpenAssociation(pdu, "SCRIVARA", "FAKESCP", "127.0.0.1", peer.scp.PortText(), kBasicTextSR,
                              "1.2.840.10008.1.2.1", "", 5));
  std::string instance = "1.2.3.4.5.6.7.8.9.10.11.12.13.14.15.16.1";  // 40 characters
  ASSERT_EQ(instance.size(), 40u);
  DcmObj report = SmallReport(instance);
  // Accepted implicit: the explicit report is relabelled and goes out implicit.
  ASSERT_EQ(StoreSCU(pdu, report, kBasicTextSR), 0);
  EXPECT_EQ(report.transferSyntax, "1.2.840.10008.1.2");
  EXPECT_FALSE(report.explicitVR);
  EXPECT_EQ(CStore::ReadRSP(&pdu), 0);
  pdu.Close();
  peer.scp.Join();
  EXPECT_TRUE(peer.released);
  auto cmd = Parsed(peer.command.data);
  EXPECT_EQ(GroupLength(peer.command.data), 30u + 48 + 40 + 8);
  EXPECT_EQ(fakescp::GetText(cmd, 0, 0x0002), kBasicTextSR);
  EXPECT_EQ(fakescp::GetUS(cmd, 0, 0x0100), 0x0001);
  EXPECT_EQ(fakescp::GetUS(cmd, 0, 0x0110), 3);
  EXPECT_EQ(fakescp::GetUS(cmd, 0, 0x0700), 0);
  EXPECT_EQ(fakescp::GetUS(cmd, 0, 0x0800), 0x0102);
  EXPECT_EQ(fakescp::GetText(cmd, 0, 0x1000), instance);
  EXPECT_TRUE(peer.command.command);
  EXPECT_FALSE(peer.dataSet.command);
  Bytes expected = fakescp::Encode({fakescp::UI(0x0008, 0x0016, kBasicTextSR), fakescp::UI(0x0008, 0x0018, instance),
                                    fakescp::Text(0x0010, 0x0010, "Doe^Jane")});
  EXPECT_EQ(peer.dataSet.data, expected);
  EXPECT_TRUE(log.Problems().empty());
}

// A response counts only for the request it answers, and a warning means the object is stored.
TEST(DimseTest, StoreResponseChecks) {
  struct Case {
    const char* name;
    std::vector<fakescp::Element> extra;  // after Command Field
    bool withStatus, rightID;
    uint16_t status;
    int result;
    bool stored;
    const char* log;
  };
  const std::string instance = "1.2.3";
  const Case cases[] = {
      {"warning B000", {}, true, true, 0xB000, 0xB000, true,
       "WARNING, CStore::ReadRSP, status == 45056, stored with a warning"},
      {"warning B007", {}, true, true, 0xB007, 0xB007, true,
       "WARNING, CStore::ReadRSP, status == 45063, stored with a warning"},
      {"out of resources", {}, true, true, 0xA700, 0xA700, false, "ERROR, CStore::ReadRSP, status == 42752"},
      {"no status", {}, false, true, 0, -5, false, "ERROR, CStore::ReadRSP, the response carries no status"},
      {"another message", {}, true, false, 0, -6, false, "ERROR, CStore::ReadRSP, the response answers message 9, not 3"},
      {"another instance", {fakescp::UI(0, 0x1000, "1.2.4")}, true, true, 0, -7, false,
       "ERROR, CStore::ReadRSP, the response names instance 1.2.4, not 1.2.3"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    LogCapture log;
    FakeScp scp([&](Connection& c) {
      fakescp::AcceptAssociation(c);
      fakescp::Message command, dataSet;
      if (!c.ReadMessage(command) || !c.ReadMessage(dataSet)) return;
      std::vector<fakescp::Element> rsp = {fakescp::UI(0, 0x0002, kBasicTextSR), fakescp::US(0, 0x0100, 0x8001),
                                           fakescp::US(0, 0x0120, tc.rightID ? fakescp::MessageID(command.data) : 9),
                                           fakescp::US(0, 0x0800, 0x0101)};
      if (tc.withStatus) rsp.push_back(fakescp::US(0, 0x0900, tc.status));
      rsp.insert(rsp.end(), tc.extra.begin(), tc.extra.end());
      c.Send(fakescp::PData({{1, 0x03, fakescp::Command(rsp)}}));
      fakescp::ServeRelease(c);
    });
    PDU_Service pdu;
    ASSERT_TRUE(OpenAssociation(pdu, "SCRIVARA", "FAKESCP", "127.0.0.1", scp.PortText(), kBasicTextSR, 5));
    DcmObj report = SmallReport(instance);
    report.transferSyntax = "1.2.840.10008.1.2";
    report.explicitVR = false;
    ASSERT_EQ(StoreSCU(pdu, report, kBasicTextSR), 0);
    const int result = CStore::ReadRSP(&pdu);
    EXPECT_EQ(result, tc.result);
    EXPECT_EQ(CStore::Stored(result), tc.stored);
    pdu.Close();
    EXPECT_EQ(log.Messages(), std::vector<std::string>{tc.log});
  }
}

TEST(DimseTest, StoreFailures) {
  LogCapture log;
  PDU_Service idle;
  DcmObj report = SmallReport("1.2.3");
  EXPECT_EQ(StoreSCU(idle, report, kBasicTextSR), -1);  // no context accepted
  EXPECT_TRUE(log.Messages().empty());
  {
    // Only JPEG lossless with any predictor accepted, which nothing here codes into: the report
    // cannot go.
    StorePeer peer(0, kTsJpegLossless14);
    PDU_Service pdu;
    ASSERT_TRUE(OpenAssociation(pdu, "SCRIVARA", "FAKESCP", "127.0.0.1", peer.scp.PortText(), kBasicTextSR,
                                kTsJpegLossless14, "", 2));
    EXPECT_EQ(StoreSCU(pdu, report, kBasicTextSR), -2);
    pdu.Close();
  }
  // A report in big endian over an explicit little endian context: re-encoded, not sent garbled.
  StorePeer peer(0, kTsExplicitLE);
  PDU_Service pdu;
  ASSERT_TRUE(OpenAssociation(pdu, "SCRIVARA", "FAKESCP", "127.0.0.1", peer.scp.PortText(), kBasicTextSR,
                              kTsExplicitLE, "", 2));
  report.transferSyntax = kTsExplicitBE;
  report.bigEndian = true;
  EXPECT_EQ(StoreSCU(pdu, report, kBasicTextSR), 0);
  EXPECT_EQ(report.transferSyntax, kTsExplicitLE);
  EXPECT_EQ(CStore::ReadRSP(&pdu), 0);
  pdu.Close();
  peer.scp.Join();
  EXPECT_EQ(peer.dataSet.data.size(), 8u + 30 + 8 + 6 + 8 + 8);  // explicit short headers
  EXPECT_TRUE(log.Problems().empty());
}

TEST(DimseTest, PeerGoesAwayInTheMiddleOfAStore) {
  struct Case {
    const char* name;
    bool abort;
  };
  for (const Case& tc : {Case{"A-ABORT", true}, Case{"closed socket", false}}) {
    SCOPED_TRACE(tc.name);
    LogCapture log;
    FakeScp scp([&](Connection& c) {
      fakescp::AcceptAssociation(c);
      fakescp::Message command, dataSet;
      if (!c.ReadMessage(command) || !c.ReadMessage(dataSet)) return;
      if (tc.abort)
        c.Send(fakescp::Abort());
      else
        c.Close();
    });
    PDU_Service pdu;
    ASSERT_TRUE(OpenAssociation(pdu, "SCRIVARA", "FAKESCP", "127.0.0.1", scp.PortText(), kBasicTextSR, 2));
    DcmObj report = SmallReport("1.2.3");
    report.transferSyntax = "1.2.840.10008.1.2";
    report.explicitVR = false;
    ASSERT_EQ(StoreSCU(pdu, report, kBasicTextSR), 0);
    EXPECT_EQ(CStore::ReadRSP(&pdu), -1);
    EXPECT_FALSE(pdu.IsConnected());
    std::vector<std::string> expected;
    if (tc.abort) expected.push_back("WARNING, PDU_Service::Read Abort-RQ");
    expected.push_back("ERROR, CStore::ReadRSP, PDU->Read DCO failed");
    EXPECT_EQ(log.Messages(), expected);
    // The next store on the dead association fails at once.
    EXPECT_EQ(StoreSCU(pdu, report, kBasicTextSR), -4);
    pdu.Close();
  }
}

TEST(DimseTest, StoreResponseThatIsNotAStoreResponse) {
  LogCapture log;
  FakeScp scp([](Connection& c) {
    fakescp::AcceptAssociation(c);
    fakescp::Message command, dataSet;
    if (!c.ReadMessage(command) || !c.ReadMessage(dataSet)) return;
    c.Send(fakescp::PData({{1, 0x03, fakescp::EchoRSP(3, 0)}}));
    fakescp::ServeRelease(c);
  });
  PDU_Service pdu;
  ASSERT_TRUE(OpenAssociation(pdu, "SCRIVARA", "FAKESCP", "127.0.0.1", scp.PortText(), kBasicTextSR, 2));
  DcmObj report = SmallReport("1.2.3");
  report.transferSyntax = "1.2.840.10008.1.2";
  ASSERT_EQ(StoreSCU(pdu, report, kBasicTextSR), 0);
  EXPECT_EQ(CStore::ReadRSP(&pdu), -2);
  pdu.Close();
  EXPECT_EQ(log.Messages(), std::vector<std::string>{"ERROR, CStore::ReadRSP, not a C-Store RSP"});
}

TEST(DimseTest, FindRequestAndResponses) {
  LogCapture log;
  fakescp::Message command, identifier;
  Bytes match = fakescp::Encode({fakescp::Text(0x0010, 0x0010, "Doe^Jane"), fakescp::Text(0x0010, 0x0020, "ID7")});
  FakeScp scp([&](Connection& c) {
    fakescp::AcceptAssociation(c);
    if (!c.ReadMessage(command) || !c.ReadMessage(identifier)) return;
    uint16_t id = fakescp::MessageID(command.data);
    c.Send(fakescp::PData({{1, 0x03, fakescp::FindRSP(id, 0xFF00, kStudyFind, true)}, {1, 0x02, match}}));
    c.Send(fakescp::PData({{1, 0x03, fakescp::FindRSP(id, 0x0000, kStudyFind, false)}}));
    fakescp::ServeRelease(c);
  });
  PDU_Service pdu;
  ASSERT_TRUE(OpenAssociation(pdu, "SCRIVARA", "FAKESCP", "127.0.0.1", scp.PortText(), kStudyFind, 5));
  DcmObj query;
  query.Add(DcmTag(0x0008, 0x0052, "STUDY", "CS"));
  query.Add(DcmTag(0x0010, 0x0010, "Doe*", "PN"));
  ASSERT_TRUE(CFind::WriteRQ(&pdu, query, kStudyFind));
  DcmObj result;
  EXPECT_EQ(CFind::ReadRSP(pdu, result), 0xFF00);
  EXPECT_EQ(result.GetString(0x0010, 0x0020), "ID7");
  DcmObj last;
  EXPECT_EQ(CFind::ReadRSP(pdu, last), 0);
  EXPECT_EQ(last.Count(), 0u);
  pdu.Close();
  scp.Join();
  EXPECT_EQ(GroupLength(command.data), 76u);
  EXPECT_EQ(fakescp::GetUS(Parsed(command.data), 0, 0x0100), 0x0020);
  EXPECT_EQ(fakescp::GetText(Parsed(identifier.data), 0x0008, 0x0052), "STUDY");
  EXPECT_FALSE(CFind::WriteRQ(nullptr, query, kStudyFind));
  EXPECT_EQ(CFind::ReadRSP(pdu, last), -1);  // closed
  EXPECT_TRUE(log.Problems().empty());
}

TEST(DimseTest, EmptyFindIdentifierIsNotSent) {
  std::vector<fakescp::ReceivedPdu> seen;
  FakeScp scp([&](Connection& c) {
    fakescp::AcceptAssociation(c);
    fakescp::Message command;
    c.ReadMessage(command);
    fakescp::ServeRelease(c);
    seen = c.Received();
  });
  PDU_Service pdu;
  ASSERT_TRUE(OpenAssociation(pdu, "SCRIVARA", "FAKESCP", "127.0.0.1", scp.PortText(), kWorklistFind, 5));
  DcmObj empty;
  EXPECT_TRUE(CFind::WriteRQ(&pdu, empty, kWorklistFind));
  pdu.Close();
  scp.Join();
  ASSERT_EQ(seen.size(), 3u);  // request, one P-DATA, release
  EXPECT_EQ(seen[1].type, 0x04);
  EXPECT_EQ(seen[2].type, 0x05);
}

TEST(DimseTest, ImageIsConvertedToTheAcceptedSyntax) {
  LogCapture log;
  StorePeer peer(0, "1.2.840.10008.1.2.4.50");
  PDU_Service pdu;
  const char* sc = "1.2.840.10008.5.1.4.1.1.7";
  ASSERT_TRUE(OpenAssociation(pdu, "SCRIVARA", "FAKESCP", "127.0.0.1", peer.scp.PortText(), sc,
                              "1.2.840.10008.1.2.4.50", "", 5));
  // Without pixel data there is nothing to convert: refused, nothing sent.
  DcmObj empty;
  empty.transferSyntax = "1.2.840.10008.1.2.1";
  empty.explicitVR = true;
  empty.Add(DcmTag(0x0008, 0x0016, sc, "UI"));
  EXPECT_EQ(StoreSCU(pdu, empty, sc), -3);
  ASSERT_EQ(log.Problems().size(), 1u);
  EXPECT_EQ(log.Problems()[0].rfind("ERROR, DcmObj::ConvertTransferSyntax", 0), 0u);

  DcmObj image = testsupport::SmallImage("1.2.3.4", 16);
  ASSERT_EQ(StoreSCU(pdu, image, sc), 0);
  EXPECT_EQ(image.transferSyntax, "1.2.840.10008.1.2.4.50");
  EXPECT_EQ(CStore::ReadRSP(&pdu), 0);
  pdu.Close();
  peer.scp.Join();
  const Bytes& ds = peer.dataSet.data;
  Bytes soi{0xFF, 0xD8, 0xFF};
  EXPECT_NE(std::search(ds.begin(), ds.end(), soi.begin(), soi.end()), ds.end());  // a JPEG stream travelled
  EXPECT_EQ(log.Problems().size(), 1u);
}
