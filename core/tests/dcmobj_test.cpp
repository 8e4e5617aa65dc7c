#include "core/dcmobj.h"
#include "core/strutil.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstring>

namespace {

std::string bytesOf(const DcmTag& t) { return std::string(reinterpret_cast<const char*>(t.data()), t.size()); }

uint32_t le32(const DcmTag& t) {
  const uint8_t* p = t.data();
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

TEST(DcmTag, PaddingOfOddValues) {
  DcmTag lo(0x0008, 0x1030, std::string("ABC"), "LO");
  EXPECT_EQ(lo.length, 4u);
  EXPECT_EQ(bytesOf(lo), std::string("ABC "));
  DcmTag ui(0x0020, 0x000D, std::string("1.2.3"));
  EXPECT_TRUE(ui.IsVR("UI"));
  EXPECT_EQ(ui.length, 6u);
  EXPECT_EQ(bytesOf(ui), std::string("1.2.3\0", 6));
  EXPECT_EQ(ui.GetString(), "1.2.3");
  // Bytes form pads too; a moved-in buffer is taken over.
  const uint8_t three[3] = {1, 2, 3};
  DcmTag ob(0x0042, 0x0011, 3, three, "OB");
  EXPECT_EQ(ob.length, 4u);
  EXPECT_EQ(bytesOf(ob), std::string("\x01\x02\x03 ", 4));
  ByteBuffer big(1001);
  big.reserve(1002);
  const uint8_t* where = big.data();
  DcmTag moved(0x7FE0, 0x0010, std::move(big));
  EXPECT_EQ(moved.length, 1002u);
  EXPECT_EQ(moved.data(), where);  // no copy
  // Nothing is allocated for empty and undefined lengths; undefined-length unknown tags are sequences.
  DcmTag empty(0x0010, 0x0010, std::string(""));
  EXPECT_EQ(empty.length, 0u);
  EXPECT_EQ(empty.data(), nullptr);
  DcmTag undef(0x0009, 0x1010, kUndefinedLength, nullptr);
  EXPECT_TRUE(undef.IsVR("SQ"));
  EXPECT_EQ(undef.data(), nullptr);
  DcmTag e;
  EXPECT_EQ(e.vr[0] | e.vr[1] | e.vr[2] | e.vr[3], 0);
}

TEST(DcmTag, VRFromDictionaryOrUN) {
  DcmTag pn(0x0010, 0x0010, std::string("Doe"));
  EXPECT_EQ(pn.VR(), "PN");
  EXPECT_EQ(pn.vr[2], 0);
  DcmTag priv(0x0009, 0x0010, std::string("ACME"));
  EXPECT_EQ(priv.VR(), "UN");
  DcmTag given(0x0010, 0x0010, std::string("Doe"), "LO");
  EXPECT_EQ(given.VR(), "LO");
  // GetName sets the dictionary VR for a known tag and leaves an unknown tag's VR alone.
  DcmTag t(0x0029, 0x1010, std::string("x"), "OB");
  EXPECT_EQ(t.GetName(), "*** Unidentified ***");
  EXPECT_EQ(t.VR(), "OB");
  DcmTag r = DcmTag::Number16(0x0028, 0x0010, 2, "SS");
  EXPECT_EQ(r.GetName(), "Rows");
  EXPECT_EQ(r.VR(), "US");
}

TEST(DcmTag, NumbersAreLittleEndianAndGetUSHonoursByteOrder) {
  DcmTag a = DcmTag::Number16(0x0028, 0x0010, 0x0101);
  EXPECT_EQ(bytesOf(a), std::string("\x01\x01", 2));
  DcmTag b = DcmTag::Number16(0x0028, 0x0010, 0x1234);
  EXPECT_EQ(bytesOf(b), std::string("\x34\x12", 2));
  EXPECT_EQ(b.GetUS(), 0x1234);
  b.bigEndian = true;
  EXPECT_EQ(b.GetUS(), 0x3412);
  DcmTag c = DcmTag::Number32(0x0010, 0x0000, 0x11223344);
  EXPECT_EQ(c.VR(), "UL");
  EXPECT_EQ(bytesOf(c), std::string("\x44\x33\x22\x11", 4));
  DcmTag one(0x0028, 0x0010, 1, "\x07", "US");  // padded to 2 bytes, first byte 7
  EXPECT_EQ(one.GetUS(), 0x2007);
  DcmTag none;
  EXPECT_EQ(none.GetUS(), 0);
}

TEST(DcmTag, TextAndNumbers) {
  DcmTag pn(0x0010, 0x0010, std::string("  Smith^John "));
  EXPECT_EQ(pn.GetString(), "Smith^John");
  DcmTag multi(0x0008, 0x0008, std::string("ORIGINAL\\PRIMARY"));
  EXPECT_EQ(multi.GetString(), "ORIGINAL\\PRIMARY");
  DcmTag ds(0x0028, 0x0030, std::string("0.5\\2.25"));
  EXPECT_FLOAT_EQ(ds.GetNumber(), 0.5f);
  EXPECT_FLOAT_EQ(ds.GetNumber(0), 0.5f);
  EXPECT_FLOAT_EQ(ds.GetNumber(1), 2.25f);
  EXPECT_FLOAT_EQ(ds.GetNumber(2), 0.0f);
  DcmTag nan(0x0018, 0x1063, std::string("abc"));
  EXPECT_FLOAT_EQ(nan.GetNumber(), 0.0f);
  // Text stops at the first NUL; a value with undefined length has no text.
  DcmTag nul(0x0008, 0x0060, 4, "MR\0X", "CS");
  EXPECT_EQ(nul.GetString(), "MR");
  DcmTag sq(0x0008, 0x1110, kUndefinedLength, nullptr);
  EXPECT_EQ(sq.GetString(), "");
}

TEST(DcmObj, OrderedInsertReplacesAndKeepsOrder) {
  DcmObj o;
  o.AddText(0x0008, 0x0060, "MR");
  o.AddText(0x0020, 0x000D, "1.2.3");
  o.SetText(0x0010, 0x0010, "Doe^J");
  ASSERT_EQ(o.Count(), 3u);
  EXPECT_EQ(o.KeyAt(1), "(0010,0010)");
  o.SetText(0x0010, 0x0010, "Roe^Jane");
  EXPECT_EQ(o.Count(), 3u);
  EXPECT_EQ(o.GetTag(1)->GetString(), "Roe^Jane");
  o.SetText(0x0008, 0x0005, "ISO_IR 100");  // before everything
  o.SetText(0x0028, 0x0004, "MONOCHROME2");  // after everything
  o.SetText(0x0010, 0x0020, "ID1");          // between elements of the same group
  std::vector<std::string> keys;
  for (size_t i = 0; i < o.Count(); ++i) keys.push_back(o.KeyAt(i));
  EXPECT_EQ(keys, (std::vector<std::string>{"(0008,0005)", "(0008,0060)", "(0010,0010)", "(0010,0020)",
                                            "(0020,000D)", "(0028,0004)"}));
  // The replaced element keeps its own VR and byte order.
  DcmTag* t = o.FindTag(0x0028, 0x0004);
  t->SetVR("LO");
  t->bigEndian = true;
  o.Insert(DcmTag(0x0028, 0x0004, std::string("RGB"), "CS"));
  EXPECT_EQ(t->VR(), "LO");
  EXPECT_TRUE(t->bigEndian);
  EXPECT_EQ(t->GetString(), "RGB");
  // Groups compare unsigned.
  o.SetText(0x7FE0, 0x0010, "xx");
  o.SetText(0x0040, 0xA160, "text");
  EXPECT_EQ(o.KeyAt(o.Count() - 1), "(7FE0,0010)");
  EXPECT_EQ(o.KeyAt(o.Count() - 2), "(0040,A160)");
}

TEST(DcmObj, GroupLengthFollowsInsertAndReplace) {
  DcmObj o;
  o.Add(DcmTag::Number32(0x0010, 0x0000, 20));
  o.AddText(0x0010, 0x0010, "Doe^John");
  o.SetBytes(0x0010, 0x0020, 6, "ABCDEF");
  EXPECT_EQ(le32(*o.FindTag(0x0010, 0x0000)), 34u);
  o.SetBytes(0x0010, 0x0020, 8, "ABCDEFGH");
  EXPECT_EQ(le32(*o.FindTag(0x0010, 0x0000)), 36u);
  // Other groups and the group length element itself do not adjust it.
  o.SetText(0x0020, 0x000D, "1.2");
  EXPECT_EQ(le32(*o.FindTag(0x0010, 0x0000)), 36u);
  o.Insert(DcmTag::Number32(0x0010, 0x0000, 100));
  EXPECT_EQ(le32(*o.FindTag(0x0010, 0x0000)), 100u);
  // Appending at the end of the group counts too (the length element was seen before).
  o.SetText(0x0010, 0x0040, "F");
  EXPECT_EQ(le32(*o.FindTag(0x0010, 0x0000)), 110u);
}

// An object with an undefined-length sequence holding (0008,0100) and a nested sequence holding it.
static void buildNested(DcmObj& o) {
  o.AddText(0x0008, 0x0060, "MR");
  o.Add(DcmTag(0x0008, 0x1032, kUndefinedLength, nullptr, "SQ"));
  o.Add(DcmTag(0xFFFE, 0xE000, kUndefinedLength, nullptr));
  o.AddText(0x0008, 0x0100, "INNER1");
  o.Add(DcmTag(0xFFFE, 0xE00D, 0, nullptr));
  o.Add(DcmTag(0xFFFE, 0xE0DD, 0, nullptr));
  auto seq = std::make_unique<DcmObj>();
  auto item = std::make_unique<DcmObj>();
  item->AddText(0x0008, 0x0100, "INNER2");
  seq->InsertSequence(0xFFFE, 0xE000, std::move(item));
  o.InsertSequence(0x0008, 0x1110, std::move(seq));
}

TEST(DcmObj, FindTagSkipsSequenceContents) {
  DcmObj o;
  buildNested(o);
  EXPECT_EQ(o.FindTag(0x0008, 0x0100), nullptr);
  EXPECT_EQ(o.GetString(0x0008, 0x0100), "");
  o.AddText(0x0008, 0x0100, "TOP");
  EXPECT_EQ(o.GetString(0x0008, 0x0100), "TOP");
  // Encapsulated pixel data: its delimiter does not close a sequence level.
  DcmObj p;
  p.Add(DcmTag(0x0008, 0x1032, kUndefinedLength, nullptr, "SQ"));
  p.Add(DcmTag(0xFFFE, 0xE0DD, 0, nullptr));
  p.Add(DcmTag(0x7FE0, 0x0010, kUndefinedLength, nullptr, "OB"));
  p.Add(DcmTag(0xFFFE, 0xE000, 0, nullptr));
  p.Add(DcmTag(0xFFFE, 0xE0DD, 0, nullptr));
  p.AddText(0xFFFA, 0xFFFA, "after");
  EXPECT_EQ(p.GetString(0xFFFA, 0xFFFA), "after");
  // Duplicates through Add: the first one is found.
  DcmObj d;
  d.AddText(0x0010, 0x0020, "A");
  d.AddText(0x0010, 0x0020, "B");
  EXPECT_EQ(d.Count(), 2u);
  EXPECT_EQ(d.GetString(0x0010, 0x0020), "A");
  EXPECT_EQ(d.GetUS(0x0028, 0x0010), 0);
}

TEST(DcmObj, FlatWalkGivesEachEntryItsRoleAndDepth) {
  using R = EntryRole;
  DcmObj o;
  o.Add(DcmTag(0x0008, 0x1140, kUndefinedLength, nullptr, "SQ"));  // sequence
  o.Add(DcmTag(0xFFFE, 0xE000, kUndefinedLength, nullptr));        //   item
  o.Add(DcmTag(0x0040, 0xA730, kUndefinedLength, nullptr, "SQ"));  //     inner sequence
  o.Add(DcmTag(0xFFFE, 0xE000, 0, nullptr));                       //       empty item: no level
  o.Add(DcmTag(0xFFFE, 0xE0DD, 0, nullptr));                       //     inner end
  o.AddText(0x0008, 0x1150, "1.2");                                 //     element in the item
  o.Add(DcmTag(0xFFFE, 0xE0DD, 0, nullptr));                       // end, closing the open item too
  auto nested = std::make_unique<DcmObj>();
  nested->header = DcmTag(0x0008, 0x1155, 0, nullptr, "SQ");
  o.Add(std::move(nested));                                         // nested object
  o.Add(DcmTag(0xFFFE, 0xE00D, 0, nullptr));                       // stray item end
  o.Add(DcmTag(0x7FE0, 0x0010, kUndefinedLength, nullptr, "OB"));  // pixel data
  o.Add(DcmTag(0xFFFE, 0xE000, 0, nullptr));                       //   offset table
  o.Add(DcmTag(0xFFFE, 0xE00D, 0, nullptr));                       //   anything inside is a fragment
  o.Add(DcmTag(0xFFFE, 0xE0DD, 0, nullptr));                       // pixel data end
  o.AddText(0xFFFA, 0xFFFA, "after");
  const std::vector<std::pair<R, int>> want = {
      {R::SequenceStart, 0}, {R::Item, 1}, {R::SequenceStart, 2}, {R::Item, 3}, {R::SequenceEnd, 2},
      {R::Element, 2},       {R::SequenceEnd, 0}, {R::Nested, 0}, {R::ItemEnd, 0}, {R::Element, 0},
      {R::Fragment, 1},      {R::Fragment, 1}, {R::SequenceEnd, 0}, {R::Element, 0}};
  std::vector<std::pair<R, int>> got;
  WalkEntries(o, [&](size_t, const DcmTag&, EntryPlace p) { got.emplace_back(p.role, p.depth); });
  EXPECT_EQ(got, want);
  EXPECT_EQ(o.IndexOf(0x0008, 0x1150), DcmObj::npos);
  EXPECT_EQ(o.IndexOf(0xFFFA, 0xFFFA), 13u);
  // Insert replaces a flat sequence as a whole, up to the delimiter that closes it.
  o.SetText(0x0008, 0x1140, "X");
  EXPECT_EQ(o.Count(), 8u);
  EXPECT_EQ(o.GetString(0x0008, 0x1140), "X");
}

TEST(DcmObj, InsertSkipsSequenceContentsAndPixelData) {
  DcmObj o;
  buildNested(o);
  // (0008,0100) goes after the flat sequence and its item elements, not inside them, and does not
  // replace the nested one.
  o.SetText(0x0008, 0x0100, "TOP");
  std::vector<std::string> keys;
  for (size_t i = 0; i < o.Count(); ++i) keys.push_back(o.KeyAt(i));
  EXPECT_EQ(keys, (std::vector<std::string>{"(0008,0060)", "(0008,0100)", "(0008,1032)", "(FFFE,E000)",
                                            "(0008,0100)", "(FFFE,E00D)", "(FFFE,E0DD)", "(0008,1110)"}));
  EXPECT_EQ(o.GetTag(4)->GetString(), "INNER1");
  // A nested sequence's header takes its place in tag order; the item kinds are told apart.
  EXPECT_STREQ(o.ClassNameAt(7), "DcmObj");
  EXPECT_STREQ(o.ClassNameAt(0), "DcmTag");
  EXPECT_EQ(o.GetTag(7), nullptr);
  ASSERT_NE(o.GetObj(7), nullptr);
  EXPECT_EQ(o.GetObj(0), nullptr);
  EXPECT_EQ(o.GetObj(7)->header.VR(), "SQ");
  EXPECT_EQ(o.GetObj(7)->GetObj(0)->header.group, 0xFFFE);
  EXPECT_EQ(o.GetObj(7)->GetObj(0)->header.VR(), "");
  o.SetText(0x0010, 0x0010, "Doe");
  EXPECT_EQ(o.KeyAt(8), "(0010,0010)");
  // An element goes in front of an undefined-length sequence or pixel data element it precedes; the
  // contents of encapsulated pixel data are never matched, and replacing the pixel data element
  // replaces it with its fragments and delimiter.
  DcmObj p;
  p.Add(DcmTag(0x0008, 0x1032, kUndefinedLength, nullptr, "SQ"));
  p.Add(DcmTag(0xFFFE, 0xE0DD, 0, nullptr));
  p.Add(DcmTag(0x7FE0, 0x0010, kUndefinedLength, nullptr, "OB"));
  p.Add(DcmTag(0xFFFE, 0xE000, 4, "\xFF\xD8\xFF\xD9"));
  p.Add(DcmTag(0xFFFE, 0xE0DD, 0, nullptr));
  p.SetText(0x0008, 0x0060, "OT");
  p.SetBytes(0x0028, 0x0010, 2, "\x00\x02");
  p.SetText(0xFFFE, 0xE000, "not a fragment");
  std::vector<std::string> pk;
  for (size_t i = 0; i < p.Count(); ++i) pk.push_back(p.KeyAt(i));
  EXPECT_EQ(pk, (std::vector<std::string>{"(0008,0060)", "(0008,1032)", "(FFFE,E0DD)", "(0028,0010)", "(7FE0,0010)",
                                          "(FFFE,E000)", "(FFFE,E0DD)", "(FFFE,E000)"}));
  ASSERT_NE(p.FindTag(0x0008, 0x1032), nullptr);  // the sequence element itself is found
  EXPECT_EQ(p.IndexOf(0x0028, 0x0010), 3u);
  EXPECT_EQ(p.IndexOf(0x0010, 0x0010), DcmObj::npos);
  p.Delete(7);
  p.SetBytes(0x7FE0, 0x0010, 4, "\x01\x02\x03\x04");
  ASSERT_EQ(p.Count(), 5u);
  EXPECT_EQ(p.GetTag(4)->length, 4u);
  EXPECT_EQ(p.GetTag(4)->VR(), "OW");  // a new element, not the old header
}

TEST(DcmObj, InsertSequenceOrderAndDuplicates) {
  DcmObj o;
  o.explicitVR = true;
  o.AddText(0x0008, 0x0060, "SR");
  o.AddText(0x0040, 0xA160, "t");
  auto a = std::make_unique<DcmObj>();
  DcmObj* pa = o.InsertSequence(0x0040, 0xA730, std::move(a));
  EXPECT_TRUE(pa->explicitVR);
  auto b = std::make_unique<DcmObj>();
  b->AddText(0x0008, 0x0100, "second");
  DcmObj* pb = o.InsertSequence(0x0040, 0xA730, std::move(b));
  ASSERT_EQ(o.Count(), 4u);
  EXPECT_EQ(o.GetObj(2), pa);
  EXPECT_EQ(o.GetObj(3), pb);
  auto c = std::make_unique<DcmObj>();
  o.InsertSequence(0x0040, 0xA043, std::move(c));
  EXPECT_EQ(o.KeyAt(1), "(0040,A043)");
  auto copy = o.Clone();
  EXPECT_EQ(copy->Count(), 5u);
  EXPECT_EQ(copy->GetObj(4)->GetString(0x0008, 0x0100), "second");
  o.Delete(0);
  EXPECT_EQ(o.Count(), 4u);
  o.Clear();
  EXPECT_EQ(o.Count(), 0u);
  EXPECT_EQ(copy->Count(), 5u);
}

// The window program takes its locale from the environment; numbers in values keep their period.
TEST(DcmTag, NumbersIgnoreADecimalCommaLocale) {
  const std::string before = std::setlocale(LC_ALL, nullptr);
  ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "locales-all (scripts/install-deps --test)";
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.1f", 0.5);
  ASSERT_STREQ(probe, "0,5");  // the C library does use the comma now
  DcmTag ds(0x0028, 0x0030, std::string("0.5\\ +2.25e1"));
  EXPECT_FLOAT_EQ(ds.GetNumber(), 0.5f);
  EXPECT_FLOAT_EQ(ds.GetNumber(1), 22.5f);
  EXPECT_DOUBLE_EQ(ParseDecimal(" -1.25E-1 mm"), -0.125);
  EXPECT_DOUBLE_EQ(ParseDecimal("0,5"), 0.0);
  EXPECT_DOUBLE_EQ(ParseDecimal("+-1"), 0.0);
  EXPECT_EQ(FormatFixed(2.5, 2, 5), " 2.50");
  EXPECT_EQ(FormatFixed(1234.5, 2, 5), "1234.50");
  EXPECT_EQ(FormatGeneral(0.5, 15), "0.5");
  EXPECT_EQ(FormatGeneral(static_cast<double>(0.1f), 15), "0.100000001490116");
  const float thickness = 2.5f;
  DcmTag fl(0x0070, 0x0253, 4, &thickness, "FL");
  EXPECT_EQ(fl.Dump(0), "(0070,0253),  4, FL, Line Thickness:  2.50");
  std::setlocale(LC_ALL, before.c_str());
}
