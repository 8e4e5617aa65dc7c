// The data set decoders: BufData::ReadObj in each encoding, DcmObj::Read of a Part 10 file and
// DcmObj::Expand_SQ of a sequence or item value. What was read is dumped and encoded again, and a
// data set that decoded and encoded must decode again, to what encodes to the same bytes.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/bufdata.h"
#include "core/dcmobj.h"
#include "fuzz/fuzz_support.h"
#include "core/transfer_syntax.h"

namespace {

void Exercise(DcmObj& obj, bool readOK) {
  std::vector<std::string> lines;
  obj.Dump(lines, 0);
  BufData out(obj.bigEndian);
  if (!out.WriteObj(obj) || !readOK) return;
  DcmObj again;
  again.explicitVR = obj.explicitVR;
  again.bigEndian = obj.bigEndian;
  BufData in(out.data(), out.GetSize(), out.bigEndian);
  if (!in.ReadObj(again)) std::abort();  // our own encoding of a readable data set must read back
  BufData twice(again.bigEndian);
  if (!twice.WriteObj(again) || twice.GetSize() != out.GetSize() ||
      (out.GetSize() && std::memcmp(twice.data(), out.data(), out.GetSize()) != 0))
    std::abort();  // ... and write the same bytes again
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  fuzz::Quiet();
  const int mode = data[0] % 6;
  ++data;
  --size;
  DcmObj obj;
  bool ok = false;
  switch (mode) {
    case 0:  // implicit VR little endian
    case 1:  // explicit VR little endian
    case 2: {  // explicit VR big endian
      obj.explicitVR = mode != 0;
      obj.bigEndian = mode == 2;
      obj.transferSyntax = mode == 0 ? kTsImplicitLE : mode == 1 ? kTsExplicitLE : kTsExplicitBE;
      BufData in(data, size, obj.bigEndian);
      ok = in.ReadObj(obj);
      break;
    }
    case 3: {  // a Part 10 file
      static fuzz::ScratchFile file(".dcm");
      ok = obj.Read(file.Write(data, size));
      break;
    }
    default: {  // the value of a sequence (4) or of an item (5), explicit VR
      DcmTag tag(mode == 4 ? 0x0040 : 0xFFFE, mode == 4 ? 0xA730 : 0xE000, static_cast<uint32_t>(size), data,
                 mode == 4 ? "SQ" : "DL");
      obj.explicitVR = true;
      ok = obj.Expand_SQ(tag);
      break;
    }
  }
  Exercise(obj, ok);
  return 0;
}
