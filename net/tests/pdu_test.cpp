// Upper-layer PDUs and items: bytes written, parses of received association answers.
#include "net/pdu.h"

#include <gtest/gtest.h>

#include "tests/support/fake_scp.h"
#include "tests/support/log_capture.h"
#include "net/tests/scripted_socket.h"

using fakescp::Bytes;

namespace {
// The body of an A-ASSOCIATE-AC after its type byte, as the parser expects it.
Bytes AfterType(const Bytes& pdu) { return Bytes(pdu.begin() + 1, pdu.end()); }
}  // namespace

TEST(PduTest, AssociateRequestIs206BytesForOneContext) {
  LogCapture log(2);
  ResetIDCounter();
  AAssociateRQ rq;
  rq.SetCalledApTitle("STORESCP        ");
  rq.SetCallingApTitle("SCRIVARA        ");
  auto pc = std::make_unique<PresentationContext>("1.2.840.10008.1.1");
  pc->AddTransferSyntax("1.2.840.10008.1.2");
  EXPECT_EQ(pc->PresentationContextID, 1);
  rq.AddPresentationContext(std::move(pc));
  const std::string impClass = "1.2.826.0.1.3680043.9.1234.5";  // 28 characters
  ASSERT_EQ(impClass.size(), 28u);
  rq.UserInfo.SetMax(16384);
  rq.UserInfo.SetImplementationClass(impClass);
  rq.UserInfo.SetImplementationVersion("Brelvando");
  rq.UserInfo.SetUserIdentity("", "");

  ScriptedLink link;
  ASSERT_TRUE(rq.Write(*link.buffer));
  EXPECT_EQ(rq.Length, 200u);
  EXPECT_EQ(rq.AppContext.Size(), 25u);
  EXPECT_EQ(rq.PresContexts[0]->Size(), 50u);
  EXPECT_EQ(rq.UserInfo.Size(), 57u);

  Bytes expected;
  using namespace fakescp;
  Put8(expected, 0x01);
  Put8(expected, 0);
  Put32BE(expected, 200);
  Put16BE(expected, 1);
  Put16BE(expected, 0);
  PutText(expected, "STORESCP        SCRIVARA        ");
  expected.insert(expected.end(), 32, 0);
  Append(expected, Item(0x10, "1.2.840.10008.3.1.1.1"));
  Bytes ctx{1, 0, 0, 0};
  Append(ctx, Item(0x30, "1.2.840.10008.1.1"));
  Append(ctx, Item(0x40, "1.2.840.10008.1.2"));
  Append(expected, Item(0x20, ctx));
  Bytes user;
  Bytes max;
  Put32BE(max, 16384);
  Append(user, Item(0x51, max));
  Append(user, Item(0x52, impClass));
  Append(user, Item(0x55, "Brelvando"));
  Append(expected, Item(0x50, user));
  ASSERT_EQ(expected.size(), 206u);
  EXPECT_EQ(link.sock->AllSent(), expected);
  EXPECT_GT(link.sock->sends.size(), 1u);  // one send per flushed part

  EXPECT_TRUE(log.Has("INFO, AAssociateRQ::Write"));
  EXPECT_TRUE(log.Has("CalledApTitle: STORESCP        "));
  EXPECT_TRUE(log.Has("Reserved3: "));
  EXPECT_TRUE(log.Has("PresentationContextID: 1"));
  EXPECT_TRUE(log.Has("AbsSyntax: 1.2.840.10008.1.1"));
  EXPECT_TRUE(log.Has("TrnSyntax: 1.2.840.10008.1.2"));
  EXPECT_TRUE(log.Has("INFO, MaxSubLength::Size, Length=8, MaxSubLength.MaximumLength=16384"));
  EXPECT_TRUE(log.Has("INFO, ImpClass::Size, Length=32, \"" + impClass + "\""));
  EXPECT_TRUE(log.Has("INFO, ImpVersion::Size, Length=13, \"Brelvando\""));
  EXPECT_TRUE(log.Has("INFO, UserInformation::Size, Length=53"));
  EXPECT_TRUE(log.Problems().empty());
}

