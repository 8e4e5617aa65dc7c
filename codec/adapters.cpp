// Frame codec adapters with bool results, as the conversion uses them.
#include "codec/convert_internal.h"
#include "codec/rle.h"

bool DecodeRLEFrameAdapter(const DcmObj& obj, const uint8_t* fragment, size_t fragmentLength, uint8_t* destination,
                           size_t frameLength, int bitsAllocated) {
  return DecodeRLEFrame(obj.photometric, fragment, destination, fragmentLength, frameLength, bitsAllocated);
}
