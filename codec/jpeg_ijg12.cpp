// The 12-bit IJG 6b build (lossless JPEG at any precision up to 12 bits, 12-bit lossy).
#include <cstdio>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "codec/jpeg_internal.h"

extern "C" {
#include "gdcmjpeg/12/jpeglib.h"
#include "gdcmjpeg/12/jerror.h"
}

#define IJG_DECODE DecodeIjg12
#define IJG_ENCODE EncodeIjg12
#include "codec/jpeg_ijg_impl.h"
