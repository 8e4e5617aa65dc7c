#include "convert/image_import.h"

#include <libexif/exif-data.h>
#include <png.h>
#include <tiffio.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "codec/jpeg.h"
#include "convert/bmpfile.h"
#include "convert/page_jpeg.h"
#include "core/fileutil.h"
#include "core/log.h"

namespace {

// ---- pixels ----

// One row of RGBA pixels (4 bytes each, straight or premultiplied alpha) laid over white as the
// bitmap's B, G, R. `to` may be `from` itself: each pixel is read before its place is written, and
// its place never lies after it.
void RgbaRowOverWhite(const uint8_t* from, uint8_t* to, int width, bool premultiplied) {
  for (int x = 0; x < width; ++x, from += 4, to += 3) {
    const unsigned r = from[0], g = from[1], b = from[2], a = from[3];
    auto over = [a, premultiplied](unsigned c) -> uint8_t {
      if (premultiplied) return uint8_t(std::min(255u, c + 255u - a));
      return uint8_t((c * a + 255u * (255u - a) + 127u) / 255u);
    };
    to[0] = over(b);
    to[1] = over(g);
    to[2] = over(r);
  }
}

// Whole RGBA rows packed into a bitmap in the same buffer: every row's place in the bitmap lies at
// or before its place in the RGBA rows, so one pass from the start loses nothing, and the page is
// no larger than the RGBA rows were.
Bitmap PackRgbaOverWhite(std::vector<uint8_t>&& rgba, int width, int height, bool premultiplied) {
  Bitmap page;
  page.width = width;
  page.height = height;
  page.stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t(3);
  page.pixels = std::move(rgba);
  for (int y = 0; y < height; ++y)
    RgbaRowOverWhite(page.pixels.data() + static_cast<size_t>(y) * width * 4, page.Row(y), width, premultiplied);
  page.pixels.resize(page.stride * static_cast<size_t>(height));
  return page;
}

Bitmap Mirrored(Bitmap page, bool horizontal) {
  if (horizontal) {
    for (int y = 0; y < page.height; ++y) {
      uint8_t* row = page.Row(y);
      for (int l = 0, r = page.width - 1; l < r; ++l, --r) std::swap_ranges(row + 3 * l, row + 3 * l + 3, row + 3 * r);
    }
  } else {
    for (int t = 0, b = page.height - 1; t < b; ++t, --b)
      std::swap_ranges(page.Row(t), page.Row(t) + page.stride, page.Row(b));
  }
  return page;
}

// ---- JPEG ----

struct TjDeleter {
  void operator()(void* h) const { tjDestroy(h); }
};
using TjHandle = std::unique_ptr<void, TjDeleter>;

TJXOP TransformOp(JpegTurn turn) {
  switch (turn) {
    case JpegTurn::MirrorH: return TJXOP_HFLIP;
    case JpegTurn::Half: return TJXOP_ROT180;
    case JpegTurn::MirrorV: return TJXOP_VFLIP;
    case JpegTurn::Transpose: return TJXOP_TRANSPOSE;
    case JpegTurn::Quarter: return TJXOP_ROT90;
    case JpegTurn::Transverse: return TJXOP_TRANSVERSE;
    case JpegTurn::ThreeQuarters: return TJXOP_ROT270;
    case JpegTurn::None: break;
  }
  return TJXOP_NONE;
}

// CMYK as the library hands it to RGB. Adobe's applications write the inks inverted (0 is full
// ink), which the Adobe marker tells; other writers store them as they are.
void CmykToRgba(std::vector<uint8_t>& buf, bool inverted) {
  for (size_t i = 0; i + 4 <= buf.size(); i += 4) {
    unsigned c = buf[i], m = buf[i + 1], y = buf[i + 2], k = buf[i + 3];
    if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
    buf[i] = uint8_t((c * k + 127) / 255);
    buf[i + 1] = uint8_t((m * k + 127) / 255);
    buf[i + 2] = uint8_t((y * k + 127) / 255);
    buf[i + 3] = 255;
  }
}

// "" when a JPEG frame may be decoded: within the largest page, and no larger than its data could
// code (even a blank page takes a few bits for every 8 x 8 block), so that a frame that claims far
// more is refused before memory is taken for it.
std::string JpegFrameProblem(int width, int height, size_t bytes) {
  std::string why = PageSizeProblem(width, height);
  if (why.empty() && uint64_t(width) * uint64_t(height) > std::max<uint64_t>(1u << 20, uint64_t(bytes) * 2048))
    why = "a damaged JPEG image (its frame of " + std::to_string(width) + " x " + std::to_string(height) +
          " pixels is far larger than its data)";
  return why;
}

// Decodes an 8-bit lossy JPEG whole into an upright-as-coded page; refused with the reason when
// the library warns (data cut short or corrupt).
bool DecodeJpeg(const std::vector<uint8_t>& jpeg, const JpegStreamInfo& info, Bitmap& page, std::string& why) {
  if (info.lossless) return DecodeJpegToBitmap(jpeg, info, page, why);  // the library here codes lossy only
  TjHandle h(tjInitDecompress());
  int width = 0, height = 0, subsampling = 0, colourspace = 0;
  if (!h || tjDecompressHeader3(h.get(), jpeg.data(), jpeg.size(), &width, &height, &subsampling, &colourspace) != 0) {
    why = std::string("a JPEG image the decoder cannot read (") + tjGetErrorStr2(h.get()) + ")";
    return false;
  }
  why = JpegFrameProblem(width, height, jpeg.size());  // the frame the library will decode, again
  if (!why.empty()) return false;
  const int flags = TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS;
  const bool cmyk = colourspace == TJCS_CMYK || colourspace == TJCS_YCCK;
  int rc = 0;
  if (cmyk) {
    std::vector<uint8_t> buf(static_cast<size_t>(width) * height * 4);
    rc = tjDecompress2(h.get(), jpeg.data(), jpeg.size(), buf.data(), width, width * 4, height, TJPF_CMYK, flags);
    if (rc == 0) {
      CmykToRgba(buf, info.adobeTransform >= 0);
      page = PackRgbaOverWhite(std::move(buf), width, height, false);
    }
  } else {
    page.Resize(width, height);
    rc = tjDecompress2(h.get(), jpeg.data(), jpeg.size(), page.pixels.data(), width, int(page.stride), height,
                       TJPF_BGR, flags);
  }
  if (rc != 0) {
    page = Bitmap();
    why = std::string("a damaged JPEG image (") + tjGetErrorStr2(h.get()) + ")";
    return false;
  }
  return true;
}

bool ImportJpeg(const std::vector<uint8_t>& file, ImportedPage& out, std::string& why) {
  JpegStreamInfo info;
  if (!ReadJpegStreamInfo(file.data(), file.size(), info)) {
    why = "not a JPEG image (no frame header)";
    return false;
  }
  if (info.precision != 8) {
    why = std::to_string(info.precision) + "-bit samples (only 8-bit JPEG images are taken)";
    return false;
  }
  why = JpegFrameProblem(info.width, info.height, file.size());
  if (!why.empty()) return false;
  JpegTurn turn = TurnForOrientation(ExifOrientation(file));
  const std::vector<uint8_t>* coded = &file;
  std::vector<uint8_t> turned;
  if (turn != JpegTurn::None && FitsPageLabel(info) && TurnJpegLosslessly(file, turn, turned)) {
    coded = &turned;
    turn = JpegTurn::None;
    ReadJpegStreamInfo(turned.data(), turned.size(), info);
  }
  if (!DecodeJpeg(*coded, info, out.page, why)) return false;
  if (turn == JpegTurn::None && FitsPageLabel(info)) {
    out.jpeg = coded == &turned ? std::move(turned) : JpegWithoutMetadata(file);
    return true;
  }
  out.page = TurnedBitmap(std::move(out.page), turn);
  if (!EncodePageJpeg(out.page, out.jpeg)) {
    why = "the page could not be encoded";
    return false;
  }
  return true;
}

// ---- PNG ----

struct PngRead {
  png_structp png = nullptr;
  png_infop info = nullptr;
  std::string error;
  ~PngRead() { png_destroy_read_struct(&png, &info, nullptr); }
};

void PngError(png_structp png, png_const_charp message) {
  static_cast<PngRead*>(png_get_error_ptr(png))->error = message;
  png_longjmp(png, 1);
}
void PngWarning(png_structp, png_const_charp) {}

// Each step that libpng may leave by its error jump holds no object of its own.
bool PngHeader(PngRead& r, FILE* f, png_uint_32& width, png_uint_32& height) {
  if (setjmp(png_jmpbuf(r.png))) return false;
  png_init_io(r.png, f);
  png_set_user_limits(r.png, kMaxPageSide, kMaxPageSide);
  png_read_info(r.png, r.info);
  width = png_get_image_width(r.png, r.info);
  height = png_get_image_height(r.png, r.info);
  return true;
}

// Every kind comes out as 8-bit R, G, B, A; the number of passes (7 for an interlaced file).
bool PngTransforms(PngRead& r, int& passes) {
  if (setjmp(png_jmpbuf(r.png))) return false;
  png_set_expand(r.png);
  png_set_scale_16(r.png);
  png_set_gray_to_rgb(r.png);
  png_set_add_alpha(r.png, 0xFF, PNG_FILLER_AFTER);
  passes = png_set_interlace_handling(r.png);
  png_read_update_info(r.png, r.info);
  return true;
}

bool PngRows(PngRead& r, png_bytepp rows, size_t count) {
  if (setjmp(png_jmpbuf(r.png))) return false;
  png_read_rows(r.png, rows, nullptr, png_uint_32(count));
  return true;
}

bool PngEnd(PngRead& r) {
  if (setjmp(png_jmpbuf(r.png))) return false;
  png_read_end(r.png, r.info);
  return true;
}

// The eXIf chunk's orientation (reading what libpng holds raises no error).
int PngOrientation(PngRead& r) {
  png_uint_32 size = 0;
  png_bytep exif = nullptr;
  if (!png_get_eXIf_1(r.png, r.info, &size, &exif) || !exif) return 1;
  std::vector<uint8_t> block(6 + size_t(size));
  std::memcpy(block.data(), "Exif\0\0", 6);
  std::memcpy(block.data() + 6, exif, size);
  return ExifOrientation(block);
}

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

bool ImportPng(const std::string& path, ImportedPage& out, std::string& why) {
  std::unique_ptr<FILE, FileCloser> f(std::fopen(path.c_str(), "rb"));
  if (!f) {
    why = "it cannot be opened";
    return false;
  }
  PngRead r;
  r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r, PngError, PngWarning);
  r.info = r.png ? png_create_info_struct(r.png) : nullptr;
  png_uint_32 width = 0, height = 0;
  int passes = 1;
  if (!r.info || !PngHeader(r, f.get(), width, height) || !PngTransforms(r, passes)) {
    why = "a damaged PNG image (" + r.error + ")";
    return false;
  }
  why = PageSizeProblem(int(std::min<png_uint_32>(width, 1u << 30)), int(std::min<png_uint_32>(height, 1u << 30)));
  if (!why.empty()) return false;
  // Deflate codes at most 1032 bytes in one, and a pixel takes at least one bit: a frame that
  // claims more pixels than the file could code is refused before memory is taken for it.
  std::error_code ec;
  const uint64_t size = std::filesystem::file_size(path, ec);
  if (uint64_t(width) * height > std::max<uint64_t>(1u << 22, size * 8300)) {
    why = "a damaged PNG image (its frame of " + std::to_string(width) + " x " + std::to_string(height) +
          " pixels is far larger than its data)";
    return false;
  }
  const size_t rowBytes = size_t(width) * 4;
  if (passes > 1) {  // interlaced: every pass adds to every row, so all rows are held at once
    std::vector<uint8_t> rgba(rowBytes * height);
    std::vector<png_bytep> rows(height);
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = rgba.data() + y * rowBytes;
    for (int pass = 0; pass < passes; ++pass)
      if (!PngRows(r, rows.data(), height)) {
        why = "a damaged PNG image (" + r.error + ")";
        return false;
      }
    out.page = PackRgbaOverWhite(std::move(rgba), int(width), int(height), false);
  } else {  // one row at a time, straight into the page
    std::vector<uint8_t> row(rowBytes);
    png_bytep rows[1] = {row.data()};
    out.page.Resize(int(width), int(height));
    for (png_uint_32 y = 0; y < height; ++y) {
      if (!PngRows(r, rows, 1)) {
        why = "a damaged PNG image (" + r.error + ")";
        out.page = Bitmap();
        return false;
      }
      RgbaRowOverWhite(row.data(), out.page.Row(int(y)), int(width), false);
    }
  }
  PngEnd(r);  // the chunks after the image (eXIf may come there); a damaged tail costs no pixels
  out.page = TurnedBitmap(std::move(out.page), TurnForOrientation(PngOrientation(r)));
  return true;
}

