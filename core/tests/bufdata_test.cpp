#include "core/bufdata.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "core/log.h"
#include "tests/support/log_capture.h"
#include "core/uid_root.h"
#include "tests/support/peer.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes B(std::initializer_list<int> v) {
  Bytes out;
  for (int x : v) out.push_back(static_cast<uint8_t>(x));
  return out;
}
Bytes S(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes encode(DcmObj& o, bool bigEndian = false) {
  BufData b(bigEndian);
  EXPECT_TRUE(b.WriteObj(o));
  return Bytes(b.data(), b.data() + b.GetSize());
}

bool decode(const Bytes& bytes, DcmObj& o, bool bigEndian = false) {
  BufData b(bytes.data(), bytes.size(), bigEndian);
  return b.ReadObj(o);
}

Bytes fileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), {});
}

void putFile(const std::string& path, const Bytes& b) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// A folder for one test's files.
class Scratch {
 public:
  Scratch() : dir_(testsupport::MakeTempDir("bufdata")) {}
  ~Scratch() { testsupport::RemoveTree(dir_); }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
};

}  // namespace

TEST(BufData, ElementEncodings) {
  DcmObj o;
  o.AddText(0x0010, 0x0010, "Doe^J");
  EXPECT_EQ(encode(o), B({0x10, 0, 0x10, 0, 6, 0, 0, 0}) + S("Doe^J "));
  o.explicitVR = true;
  EXPECT_EQ(encode(o), B({0x10, 0, 0x10, 0, 'P', 'N', 6, 0}) + S("Doe^J "));

  // OB in the long form, value written as held (not padded by the writer).
  DcmObj ob;
  ob.explicitVR = true;
  DcmTag* t = ob.Add(DcmTag(0x0042, 0x0011, 0, nullptr, "OB"));
  t->SetValue("abc", 3);
  EXPECT_EQ(encode(ob), B({0x42, 0, 0x11, 0, 'O', 'B', 0, 0, 3, 0, 0, 0}) + S("abc"));

  // Big endian swaps the header only.
  DcmObj be;
  be.explicitVR = true;
  be.Add(DcmTag(0x0028, 0x0010, 2, "\x02\x00", "US"));
  EXPECT_EQ(encode(be, true), B({0x00, 0x28, 0x00, 0x10, 'U', 'S', 0x00, 0x02, 0x02, 0x00}));
  be.transferSyntax = "1.2.840.10008.1.2.2";  // the transfer syntax alone switches to big endian
  EXPECT_EQ(encode(be, false), B({0x00, 0x28, 0x00, 0x10, 'U', 'S', 0x00, 0x02, 0x02, 0x00}));

  // Commands and items never carry a VR.
  DcmObj cmd;
  cmd.explicitVR = true;
  cmd.Add(DcmTag::Number16(0x0000, 0x0100, 0x0030));
  cmd.Add(DcmTag(0xFFFE, 0xE0DD, 0, nullptr));
  EXPECT_EQ(encode(cmd), B({0, 0, 0, 1, 2, 0, 0, 0, 0x30, 0, 0xFE, 0xFF, 0xDD, 0xE0, 0, 0, 0, 0}));

  // Long-form VRs of the current standard (UC, UR, OD, OL, OF ...) use the 4-byte length.
  DcmObj uc;
  uc.explicitVR = true;
  uc.Add(DcmTag(0x0018, 0x9364, std::string("AB"), "UC"));
  uc.Add(DcmTag(0x0070, 0x1A07, 4, "\0\0\x80?", "OF"));
  Bytes u = encode(uc);
  EXPECT_EQ(u, B({0x18, 0, 0x64, 0x93, 'U', 'C', 0, 0, 2, 0, 0, 0, 'A', 'B', 0x70, 0, 0x07, 0x1A, 'O', 'F', 0, 0, 4, 0, 0,
                  0, 0, 0, 0x80, '?'}));
  DcmObj back;
  back.explicitVR = true;
  ASSERT_TRUE(decode(u, back));
  EXPECT_EQ(back.GetString(0x0018, 0x9364), "AB");
  EXPECT_EQ(back.FindTag(0x0070, 0x1A07)->length, 4u);
}

TEST(BufData, ReadingExplicitImplicitAndByteOrder) {
  // Explicit stream whose "VR" bytes are 0A 00: an implicit element with a 32-bit length.
  DcmObj o;
  o.explicitVR = true;
  ASSERT_TRUE(decode(B({0x10, 0, 0x20, 0, 0x0A, 0, 0, 0}) + S("ID12345678"), o));
  ASSERT_EQ(o.Count(), 1u);
  EXPECT_EQ(o.GetTag(0)->VR(), "LO");
  EXPECT_EQ(o.GetString(0x0010, 0x0020), "ID12345678");

  // Implicit: the VR comes from the dictionary, unknown undefined-length elements are sequences.
  DcmObj im;
  ASSERT_TRUE(decode(B({0x28, 0, 0x10, 0, 2, 0, 0, 0, 0, 2, 0x09, 0, 0x10, 0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF,
                        0xDD, 0xE0, 0, 0, 0, 0}),
                     im));
  ASSERT_EQ(im.Count(), 3u);
  EXPECT_EQ(im.GetTag(0)->VR(), "US");
  EXPECT_EQ(im.GetUS(0x0028, 0x0010), 512);
  EXPECT_EQ(im.GetTag(1)->VR(), "SQ");

  // Big endian: values are kept as read and flagged, so GetUS still answers right.
  DcmObj be;
  be.explicitVR = true;
  ASSERT_TRUE(decode(B({0x00, 0x28, 0x00, 0x10, 'U', 'S', 0x00, 0x02, 0x02, 0x00}), be, true));
  EXPECT_TRUE(be.GetTag(0)->bigEndian);
  EXPECT_EQ(be.GetUS(0x0028, 0x0010), 512);
  EXPECT_EQ(encode(be, true), B({0x00, 0x28, 0x00, 0x10, 'U', 'S', 0x00, 0x02, 0x02, 0x00}));

  // A meta element inside an implicit data set is read explicit, its VR from the dictionary.
  DcmObj meta;
  ASSERT_TRUE(decode(B({2, 0, 0x10, 0, 'U', 'I', 2, 0, '1', 0, 0x10, 0, 0x20, 0, 2, 0, 0, 0, 'A', ' '}), meta));
  ASSERT_EQ(meta.Count(), 2u);
  EXPECT_EQ(meta.GetString(0x0002, 0x0010), "1");
  EXPECT_EQ(meta.GetString(0x0010, 0x0020), "A");
}

