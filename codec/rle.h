#pragma once
// RLE Lossless frame decoding and coding (kTsRLE): one fragment holds one frame,
// a 64-byte header (segment count and 15 segment offsets, little endian) followed by PackBits
// segments, one byte plane each.
//
// Every layout PS3.5 Annex G allows: one segment per byte of each sample, the most significant
// byte first, samples in order. Grey (1 sample) or colour (3) follows the photometric
// interpretation (segment count when it names neither), the sample width Bits Allocated (8, 16 or
// 32): 1, 2 or 4 segments for grey, 3, 6 or 12 for colour. Samples come out pixel-interleaved,
// little endian; 8-bit "YBR_FULL" comes out as R, G, B (converted, clamped to 0..255).
// Any other count, and any malformed header, is refused with the line
// "ERROR, format not supported: segment_count=<n>, bitsa=<Bits Allocated>, PhotometricInterpretation=<text>".
// A segment whose runs need more bytes than it holds is logged "ERROR, overflow decoding RLE".
// Nothing is ever read outside the fragment or written outside the frame's slice.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Decodes one fragment into the frameLength bytes at destination. photometric is the data set's
// Photometric Interpretation (0028,0004) as it was before any conversion, bitsAllocated its Bits
// Allocated (0028,0100). Returns false on failure, with the slice cleared (zeros).
bool DecodeRLEFrame(const std::string& photometric, const uint8_t* fragment, uint8_t* destination,
                    size_t fragmentLength, size_t frameLength, int bitsAllocated);

// Codes one native frame (pixel-interleaved samples, little-endian words for Bits Allocated 16 and
// 32) as an RLE fragment: one PackBits segment per byte of each sample, most significant first,
// each row packed on its own, each segment padded to an even length. False for a layout RLE cannot
// hold (more than 15 segments, Bits Allocated other than 8, 16 or 32).
bool EncodeRLEFrame(const uint8_t* frame, size_t columns, size_t rows, int samples, int bitsAllocated,
                    std::vector<uint8_t>& out);

// Decodes the PackBits segment at fragment[segmentStart, segmentStart + segmentLength) into the
// plane scratch[segmentIndex * planeLength, (segmentIndex + 1) * planeLength). Reads only inside the
// segment, writes only inside the plane. Returns false (after logging the overflow line) when the
// segment ends before its plane is complete.
bool DecodeRLESegment(const uint8_t* fragment, uint8_t* scratch, size_t segmentStart, size_t segmentLength,
                      size_t segmentIndex, size_t planeLength);