TEST(PduTest, ContextWithoutTransferSyntaxIsReportedAndSentAnyway) {
  LogCapture log;
  AAssociateRQ rq;
  rq.AddPresentationContext(std::make_unique<PresentationContext>("1.2.840.10008.1.1"));
  ScriptedLink link;
  EXPECT_TRUE(rq.Write(*link.buffer));
  EXPECT_EQ(log.Messages(), std::vector<std::string>{"ERROR, PresentationContext::Write"});
  EXPECT_EQ(link.sock->AllSent().size(), rq.Length + 6);
}

TEST(PduTest, UserIdentityIsSentOnlyWithAUserName) {
  UserInformation ui;
  ui.SetMax(16384);
  ui.SetUserIdentity("bob", "secret");
  EXPECT_EQ(ui.UserIdent.Length, 6 + 3 + 6);
  EXPECT_EQ(ui.Size(), 4u + 8 + 4 + 4 + (15 + 4));
  ScriptedLink link;
  ASSERT_TRUE(ui.Write(*link.buffer));
  Bytes sent = link.sock->AllSent();
  Bytes tail(sent.end() - 19, sent.end());
  EXPECT_EQ(tail, (Bytes{0x58, 0, 0, 15, 2, 1, 0, 3, 'b', 'o', 'b', 0, 6, 's', 'e', 'c', 'r', 'e', 't'}));
}

TEST(PduTest, AbortReleaseBytes) {
  ScriptedLink link;
  AAbortRQ abort;
  ASSERT_TRUE(abort.Write(*link.buffer));
  EXPECT_EQ(link.sock->AllSent(), (Bytes{0x07, 0, 0, 0, 0, 4, 0, 0, 3, 1}));
  ScriptedLink rel;
  AReleaseRQ rq;
  AReleaseRP rp;
  ASSERT_TRUE(rq.Write(*rel.buffer));
  ASSERT_TRUE(rp.Write(*rel.buffer));
  EXPECT_EQ(rel.sock->AllSent(), (Bytes{5, 0, 0, 0, 0, 4, 0, 0, 0, 0, 6, 0, 0, 0, 0, 4, 0, 0, 0, 0}));
}

TEST(PduTest, IdCounterNumbersContextsAndMessages) {
  ResetIDCounter();
  PresentationContext first;
  EXPECT_EQ(first.PresentationContextID, 1);
  PresentationContextAccept accept;  // takes the counter's value, 2
  EXPECT_EQ(accept.PresentationContextID, 2);
  EXPECT_EQ(NextMessageID(), 3);
  EXPECT_EQ(NextMessageID(), 5);
  EXPECT_EQ(AdvanceIDCounter(), 6);
  EXPECT_EQ(NextPresentationContextID(), 7);
  EXPECT_EQ(NextMessageID(), 9);  // 8 is even: skipped
  ResetIDCounter();
  EXPECT_EQ(NextMessageID(), 1);
}

TEST(PduTest, AcceptWithTwoContextsAndUserInformation) {
  LogCapture log(2);
  fakescp::ACOptions o;
  o.contexts = {{1, 3, "1.2.840.10008.1.2"}, {3, 0, "1.2.840.10008.1.2.1"}};
  o.maxLength = 32768;
  ScriptedLink link(AfterType(fakescp::AssociateAC(o)));
  AAssociateAC ac;
  ResetIDCounter();
  EXPECT_TRUE(ac.ReadDynamic(*link.buffer));
  ASSERT_EQ(ac.PresContextAccepts.size(), 2u);
  EXPECT_EQ(ac.PresContextAccepts[0]->Result, 3);
  EXPECT_EQ(ac.PresContextAccepts[1]->PresentationContextID, 3);
  EXPECT_EQ(ac.PresContextAccepts[1]->TrnSyntax.UID, "1.2.840.10008.1.2.1");
  EXPECT_EQ(ac.UserInfo.MaxSub.MaximumLength, 32768u);
  EXPECT_EQ(ac.UserInfo.ImpVersion.UID, "FAKESCP_1");
  EXPECT_EQ(std::string(ac.CalledApTitle), "FAKESCP         ");
  EXPECT_EQ(NextMessageID(), 3);  // two accept items advanced the counter from 1 to 3
  EXPECT_TRUE(log.Has("INFO, UserInformation::ReadDynamic, Count=59"));
  EXPECT_TRUE(log.Has("INFO, MaxSubLength::ReadDynamic, Count=51, MaxSubLength.MaximumLength=32768"));
  EXPECT_TRUE(log.Has("INFO, ImpClass::ReadDynamic, Count=13, \"1.2.826.0.1.3680043.2.1143.107.104\""));
  EXPECT_TRUE(log.Has("INFO, ImpVersion::ReadDynamic, Count=0, \"FAKESCP_1\""));
  EXPECT_TRUE(log.Has("Result: 3"));
  EXPECT_FALSE(log.Has("INFO, AAssociateAC::Read"));  // the header dump needs level 3
  EXPECT_TRUE(log.Problems().empty());
  EXPECT_EQ(link.sock->Unread(), 0u);
}