// ---- TIFF ----

int TiffMessage(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
  char text[512];
  std::vsnprintf(text, sizeof text, fmt, ap);
  auto* error = static_cast<std::string*>(user);
  if (error->empty()) *error = std::string(module ? module : "TIFF") + ": " + text;
  return 1;
}

struct TiffCloser {
  void operator()(TIFF* t) const { TIFFClose(t); }
};
struct TiffOptionsFree {
  void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

// One page of an open TIFF file, upright, over white. The page is read in bands of whole strips
// (or rows of tiles) in the order it is stored, straight into the bitmap, then turned as its
// orientation says.
bool TiffPage(TIFF* tif, Bitmap& page, std::string& error, std::string& why) {
  uint32_t width = 0, height = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
  why = PageSizeProblem(int(std::min<uint32_t>(width, 1u << 30)), int(std::min<uint32_t>(height, 1u << 30)));
  if (!why.empty()) return false;
  char message[1024] = "";
  TIFFRGBAImage img{};
  error.clear();
  if (!TIFFRGBAImageOK(tif, message) || !TIFFRGBAImageBegin(&img, tif, 1, message)) {
    why = std::string("a kind of TIFF page this program does not read (") + message + ")";
    return false;
  }
  uint16_t orientation = ORIENTATION_TOPLEFT;
  TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
  img.req_orientation = orientation;  // the rows as stored; the turn comes after
  uint32_t unit = 0;
  if (TIFFIsTiled(tif)) TIFFGetField(tif, TIFFTAG_TILELENGTH, &unit);
  else TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &unit);
  unit = std::clamp<uint32_t>(unit, 1, height);
  const uint32_t band = unit >= 1024 ? 1024 : unit * (1024 / unit);
  std::vector<uint8_t> rgba(size_t(width) * band * 4);
  page.Resize(int(width), int(height));
  bool read = true;
  for (uint32_t row = 0; row < height && read; row += band) {
    const uint32_t rows = std::min(band, height - row);
    img.row_offset = int(row);
    img.col_offset = 0;
    // The pixels come as 32-bit words, R in the low byte: on this little-endian machine R, G, B, A.
    read = TIFFRGBAImageGet(&img, reinterpret_cast<uint32_t*>(rgba.data()), width, rows) != 0;
    for (uint32_t y = 0; y < rows && read; ++y)
      RgbaRowOverWhite(rgba.data() + size_t(y) * width * 4, page.Row(int(row + y)), int(width), true);
  }
  TIFFRGBAImageEnd(&img);
  if (!read) {
    page = Bitmap();
    why = "a damaged TIFF page (" + (error.empty() ? std::string("its data cannot be read") : error) + ")";
    return false;
  }
  page = TurnedBitmap(std::move(page), TurnForOrientation(orientation));
  return true;
}