TEST(BufData, SequencesNestedAndFlat) {
  for (bool explicitVR : {false, true}) {
    SCOPED_TRACE(explicitVR);
    // A defined-length sequence with two defined-length items becomes one nested object with two
    // nested items, and is written back byte for byte.
    DcmObj built;
    built.explicitVR = explicitVR;
    built.AddText(0x0008, 0x0060, "SR");
    auto seq = std::make_unique<DcmObj>();
    for (const char* v : {"C1", "C22"}) {
      auto item = std::make_unique<DcmObj>();
      item->AddText(0x0008, 0x0100, v);
      seq->InsertSequence(0xFFFE, 0xE000, std::move(item));
    }
    built.InsertSequence(0x0040, 0xA043, std::move(seq));
    built.AddText(0x0040, 0xA160, "after");
    const Bytes bytes = encode(built);
    // item: 8 + (8 + 2); C22 pads to 4
    const uint32_t seqLen = (8 + 8 + 2) + (8 + 8 + 4);
    EXPECT_EQ(built.GetObj(1)->header.length, seqLen);

    DcmObj read;
    read.explicitVR = explicitVR;
    ASSERT_TRUE(decode(bytes, read));
    ASSERT_EQ(read.Count(), 3u);
    const DcmObj* s = read.GetObj(1);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->header.VR(), "SQ");
    EXPECT_EQ(s->header.length, seqLen);
    ASSERT_EQ(s->Count(), 2u);
    EXPECT_EQ(s->GetObj(0)->header.group, 0xFFFE);
    EXPECT_EQ(s->GetObj(1)->GetString(0x0008, 0x0100), "C22");
    EXPECT_EQ(encode(read), bytes);

    // An undefined-length sequence stays flat and is written back as held.
    Bytes flat = B({0x08, 0, 0x10, 0x11}) +
                 (explicitVR ? B({'S', 'Q', 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}) : B({0xFF, 0xFF, 0xFF, 0xFF})) +
                 B({0xFE, 0xFF, 0x00, 0xE0, 0xFF, 0xFF, 0xFF, 0xFF}) +
                 (explicitVR ? B({0x08, 0, 0x50, 0x11, 'U', 'I', 4, 0}) : B({0x08, 0, 0x50, 0x11, 4, 0, 0, 0})) +
                 S("1.2") + B({0}) + B({0xFE, 0xFF, 0x0D, 0xE0, 0, 0, 0, 0, 0xFE, 0xFF, 0xDD, 0xE0, 0, 0, 0, 0});
    DcmObj f;
    f.explicitVR = explicitVR;
    ASSERT_TRUE(decode(flat, f));
    EXPECT_EQ(f.Count(), 5u);
    EXPECT_EQ(f.GetTag(0)->length, kUndefinedLength);
    EXPECT_EQ(f.GetTag(2)->GetString(), "1.2");
    EXPECT_EQ(f.FindTag(0x0008, 0x1150), nullptr);
    EXPECT_EQ(encode(f), flat);
  }
}

TEST(BufData, EncapsulatedPixelDataStaysFlatAtEveryLevel) {
  // An icon item holding encapsulated pixel data: its fragments are not parsed as items.
  DcmObj item;
  item.explicitVR = true;
  item.AddText(0x0028, 0x0004, "RGB");
  item.Add(DcmTag(0x7FE0, 0x0010, kUndefinedLength, nullptr, "OB"));
  item.Add(DcmTag(0xFFFE, 0xE000, 0, nullptr));
  item.Add(DcmTag(0xFFFE, 0xE000, 4, "\xFF\xD8\xFF\xD9"));
  item.Add(DcmTag(0xFFFE, 0xE0DD, 0, nullptr));
  DcmTag value;
  ASSERT_TRUE(item.EncodeInto(value));
  DcmObj top;
  top.explicitVR = true;
  auto seq = std::make_unique<DcmObj>();
  auto it = std::make_unique<DcmObj>();
  it->explicitVR = true;
  ASSERT_TRUE(it->Expand_SQ(value));
  seq->InsertSequence(0xFFFE, 0xE000, std::move(it));
  top.InsertSequence(0x0088, 0x0200, std::move(seq));
  const Bytes bytes = encode(top);
  DcmObj read;
  read.explicitVR = true;
  ASSERT_TRUE(decode(bytes, read));
  const DcmObj* icon = read.GetObj(0)->GetObj(0);
  ASSERT_EQ(icon->Count(), 5u);
  EXPECT_STREQ(icon->ClassNameAt(3), "DcmTag");
  EXPECT_EQ(icon->GetTag(3)->length, 4u);
  EXPECT_EQ(encode(read), bytes);

  // AddExpanded leaves the element with the caller and heads the nested object with it.
  DcmObj p;
  p.explicitVR = true;
  DcmTag sq(0x0040, 0xA730, 0, nullptr, "SQ");
  DcmObj one;
  one.explicitVR = true;
  auto i1 = std::make_unique<DcmObj>();
  i1->AddText(0x0040, 0xA010, "CONTAINS");
  one.InsertSequence(0xFFFE, 0xE000, std::move(i1));
  ASSERT_TRUE(one.EncodeInto(sq));
  ASSERT_TRUE(p.AddExpanded(sq));
  EXPECT_NE(sq.data(), nullptr);
  ASSERT_NE(p.GetObj(0), nullptr);
  EXPECT_EQ(p.GetObj(0)->header.length, sq.length);
  EXPECT_EQ(p.GetObj(0)->GetObj(0)->GetString(0x0040, 0xA010), "CONTAINS");
  DcmTag empty;
  DcmObj none;
  ASSERT_TRUE(none.EncodeInto(empty));
  EXPECT_EQ(empty.length, 0u);
  EXPECT_EQ(empty.data(), nullptr);
}

