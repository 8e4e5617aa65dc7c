#include "core/deflate.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <new>

namespace {

// zlib counts in unsigned int: larger inputs are handed over in slices.
constexpr size_t kSlice = UINT_MAX / 2;

}  // namespace

bool DeflateRaw(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
  z_stream z{};
  if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  bool ok = true;
  try {
    out.assign(std::max<size_t>(1024, size / 2), 0);
    size_t given = 0;
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
      if (z.avail_in == 0 && given < size) {
        const size_t n = std::min(kSlice, size - given);
        z.next_in = const_cast<Bytef*>(data + given);
        z.avail_in = static_cast<uInt>(n);
        given += n;
      }
      if (z.total_out == out.size()) out.resize(out.size() * 2);
      const size_t done = z.total_out;
      z.next_out = out.data() + done;
      z.avail_out = static_cast<uInt>(std::min(kSlice, out.size() - done));
      rc = deflate(&z, given == size ? Z_FINISH : Z_NO_FLUSH);
      if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
        ok = false;
        break;
      }
    }
    out.resize(z.total_out);
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  deflateEnd(&z);
  return ok;
}

bool InflateRaw(const uint8_t* data, size_t size, size_t limit, std::vector<uint8_t>& out, std::string& why) {
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) {
    why = "the decompressor could not start";
    return false;
  }
  bool ok = false;
  try {
    out.assign(std::min(limit, std::max<size_t>(4096, size * 4)), 0);
    size_t given = 0;
    for (;;) {
      if (z.avail_in == 0 && given < size) {
        const size_t n = std::min(kSlice, size - given);
        z.next_in = const_cast<Bytef*>(data + given);
        z.avail_in = static_cast<uInt>(n);
        given += n;
      }
      if (z.total_out == out.size()) {
        if (out.size() >= limit) {
          why = "it inflates to more than " + std::to_string(limit >> 20) + " MB";
          break;
        }
        out.resize(std::min(limit, out.size() * 2));
      }
      const size_t done = z.total_out;
      z.next_out = out.data() + done;
      z.avail_out = static_cast<uInt>(std::min(kSlice, out.size() - done));
      const int rc = inflate(&z, Z_NO_FLUSH);
      if (rc == Z_STREAM_END) {
        ok = true;
        break;
      }
      if (rc == Z_BUF_ERROR && z.avail_in == 0 && given == size) {
        why = "its deflated data set is cut short";
        break;
      }
      if (rc != Z_OK && rc != Z_BUF_ERROR) {
        why = "its deflated data set is damaged";
        break;
      }
    }
    out.resize(ok ? z.total_out : 0);
  } catch (const std::bad_alloc&) {
    why = "out of memory";
    out.clear();
  }
  inflateEnd(&z);
  return ok;
}
