// JPEG 2000 adapter: waits for the JPEG 2000 frame codec.
#include "codec/convert_internal.h"
#include "core/log.h"

bool DecodeJ2KFrameAdapter(const uint8_t*, size_t, uint8_t*, size_t) {
  WriteLog("ERROR, DecodeJ2KFrame, JPEG 2000 decoder not built");
  return false;
}
bool EncodeJ2KFrameAdapter(const uint8_t*, size_t, std::vector<uint8_t>&, int, int, int, int, int) {
  WriteLog("ERROR, EncodeJ2KFrame, JPEG 2000 coder not built");
  return false;
}
