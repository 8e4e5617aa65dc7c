// Makes the Word reader's test documents from the two documents LibreOffice wrote (report.doc and
// latin.doc, from report.txt and latin.txt with
//   soffice --headless --infilter="Text (encoded):UTF8" --convert-to 'doc:MS Word 97' FILE.txt).
// LibreOffice writes one 16-bit piece in 1Table; every other layout is made here by rewriting
// the streams of those files. Build with the target make_word_fixtures and run it in this folder.
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-input.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// A compound file held in memory: streams by path ("Dir/Name"), storages listed separately.
struct Compound {
  std::map<std::string, Bytes> streams;
  std::vector<std::string> storages;
};

void ReadTree(GsfInfile* dir, const std::string& prefix, Compound& c) {
  const int n = gsf_infile_num_children(dir);
  for (int i = 0; i < n; ++i) {
    GsfInput* child = gsf_infile_child_by_index(dir, i);
    const std::string name = prefix + gsf_infile_name_by_index(dir, i);
    if (GSF_IS_INFILE(child) && gsf_infile_num_children(GSF_INFILE(child)) >= 0) {
      c.storages.push_back(name);
      ReadTree(GSF_INFILE(child), name + "/", c);
    } else {
      Bytes b(static_cast<size_t>(gsf_input_size(child)));
      if (!b.empty()) gsf_input_read(child, b.size(), b.data());
      c.streams[name] = std::move(b);
    }
    g_object_unref(child);
  }
}

Compound Load(const char* path) {
  GError* err = nullptr;
  GsfInput* in = gsf_input_stdio_new(path, &err);
  GsfInfile* ole = in ? gsf_infile_msole_new(in, &err) : nullptr;
  if (!ole) {
    std::fprintf(stderr, "cannot read %s\n", path);
    std::exit(1);
  }
  Compound c;
  ReadTree(ole, "", c);
  g_object_unref(ole);
  g_object_unref(in);
  return c;
}

void WriteDir(GsfOutfile* dir, const std::string& prefix, const Compound& c) {
  for (const auto& s : c.storages) {
    if (s.compare(0, prefix.size(), prefix) != 0 || s.find('/', prefix.size()) != std::string::npos) continue;
    GsfOutput* sub = gsf_outfile_new_child(dir, s.c_str() + prefix.size(), TRUE);
    WriteDir(GSF_OUTFILE(sub), s + "/", c);
    gsf_output_close(sub);
    g_object_unref(sub);
  }
  for (const auto& [name, bytes] : c.streams) {
    if (name.compare(0, prefix.size(), prefix) != 0 || name.find('/', prefix.size()) != std::string::npos) continue;
    GsfOutput* out = gsf_outfile_new_child(dir, name.c_str() + prefix.size(), FALSE);
    if (!bytes.empty()) gsf_output_write(out, bytes.size(), bytes.data());
    gsf_output_close(out);
    g_object_unref(out);
  }
}

void Save(const Compound& c, const char* path) {
  GError* err = nullptr;
  GsfOutput* out = gsf_output_stdio_new(path, &err);
  GsfOutfile* ole = gsf_outfile_msole_new(out);
  WriteDir(ole, "", c);
  gsf_output_close(GSF_OUTPUT(ole));
  g_object_unref(ole);
  g_object_unref(out);
  std::printf("wrote %s\n", path);
}

uint32_t Le32(const Bytes& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}
void Append32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

struct Piece {
  uint32_t cp0, cp1, fc;
  Bytes pcd;  // the 8-byte descriptor as found
};

// The single piece table of a LibreOffice document (Clx = one Pcdt).
std::vector<Piece> Pieces(const Compound& c) {
  const Bytes& wd = c.streams.at("WordDocument");
  const Bytes& tbl = c.streams.at("1Table");
  const uint32_t fc = Le32(wd, 418);
  if (tbl[fc] != 2) {
    std::fprintf(stderr, "unexpected Clx\n");
    std::exit(1);
  }
  const uint32_t lcb = Le32(tbl, fc + 1);
  const size_t plc = fc + 5;
  const uint32_t n = (lcb - 4) / 12;
  std::vector<Piece> out;
  for (uint32_t i = 0; i < n; ++i) {
    Piece p{Le32(tbl, plc + 4 * i), Le32(tbl, plc + 4 * (i + 1)), Le32(tbl, plc + (n + 1) * 4 + 8 * i + 2), {}};
    p.pcd.assign(tbl.begin() + plc + (n + 1) * 4 + 8 * i, tbl.begin() + plc + (n + 1) * 4 + 8 * i + 8);
    out.push_back(p);
  }
  return out;
}

// Writes a new Clx (optionally after a Prc entry) at the end of 1Table and points the FIB at it.
void SetPieces(Compound& c, const std::vector<Piece>& pieces, bool withPrc = false) {
  Bytes& wd = c.streams.at("WordDocument");
  Bytes& tbl = c.streams.at("1Table");
  Bytes clx;
  if (withPrc) {  // Prc: clxt 1, cbGrpprl 2, one 2-byte sprm-less grpprl
    clx = {1, 2, 0, 0, 0};
  }
  clx.push_back(2);
  Append32(clx, uint32_t(4 * (pieces.size() + 1) + 8 * pieces.size()));
  for (const auto& p : pieces) Append32(clx, p.cp0);
  Append32(clx, pieces.empty() ? 0 : pieces.back().cp1);
  for (const auto& p : pieces) {
    Bytes d = p.pcd;
    d[2] = uint8_t(p.fc);
    d[3] = uint8_t(p.fc >> 8);
    d[4] = uint8_t(p.fc >> 16);
    d[5] = uint8_t(p.fc >> 24);
    clx.insert(clx.end(), d.begin(), d.end());
  }
  const uint32_t at = uint32_t(tbl.size());
  tbl.insert(tbl.end(), clx.begin(), clx.end());
  Put32(wd, 418, at);
  Put32(wd, 422, uint32_t(clx.size()));
}

