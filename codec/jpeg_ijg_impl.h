// Body shared by the three IJG 6b builds (8, 12 and 16 bits). Not a normal header: each of
// jpeg_ijg8.cpp, jpeg_ijg12.cpp and jpeg_ijg16.cpp includes its build's jpeglib.h and jerror.h
// and then this file once, with IJG_DECODE and IJG_ENCODE naming its entry points. The error
// manager and the frames that run the library come from jpeg_dest_impl.h.
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "codec/jpeg_internal.h"

#if !defined(IJG_DECODE) || !defined(IJG_ENCODE) || !defined(BITS_IN_JSAMPLE)
#error "include the build's jpeglib.h and define IJG_DECODE / IJG_ENCODE first"
#endif

namespace {

constexpr int kBuildSampleBytes = BITS_IN_JSAMPLE == 8 ? 1 : 2;

// ---- memory source: an empty source is an error; running out before EOI warns and supplies EOI
const JOCTET kEoi[2] = {0xFF, JPEG_EOI};

void InitSource(j_decompress_ptr) {}

boolean FillInput(j_decompress_ptr cinfo) {
  WARNMS(cinfo, JWRN_JPEG_EOF);
  cinfo->src->next_input_byte = kEoi;
  cinfo->src->bytes_in_buffer = 2;
  return TRUE;
}

void SkipInput(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  jpeg_source_mgr* src = cinfo->src;
  if (static_cast<size_t>(count) > src->bytes_in_buffer) {
    FillInput(cinfo);
    return;
  }
  src->next_input_byte += count;
  src->bytes_in_buffer -= static_cast<size_t>(count);
}

void TermSource(j_decompress_ptr) {}

void AttachSource(j_decompress_ptr cinfo, jpeg_source_mgr* src, const uint8_t* data, size_t length) {
  if (data == nullptr || length == 0) ERREXIT(cinfo, JERR_INPUT_EMPTY);
  src->init_source = InitSource;
  src->fill_input_buffer = FillInput;
  src->skip_input_data = SkipInput;
  src->resync_to_restart = jpeg_resync_to_restart;
  src->term_source = TermSource;
  src->next_input_byte = data;
  src->bytes_in_buffer = length;
  cinfo->src = src;
}

// ---- memory destination, job types and frames shared by the builds
#include "codec/jpeg_dest_impl.h"

// ---- decoding
long DecodeBody(j_decompress_ptr cinfo, jpeg_source_mgr* src, const DecodeJob* job) {
  AttachSource(cinfo, src, job->source, job->sourceLength);
  jpeg_read_header(cinfo, TRUE);
  // Lossless samples are handed out exactly as coded: no colour conversion.
  if (cinfo->process == JPROC_LOSSLESS) {
    cinfo->jpeg_color_space = JCS_UNKNOWN;
    cinfo->out_color_space = JCS_UNKNOWN;
  } else {
    KeepRgbSamples(cinfo, job->rgbSamples);
  }
  uint64_t rowSamples = 0, rowBytes = 0, total = 0;
  if (!OutputFits(cinfo, job, rowSamples, rowBytes, total)) return -1;
  jpeg_start_decompress(cinfo);
  JSAMPARRAY row = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                               static_cast<JDIMENSION>(rowSamples), 1);
  while (cinfo->output_scanline < cinfo->output_height) {
    if (jpeg_read_scanlines(cinfo, row, 1) != 1) return -1;
    uint8_t* out = job->destination + uint64_t(cinfo->output_scanline - 1) * rowBytes;
    const JSAMPLE* in = row[0];
    if (job->outWidth == 1) {
      for (uint64_t i = 0; i < rowSamples; ++i) out[i] = static_cast<uint8_t>(GETJSAMPLE(in[i]));
    } else {
      for (uint64_t i = 0; i < rowSamples; ++i) {
        const unsigned v = static_cast<unsigned>(GETJSAMPLE(in[i]));
        out[2 * i] = static_cast<uint8_t>(v & 0xFF);
        out[2 * i + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
      }
    }
  }
  jpeg_finish_decompress(cinfo);
  return static_cast<long>(total);
}

// ---- encoding
int EncodeBody(j_compress_ptr cinfo, const EncodeJob* job) {
  StartEncoding(cinfo, job);
  jpeg_set_defaults(cinfo);
  if (job->lossless) {
    if (job->components == 3) jpeg_set_colorspace(cinfo, JCS_RGB);  // no colour transform
    jpeg_simple_lossless(cinfo, 1, 0);
  } else {
    jpeg_set_quality(cinfo, 75, TRUE);
  }
  for (int c = 0; c < cinfo->num_components; ++c) {  // 4:4:4, nothing subsampled
    cinfo->comp_info[c].h_samp_factor = 1;
    cinfo->comp_info[c].v_samp_factor = 1;
  }
  jpeg_start_compress(cinfo, TRUE);

  const size_t rowSamples = size_t(job->width) * size_t(job->components);
  const size_t rowBytes = rowSamples * kBuildSampleBytes;
  JSAMPARRAY row = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                               static_cast<JDIMENSION>(rowSamples), 1);
  while (cinfo->next_scanline < cinfo->image_height) {
    const uint8_t* in = job->source + size_t(cinfo->next_scanline) * rowBytes;
    JSAMPLE* out = row[0];
#if BITS_IN_JSAMPLE == 8
    std::memcpy(out, in, rowSamples);
#else
    for (size_t i = 0; i < rowSamples; ++i) {
      unsigned v = unsigned(in[2 * i]) | (unsigned(in[2 * i + 1]) << 8);
#if BITS_IN_JSAMPLE == 12
      v &= 0x0FFF;
#endif
      out[i] = static_cast<JSAMPLE>(v);
    }
#endif
    if (jpeg_write_scanlines(cinfo, row, 1) != 1) return -1;
  }
  jpeg_finish_compress(cinfo);
  return 0;
}

}  // namespace

namespace jpegcodec {

long IJG_DECODE(const uint8_t* source, size_t sourceLength, uint8_t* destination, size_t destinationLength,
                int outWidth, bool rgbSamples) {
  return DecodeToSlice(DecodeBody, source, sourceLength, destination, destinationLength, outWidth, rgbSamples,
                       kBuildSampleBytes);
}

int IJG_ENCODE(int width, int height, int components, const uint8_t* source, std::vector<uint8_t>& out,
               bool lossless, bool announce) {
  const EncodeJob job{width, height, components, source, lossless, 0, nullptr};
  return EncodeToStream(job, EncodeBody, size_t(width) * size_t(height) * size_t(components) * kBuildSampleBytes / 4,
                        announce, nullptr, out);
}

}  // namespace jpegcodec