TEST(PduTest, AcceptItemIsAccountedByItsComputedSize) {
  // A 21H item declaring 2 bytes more than it holds: the accounting follows the UID, so the PDU
  // ends with the count 2 short of the claimed length.
  fakescp::ACOptions o;
  Bytes pdu = fakescp::AssociateAC(o);
  size_t item = 6 + 68 + 25;
  ASSERT_EQ(pdu[item], 0x21);
  pdu[item + 3] = static_cast<uint8_t>(pdu[item + 3] + 2);
  ScriptedLink link(AfterType(pdu));
  AAssociateAC ac;
  EXPECT_TRUE(ac.ReadDynamic(*link.buffer));
  ASSERT_EQ(ac.PresContextAccepts.size(), 1u);
  EXPECT_EQ(ac.PresContextAccepts[0]->Length, 4 + 4 + 17);
  EXPECT_EQ(ac.UserInfo.MaxSub.MaximumLength, 16384u);
}

TEST(PduTest, UnknownUserInformationSubItemIsSkipped) {
  LogCapture log;
  fakescp::ACOptions o;
  o.extraSubItems = fakescp::Item(0x56, Bytes{0, 5, 'a', 'b', 'c', 'd', 'e', 1});
  Bytes tail = fakescp::Item(0x55, "AFTER");  // hidden behind the unknown sub-item
  o.extraSubItems.insert(o.extraSubItems.end(), tail.begin(), tail.end());
  ScriptedLink link(AfterType(fakescp::AssociateAC(o)));
  AAssociateAC ac;
  EXPECT_TRUE(ac.ReadDynamic(*link.buffer));
  EXPECT_EQ(log.Messages(), (std::vector<std::string>{"WARNING, UserInformation::Read Unknown Packet",
                                                      "WARNING, UserInformation::Read Count=-1"}));
  ASSERT_EQ(ac.PresContextAccepts.size(), 1u);
  EXPECT_EQ(ac.PresContextAccepts[0]->Result, 0);
  EXPECT_EQ(ac.UserInfo.ImpVersion.UID, "FAKESCP_1");
  EXPECT_EQ(link.sock->Unread(), 0u);
}

TEST(PduTest, UnknownAcceptItemEndsTheParseSilently) {
  LogCapture log;
  fakescp::ACOptions o;
  o.itemsBeforeUser = fakescp::Item(0x77, Bytes{1, 2, 3, 4, 5});
  ScriptedLink link(AfterType(fakescp::AssociateAC(o)));
  AAssociateAC ac;
  EXPECT_FALSE(ac.ReadDynamic(*link.buffer));
  EXPECT_TRUE(log.Messages().empty());
  ASSERT_EQ(ac.PresContextAccepts.size(), 1u);
  EXPECT_EQ(ac.UserInfo.MaxSub.MaximumLength, 0u);  // no user information known
  EXPECT_EQ(link.sock->Unread(), 0u);
}

