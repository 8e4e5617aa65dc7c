#pragma once
// JPEG 2000 frame codec over memory buffers (raw J2K code streams, as DICOM encapsulates them).
//
// Frame samples are pixel-interleaved, rows top to bottom. The sample width follows the precision:
// up to 8 bits one byte, 9 to 16 bits a 16-bit little-endian word, above that a 32-bit word.
#include <openjpeg.h>

#include <cstddef>
#include <cstdint>
#include <vector>

// Decodes one code stream into the frame slice destination[0, destinationLength). The decoded
// image (every component the size of the first, samples of one width) must fill the slice
// exactly. A JP2 file wrapper is accepted as well. False on any failure, with the slice
// cleared; the library's messages go nowhere.
bool DecodeJ2KFrame(const uint8_t* codeStream, uint8_t* destination, size_t codeStreamLength,
                    size_t destinationLength);

// Encodes one frame of width x height pixels with 1 or 3 components of `bits` bits (unsigned):
// reversible 5-3 wavelet, one quality layer of compression ratio `rate` (0: lossless), no colour
// transform, one tile. source must hold width * height * components samples (sourceLength bytes).
// out receives the code stream. False when the image can't be built or the library fails.
bool EncodeJ2KFrame(const uint8_t* source, size_t sourceLength, std::vector<uint8_t>& out, int width, int height,
                    int components, int bits, int rate);

// The library image of an interleaved frame (nullptr when the sizes don't fit); the caller
// destroys it with opj_image_destroy.
opj_image_t* RawToJ2KImage(const uint8_t* source, size_t sourceLength, int width, int height, int components,
                           int bits, bool isSigned);
