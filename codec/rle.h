#pragma once
// RLE Lossless frame decoding (transfer syntax 1.2.840.10008.1.2.5): one fragment holds one frame,
// a 64-byte header (segment count and 15 segment offsets, little endian) followed by PackBits
// segments, one byte plane each.
//
// Supported compositions, chosen by the photometric interpretation and the segment count:
//   contains "MONO", 2 segments -> 16-bit little-endian samples (first segment = high byte)
//   "YBR_FULL", 3 segments      -> R, G, B bytes (converted, clamped to 0..255)
//   "RGB", 3 segments           -> R, G, B bytes
// Anything else, and any malformed header, is refused with the line
// "ERROR, format not supported: segment_count=<n>, bitsa=<Bits Allocated>, PhotometricInterpretation=<text>".
// A segment whose runs need more bytes than it holds is logged "ERROR, overflow decoding RLE".
// Nothing is ever read outside the fragment or written outside the frame's slice.
#include <cstddef>
#include <cstdint>
#include <string>

// Decodes one fragment into the frameLength bytes at destination. photometric is the data set's
// Photometric Interpretation (0028,0004) as it was before any conversion; bitsAllocated only
// appears in the error message. Returns false on failure, with the slice cleared (zeros).
bool DecodeRLEFrame(const std::string& photometric, const uint8_t* fragment, uint8_t* destination,
                    size_t fragmentLength, size_t frameLength, int bitsAllocated);

// Decodes the PackBits segment at fragment[segmentStart, segmentStart + segmentLength) into the
// plane scratch[segmentIndex * planeLength, (segmentIndex + 1) * planeLength). Reads only inside the
// segment, writes only inside the plane. Returns false (after logging the overflow line) when the
// segment ends before its plane is complete.
bool DecodeRLESegment(const uint8_t* fragment, uint8_t* scratch, size_t segmentStart, size_t segmentLength,
                      size_t segmentIndex, size_t planeLength);