TEST(PduTest, OverLongUidIsConsumedWholeAndCut) {
  LogCapture log;
  fakescp::ACOptions o;
  std::string longUid = "1.2.840.10008.1.2." + std::string(60, '1');  // 78 characters
  o.contexts = {{1, 0, longUid}};
  ScriptedLink link(AfterType(fakescp::AssociateAC(o)));
  AAssociateAC ac;
  EXPECT_TRUE(ac.ReadDynamic(*link.buffer));  // still in step: the items fill the PDU exactly
  ASSERT_EQ(ac.PresContextAccepts.size(), 1u);
  EXPECT_EQ(ac.PresContextAccepts[0]->TrnSyntax.UID, longUid.substr(0, 65));
  EXPECT_EQ(ac.UserInfo.MaxSub.MaximumLength, 16384u);
  EXPECT_EQ(log.Messages(), std::vector<std::string>{"WARNING, UIDitem::ReadDynamic, value of 78 characters cut to 65"});
}

TEST(PduTest, TruncatedAcceptFailsInsteadOfWaiting) {
  Bytes pdu = AfterType(fakescp::AssociateAC());
  pdu.resize(pdu.size() - 10);
  ScriptedLink link(pdu);
  AAssociateAC ac;
  EXPECT_FALSE(ac.ReadDynamic(*link.buffer));
  EXPECT_FALSE(link.sock->IsConnected());
}

TEST(PduTest, AssociateRequestParse) {
  // Our own request read back (the reader exists for a peer's unexpected A-ASSOCIATE-RQ).
  ResetIDCounter();
  AAssociateRQ out;
  out.SetCalledApTitle("PEER            ");
  out.SetCallingApTitle("ME              ");
  auto pc = std::make_unique<PresentationContext>("1.2.840.10008.1.1");
  pc->AddTransferSyntax("1.2.840.10008.1.2.1");
  pc->AddTransferSyntax("1.2.840.10008.1.2");
  out.AddPresentationContext(std::move(pc));
  out.UserInfo.SetMax(16384);
  out.UserInfo.SetImplementationClass("1.2.3");
  out.UserInfo.SetImplementationVersion("V1");
  ScriptedLink w;
  ASSERT_TRUE(out.Write(*w.buffer));
  LogCapture log;
  ScriptedLink r(AfterType(w.sock->AllSent()));
  AAssociateRQ in;
  EXPECT_TRUE(in.ReadDynamic(*r.buffer));
  ASSERT_EQ(in.PresContexts.size(), 1u);
  EXPECT_EQ(in.PresContexts[0]->TrnSyntax.size(), 2u);
  EXPECT_EQ(in.PresContexts[0]->AbsSyntax.UID, "1.2.840.10008.1.1");
  EXPECT_EQ(std::string(in.CallingApTitle), "ME              ");
  EXPECT_TRUE(log.Problems().empty());

  // An unknown item ends the parse with a warning and the count.
  LogCapture log2;
  Bytes bad = AfterType(w.sock->AllSent());
  bad[1 + 4 + 68] = 0x33;  // the application context item's type
  ScriptedLink r2(bad);
  AAssociateRQ in2;
  EXPECT_FALSE(in2.ReadDynamic(*r2.buffer));
  EXPECT_EQ(log2.Messages(), (std::vector<std::string>{"WARNING, AAssociateRQ::Read Unknown Packet",
                                                       "WARNING, AAssociateRQ::Read Count=-1"}));
}

TEST(PduTest, RejectAndReleaseReaders) {
  ScriptedLink link(AfterType(fakescp::AssociateRJ(1, 2, 3)));
  AAssociateRJ rj;
  ASSERT_TRUE(rj.ReadDynamic(*link.buffer));
  EXPECT_EQ(rj.Result, 1);
  EXPECT_EQ(rj.Source, 2);
  EXPECT_EQ(rj.Reason, 3);
  ScriptedLink rel(fakescp::ReleaseRP());
  AReleaseRP rp;
  ASSERT_TRUE(rp.Read(*rel.buffer));
  EXPECT_EQ(rp.ItemType, 6);
  EXPECT_EQ(rp.Length, 4u);
}
