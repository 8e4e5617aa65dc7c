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

// A second thread halves the time of a large frame; for a small one, starting it costs more than
// it saves, and 0 keeps all the work on the caller's thread.
int ThreadsFor(size_t frameBytes) { return frameBytes >= (1u << 20) ? 2 : 0; }

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

uint32_t Big32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint64_t CeilDiv(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

// The code stream inside a JP2 file (its 'jp2c' box), or the whole input when it is a raw stream.
bool FindCodeStream(const uint8_t* p, size_t n, const uint8_t** cs, size_t* csLen) {
  if (!HasJP2Signature(p, n)) {
    *cs = p;
    *csLen = n;
    return true;
  }
  size_t pos = 0;
  while (n - pos >= 8) {
    uint64_t length = Big32(p + pos);
    size_t header = 8;
    if (length == 1) {
      if (n - pos < 16) return false;
      length = uint64_t(Big32(p + pos + 8)) << 32 | Big32(p + pos + 12);
      header = 16;
    } else if (length == 0) {
      length = n - pos;  // the last box runs to the end
    }
    if (length < header) return false;
    const size_t inside = size_t(std::min<uint64_t>(length, n - pos));
    if (std::memcmp(p + pos + 4, "jp2c", 4) == 0) {
      *cs = p + pos + header;
      *csLen = inside - header;
      return true;
    }
    pos += inside;
  }
  return false;
}

// What the main header's SIZ segment declares: the bytes of interleaved samples the image decodes
// to at full resolution and the number of tiles. Read here, before the library sizes anything
// from it.
struct Declared {
  uint64_t bytes = 0;
  uint64_t tiles = 0;
  uint64_t width = 0, height = 0;
};

// False when there is no SIZ segment right after SOC, when it is cut short or inconsistent, or
// when its components (1 to 4) differ in size or sample width.
bool ReadDeclared(const uint8_t* input, size_t inputLength, Declared* d) {
  const uint8_t* p = nullptr;
  size_t n = 0;
  if (!FindCodeStream(input, inputLength, &p, &n)) return false;
  if (n < 6 || p[0] != 0xFF || p[1] != 0x4F || p[2] != 0xFF || p[3] != 0x51) return false;
  const size_t lsiz = size_t(p[4]) << 8 | p[5];
  if (lsiz < 41 || n < 4 + lsiz) return false;
  const uint8_t* siz = p + 6;  // Rsiz, then the sizes
  const uint64_t x1 = Big32(siz + 2), y1 = Big32(siz + 6), x0 = Big32(siz + 10), y0 = Big32(siz + 14);
  const uint64_t tdx = Big32(siz + 18), tdy = Big32(siz + 22), tx0 = Big32(siz + 26), ty0 = Big32(siz + 30);
  const size_t comps = size_t(siz[34]) << 8 | siz[35];
  if (comps < 1 || comps > 4 || lsiz != 38 + 3 * comps) return false;
  if (x1 <= x0 || y1 <= y0 || tdx == 0 || tdy == 0 || tx0 > x0 || ty0 > y0 || tx0 + tdx <= x0 || ty0 + tdy <= y0)
    return false;
  uint64_t first = 0;
  for (size_t k = 0; k < comps; ++k) {
    const uint8_t* c = siz + 36 + 3 * k;
    const int precision = (c[0] & 0x7F) + 1;
    const uint64_t dx = c[1], dy = c[2];
    if (precision > 32 || dx == 0 || dy == 0) return false;
    const uint64_t w = CeilDiv(x1, dx) - CeilDiv(x0, dx), h = CeilDiv(y1, dy) - CeilDiv(y0, dy);
    const uint64_t bytes = w * h * uint64_t(SampleBytes(precision));
    if (k == 0) {
      first = bytes;
      d->width = w;
      d->height = h;
    } else if (bytes != first) {
      return false;
    }
  }
  d->bytes = first * comps;
  d->tiles = CeilDiv(x1 - tx0, tdx) * CeilDiv(y1 - ty0, tdy);
  return true;
}

// The library keeps a few hundred bytes for every tile before it decodes any: as many tiles as
// 64 x 64 tiles would make (plus a row and a column for the grid's offset) are plenty.
uint64_t MaxTiles(const Declared& d) { return (CeilDiv(d.width, 64) + 1) * (CeilDiv(d.height, 64) + 1); }

// Refuses, with one log line, a code stream whose main header does not describe the frame.
bool HeaderFitsFrame(const uint8_t* cs, size_t csLen, size_t frameLength) {
  const std::string who = "ERROR, DecodeJ2KFrame, ";
  Declared d;
  if (!ReadDeclared(cs, csLen, &d)) {
    WriteLog(who + "no readable image size (SIZ) at the start of the code stream");
    return false;
  }
  if (d.bytes != frameLength) {
    WriteLog(who + "the code stream declares " + std::to_string(d.bytes) + " bytes of samples for a frame of " +
             std::to_string(frameLength) + " bytes");
    return false;
  }
  if (d.tiles > MaxTiles(d)) {
    WriteLog(who + "the code stream declares " + std::to_string(d.tiles) + " tiles for an image of " +
             std::to_string(d.width) + " x " + std::to_string(d.height));
    return false;
  }
  return true;
}

bool Decode(const uint8_t* cs, uint8_t* dst, size_t csLen, size_t dstLen) {
  // The library sizes its buffers from the header's claims: refuse claims that are not the frame.
  if (!HeaderFitsFrame(cs, csLen, dstLen)) return false;
  Cleanup c;
  c.codec = opj_create_decompress(HasJP2Signature(cs, csLen) ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
  if (!c.codec) return false;
  SetQuiet(c.codec);
  opj_dparameters_t params;
  opj_set_default_decoder_parameters(&params);
  params.cp_reduce = 0;
  params.cp_layer = 0;
  if (!opj_setup_decoder(c.codec, &params)) return false;
  opj_codec_set_threads(c.codec, ThreadsFor(dstLen));
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
  opj_codec_set_threads(c.codec, ThreadsFor(sourceLength));
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
