// 8-bit lossy JPEG through libjpeg-turbo (SIMD): baseline encoding, the page JPEG and lossy
// decoding.
#include <cstdio>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "codec/jpeg.h"
#include "codec/jpeg_internal.h"

extern "C" {
#include <jpeglib.h>
#include <jerror.h>
}

namespace {

// Rows handed to the library per call.
constexpr int kRowBatch = 16;
// A progressive stream with more scans than this is refused (corrupt streams can hold thousands
// of tiny scans that each cost a pass over the whole coefficient buffer).
constexpr int kMaxScans = 500;

void ScanLimit(j_common_ptr cinfo) {
  auto* dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (dinfo->progressive_mode && dinfo->input_scan_number > kMaxScans) ERREXIT(cinfo, JERR_NOTIMPL);
}

// ---- memory destination, job types and frames shared by the builds
#include "codec/jpeg_dest_impl.h"

// ---- decoding
long DecodeBody(j_decompress_ptr cinfo, jpeg_progress_mgr* progress, const DecodeJob* job) {
  progress->progress_monitor = ScanLimit;
  cinfo->progress = progress;
  // The library's memory source: an empty source is an error, a short one gets an EOI supplied.
  jpeg_mem_src(cinfo, job->source, static_cast<unsigned long>(job->sourceLength));
  jpeg_read_header(cinfo, TRUE);
  KeepRgbSamples(cinfo, job->rgbSamples);
  uint64_t rowSamples = 0, rowBytes = 0, total = 0;
  if (!OutputFits(cinfo, job, rowSamples, rowBytes, total)) return -1;
  jpeg_start_decompress(cinfo);
  if (job->outWidth == 1) {
    // The slice is large enough: the library writes the rows straight into it.
    JSAMPROW rows[kRowBatch];
    while (cinfo->output_scanline < cinfo->output_height) {
      const JDIMENSION first = cinfo->output_scanline;
      JDIMENSION count = cinfo->output_height - first;
      if (count > kRowBatch) count = kRowBatch;
      for (JDIMENSION i = 0; i < count; ++i) rows[i] = job->destination + uint64_t(first + i) * rowBytes;
      if (jpeg_read_scanlines(cinfo, rows, count) == 0) return -1;
    }
  } else {
    JSAMPARRAY row = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                                 static_cast<JDIMENSION>(rowSamples), 1);
    while (cinfo->output_scanline < cinfo->output_height) {
      if (jpeg_read_scanlines(cinfo, row, 1) != 1) return -1;
      uint8_t* out = job->destination + uint64_t(cinfo->output_scanline - 1) * rowBytes;
      for (uint64_t i = 0; i < rowSamples; ++i) {
        out[2 * i] = row[0][i];
        out[2 * i + 1] = 0;
      }
    }
  }
  jpeg_finish_decompress(cinfo);
  return static_cast<long>(total);
}

// ---- encoding
// The page JPEG's settings (see EncodePageJPEG).
void SetPageParameters(j_compress_ptr cinfo) {
  jpeg_set_defaults(cinfo);  // YCbCr, luminance 2 x 2, chroma 1 x 1, JFIF 1.01, density 0 / 1 x 1
  jpeg_set_quality(cinfo, 90, TRUE);
  cinfo->optimize_coding = FALSE;
  cinfo->write_JFIF_header = TRUE;
  cinfo->JFIF_major_version = 1;
  cinfo->JFIF_minor_version = 1;
  cinfo->density_unit = 0;
  cinfo->X_density = 1;
  cinfo->Y_density = 1;
}

// Page rows: B, G, R in the source, R, G, B for the library, one row at a time.
void WritePageRows(j_compress_ptr cinfo, const EncodeJob* job) {
  JSAMPARRAY row = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                               static_cast<JDIMENSION>(job->width * 3), 1);
  while (cinfo->next_scanline < cinfo->image_height) {
    const uint8_t* src = job->source + size_t(cinfo->next_scanline) * job->stride;
    for (int x = 0; x < job->width; ++x) {
      row[0][3 * x] = src[3 * x + 2];
      row[0][3 * x + 1] = src[3 * x + 1];
      row[0][3 * x + 2] = src[3 * x];
    }
    jpeg_write_scanlines(cinfo, row, 1);
  }
}

int EncodeBody(j_compress_ptr cinfo, const EncodeJob* job) {
  StartEncoding(cinfo, job);
  if (job->stride != 0) {
    SetPageParameters(cinfo);
    jpeg_start_compress(cinfo, TRUE);
    WritePageRows(cinfo, job);
    jpeg_finish_compress(cinfo);
    return 0;
  }
  jpeg_set_defaults(cinfo);
  jpeg_set_quality(cinfo, 75, TRUE);
  for (int c = 0; c < cinfo->num_components; ++c) {  // 4:4:4, nothing subsampled
    cinfo->comp_info[c].h_samp_factor = 1;
    cinfo->comp_info[c].v_samp_factor = 1;
  }
  jpeg_start_compress(cinfo, TRUE);
  const size_t rowBytes = size_t(job->width) * size_t(job->components);
  JSAMPROW rows[kRowBatch];
  while (cinfo->next_scanline < cinfo->image_height) {
    const JDIMENSION first = cinfo->next_scanline;
    JDIMENSION count = cinfo->image_height - first;
    if (count > kRowBatch) count = kRowBatch;
    // The library only reads the rows it is handed.
    for (JDIMENSION i = 0; i < count; ++i) rows[i] = const_cast<JSAMPLE*>(job->source + size_t(first + i) * rowBytes);
    if (jpeg_write_scanlines(cinfo, rows, count) == 0) return -1;
  }
  jpeg_finish_compress(cinfo);
  return 0;
}

}  // namespace

namespace jpegcodec {

long DecodeTurbo(const uint8_t* source, size_t sourceLength, uint8_t* destination, size_t destinationLength,
                 int outWidth, bool rgbSamples) {
  return DecodeToSlice(DecodeBody, source, sourceLength, destination, destinationLength, outWidth, rgbSamples, 1);
}

int EncodeTurboBaseline(int width, int height, int components, const uint8_t* source, std::vector<uint8_t>& out,
                        bool announce) {
  const EncodeJob job{width, height, components, source, false, 0, nullptr};
  return EncodeToStream(job, EncodeBody, size_t(width) * size_t(height) * size_t(components) / 8, announce, nullptr,
                        out);
}

}  // namespace jpegcodec

int EncodePageJPEG(int width, int height, const uint8_t* bgr, size_t stride, std::vector<uint8_t>& out,
                   std::string* error) {
  out.clear();
  auto fail = [error](const std::string& why) {
    if (error) *error = why;
    return -1;
  };
  if (bgr == nullptr || width <= 0 || height <= 0 || stride < size_t(width) * 3) return fail("empty or inconsistent page");
  if (width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION)
    return fail("page of " + std::to_string(width) + " x " + std::to_string(height) + " pixels is too large for JPEG");
  const EncodeJob job{width, height, 3, bgr, false, stride, nullptr};
  return EncodeToStream(job, EncodeBody, size_t(width) * size_t(height) / 4, false, error, out);
}
