#include "convert/page_jpeg.h"

// clang-format off
#include <cstdio>
#include <csetjmp>
extern "C" {
#include <jpeglib.h>
}
// clang-format on

#include <cstdlib>
#include <string>

#include "core/log.h"

namespace {

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

void OutputMessage(j_common_ptr) {}

}  // namespace

bool EncodePageJpeg(const Bitmap& page, std::vector<uint8_t>& jpeg) {
  if (page.Empty() || page.stride < size_t(page.width) * 3 || page.pixels.size() < page.stride * size_t(page.height)) {
    WriteLog("ERROR, EncodePageJpeg, empty or inconsistent bitmap");
    return false;
  }
  if (page.width > JPEG_MAX_DIMENSION || page.height > JPEG_MAX_DIMENSION) {
    WriteLog("ERROR, EncodePageJpeg, page of " + std::to_string(page.width) + " x " + std::to_string(page.height) +
             " pixels is too large for JPEG");
    return false;
  }

  std::vector<JSAMPLE> row(size_t(page.width) * 3);
  jpeg_compress_struct cinfo{};
  ErrorManager err{};
  unsigned char* out = nullptr;
  unsigned long outSize = 0;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = ErrorExit;
  err.pub.output_message = OutputMessage;
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    std::free(out);
    WriteLog(std::string("ERROR, EncodePageJpeg, ") + err.message);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, &out, &outSize);
  cinfo.image_width = JDIMENSION(page.width);
  cinfo.image_height = JDIMENSION(page.height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);  // YCbCr, luminance 2 x 2, chroma 1 x 1, JFIF 1.01, density 0 / 1 x 1
  jpeg_set_quality(&cinfo, 90, TRUE);
  cinfo.optimize_coding = FALSE;
  cinfo.write_JFIF_header = TRUE;
  cinfo.JFIF_major_version = 1;
  cinfo.JFIF_minor_version = 1;
  cinfo.density_unit = 0;
  cinfo.X_density = 1;
  cinfo.Y_density = 1;
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    const uint8_t* src = page.Row(int(cinfo.next_scanline));
    for (int x = 0; x < page.width; ++x) {  // B G R -> R G B
      row[size_t(x) * 3] = src[x * 3 + 2];
      row[size_t(x) * 3 + 1] = src[x * 3 + 1];
      row[size_t(x) * 3 + 2] = src[x * 3];
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg.assign(out, out + outSize);
  jpeg_destroy_compress(&cinfo);
  std::free(out);
  return true;
}
