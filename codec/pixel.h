#pragma once
// Pixel sample helpers shared by the conversion, the RLE decoder and the image loader.
#include <cstddef>
#include <cstdint>

// Turns pixel-interleaved 8-bit YBR_FULL samples (Y, Cb, Cr) into R, G, B in place:
// R = Y + 1.402 (Cr - 128), G = Y - 0.344136 (Cb - 128) - 0.714136 (Cr - 128), B = Y + 1.772 (Cb - 128),
// each truncated toward zero and limited to 0..255.
void YbrFullToRgb(uint8_t* samples, size_t pixels);
