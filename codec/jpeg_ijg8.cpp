// The 8-bit IJG 6b build (lossless JPEG at any precision up to 8 bits).
#include <cstdio>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "codec/jpeg_internal.h"

extern "C" {
#include "gdcmjpeg/8/jpeglib.h"
#include "gdcmjpeg/8/jerror.h"
}

#define IJG_DECODE DecodeIjg8
#define IJG_ENCODE EncodeIjg8
#include "codec/jpeg_ijg_impl.h"
