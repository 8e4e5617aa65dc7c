#pragma once
// Per-build entry points behind codec/jpeg.h. Each library build lives in its own translation
// unit because the builds share one header include guard and clash in their typedefs.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace jpegcodec {

// The library's warnings (corrupt data, data missing before EOI) in this thread's last decode.
extern thread_local long lastDecodeWarnings;

// Staging buffer of the destination managers.
constexpr size_t kStagingSize = 16384;

// Decoders: write samples of outWidth bytes (1 or 2) into destination; return the number of
// bytes written, or -1 when the library fails or the image does not fit destinationLength.
// rgbSamples as in codec/jpeg.h.
long DecodeTurbo(const uint8_t* source, size_t sourceLength, uint8_t* destination, size_t destinationLength,
                 int outWidth, bool rgbSamples);
long DecodeIjg8(const uint8_t* source, size_t sourceLength, uint8_t* destination, size_t destinationLength,
                int outWidth, bool rgbSamples);
long DecodeIjg12(const uint8_t* source, size_t sourceLength, uint8_t* destination, size_t destinationLength,
                 int outWidth, bool rgbSamples);
long DecodeIjg16(const uint8_t* source, size_t sourceLength, uint8_t* destination, size_t destinationLength,
                 int outWidth, bool rgbSamples);

// Encoders: source holds width * height * components samples of the build's width (1 byte for 8
// bits, 2 for 12 and 16 bits). announce: print "error exit" to standard output on a library error.
// Return 0 with the stream in out, or -1.
int EncodeTurboBaseline(int width, int height, int components, const uint8_t* source, std::vector<uint8_t>& out,
                        bool announce);
int EncodeIjg8(int width, int height, int components, const uint8_t* source, std::vector<uint8_t>& out,
               bool lossless, bool announce);
int EncodeIjg12(int width, int height, int components, const uint8_t* source, std::vector<uint8_t>& out,
                bool lossless, bool announce);
int EncodeIjg16(int width, int height, int components, const uint8_t* source, std::vector<uint8_t>& out,
                bool lossless, bool announce);

}  // namespace jpegcodec
