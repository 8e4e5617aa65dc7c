// The 16-bit IJG 6b build (lossless JPEG at any precision up to 16 bits).
#include <cstdio>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "codec/jpeg_internal.h"

extern "C" {
#include "gdcmjpeg/16/jpeglib.h"
#include "gdcmjpeg/16/jerror.h"
}

#define IJG_DECODE DecodeIjg16
#define IJG_ENCODE EncodeIjg16
#include "codec/jpeg_ijg_impl.h"