// ---- the file ----

enum class Kind { Unopened, Unknown, Jpeg, Png, Tiff, Bmp };

Kind KindOf(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return Kind::Unopened;
  unsigned char m[8] = {};
  const size_t n = std::fread(m, 1, sizeof m, f);
  std::fclose(f);
  if (n >= 3 && m[0] == 0xFF && m[1] == 0xD8 && m[2] == 0xFF) return Kind::Jpeg;
  if (n >= 8 && std::memcmp(m, "\x89PNG\r\n\x1a\n", 8) == 0) return Kind::Png;
  if (n >= 4 && (std::memcmp(m, "II*\0", 4) == 0 || std::memcmp(m, "MM\0*", 4) == 0 || std::memcmp(m, "II+\0", 4) == 0 ||
                 std::memcmp(m, "MM\0+", 4) == 0))
    return Kind::Tiff;
  if (n >= 2 && m[0] == 'B' && m[1] == 'M') return Kind::Bmp;
  return Kind::Unknown;
}

}  // namespace

JpegTurn TurnForOrientation(int orientation) {
  switch (orientation) {
    case 2: return JpegTurn::MirrorH;
    case 3: return JpegTurn::Half;
    case 4: return JpegTurn::MirrorV;
    case 5: return JpegTurn::Transpose;
    case 6: return JpegTurn::Quarter;
    case 7: return JpegTurn::Transverse;
    case 8: return JpegTurn::ThreeQuarters;
    default: return JpegTurn::None;
  }
}