TEST(BufData, BadStreamsFailCleanly) {
  LogCapture log;
  // A value running past the end: the read-bytes message, and the earlier elements stay.
  {
    DcmObj o;
    Bytes b = B({0x08, 0, 0x60, 0, 2, 0, 0, 0, 'M', 'R', 0xE0, 0x7F, 0x10, 0, 0, 0, 8, 0}) + Bytes(1000, 7);
    EXPECT_FALSE(decode(b, o));
    EXPECT_EQ(o.Count(), 1u);
    EXPECT_NE(log.Text().find("ERROR: read bytes!=tag->length (7FE0,0010) count=1000, tag->length=524288"),
              std::string::npos);
  }
  // A 100-byte stream claiming 0xFFFFFFF0 bytes fails at once, without trying to allocate 4 GB.
  {
    DcmObj o;
    Bytes b = B({0x09, 0, 0x10, 0x10, 0xF0, 0xFF, 0xFF, 0xFF}) + Bytes(92, 1);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(decode(b, o));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
    EXPECT_NE(log.Text().find("count=92, tag->length=4294967280"), std::string::npos);
  }
  // A header cut short.
  for (size_t cut : {1, 5, 7}) {
    DcmObj o;
    Bytes b = B({0x08, 0, 0x60, 0, 2, 0, 0, 0, 'M', 'R'}) + Bytes(cut, 0x10);
    EXPECT_FALSE(decode(b, o));
    EXPECT_EQ(o.Count(), 1u);
  }
  {
    DcmObj o;
    o.explicitVR = true;
    EXPECT_FALSE(decode(B({0x08, 0, 0x60, 0, 'O', 'B', 0, 0, 2, 0}), o));  // long form needs 12 bytes
  }
  EXPECT_NE(log.Text().find("ERROR, BufData::ReadTag, element header cut short"), std::string::npos);
  // A broken element inside a sequence value.
  {
    DcmObj o;
    o.explicitVR = true;
    Bytes b = B({0x08, 0, 0x10, 0x11, 'S', 'Q', 0, 0, 12, 0, 0, 0, 0xFE, 0xFF, 0x00, 0xE0, 4, 0, 0, 0, 0x08, 0, 0x50, 0x11});
    EXPECT_FALSE(decode(b, o));
    EXPECT_NE(log.Text().find("ERROR, Expand_SQ: Reading tag..."), std::string::npos);
  }
  // Nesting is bounded: 300 nested defined-length sequences are refused, not recursed into.
  {
    Bytes inner = B({0x10, 0, 0x20, 0, 2, 0, 0, 0, 'A', ' '});
    for (int i = 0; i < 300; ++i) {
      const uint32_t n = static_cast<uint32_t>(inner.size());
      Bytes item = B({0xFE, 0xFF, 0x00, 0xE0, int(n & 0xFF), int((n >> 8) & 0xFF), int((n >> 16) & 0xFF), 0}) + inner;
      const uint32_t m = static_cast<uint32_t>(item.size());
      inner = B({0x08, 0, 0x10, 0x11, int(m & 0xFF), int((m >> 8) & 0xFF), int((m >> 16) & 0xFF), 0}) + item;
    }
    DcmObj o;
    EXPECT_FALSE(decode(inner, o));
    EXPECT_NE(log.Text().find("sequences nested deeper than 128 levels"), std::string::npos);
  }
  // Every cut and many single-byte changes of a valid stream are read without crashing.
  DcmObj valid;
  valid.explicitVR = true;
  valid.AddText(0x0008, 0x0060, "OT");
  auto seq = std::make_unique<DcmObj>();
  auto item = std::make_unique<DcmObj>();
  item->AddText(0x0008, 0x0100, "X1");
  item->AddBytes(0x0042, 0x0011, 6, "abcdef");
  seq->InsertSequence(0xFFFE, 0xE000, std::move(item));
  valid.InsertSequence(0x0008, 0x1110, std::move(seq));
  valid.AddText(0x0010, 0x0010, "Doe");
  const Bytes good = encode(valid);
  for (size_t n = 0; n < good.size(); ++n) {
    DcmObj o;
    o.explicitVR = true;
    BufData b(good.data(), n, false);  // a view of the first n bytes only
    b.ReadObj(o);
  }
  for (size_t i = 0; i < good.size(); ++i) {
    for (int v : {0x00, 0x41, 0xFF}) {
      Bytes m = good;
      m[i] = static_cast<uint8_t>(v);
      DcmObj o;
      o.explicitVR = true;
      decode(m, o);
    }
  }
}

