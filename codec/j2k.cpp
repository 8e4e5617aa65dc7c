#include "codec/j2k.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "core/log.h"

namespace {

struct MemoryStream {
  const uint8_t* in = nullptr;  // reading
  size_t inSize = 0;
  std::vector<uint8_t>* out = nullptr;  // writing
  size_t pos = 0;
};

OPJ_SIZE_T ReadCb(void* buffer, OPJ_SIZE_T n, void* user) {
  auto* s = static_cast<MemoryStream*>(user);
  if (s->pos >= s->inSize) return static_cast<OPJ_SIZE_T>(-1);
  const size_t k = std::min<size_t>(n, s->inSize - s->pos);
  std::memcpy(buffer, s->in + s->pos, k);
  s->pos += k;
  return k;
}

OPJ_OFF_T SkipReadCb(OPJ_OFF_T n, void* user) {
  auto* s = static_cast<MemoryStream*>(user);
  if (n < 0) {
    const size_t back = std::min<size_t>(static_cast<size_t>(-n), s->pos);
    s->pos -= back;
    return -static_cast<OPJ_OFF_T>(back);
  }
  const size_t k = std::min<size_t>(static_cast<size_t>(n), s->inSize - std::min(s->pos, s->inSize));
  s->pos += k;
  return static_cast<OPJ_OFF_T>(k);
}

OPJ_BOOL SeekReadCb(OPJ_OFF_T p, void* user) {
  auto* s = static_cast<MemoryStream*>(user);
  if (p < 0 || static_cast<size_t>(p) > s->inSize) return OPJ_FALSE;
  s->pos = static_cast<size_t>(p);
  return OPJ_TRUE;
}

OPJ_SIZE_T WriteCb(void* buffer, OPJ_SIZE_T n, void* user) {
  auto* s = static_cast<MemoryStream*>(user);
  if (s->out->size() < s->pos + n) s->out->resize(s->pos + n);
  std::memcpy(s->out->data() + s->pos, buffer, n);
  s->pos += n;
  return n;
}

OPJ_OFF_T SkipWriteCb(OPJ_OFF_T n, void* user) {
  auto* s = static_cast<MemoryStream*>(user);
  if (n < 0 && static_cast<size_t>(-n) > s->pos) return -1;
  s->pos = static_cast<size_t>(static_cast<OPJ_OFF_T>(s->pos) + n);
  if (s->out->size() < s->pos) s->out->resize(s->pos);
  return n;
}

OPJ_BOOL SeekWriteCb(OPJ_OFF_T p, void* user) {
  auto* s = static_cast<MemoryStream*>(user);
  if (p < 0) return OPJ_FALSE;
  s->pos = static_cast<size_t>(p);
  if (s->out->size() < s->pos) s->out->resize(s->pos);
  return OPJ_TRUE;
}

void Quiet(const char*, void*) {}

void SetQuiet(opj_codec_t* codec) {
  opj_set_error_handler(codec, Quiet, nullptr);
  opj_set_warning_handler(codec, Quiet, nullptr);
  opj_set_info_handler(codec, Quiet, nullptr);
}

int SampleBytes(int bits) { return bits <= 8 ? 1 : (bits <= 16 ? 2 : 4); }

struct Cleanup {
  opj_codec_t* codec = nullptr;
  opj_stream_t* stream = nullptr;
  opj_image_t* image = nullptr;
  ~Cleanup() {
    if (stream) opj_stream_destroy(stream);
    if (codec) opj_destroy_codec(codec);
    if (image) opj_image_destroy(image);
  }
};

bool HasJP2Signature(const uint8_t* p, size_t n) {
  static const uint8_t sig[12] = {0, 0, 0, 0x0C, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
  return n >= 12 && std::memcmp(p, sig, 12) == 0;
}

// Bytes of interleaved samples the image in a code stream's main header decodes to at full
// resolution (every component the size and sample width of the first), or 0 when it is empty,
// has no usable layout, or the components differ.
uint64_t DeclaredBytes(const opj_image_t& im) {
  if (im.numcomps == 0 || im.numcomps > 4 || im.comps == nullptr || im.x1 <= im.x0 || im.y1 <= im.y0) return 0;
  auto span = [](uint32_t from, uint32_t to, uint32_t step) -> uint64_t {
    return (uint64_t(to) + step - 1) / step - (uint64_t(from) + step - 1) / step;
  };
  uint64_t first = 0;
  for (uint32_t k = 0; k < im.numcomps; ++k) {
    const opj_image_comp_t& cp = im.comps[k];
    if (cp.dx == 0 || cp.dy == 0 || cp.prec == 0 || cp.prec > 32) return 0;
    const uint64_t w = span(im.x0, im.x1, cp.dx), h = span(im.y0, im.y1, cp.dy);
    const uint64_t bytes = w * h * uint64_t(SampleBytes(static_cast<int>(cp.prec)));
    if (k == 0) first = bytes;
    else if (bytes != first) return 0;
  }
  return first * im.numcomps;
}

bool Decode(const uint8_t* cs, uint8_t* dst, size_t csLen, size_t dstLen) {
  Cleanup c;
  c.codec = opj_create_decompress(HasJP2Signature(cs, csLen) ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
  if (!c.codec) return false;
  SetQuiet(c.codec);
  opj_dparameters_t params;
  opj_set_default_decoder_parameters(&params);
  params.cp_reduce = 0;
  params.cp_layer = 0;
  if (!opj_setup_decoder(c.codec, &params)) return false;
  opj_codec_set_threads(c.codec, 2);
  MemoryStream ms;
  ms.in = cs;
  ms.inSize = csLen;
  c.stream = opj_stream_create(1 << 16, OPJ_TRUE);
  if (!c.stream) return false;
  opj_stream_set_user_data(c.stream, &ms, nullptr);
  opj_stream_set_user_data_length(c.stream, csLen);
  opj_stream_set_read_function(c.stream, ReadCb);
  opj_stream_set_skip_function(c.stream, SkipReadCb);
  opj_stream_set_seek_function(c.stream, SeekReadCb);
  if (!opj_read_header(c.stream, c.codec, &c.image) || !c.image) return false;
  // The library sizes its buffers from the header's claim: refuse a claim that is not the frame.
  const uint64_t declared = DeclaredBytes(*c.image);
  if (declared != dstLen) {
    WriteLog("ERROR, DecodeJ2KFrame, the code stream declares " +
             (declared ? std::to_string(declared) + " bytes of samples" : std::string("an unusable image")) +
             " for a frame of " + std::to_string(dstLen) + " bytes");
    return false;
  }
  if (!opj_decode(c.codec, c.stream, c.image) || !opj_end_decompress(c.codec, c.stream)) return false;
  const opj_image_t* im = c.image;
  const uint32_t n = im->numcomps;
  if (n == 0 || n > 4) return false;
  const uint32_t w = im->comps[0].w, h = im->comps[0].h;
  const int sb = SampleBytes(static_cast<int>(im->comps[0].prec));
  for (uint32_t k = 0; k < n; ++k) {
    const opj_image_comp_t& cp = im->comps[k];
    if (cp.w != w || cp.h != h || cp.data == nullptr || SampleBytes(static_cast<int>(cp.prec)) != sb) return false;
  }
  const size_t pixels = static_cast<size_t>(w) * h;
  const size_t need = pixels * n * static_cast<size_t>(sb);
  if (need == 0 || need != dstLen) return false;
  for (uint32_t k = 0; k < n; ++k) {
    const OPJ_INT32* d = im->comps[k].data;
    for (size_t i = 0; i < pixels; ++i) {
      const uint32_t v = static_cast<uint32_t>(d[i]);
      uint8_t* o = dst + (i * n + k) * static_cast<size_t>(sb);
      for (int b = 0; b < sb; ++b) o[b] = static_cast<uint8_t>(v >> (8 * b));
    }
  }
  return true;
}

}  // namespace

bool DecodeJ2KFrame(const uint8_t* codeStream, uint8_t* destination, size_t codeStreamLength,
                    size_t destinationLength) {
  if (destination == nullptr || destinationLength == 0) return false;
  if (codeStream != nullptr && codeStreamLength > 0 &&
      Decode(codeStream, destination, codeStreamLength, destinationLength))
    return true;
  std::memset(destination, 0, destinationLength);
  return false;
}

opj_image_t* RawToJ2KImage(const uint8_t* source, size_t sourceLength, int width, int height, int components,
                           int bits, bool isSigned) {
  if (source == nullptr || width <= 0 || height <= 0 || (components != 1 && components != 3) || bits < 1 ||
      bits > 32)
    return nullptr;
  const int sb = SampleBytes(bits);
  const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  if (sourceLength < pixels * static_cast<size_t>(components) * static_cast<size_t>(sb)) return nullptr;
  opj_image_cmptparm_t cmpt[3];
  std::memset(cmpt, 0, sizeof cmpt);
  for (int k = 0; k < components; ++k) {
    cmpt[k].dx = cmpt[k].dy = 1;
    cmpt[k].w = static_cast<OPJ_UINT32>(width);
    cmpt[k].h = static_cast<OPJ_UINT32>(height);
    cmpt[k].prec = static_cast<OPJ_UINT32>(bits);
    cmpt[k].sgnd = isSigned ? 1 : 0;
  }
  opj_image_t* im = opj_image_create(static_cast<OPJ_UINT32>(components), cmpt,
                                     components == 1 ? OPJ_CLRSPC_GRAY : OPJ_CLRSPC_SRGB);
  if (!im) return nullptr;
  im->x0 = im->y0 = 0;
  im->x1 = static_cast<OPJ_UINT32>(width);
  im->y1 = static_cast<OPJ_UINT32>(height);
  for (int k = 0; k < components; ++k) {
    OPJ_INT32* d = im->comps[k].data;
    for (size_t i = 0; i < pixels; ++i) {
      const uint8_t* p = source + (i * components + k) * static_cast<size_t>(sb);
      uint32_t v = 0;
      for (int b = 0; b < sb; ++b) v |= static_cast<uint32_t>(p[b]) << (8 * b);
      if (isSigned && bits < 32 && (v & (1u << (bits - 1)))) v |= ~((1u << bits) - 1);  // sign-extend
      else if (bits < 32) v &= (1u << bits) - 1;
      d[i] = static_cast<OPJ_INT32>(v);
    }
  }
  return im;
}

bool EncodeJ2KFrame(const uint8_t* source, size_t sourceLength, std::vector<uint8_t>& out, int width, int height,
                    int components, int bits, int rate) {
  out.clear();
  Cleanup c;
  c.image = RawToJ2KImage(source, sourceLength, width, height, components, bits, false);
  if (!c.image) return false;
  opj_cparameters_t params;
  opj_set_default_encoder_parameters(&params);
  params.tcp_numlayers = 1;
  params.tcp_rates[0] = static_cast<float>(rate);
  params.cp_disto_alloc = 1;
  params.irreversible = 0;
  params.tcp_mct = 0;
  // Each resolution level halves the image; the smallest must keep at least one pixel.
  const int smallest = std::min(width, height);
  while (params.numresolution > 1 && (smallest >> (params.numresolution - 1)) < 1) --params.numresolution;
  c.codec = opj_create_compress(OPJ_CODEC_J2K);
  if (!c.codec) return false;
  SetQuiet(c.codec);
  if (!opj_setup_encoder(c.codec, &params, c.image)) return false;
  opj_codec_set_threads(c.codec, 2);
  MemoryStream ms;
  ms.out = &out;
  c.stream = opj_stream_create(1 << 16, OPJ_FALSE);
  if (!c.stream) return false;
  opj_stream_set_user_data(c.stream, &ms, nullptr);
  opj_stream_set_write_function(c.stream, WriteCb);
  opj_stream_set_skip_function(c.stream, SkipWriteCb);
  opj_stream_set_seek_function(c.stream, SeekWriteCb);
  if (!opj_start_compress(c.codec, c.image, c.stream) || !opj_encode(c.codec, c.stream) ||
      !opj_end_compress(c.codec, c.stream)) {
    out.clear();
    return false;
  }
  return !out.empty();
}