int ExifOrientation(const std::vector<uint8_t>& data) {
  // The APP1 "Exif" segment of a JPEG stream; a raw block is taken as it is.
  const uint8_t* block = data.data();
  size_t length = data.size();
  if (data.size() >= 2 && data[0] == 0xFF && data[1] == 0xD8) {
    length = 0;
    WalkJpegSegments(data, [&](uint8_t marker, size_t at, size_t size) {
      if (marker == 0xE1 && length == 0 && size >= 10 && std::memcmp(&data[at + 4], "Exif\0\0", 6) == 0) {
        block = &data[at + 4];
        length = size - 4;
      }
    });
  }
  if (length < 6 || std::memcmp(block, "Exif\0\0", 6) != 0) return 1;
  ExifData* exif = exif_data_new();
  if (!exif) return 1;
  exif_data_unset_option(exif, EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
  exif_data_load_data(exif, block, static_cast<unsigned>(std::min<size_t>(length, 0xFFFFu)));
  int orientation = 1;
  if (ExifEntry* e = exif_content_get_entry(exif->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
      e && e->format == EXIF_FORMAT_SHORT && e->components >= 1 && e->data && e->size >= 2)
    orientation = exif_get_short(e->data, exif_data_get_byte_order(exif));
  exif_data_unref(exif);
  return orientation >= 1 && orientation <= 8 ? orientation : 1;
}

bool TurnJpegLosslessly(const std::vector<uint8_t>& jpeg, JpegTurn turn, std::vector<uint8_t>& out) {
  TjHandle h(tjInitTransform());
  if (!h || jpeg.empty()) return false;
  tjtransform t{};
  t.op = TransformOp(turn);
  t.options = TJXOPT_PERFECT | TJXOPT_COPYNONE;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  if (tjTransform(h.get(), jpeg.data(), jpeg.size(), 1, &buffer, &size, &t, TJFLAG_LIMITSCANS) != 0) {
    tjFree(buffer);
    return false;
  }
  out.assign(buffer, buffer + size);
  tjFree(buffer);
  return true;
}

Bitmap TurnedBitmap(Bitmap page, JpegTurn turn) {
  switch (turn) {
    case JpegTurn::None: return page;
    case JpegTurn::MirrorH: return Mirrored(std::move(page), true);
    case JpegTurn::MirrorV: return Mirrored(std::move(page), false);
    case JpegTurn::Half: return Mirrored(Mirrored(std::move(page), true), false);
    case JpegTurn::Quarter: return RotatedQuarter(page, true);
    case JpegTurn::ThreeQuarters: return RotatedQuarter(page, false);
    case JpegTurn::Transpose: return Mirrored(RotatedQuarter(page, true), true);
    case JpegTurn::Transverse: return Mirrored(RotatedQuarter(page, true), false);
  }
  return page;
}

size_t ImportImageFile(const std::string& path, const std::function<void(ImportedPage&&)>& take,
                       std::vector<ImportProblem>& problems, const std::function<bool()>& cancelled) {
  const std::string name = FileNamePart(path);
  auto refuse = [&problems](const std::string& what, const std::string& why) {
    WriteLog("ERROR, ImportImageFile, cannot read " + what + ": " + why);
    problems.push_back({what, why});
  };
  const std::string file = "the image file " + path;
  ImportedPage out;
  std::string why;
  const Kind kind = KindOf(path);
  switch (kind) {
    case Kind::Unopened:
      refuse(file, std::string("it cannot be opened (") + std::strerror(errno) + ")");
      return 0;
    case Kind::Unknown:
      refuse(file, "not an image this program reads (JPEG, PNG, TIFF or BMP)");
      return 0;
    case Kind::Jpeg:
    case Kind::Bmp: {
      std::string bytes;
      if (!ReadWholeFile(path, bytes, "ImportImageFile")) {
        refuse(file, "it cannot be read");
        return 0;
      }
      const bool read = kind == Kind::Jpeg ? ImportJpeg(std::vector<uint8_t>(bytes.begin(), bytes.end()), out, why)
                                           : ReadBmp(bytes, out.page, why);
      if (!read) {
        refuse(file, why);
        return 0;
      }
      break;
    }
    case Kind::Png:
      if (!ImportPng(path, out, why)) {
        refuse(file, why);
        return 0;
      }
      break;
    case Kind::Tiff: {
      std::string error;
      std::unique_ptr<TIFFOpenOptions, TiffOptionsFree> options(TIFFOpenOptionsAlloc());
      TIFFOpenOptionsSetErrorHandlerExtR(options.get(), TiffMessage, &error);
      TIFFOpenOptionsSetWarningHandlerExtR(options.get(), [](TIFF*, void*, const char*, const char*, va_list) { return 1; },
                                           nullptr);
      std::unique_ptr<TIFF, TiffCloser> tif(TIFFOpenExt(path.c_str(), "r", options.get()));
      if (!tif) {
        refuse(file, "a damaged TIFF file (" + error + ")");
        return 0;
      }
      const int count = TIFFNumberOfDirectories(tif.get());
      if (count < 1) {
        refuse(file, "a damaged TIFF file (no page in it)");
        return 0;
      }
      size_t taken = 0;
      for (int n = 1; n <= count && !(cancelled && cancelled()); ++n) {
        ImportedPage page;
        const std::string what = count > 1 ? "page " + std::to_string(n) + " of " + std::to_string(count) + " of " + path
                                           : file;
        if (!TIFFSetDirectory(tif.get(), tdir_t(n - 1))) {
          refuse(what, "the page cannot be reached");
          continue;
        }
        if (!TiffPage(tif.get(), page.page, error, why)) {
          refuse(what, why);
          continue;
        }
        if (!EncodePageJpeg(page.page, page.jpeg)) {
          refuse(what, "the page could not be encoded");
          continue;
        }
        page.name = count > 1 ? name + " page " + std::to_string(n) : name;
        take(std::move(page));
        ++taken;
      }
      return taken;
    }
  }
  if (cancelled && cancelled()) return 0;
  if (out.jpeg.empty() && !EncodePageJpeg(out.page, out.jpeg)) {
    refuse(file, "the page could not be encoded");
    return 0;
  }
  out.name = name;
  take(std::move(out));
  return 1;
}