TEST(BufData, WriterNeverEmitsACorruptStream) {
  LogCapture log;
  // A short-form value too long for a 16-bit length is written as UN in the long form.
  DcmObj o;
  o.explicitVR = true;
  o.AddText(0x0008, 0x1030, std::string(70000, 'x'));
  o.AddText(0x0010, 0x0010, "Doe");
  const Bytes b = encode(o);
  EXPECT_EQ(Bytes(b.begin() + 4, b.begin() + 12), B({'U', 'N', 0, 0, 0x70, 0x11, 0x01, 0}));
  EXPECT_NE(log.Text().find("WARNING, BufData::WriteTag, (0008,1030) LO value of 70000 bytes written with VR UN"),
            std::string::npos);
  DcmObj r;
  r.explicitVR = true;
  ASSERT_TRUE(decode(b, r));
  EXPECT_EQ(r.FindTag(0x0008, 0x1030)->length, 70000u);
  EXPECT_EQ(r.GetString(0x0010, 0x0010), "Doe");
  // An element without usable VR letters gets the dictionary's.
  DcmObj n;
  n.explicitVR = true;
  DcmTag* t = n.Add(DcmTag());
  t->group = 0x0010;
  t->element = 0x0020;
  t->SetValue("AB", 2);
  EXPECT_EQ(encode(n), B({0x10, 0, 0x20, 0, 'L', 'O', 2, 0, 'A', 'B'}));
  // A sequence tag held without VR has a raw value: written as UN, so no reader parses it.
  DcmObj q;
  q.explicitVR = true;
  DcmTag* raw = q.Add(DcmTag());
  raw->group = 0x0008;
  raw->element = 0x1125;
  raw->SetValue("\x01\x02", 2);
  EXPECT_EQ(encode(q), B({0x08, 0, 0x25, 0x11, 'U', 'N', 0, 0, 2, 0, 0, 0, 1, 2}));
  // Odd VR bytes that the reader took as letters are written back as read.
  const Bytes odd = B({0x08, 0, 0x25, 0x11, 'u', 'I', 2, 0, 0x17, 0x2F});
  DcmObj u;
  u.explicitVR = true;
  ASSERT_TRUE(decode(odd, u));
  EXPECT_EQ(encode(u), odd);
  // An element whose bytes do not match its length is refused.
  t->length = 10;
  BufData w;
  EXPECT_FALSE(w.WriteObj(n));
  EXPECT_NE(log.Text().find("ERROR, BufData::WriteTag, (0010,0020) holds 2 bytes for length 10"), std::string::npos);
}

TEST(BufData, StreamBookkeeping) {
  BufData b(true);
  b.WriteUS(0x1234);
  b.WriteUL(0x01020304);
  EXPECT_EQ(b.GetSize(), 6u);
  b.SetPosition(0);
  EXPECT_EQ(b.ReadUS(), 0x1234);
  EXPECT_EQ(b.ReadUL(), 0x01020304u);
  EXPECT_EQ(b.data()[0], 0x12);
  EXPECT_EQ(b.ReadUS(), 0);  // past the end
  b.SetPosition(100);
  EXPECT_EQ(b.GetPosition(), 6u);
  char buf[8];
  b.SetPosition(4);
  EXPECT_EQ(b.Read(buf, 8), 2u);
  ByteBuffer taken = b.TakeBuffer();
  EXPECT_EQ(taken.size(), 6u);
  EXPECT_EQ(b.GetSize(), 0u);
  // A view turns into an owned copy on the first write; the caller's bytes are untouched.
  const uint8_t src[4] = {1, 2, 3, 4};
  BufData v(src, 4, false);
  v.SetPosition(4);
  v.WriteUS(0x0605);
  EXPECT_EQ(v.GetSize(), 6u);
  EXPECT_EQ(v.data()[5], 6);
  EXPECT_EQ(src[3], 4);
  v.Clear();
  EXPECT_EQ(v.GetSize(), 0u);
  EXPECT_EQ(v.data(), nullptr);
}

// ---------------------------------------------------------------- files