// Converts 16-bit characters [from, to) of a piece to 8-bit text appended to WordDocument.
uint32_t Append8Bit(Compound& c, const Piece& p, uint32_t from, uint32_t to) {
  Bytes& wd = c.streams.at("WordDocument");
  if (wd.size() % 2) wd.push_back(0);
  const uint32_t at = uint32_t(wd.size());
  for (uint32_t k = from; k < to; ++k) {
    const uint16_t ch = uint16_t(wd[p.fc + 2 * k] | wd[p.fc + 2 * k + 1] << 8);
    uint8_t b;
    if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF)) b = uint8_t(ch);
    else if (ch == 0x20AC) b = 0x80;
    else if (ch == 0x2014) b = 0x97;
    else {
      std::fprintf(stderr, "character U+%04X has no 8-bit form here\n", ch);
      std::exit(1);
    }
    wd.push_back(b);
  }
  return (at * 2) | 0x40000000u;
}

// Character index (within the piece) just after the k-th carriage return.
uint32_t AfterParagraph(const Compound& c, const Piece& p, int k) {
  const Bytes& wd = c.streams.at("WordDocument");
  for (uint32_t i = 0; i < p.cp1 - p.cp0; ++i)
    if (wd[p.fc + 2 * i] == 0x0D && wd[p.fc + 2 * i + 1] == 0 && --k == 0) return i + 1;
  std::fprintf(stderr, "too few paragraphs\n");
  std::exit(1);
}

}  // namespace

int main() {
  gsf_init();
  const Compound report = Load("report.doc");
  const Compound latin = Load("latin.doc");
  const Piece r = Pieces(report).at(0);
  const Piece l = Pieces(latin).at(0);

  {  // latin.doc with its one piece stored as 8-bit text
    Compound c = latin;
    Piece p = l;
    p.fc = Append8Bit(c, l, 0, l.cp1 - l.cp0);
    SetPieces(c, {p});
    Save(c, "latin8.doc");
  }
  {  // report.doc as three pieces: paragraphs 1 and 2 in 8-bit text, the rest (Greek) in 16-bit
    Compound c = report;
    const uint32_t a = AfterParagraph(c, r, 1), b = AfterParagraph(c, r, 2);
    Piece p0 = r, p1 = r, p2 = r;
    p0.cp1 = r.cp0 + a;
    p0.fc = Append8Bit(c, r, 0, a);
    p1.cp0 = r.cp0 + a;
    p1.cp1 = r.cp0 + b;
    p1.fc = Append8Bit(c, r, a, b);
    p2.cp0 = r.cp0 + b;
    p2.fc = r.fc + 2 * b;
    SetPieces(c, {p0, p1, p2});
    Save(c, "mixed.doc");

    // The same with 1Table cut just before the third descriptor: two pieces are held in full.
    Compound t = c;
    Bytes& tbl = t.streams.at("1Table");
    const uint32_t fcClx = Le32(t.streams.at("WordDocument"), 418);
    tbl.resize(fcClx + 5 + 4 * 4 + 8 * 2 + 4);
    Save(t, "cut_table.doc");
  }
  {  // table stream named 0Table (FIB fWhichTblStm cleared)
    Compound c = report;
    c.streams["0Table"] = c.streams.at("1Table");
    c.streams.erase("1Table");
    c.streams.at("WordDocument")[0x0B] &= uint8_t(~0x02);
    Save(c, "table0.doc");
  }
  {  // a Clx that begins with a Prc entry (first byte 1) before the piece table
    Compound c = report;
    SetPieces(c, {r}, true);
    Save(c, "clx1.doc");
  }
  {  // a piece table without pieces (lcb 4)
    Compound c = report;
    SetPieces(c, {});
    Save(c, "nopieces.doc");
  }
  {  // 1000 pieces all pointing at the same text: more text than the document holds
    Compound c = report;
    std::vector<Piece> many;
    const uint32_t len = r.cp1 - r.cp0;
    for (uint32_t i = 0; i < 1000; ++i) {
      Piece p = r;
      p.cp0 = i * len;
      p.cp1 = (i + 1) * len;
      many.push_back(p);
    }
    SetPieces(c, many);
    Save(c, "overlap.doc");
  }
  {  // WordDocument cut in the middle of the 12th character of the text
    Compound c = report;
    c.streams.at("WordDocument").resize(r.fc + 2 * 11 + 1);
    Save(c, "cut_text.doc");
  }
  {  // WordDocument too short to hold fcClx and lcbClx
    Compound c = report;
    c.streams.at("WordDocument").resize(420);
    Save(c, "short_fib.doc");
  }
  {  // the compound file itself cut in half
    std::ifstream in("report.doc", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream("cut_file.doc", std::ios::binary).write(all.data(), std::streamsize(all.size() / 2));
    std::printf("wrote cut_file.doc\n");
  }
  return 0;
}
