#pragma once
// Transfer syntax conversion of an image data set, and the storing of native frames back into its
// Pixel Data element (encapsulated or native).
//
// These operations work on a DcmObj but live here, in the codec library, because the data core
// must not depend on the frame codecs. They are free functions with the toolkit's operation names;
// log lines name them as DcmObj::ConvertTransferSyntax, DcmObj::Decomp, DcmObj::Comp and
// DcmObj::ApplyVOILUT.
//
// Callers (C-STORE user, scanner form, command-line convert) use ConvertTransferSyntax only:
//   if (!ConvertTransferSyntax(obj, acceptedSyntax)) { /* logged; obj is unchanged */ }
//
// Guarantees of ConvertTransferSyntax:
// - true: the target was empty or already the data set's syntax, or every frame was decoded and
//   stored again under the target; the pixel module, Lossy Image Compression elements,
//   transferSyntax, explicitVR and bigEndian now describe the stored data. Multi-byte binary
//   values are in the target's byte order (big endian only for explicit VR big endian). Frames
//   decoded from a lossy syntax keep Lossy Image Compression "01" with that coding's ratio and
//   method. A data set without Pixel Data goes between the native syntaxes (implicit and explicit
//   VR little endian, explicit VR big endian) as it is, re-encoded only.
// - false: one ERROR line was logged (an RLE fragment that can't be decoded adds the RLE decoder's
//   own format line) and the data set is left as it was (the noted `photometric` text aside).
//   Refused: an unknown source or target, JPEG lossless process 14 with any predictor
//   (kTsJpegLossless14) and MPEG-2 as targets, MPEG-2 as source, a data set without top-level Pixel
//   Data going to or from an encapsulated syntax, a frame that a decoder or coder fails on,
//   fragments that cannot be matched to frames.
// - Only top-level elements describe the image: pixel module values inside sequences (the Icon
//   Image Sequence among them) are neither read nor rewritten, and their pixel data stays as is.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "codec/lut.h"
#include "core/dcmobj.h"

bool ConvertTransferSyntax(DcmObj& obj, const std::string& targetSyntax);

// True for the syntaxes ConvertTransferSyntax can bring a data set into.
bool IsConversionTarget(const std::string& uid);

// Decodes every frame of the encapsulated Pixel Data at entry `pixelIndex` into
// destination + i * (totalSize / frames) and then removes the items and the delimiter, leaving the
// Pixel Data element. A single frame may span several fragments (they are joined); more fragments
// than frames are split by the Basic Offset Table. On failure (logged) the entries are left as
// they were and the result is false.
bool Decomp(DcmObj& obj, size_t pixelIndex, uint8_t* destination, size_t totalSize, int frames,
            int bitsAllocated);

// Stores the frames of the work buffer (all frames one after the other, colour pixel-interleaved,
// one byte per sample for Bits Allocated 8, else 16-bit little-endian words) into the Pixel Data
// element at `index` for the target syntax: encapsulated (empty Basic Offset Table, one fragment
// per frame, delimiter; `index` then points at the delimiter) or native. The work buffer may be
// changed by the sample reductions; it stays the caller's. `ratio` receives total size / coded
// size for the lossy targets. False (logged) leaves the Pixel Data element unchanged.
bool Comp(DcmObj& obj, size_t& index, uint8_t* buffer, bool colour, int columns, int rows, int bitsStored,
          int bitsAllocated, int pixelRepresentation, int planarConfiguration, float slope, float intercept,
          float& ratio, int frames, const std::string& targetSyntax, const std::string& modality);

// Inserts the element at 0-based position `index` of obj's entries (at the end when index is
// beyond it), under its key; no ordering, no duplicate test.
void InsertAt(DcmObj& obj, DcmTag&& tag, size_t index);

// Maps the native 16-bit stored values of every frame through the data set's VOI LUT (a VOI LUT
// Sequence held flat or as a nested entry), replaces the Pixel Data value with the mapped values
// and removes the sequence. Returns the number of entries removed; 0, with the data set
// unchanged, when there is no usable LUT, or the pixel data are encapsulated or not 16-bit.
int ApplyVOILUT(DcmObj& obj);

// Reads the VOI LUT of the data set's top level. True when a VOI LUT Sequence was found (lut may
// still be unready when its descriptor or data were unusable). first/count give the entries
// holding the sequence (one nested entry, or the flat run from the sequence element to its
// delimiter).
bool FindVOILUT(const DcmObj& obj, LookupTable* lut, size_t* first, size_t* count);

// Reads descriptor and data from every item of a LUT sequence held as a nested entry, in order; a
// later item replaces an earlier one's descriptor and data.
void ReadLUTSequence(const DcmObj& sequence, LookupTable& lut);

// Swaps the value bytes of every multi-byte binary element (US, SS, UL, SL, FL, FD, AT, OW, OF, OD,
// OL, OV, SV, UV), nested objects included, so that all are in the given byte order, and sets the
// elements' and objects' bigEndian flags to match.
void SetValueByteOrder(DcmObj& obj, bool bigEndian);
