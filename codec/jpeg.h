#pragma once
// JPEG frame codecs over memory buffers.
//
// Frame samples are pixel-interleaved (R, G, B of one pixel follow each other), rows top to
// bottom without gaps. A sample is one byte for the 8-bit functions and a 16-bit little-endian
// word (value in the low bits) for the 12- and 16-bit functions.
//
// Decoders pick the library build from the stream's own frame header (SOF marker), not from the
// function called: 8-bit lossy streams go to libjpeg-turbo, 12-bit lossy streams to the 12-bit
// IJG build, lossless streams to the IJG build matching their precision. The function called only
// fixes the width of the samples written: DecodeJPEG8 writes bytes and refuses streams deeper than
// 8 bits; DecodeJPEG12 and DecodeJPEG16 write 16-bit words (8-bit streams are widened).
// A decoder never writes past destination + destinationLength. On failure (-1) the whole
// destination slice is cleared; on success any bytes beyond the decoded image are cleared.
// Lossy YCbCr streams come out as RGB; lossless streams come out without any colour conversion.
// rgbSamples: the data set says RGB, so a three-component lossy stream with neither a JFIF nor an
// Adobe marker carries RGB samples and is decoded without the colour transform the library would
// otherwise guess from its component ids.
// A stream cut short in its entropy-coded data decodes as far as it goes (an EOI is supplied).
//
// Encoders hand back one complete interchange stream (SOI..EOI) in out, whose size is the stream
// length. source must hold width * height * components samples (sourceLength bytes checked).
// Colour frames are always coded 4:4:4. Result 0 on success, -1 on failure (out left empty).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What a stream's header says, read by a bounded walk over its marker segments from SOI to the
// first frame header (SOFn); stray bytes between segments are skipped as the library skips them.
struct JpegStreamInfo {
  int sofMarker = 0;  // 0xC0 baseline, 0xC1 extended, 0xC2 progressive, 0xC3 lossless, ...
  int precision = 0;
  int width = 0;
  int height = 0;
  int components = 0;
  bool lossless = false;
  bool jfif = false;        // an APP0 "JFIF" segment came before the frame header
  int adobeTransform = -1;  // the APP14 "Adobe" segment's transform (0: none, RGB), -1 without one
  struct Component {
    int id = 0;
    int h = 0, v = 0;  // sampling factors
  } component[4];     // the first four components
};
// False when the stream does not start with SOI or ends (or reaches its scan data) before a
// complete frame header.
bool ReadJpegStreamInfo(const uint8_t* data, size_t size, JpegStreamInfo& info);

int DecodeJPEG8(const uint8_t* source, uint8_t* destination, size_t sourceLength, size_t destinationLength,
                bool rgbSamples);
// The library's warnings in this thread's last decode: corrupt entropy-coded data, or data that
// ended before EOI (the decoders then go on as far as they can). Files taken as they come from
// outside refuse a stream with any.
long LastJpegDecodeWarnings();
int DecodeJPEG12(const uint8_t* source, uint8_t* destination, size_t sourceLength, size_t destinationLength,
                 bool rgbSamples);
int DecodeJPEG16(const uint8_t* source, uint8_t* destination, size_t sourceLength, size_t destinationLength,
                 bool rgbSamples);
// The same with the library's colour guess (rgbSamples false).
int DecodeJPEG8(const uint8_t* source, uint8_t* destination, size_t sourceLength, size_t destinationLength);
int DecodeJPEG12(const uint8_t* source, uint8_t* destination, size_t sourceLength, size_t destinationLength);
int DecodeJPEG16(const uint8_t* source, uint8_t* destination, size_t sourceLength, size_t destinationLength);

// mode 0: baseline lossy at quality 75 (RGB coded as YCbCr); mode 4: lossless, predictor 1,
// point transform 0 (RGB coded as RGB). Any other mode fails. components 1 or 3.
int EncodeJPEG8(int width, int height, int components, const uint8_t* source, size_t sourceLength,
                std::vector<uint8_t>& out, int mode);
// Extended lossy at 12-bit precision, quality 75; bits above the low 12 of each word are ignored.
int EncodeJPEG12(int width, int height, int components, const uint8_t* source, size_t sourceLength,
                 std::vector<uint8_t>& out);
// The page JPEG of a scanned page: baseline JFIF 1.01 (density unit 0, 1 x 1), three components in
// YCbCr with luminance sampled 2 x 2 and chroma 1 x 1, quality 90 with baseline-limited tables,
// standard Huffman tables. bgr holds height rows of width B, G, R triplets, `stride` bytes apart.
// 0, or -1 with the reason in *error (sides up to 65500 pixels).
int EncodePageJPEG(int width, int height, const uint8_t* bgr, size_t stride, std::vector<uint8_t>& out,
                   std::string* error);
// Lossless at 16-bit precision, predictor 1, point transform 0.
int EncodeJPEG16(int width, int height, int components, const uint8_t* source, size_t sourceLength,
                 std::vector<uint8_t>& out);
