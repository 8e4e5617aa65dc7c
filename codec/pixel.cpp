#include "codec/pixel.h"

namespace {

uint8_t Clamp255(double v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : static_cast<int>(v))); }

}  // namespace

void YbrFullToRgb(uint8_t* p, size_t pixels) {
  for (size_t k = 0; k < pixels; ++k, p += 3) {
    const double y = p[0], cb = p[1] - 128.0, cr = p[2] - 128.0;
    p[0] = Clamp255(y + 1.402 * cr);
    p[1] = Clamp255(y - 0.344136 * cb - 0.714136 * cr);
    p[2] = Clamp255(y + 1.772 * cb);
  }
}