TEST(DicomFile, LayoutOfTheMetaGroup) {
  LogCapture log;
  Scratch tmp;
  const std::string path = tmp.dir() + "/a.dcm";
  DcmObj o;
  o.transferSyntax = "1.2.840.10008.1.2.1";
  o.explicitVR = true;
  o.SetText(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.7");
  const std::string inst = "1.2.3.4.5.6.7.8.9.10.11.123";  // 27 characters
  ASSERT_EQ(inst.size(), 27u);
  o.SetText(0x0008, 0x0018, inst);
  o.SetText(0x0010, 0x0010, "Doe^J");
  ASSERT_TRUE(o.Write(path));
  const Bytes f = fileBytes(path);
  ASSERT_GT(f.size(), 300u);
  EXPECT_EQ(Bytes(f.begin(), f.begin() + 128), Bytes(128, 0));
  EXPECT_EQ(Bytes(f.begin() + 128, f.begin() + 140), S("DICM") + B({2, 0, 0, 0, 'U', 'L', 4, 0}));
  EXPECT_EQ(Bytes(f.begin() + 144, f.begin() + 158), B({2, 0, 1, 0, 'O', 'B', 0, 0, 2, 0, 0, 0, 0, 1}));
  const uint32_t gl = f[140] | f[141] << 8 | f[142] << 16 | f[143] << 24;
  const size_t dataSet = 144 + gl;
  EXPECT_EQ(Bytes(f.begin() + dataSet, f.begin() + dataSet + 4), B({8, 0, 0x16, 0}));
  // (0002,0002) padded to even with NUL, then (0002,0003) of length 28.
  EXPECT_EQ(Bytes(f.begin() + 158, f.begin() + 166), B({2, 0, 2, 0, 'U', 'I', 26, 0}));
  EXPECT_EQ(f[166 + 25], 0);
  const size_t p3 = 166 + 26;
  EXPECT_EQ(Bytes(f.begin() + p3, f.begin() + p3 + 8), B({2, 0, 3, 0, 'U', 'I', 28, 0}));
  EXPECT_EQ(f[p3 + 8 + 27], 0);
  const std::string tail(f.begin() + 144, f.begin() + dataSet);
  const std::string impl = std::string("\x02\x00\x12\x00UI\x18\x00", 8) + kImplementationClassUID;
  EXPECT_NE(tail.find(impl), std::string::npos);
  EXPECT_NE(tail.find(std::string("\x02\x00\x13\x00SH\x0A\x00", 8) + "Brelvando "),
            std::string::npos);
  EXPECT_EQ(tail.rfind("Brelvando") + 10, tail.size());  // nothing after (0002,0013)
  EXPECT_NE(tail.find(std::string("\x02\x00\x10\x00UI\x14\x00", 8) + "1.2.840.10008.1.2.1" + std::string(1, '\0')),
            std::string::npos);

  DcmObj r;
  ASSERT_TRUE(r.Read(path));
  EXPECT_EQ(r.transferSyntax, "1.2.840.10008.1.2.1");
  EXPECT_TRUE(r.explicitVR);
  EXPECT_FALSE(r.bigEndian);
  EXPECT_EQ(r.Count(), 3u);  // the meta elements are not kept
  EXPECT_EQ(r.GetString(0x0008, 0x0018), inst);
  EXPECT_EQ(static_cast<int>(log.Messages().size()), 0);
}

TEST(DicomFile, ByteOrderAndTransferSyntaxes) {
  LogCapture log;
  Scratch tmp;
  const std::string path = tmp.dir() + "/be.dcm";
  DcmObj o;
  o.transferSyntax = "1.2.840.10008.1.2.2";
  o.explicitVR = true;
  o.Add(DcmTag(0x0028, 0x0010, 2, "\x02\x00", "US"));  // value already big endian
  ASSERT_TRUE(o.Write(path));
  EXPECT_TRUE(o.bigEndian);
  const Bytes f = fileBytes(path);
  EXPECT_EQ(Bytes(f.begin() + 132, f.begin() + 136), B({2, 0, 0, 0}));  // meta stays little endian
  EXPECT_EQ(Bytes(f.end() - 10, f.end()), B({0x00, 0x28, 0x00, 0x10, 'U', 'S', 0x00, 0x02, 0x02, 0x00}));
  DcmObj r;
  ASSERT_TRUE(r.Read(path));
  EXPECT_TRUE(r.bigEndian);
  EXPECT_TRUE(r.explicitVR);
  EXPECT_EQ(r.GetUS(0x0028, 0x0010), 512);

  // Implicit little endian.
  DcmObj im;
  im.AddText(0x0010, 0x0020, "ID");
  ASSERT_TRUE(im.Write(path));
  const Bytes fi = fileBytes(path);
  EXPECT_EQ(Bytes(fi.end() - 10, fi.end()), B({0x10, 0, 0x20, 0, 2, 0, 0, 0, 'I', 'D'}));
  DcmObj ri;
  ri.explicitVR = true;
  ASSERT_TRUE(ri.Read(path));
  EXPECT_FALSE(ri.explicitVR);
  EXPECT_EQ(ri.GetString(0x0010, 0x0020), "ID");

  // No (0008,0016)/(0008,0018): zero-length UIDs. A meta group without (0002,0010): empty transfer
  // syntax, read as explicit little endian.
  DcmObj bare;
  bare.transferSyntax = "";
  bare.explicitVR = true;
  bare.AddText(0x0010, 0x0020, "ID");
  ASSERT_TRUE(bare.Write(path));
  Bytes b = fileBytes(path);
  EXPECT_EQ(Bytes(b.begin() + 158, b.begin() + 174), B({2, 0, 2, 0, 'U', 'I', 0, 0, 2, 0, 3, 0, 'U', 'I', 0, 0}));
  DcmObj rb;
  ASSERT_TRUE(rb.Read(path));
  EXPECT_EQ(rb.transferSyntax, "");
  EXPECT_TRUE(rb.explicitVR);
  EXPECT_FALSE(rb.bigEndian);
  EXPECT_EQ(rb.GetString(0x0010, 0x0020), "ID");
  EXPECT_EQ(static_cast<int>(log.Messages().size()), 0);
}

TEST(DicomFile, UnreadableFiles) {
  LogCapture log;
  Scratch tmp;
  const std::string dir = tmp.dir();
  DcmObj o;
  EXPECT_FALSE(o.Read(dir + "/missing.dcm"));
  putFile(dir + "/empty.dcm", {});
  EXPECT_FALSE(o.Read(dir + "/empty.dcm"));
  putFile(dir + "/raw.dcm", B({0x10, 0, 0x20, 0, 2, 0, 0, 0, 'I', 'D'}));  // a data set without preamble
  EXPECT_FALSE(o.Read(dir + "/raw.dcm"));
  EXPECT_EQ(static_cast<int>(log.Messages().size()), 0);
  // A file cut inside its data set keeps what was read and says so.
  DcmObj w;
  w.AddText(0x0008, 0x0060, "OT");
  w.AddBytes(0x7FE0, 0x0010, 4096, std::string(4096, 'p').data());
  ASSERT_TRUE(w.Write(dir + "/full.dcm"));
  Bytes f = fileBytes(dir + "/full.dcm");
  f.resize(f.size() - 100);
  putFile(dir + "/cut.dcm", f);
  DcmObj r;
  EXPECT_FALSE(r.Read(dir + "/cut.dcm"));
  EXPECT_EQ(r.GetString(0x0008, 0x0060), "OT");
  EXPECT_NE(log.Text().find("ERROR: DcmObj::Read, " + dir + "/cut.dcm"), std::string::npos);
  // Load and save errors.
  BufData b;
  EXPECT_FALSE(b.SaveToFile(dir + "/nothing.dcm"));  // empty stream: no file
  std::ifstream probe(dir + "/nothing.dcm");
  EXPECT_FALSE(probe.good());
  EXPECT_FALSE(b.LoadFromFile(dir));
  EXPECT_NE(log.Text().find("ERROR, BufData::LoadFromFile, "), std::string::npos);
  b.Write("x", 1);
  EXPECT_FALSE(b.SaveToFile(dir + "/no/such/folder.dcm"));
  EXPECT_NE(log.Text().find("ERROR, BufData::SaveToFile, "), std::string::npos);
  // A failed write removes the cut-off file, but never what is not a regular file.
  struct stat st {};
  ASSERT_EQ(::stat("/dev/full", &st), 0);
  ASSERT_TRUE(S_ISCHR(st.st_mode));
  EXPECT_FALSE(b.SaveToFile("/dev/full"));
  ASSERT_EQ(::stat("/dev/full", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}

// ---------------------------------------------------------------- dump

TEST(Dump, Lines) {
  DcmObj o;
  o.Add(DcmTag(0x0008, 0x0016, std::string("1.2.840.10008.5.1.4.1.1.7")));
  o.Add(DcmTag(0x0028, 0x0010, 2, "\x00\x02", "US"));
  o.Add(DcmTag(0x0028, 0x0010, 6, "\x01\x00\x02\x00\x03\x00", "US"));
  o.Add(DcmTag(0x0028, 0x0106, 2, "\xFF\xFF", "SS"));
  o.Add(DcmTag(0x0018, 0x9087, 4, "\x00\x00\x20\x40", "FL"));
  o.Add(DcmTag(0x0029, 0x1010, std::string("PRIV"), "LO"));
  o.Add(DcmTag(0x0042, 0x0011, 300, std::string(300, 'a').data(), "OB"));
  o.Add(DcmTag(0x0008, 0x1032, kUndefinedLength, nullptr, "SQ"));
  o.Add(DcmTag(0xFFFE, 0xE0DD, 0, nullptr));
  o.Add(DcmTag::Number16(0x0000, 0x0100, 1, "XX"));
  auto seq = std::make_unique<DcmObj>();
  auto item = std::make_unique<DcmObj>();
  item->AddText(0x0008, 0x0100, "T-1");
  seq->InsertSequence(0xFFFE, 0xE000, std::move(item));
  seq->header = DcmTag(0x0040, 0xA043, 0, nullptr, "SQ");
  seq->header.length = 20;
  o.Add(std::move(seq));
  std::vector<std::string> lines;
  o.Dump(lines, 0);
  ASSERT_EQ(lines.size(), 13u);
  EXPECT_EQ(lines[0], "(0008,0016), 26, UI, SOP Class UID: 1.2.840.10008.5.1.4.1.1.7 (Secondary Capture Image Storage) ");
  EXPECT_EQ(lines[1], "(0028,0010),  2, US, Rows: 512");
  EXPECT_EQ(lines[2], "(0028,0010),  6, US, Rows: Vector!!");
  EXPECT_EQ(lines[3], "(0028,0106),  2, SS, Smallest Image Pixel Value US or: 65535");
  EXPECT_EQ(lines[4], "(0018,9087),  4, FD, Diffusion b-value:  2.50");  // the dictionary VR is shown
  EXPECT_EQ(lines[5], "(0029,1010),  4, LO, *** Unidentified ***: PRIV");
  EXPECT_EQ(lines[6], "(0042,0011), 300, OB, Encapsulated Document: ");
  EXPECT_EQ(lines[7], "(0008,1032), -1, SQ, Procedure Code Sequence: ");
  EXPECT_EQ(lines[8], "(FFFE,E0DD),  0, DL, Sequence Delimitation Item: ");
  EXPECT_EQ(lines[9], "(0000,0100),  2, US, Command Field: 1");
  EXPECT_EQ(lines[10], "(0040,A043), 20, SQ, Concept Name Code Sequence: ");
  EXPECT_EQ(lines[11], "(FFFE,E000),  0, DL, Item: ");
  EXPECT_EQ(lines[12], "...(0008,0100),  4, SH, Code Value: T-1 ");
  // The dump leaves the elements as they were.
  EXPECT_EQ(o.GetTag(9)->VR(), "XX");
  DcmTag f2(0x0070, 0x0253, 4, "\x00\x00\x20\x40", "FL");
  EXPECT_EQ(f2.Dump(3), "......(0070,0253),  4, FL, Line Thickness:  2.50");
}

TEST(DicomFile, LargeValuesAreWrittenAndReadWhole) {
  LogCapture log;
  Scratch tmp;
  const std::string path = tmp.dir() + "/large.dcm";
  // A large value in the middle (copied on reading) and one at the end (taken over on reading);
  // both are written straight from their elements.
  ByteBuffer mid(3u << 20), px((5u << 20) + 2);
  for (size_t i = 0; i < mid.size(); ++i) mid[i] = static_cast<uint8_t>(i * 13 + 1);
  for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint8_t>(i * 7 + (i >> 16));
  for (bool explicitVR : {true, false}) {
    SCOPED_TRACE(explicitVR);
    DcmObj o;
    o.transferSyntax = explicitVR ? "1.2.840.10008.1.2.1" : "1.2.840.10008.1.2";
    o.explicitVR = explicitVR;
    o.SetText(0x0008, 0x0018, "1.2.3");
    o.Insert(DcmTag(0x0029, 0x1010, ByteBuffer(mid.begin(), mid.begin() + (70 << 10)), "OB"));  // a frame's size
    o.Insert(DcmTag(0x0042, 0x0011, ByteBuffer(mid), "OB"));
    o.SetText(0x0042, 0x0012, "application/pdf");
    o.Insert(DcmTag(0x7FE0, 0x0010, ByteBuffer(px), "OW"));
    ASSERT_TRUE(o.Write(path));
    // The file holds exactly what the in-memory encoder makes.
    BufData enc;
    enc.WriteHeader("", "1.2.3", o.transferSyntax);
    ASSERT_TRUE(enc.WriteObj(o));
    const Bytes f = fileBytes(path);
    ASSERT_EQ(f.size(), enc.GetSize());
    EXPECT_TRUE(std::equal(f.begin(), f.end(), enc.data()));
    DcmObj r;
    ASSERT_TRUE(r.Read(path));
    ASSERT_EQ(r.Count(), 5u);
    EXPECT_EQ(r.GetTag(2)->bytes(), mid);
    EXPECT_EQ(r.GetTag(4)->bytes(), px);
    EXPECT_EQ(r.GetTag(4)->length, px.size());
    EXPECT_EQ(r.GetString(0x0042, 0x0012), "application/pdf");
  }
  EXPECT_EQ(static_cast<int>(log.Messages().size()), 0);
}

TEST(DicomFile, FilesReadInPartsComeBackByteForByte) {
  // The reader loads the start of a file first and the rest as needed; a large value that ends the
  // file is read straight into its element. Headers placed on every side of that first part, a
  // trailing element after the pixel data and a file cut short must all read as a whole read would.
  LogCapture log;
  Scratch tmp;
  const std::string path = tmp.dir() + "/parts.dcm";
  ByteBuffer px((2u << 20) + 6);
  for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint8_t>(i * 11 + (i >> 12));
  for (int trailing = 0; trailing < 2; ++trailing) {
    for (uint32_t ob = (64u << 10) - 360; ob < (64u << 10) - 250; ob += 2) {
      SCOPED_TRACE(std::to_string(trailing) + " " + std::to_string(ob));
      DcmObj o;
      o.transferSyntax = "1.2.840.10008.1.2.1";
      o.explicitVR = true;
      o.SetText(0x0008, 0x0018, "1.2.3.4");
      o.Insert(DcmTag(0x0009, 0x0010, ByteBuffer(ob, 0x5A), "OB"));
      o.SetText(0x0010, 0x0010, "Doe^J");
      o.Insert(DcmTag(0x7FE0, 0x0010, ByteBuffer(px), "OW"));
      if (trailing) o.Add(DcmTag(0xFFFC, 0xFFFC, ByteBuffer(40, 0), "OB"));
      ASSERT_TRUE(o.Write(path));
      const Bytes f = fileBytes(path);
      DcmObj r;
      ASSERT_TRUE(r.Read(path));
      ASSERT_EQ(r.Count(), 4u + trailing);
      EXPECT_EQ(r.GetString(0x0010, 0x0010), "Doe^J");
      EXPECT_EQ(r.FindTag(0x7FE0, 0x0010)->bytes(), px);
      ASSERT_TRUE(r.Write(path + ".2"));
      EXPECT_TRUE(fileBytes(path + ".2") == f);
    }
  }
  EXPECT_EQ(static_cast<int>(log.Messages().size()), 0);
  // Cut short inside the pixel data: the count is what the file still holds.
  Bytes f = fileBytes(path);
  f.resize(f.size() - 40 - 12 - 1000);
  putFile(path, f);
  DcmObj r;
  EXPECT_FALSE(r.Read(path));
  EXPECT_NE(log.Text().find("ERROR: read bytes!=tag->length (7FE0,0010) count=" + std::to_string(px.size() - 1000) +
                            ", tag->length=" + std::to_string(px.size())),
            std::string::npos);
  EXPECT_NE(log.Text().find("ERROR: DcmObj::Read, " + path), std::string::npos);
  EXPECT_EQ(r.Count(), 3u);  // the elements before it stay
}

TEST(BufData, UndefinedLengthUNHoldsImplicitContents) {
  // An explicit VR data set with a private sequence written as UN of undefined length: its contents
  // are implicit VR little endian, here with a value length whose bytes look like VR letters.
  const Bytes big(0x4142, 'x');
  const Bytes stream = B({0x09, 0, 0x10, 0, 'L', 'O', 4, 0}) + S("ACME") +
                       B({0x09, 0, 0x10, 0x10, 'U', 'N', 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}) +
                       B({0xFE, 0xFF, 0x00, 0xE0, 0xFF, 0xFF, 0xFF, 0xFF}) + B({0x09, 0, 0x12, 0x10, 0x42, 0x41, 0, 0}) +
                       big + B({0x08, 0, 0x00, 0x01, 4, 0, 0, 0}) + S("T-1 ") +
                       B({0xFE, 0xFF, 0x0D, 0xE0, 0, 0, 0, 0, 0xFE, 0xFF, 0xDD, 0xE0, 0, 0, 0, 0}) +
                       B({0x10, 0, 0x10, 0, 'P', 'N', 4, 0}) + S("Doe ");
  DcmObj o;
  o.explicitVR = true;
  ASSERT_TRUE(decode(stream, o));
  ASSERT_EQ(o.Count(), 8u);
  EXPECT_EQ(o.GetTag(1)->VR(), "SQ");  // held as the sequence it is
  EXPECT_EQ(o.GetTag(3)->length, 0x4142u);
  EXPECT_EQ(o.GetTag(4)->GetString(), "T-1");
  EXPECT_EQ(o.GetTag(4)->VR(), "SH");
  EXPECT_EQ(o.GetString(0x0010, 0x0010), "Doe");
  EXPECT_EQ(o.FindTag(0x0008, 0x0100), nullptr);
  // Written back in explicit VR as a sequence with explicit contents, and read back the same.
  const Bytes out = encode(o);
  EXPECT_EQ(Bytes(out.begin() + 12, out.begin() + 24), B({0x09, 0, 0x10, 0x10, 'S', 'Q', 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
  DcmObj r;
  r.explicitVR = true;
  ASSERT_TRUE(decode(out, r));
  ASSERT_EQ(r.Count(), 8u);
  EXPECT_EQ(r.GetTag(4)->GetString(), "T-1");
  EXPECT_EQ(encode(r), out);
}

// Inputs the data set fuzz target found (core/tests/data/fuzz): a chooser byte (0 implicit, 1
// explicit little endian, 4 the value of a sequence), then the bytes. Each must read, and what it
// writes must read back and write the same bytes again.
TEST(BufData, FuzzFindingsReadBackAsWritten) {
  struct Case {
    const char* file;
    size_t entries;  // top-level entries read
  };
  for (const Case& c : {Case{"dataset-04432b26.bin", 5}, Case{"dataset-3a633c75.bin", 0}, Case{"dataset-b478db57.bin", 0}}) {
    SCOPED_TRACE(c.file);
    const Bytes in = fileBytes(std::string(SCRIVARA_SOURCE_DIR) + "/core/tests/data/fuzz/" + c.file);
    ASSERT_GT(in.size(), 1u);
    const int mode = in[0] % 6;
    const Bytes body(in.begin() + 1, in.end());
    DcmObj o;
    o.explicitVR = mode != 0;
    if (mode == 4) {
      const DcmTag sq(0x0040, 0xA730, static_cast<uint32_t>(body.size()), body.data(), "SQ");
      ASSERT_TRUE(o.Expand_SQ(sq));
    } else {
      ASSERT_TRUE(decode(body, o));
    }
    if (c.entries) {
      EXPECT_EQ(o.Count(), c.entries);
    }
    const Bytes out = encode(o);
    DcmObj r;
    r.explicitVR = o.explicitVR;
    ASSERT_TRUE(decode(out, r));
    EXPECT_EQ(encode(r), out);
  }
}

TEST(BufData, GroupTwoAndUndefinedLengthsWriteAsTheyAreRead) {
  // Group 0002 is read as explicit VR in an implicit data set, so it is written so as well.
  DcmObj o;
  o.AddText(0x0002, 0x0010, "1.2.840.10008.1.2");
  o.AddText(0x0010, 0x0010, "Doe^J ");
  const Bytes out = encode(o);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 8), B({0x02, 0, 0x10, 0, 'U', 'I', 18, 0}));
  EXPECT_EQ(Bytes(out.begin() + 26, out.begin() + 34), B({0x10, 0, 0x10, 0, 6, 0, 0, 0}));
  DcmObj r;
  ASSERT_TRUE(decode(out, r));
  ASSERT_EQ(r.Count(), 2u);
  EXPECT_EQ(r.GetString(0x0002, 0x0010), "1.2.840.10008.1.2");
  EXPECT_EQ(r.GetString(0x0010, 0x0010), "Doe^J");

  // In implicit VR an undefined length means a sequence whatever the dictionary's VR; in explicit VR
  // such an element is written as SQ, never with a short length or as UN.
  const Bytes implicitStream = B({0x08, 0, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}) +
                               B({0x10, 0, 0x20, 0, 2, 0, 0, 0}) + S("ID") +
                               B({0xFE, 0xFF, 0xDD, 0xE0, 0, 0, 0, 0});
  DcmObj s;
  ASSERT_TRUE(decode(implicitStream, s));
  ASSERT_EQ(s.Count(), 3u);
  EXPECT_EQ(s.GetTag(0)->VR(), "SQ");
  EXPECT_EQ(s.FindTag(0x0010, 0x0020), nullptr);  // inside the sequence
  s.explicitVR = true;
  const Bytes ex = encode(s);
  EXPECT_EQ(Bytes(ex.begin(), ex.begin() + 12), B({0x08, 0, 0x00, 0x00, 'S', 'Q', 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
  DcmObj built;
  built.explicitVR = true;
  built.Add(DcmTag(0x0009, 0x1010, kUndefinedLength, nullptr))->SetVR("UN");  // as a big endian read holds it
  built.Add(DcmTag(0x0008, 0x1030, kUndefinedLength, nullptr, "LO"));
  const Bytes b = encode(built);
  EXPECT_EQ(Bytes(b.begin() + 4, b.begin() + 6), S("SQ"));
  EXPECT_EQ(Bytes(b.begin() + 16, b.begin() + 18), S("SQ"));
}

TEST(DicomFile, LargeValuesLeftInTheFile) {
  // Read with the pixel data left in the file: written file to file byte for byte, read in on first
  // use; a file that changed meanwhile fails the write and the use, and says why.
  LogCapture log;
  Scratch tmp;
  const std::string path = tmp.dir() + "/left.dcm";
  // More than one slice of the copy, in a pattern whose period no slice size could hide.
  ByteBuffer px((9u << 20) + 6);
  for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint8_t>(i % 251);
  for (uint32_t ob : {16u, 300u << 10}) {  // the value starts inside the first part read, and after it
    SCOPED_TRACE(ob);
    DcmObj o;
    o.transferSyntax = "1.2.840.10008.1.2.1";
    o.explicitVR = true;
    o.SetText(0x0008, 0x0018, "1.2.3.4");
    o.Insert(DcmTag(0x0009, 0x0010, ByteBuffer(ob, 0x5A), "OB"));
    o.Insert(DcmTag(0x7FE0, 0x0010, ByteBuffer(px), "OW"));
    ASSERT_TRUE(o.Write(path));
    DcmObj r;
    ASSERT_TRUE(r.Read(path, nullptr, DcmObj::LargeValues::kLeftInFile));
    const DcmTag* pixels = r.FindTag(0x7FE0, 0x0010);
    ASSERT_TRUE(pixels->ValueInFile());
    EXPECT_EQ(pixels->size(), px.size());
    ASSERT_TRUE(r.Write(path + ".2"));
    EXPECT_TRUE(pixels->ValueInFile());
    EXPECT_TRUE(fileBytes(path + ".2") == fileBytes(path));
    r.SetText(0x0008, 0x0018, "1.2.3.4.5.6");  // the value now starts elsewhere within a page
    ASSERT_TRUE(r.Write(path + ".3"));
    DcmObj shifted;
    ASSERT_TRUE(shifted.Read(path + ".3"));
    EXPECT_TRUE(shifted.FindTag(0x7FE0, 0x0010)->bytes() == px);
    EXPECT_EQ(pixels->bytes(), px);
    EXPECT_FALSE(pixels->ValueInFile());
  }
  EXPECT_EQ(static_cast<int>(log.Messages().size()), 0);

  DcmObj r;
  ASSERT_TRUE(r.Read(path, nullptr, DcmObj::LargeValues::kLeftInFile));
  Bytes f = fileBytes(path);
  f.push_back(0);
  f.push_back(0);
  putFile(path, f);
  ::unlink((path + ".2").c_str());
  EXPECT_FALSE(r.Write(path + ".2"));
  EXPECT_FALSE(std::filesystem::exists(path + ".2"));
  EXPECT_NE(log.Text().find("\"" + path + "\": the file changed since it was read"), std::string::npos);
  EXPECT_EQ(r.FindTag(0x7FE0, 0x0010)->data(), nullptr);
  EXPECT_NE(log.Text().find("ERROR, DcmTag, (7FE0,0010) cannot be read from \"" + path + "\": the file changed"),
            std::string::npos);
}
