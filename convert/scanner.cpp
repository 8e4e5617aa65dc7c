#include "convert/scanner.h"

#include <sane/sane.h>
#include <sane/saneopts.h>

#include <signal.h>
#include <sys/types.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <semaphore>
#include <thread>

#include "core/log.h"
#include "core/strutil.h"

namespace {

// A page larger than this is refused rather than read (a 600 dpi A3 colour page is about 210 MB).
constexpr size_t kMaxFrameBytes = size_t(512) << 20;

std::string StatusMessage(SANE_Status status) {
  char code[16];
  std::snprintf(code, sizeof code, "%08X", static_cast<unsigned>(status));
  return std::string("ERROR, acquiring image: ") + code + " " + sane_strstatus(status);
}

// The IDs of this process's threads.
std::vector<pid_t> ThreadIds() {
  std::vector<pid_t> out;
  std::error_code ec;
  for (std::filesystem::directory_iterator it("/proc/self/task", ec), end; !ec && it != end; it.increment(ec))
    out.push_back(static_cast<pid_t>(std::atol(it->path().filename().c_str())));
  std::sort(out.begin(), out.end());
  return out;
}

// True when the thread has ended or sleeps in the kernel (a blocking call), where stopping it
// leaves no lock of the C library held.
bool Quiet(pid_t tid) {
  std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string text;
  if (!std::getline(stat, text)) return true;  // gone
  const size_t close = text.rfind(')');
  if (close == std::string::npos || close + 2 >= text.size()) return true;
  const char state = text[close + 2];
  return state == 'S' || state == 'Z' || state == 'X';
}

// The device, closed and its scan ended whatever happens.
//
// Many backends read the device on a thread started by sane_start, and at the end of a frame or on
// sane_cancel they end it with pthread_cancel and join it. A cancel that lands while that thread is
// still allocating or freeing leaves the allocator's lock taken, and the join never returns. So
// before a call that may end the reading thread, the threads sane_start began are let reach a
// blocking call or their end (Settle).
class Device {
 public:
  SANE_Status Open(const std::string& name) { return sane_open(name.c_str(), &handle_); }
  ~Device() {
    if (handle_) {
      Settle();
      sane_cancel(handle_);
      sane_close(handle_);
    }
  }
  SANE_Handle get() const { return handle_; }

  SANE_Status Start() {
    const std::vector<pid_t> before = ThreadIds();
    const SANE_Status s = sane_start(handle_);
    started_.clear();
    const std::vector<pid_t> after = ThreadIds();
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(started_));
    return s;
  }

  // Waits, two seconds at most, until every thread the last Start began is quiet (Quiet).
  void Settle() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!started_.empty() && std::chrono::steady_clock::now() < until) {
      if (std::all_of(started_.begin(), started_.end(), Quiet)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  // The option's number, or -1.
  int Find(const char* name) const {
    for (int i = 1;; ++i) {
      const SANE_Option_Descriptor* d = sane_get_option_descriptor(handle_, i);
      if (!d) return -1;
      if (d->name && std::strcmp(d->name, name) == 0) return SANE_OPTION_IS_ACTIVE(d->cap) ? i : -1;
    }
  }

  // A string option set to the first of its values that `fits` takes.
  void SetString(const char* name, bool (*fits)(const std::string&)) {
    const int i = Find(name);
    if (i < 0) return;
    const SANE_Option_Descriptor* d = sane_get_option_descriptor(handle_, i);
    if (d->type != SANE_TYPE_STRING || d->constraint_type != SANE_CONSTRAINT_STRING_LIST) return;
    for (const SANE_String_Const* v = d->constraint.string_list; *v; ++v)
      if (fits(*v)) {
        SetText(name, *v);
        return;
      }
  }

  // An option from its text: a switch ("yes"/"no"), a number (INT or FIXED) or a string.
  void SetText(const std::string& name, const std::string& text) {
    const int i = Find(name.c_str());
    if (i < 0) return;
    const SANE_Option_Descriptor* d = sane_get_option_descriptor(handle_, i);
    if (d->type == SANE_TYPE_BOOL) {
      SANE_Bool v = text == "yes" || text == "true" || text == "1" ? SANE_TRUE : SANE_FALSE;
      sane_control_option(handle_, i, SANE_ACTION_SET_VALUE, &v, nullptr);
    } else if (d->type == SANE_TYPE_INT || d->type == SANE_TYPE_FIXED) {
      const double v = ParseDecimal(text);
      SANE_Word w = d->type == SANE_TYPE_FIXED ? SANE_FIX(v) : static_cast<SANE_Word>(std::lround(v));
      sane_control_option(handle_, i, SANE_ACTION_SET_VALUE, &w, nullptr);
    } else if (d->type == SANE_TYPE_STRING) {
      std::vector<char> value(static_cast<size_t>(std::max<SANE_Int>(d->size, 1)), '\0');
      std::strncpy(value.data(), text.c_str(), value.size() - 1);
      sane_control_option(handle_, i, SANE_ACTION_SET_VALUE, value.data(), nullptr);
    }
  }

  // The option as the scan dialog offers it; false when the device lacks it (or it is inactive).
  bool Describe(const char* name, ScannerOption& out) const {
    const int i = Find(name);
    if (i < 0) return false;
    const SANE_Option_Descriptor* d = sane_get_option_descriptor(handle_, i);
    out = {name, d->title ? d->title : name, {}, {}};
    const bool fixed = d->type == SANE_TYPE_FIXED;
    auto number = [fixed](SANE_Word w) { return FormatGeneral(fixed ? SANE_UNFIX(w) : double(w), 6); };
    if (d->type == SANE_TYPE_STRING && d->constraint_type == SANE_CONSTRAINT_STRING_LIST) {
      for (const SANE_String_Const* v = d->constraint.string_list; *v; ++v) out.choices.emplace_back(*v);
      std::vector<char> value(static_cast<size_t>(std::max<SANE_Int>(d->size, 1)) + 1, '\0');
      if (sane_control_option(handle_, i, SANE_ACTION_GET_VALUE, value.data(), nullptr) == SANE_STATUS_GOOD)
        out.value = value.data();
    } else if ((fixed || d->type == SANE_TYPE_INT) && d->size == sizeof(SANE_Word)) {
      if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST) {
        const SANE_Word* list = d->constraint.word_list;
        for (SANE_Word k = 1; k <= list[0]; ++k) out.choices.push_back(number(list[k]));
      } else if (d->constraint_type == SANE_CONSTRAINT_RANGE) {
        const SANE_Range* r = d->constraint.range;
        for (const int common : {75, 100, 150, 200, 300, 400, 600, 1200, 2400}) {
          const SANE_Word w = fixed ? SANE_FIX(common) : common;
          if (w >= r->min && w <= r->max) out.choices.push_back(number(w));
        }
        if (out.choices.empty()) out.choices = {number(r->min), number(r->max)};
      }
      SANE_Word value = 0;
      if (sane_control_option(handle_, i, SANE_ACTION_GET_VALUE, &value, nullptr) == SANE_STATUS_GOOD)
        out.value = number(value);
    } else {
      return false;
    }
    return !out.choices.empty();
  }

  // The resolution, INT or FIXED, made the nearest value the device allows.
  void SetResolution(int dpi) {
    const int i = Find(SANE_NAME_SCAN_RESOLUTION);
    if (i < 0) return;
    const SANE_Option_Descriptor* d = sane_get_option_descriptor(handle_, i);
    const bool fixed = d->type == SANE_TYPE_FIXED;
    if (!fixed && d->type != SANE_TYPE_INT) return;
    auto toDouble = [fixed](SANE_Word w) { return fixed ? SANE_UNFIX(w) : double(w); };
    double best = dpi;
    if (d->constraint_type == SANE_CONSTRAINT_RANGE) {
      const SANE_Range* r = d->constraint.range;
      const double lo = toDouble(r->min), hi = toDouble(r->max), step = toDouble(r->quant);
      best = std::clamp<double>(dpi, lo, hi);
      if (step > 0) best = lo + std::round((best - lo) / step) * step;
    } else if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST) {
      const SANE_Word* list = d->constraint.word_list;
      for (SANE_Word k = 1; k <= list[0]; ++k)
        if (k == 1 || std::fabs(toDouble(list[k]) - dpi) < std::fabs(best - dpi)) best = toDouble(list[k]);
    }
    SANE_Word value = fixed ? SANE_FIX(best) : static_cast<SANE_Word>(std::lround(best));
    sane_control_option(handle_, i, SANE_ACTION_SET_VALUE, &value, nullptr);
  }

 private:
  SANE_Handle handle_ = nullptr;
  std::vector<pid_t> started_;
};

// The last bytes of a frame are read only after the device's reading thread has written them all
// and ended (Device::Settle); this many fit in any pipe.
constexpr size_t kFrameTail = 4096;

// One frame's bytes: the whole frame, or (lines = -1) what the device sends until it ends.
SANE_Status ReadFrame(Device& device, const SANE_Parameters& p, const ScanProgress& progress, std::vector<uint8_t>& out,
                      bool& cancelled) {
  const bool known = p.lines > 0;
  const size_t expected = known ? size_t(p.bytes_per_line) * size_t(p.lines) : 0;
  if (expected > kMaxFrameBytes) return SANE_STATUS_NO_MEM;
  out.clear();
  out.reserve(known ? expected : size_t(p.bytes_per_line) * 256);
  std::vector<uint8_t> chunk(64 * 1024);
  for (;;) {
    size_t ask = chunk.size();
    if (known && out.size() < expected) {
      const size_t left = expected - out.size();
      if (left > kFrameTail)
        ask = std::min(ask, left - kFrameTail);
      else
        device.Settle();
    }
    SANE_Int got = 0;
    const SANE_Status s = sane_read(device.get(), chunk.data(), static_cast<SANE_Int>(ask), &got);
    if (s == SANE_STATUS_EOF) return SANE_STATUS_GOOD;
    if (s != SANE_STATUS_GOOD) return s;
    if (out.size() + size_t(got) > (known ? expected : kMaxFrameBytes)) return known ? SANE_STATUS_GOOD : SANE_STATUS_NO_MEM;
    out.insert(out.end(), chunk.begin(), chunk.begin() + got);
    const int percent = known && expected ? static_cast<int>(out.size() * 100 / expected) : -1;
    if (progress && !progress(percent)) {
      cancelled = true;
      return SANE_STATUS_CANCELLED;
    }
  }
}

// One sample of a frame, 0 to 255: depth 1 (1 is black in grey frames, full in colour ones), 8
// or 16 (host order, high byte kept).
uint8_t Sample(const std::vector<uint8_t>& data, size_t row, int bytesPerLine, int depth, size_t index, bool grey1) {
  const size_t base = row * size_t(bytesPerLine);
  if (depth == 1) {
    const bool bit = (data[base + index / 8] >> (7 - index % 8)) & 1;
    return grey1 ? (bit ? 0 : 255) : (bit ? 255 : 0);
  }
  if (depth == 16) {
    uint16_t v;
    std::memcpy(&v, &data[base + index * 2], 2);
    return static_cast<uint8_t>(v >> 8);
  }
  return data[base + index];
}

// Writes a frame into the page: grey and RGB frames fill all three channels, RED/GREEN/BLUE one.
void PutFrame(const SANE_Parameters& p, const std::vector<uint8_t>& data, Bitmap& page) {
  const int width = p.pixels_per_line;
  const size_t rows = p.bytes_per_line > 0 ? data.size() / size_t(p.bytes_per_line) : 0;
  if (page.width != width || size_t(page.height) != rows) page.Resize(width, static_cast<int>(rows));
  for (size_t y = 0; y < rows; ++y) {
    uint8_t* out = page.Row(static_cast<int>(y));
    for (int x = 0; x < width; ++x) {
      uint8_t* px = out + 3 * x;  // B, G, R
      switch (p.format) {
        case SANE_FRAME_GRAY: px[0] = px[1] = px[2] = Sample(data, y, p.bytes_per_line, p.depth, size_t(x), true); break;
        case SANE_FRAME_RGB:
          for (int c = 0; c < 3; ++c) px[2 - c] = Sample(data, y, p.bytes_per_line, p.depth, size_t(x) * 3 + c, false);
          break;
        case SANE_FRAME_RED: px[2] = Sample(data, y, p.bytes_per_line, p.depth, size_t(x), false); break;
        case SANE_FRAME_GREEN: px[1] = Sample(data, y, p.bytes_per_line, p.depth, size_t(x), false); break;
        case SANE_FRAME_BLUE: px[0] = Sample(data, y, p.bytes_per_line, p.depth, size_t(x), false); break;
        default: break;
      }
    }
  }
}

}  // namespace

namespace {

// SANE is one library state per process: a session waits until the one before it has ended
// (a lookup abandoned by a closed form ends on its worker thread, another thread than the next
// session's, hence a semaphore rather than a mutex).
std::binary_semaphore& OneSession() {
  static std::binary_semaphore one{1};
  return one;
}

}  // namespace

std::string ScannerDevice::Entry() const { return name + ";" + vendor + " " + model + ";" + type; }

SaneSession::SaneSession() {
  OneSession().acquire();
  // Backends read their pages through pipes whose far end a cancelled scan closes: a write to it
  // must fail, not end the program.
  struct sigaction now {};
  if (::sigaction(SIGPIPE, nullptr, &now) == 0 && now.sa_handler == SIG_DFL) ::signal(SIGPIPE, SIG_IGN);
  SANE_Int version = 0;
  const SANE_Status s = sane_init(&version, nullptr);
  ready_ = s == SANE_STATUS_GOOD;
  if (!ready_) WriteLog(StatusMessage(s));
}

SaneSession::~SaneSession() {
  if (ready_) sane_exit();
  OneSession().release();
}

std::vector<ScannerDevice> SaneSession::Devices() const {
  std::vector<ScannerDevice> out;
  const SANE_Device** list = nullptr;
  if (!ready_ || sane_get_devices(&list, SANE_TRUE) != SANE_STATUS_GOOD || !list) return out;
  for (const SANE_Device** d = list; *d; ++d)
    out.push_back({(*d)->name ? (*d)->name : "", (*d)->vendor ? (*d)->vendor : "", (*d)->model ? (*d)->model : "",
                   (*d)->type ? (*d)->type : ""});
  return out;
}

std::vector<ScannerOption> SaneSession::Options(const std::string& name) const {
  std::vector<ScannerOption> out;
  Device device;
  if (!ready_ || device.Open(name) != SANE_STATUS_GOOD) return out;
  for (const char* option : {SANE_NAME_SCAN_MODE, SANE_NAME_SCAN_RESOLUTION, SANE_NAME_SCAN_SOURCE})
    if (ScannerOption o; device.Describe(option, o)) out.push_back(std::move(o));
  return out;
}

namespace {
bool Names(const std::string& value, std::initializer_list<const char*> words) {
  const std::string s = LowerAscii(value);
  return std::any_of(words.begin(), words.end(), [&s](const char* w) { return s.find(w) != std::string::npos; });
}
}  // namespace

bool IsColourMode(const std::string& mode) { return Names(mode, {"color", "colour"}); }
bool IsGreyMode(const std::string& mode) { return Names(mode, {"gray", "grey"}); }
bool IsFeederSource(const std::string& source) { return Names(source, {"adf", "feeder", "automatic"}); }

int NearestEntry(const std::vector<std::string>& entries, const std::string& typed, bool numbers) {
  const std::string text = LowerAscii(Trim(typed));
  if (text.empty()) return -1;
  for (size_t i = 0; i < entries.size(); ++i)
    if (LowerAscii(entries[i]) == text) return int(i);
  for (auto mode : {IsColourMode, IsGreyMode}) {
    if (!mode(text)) continue;
    for (size_t i = 0; i < entries.size(); ++i)
      if (mode(entries[i])) return int(i);
  }
  int best = -1;
  if (numbers && std::isdigit(static_cast<unsigned char>(text[0]))) {
    const double value = ParseDecimal(text);
    double distance = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
      const double d = std::fabs(ParseDecimal(entries[i]) - value);
      if (best < 0 || d < distance) {
        distance = d;
        best = int(i);
      }
    }
    return best;
  }
  for (size_t i = 0; i < entries.size() && best < 0; ++i)
    if (LowerAscii(entries[i]).starts_with(text)) best = int(i);
  return best;
}

namespace {

// One page from an open device: every frame of it.
ScanResult ReadPage(Device& device, const ScanProgress& progress, Bitmap& page, SANE_Status& failure) {
  Bitmap result;
  for (bool last = false; !last;) {
    if (const SANE_Status s = device.Start(); s != SANE_STATUS_GOOD) {
      if (s == SANE_STATUS_NO_DOCS) return ScanResult::NoDocuments;
      if (s == SANE_STATUS_CANCELLED) return ScanResult::Cancelled;
      failure = s;
      return ScanResult::Failed;
    }
    SANE_Parameters p{};
    if (const SANE_Status s = sane_get_parameters(device.get(), &p); s != SANE_STATUS_GOOD) {
      failure = s;
      return ScanResult::Failed;
    }
    if (p.pixels_per_line <= 0 || p.bytes_per_line <= 0 || (p.depth != 1 && p.depth != 8 && p.depth != 16)) {
      failure = SANE_STATUS_UNSUPPORTED;
      return ScanResult::Failed;
    }
    std::vector<uint8_t> data;
    bool cancelled = false;
    const SANE_Status s = ReadFrame(device, p, progress, data, cancelled);
    if (cancelled) return ScanResult::Cancelled;
    if (s != SANE_STATUS_GOOD) {
      failure = s;
      return ScanResult::Failed;
    }
    PutFrame(p, data, result);
    last = p.last_frame;
  }
  if (result.Empty()) {
    failure = SANE_STATUS_IO_ERROR;
    return ScanResult::Failed;
  }
  page = std::move(result);
  return ScanResult::Page;
}

}  // namespace

ScanResult SaneSession::ScanPage(const std::string& name, const ScanSettings& settings, const ScanProgress& progress,
                                 Bitmap& page, std::string& message) const {
  return Scan(name, settings, progress, [&page](Bitmap&& b) { page = std::move(b); }, message, false);
}

ScanResult SaneSession::ScanSheets(const std::string& name, const ScanSettings& settings, const ScanProgress& progress,
                                   const std::function<void(Bitmap&&)>& sheet, std::string& message) const {
  return Scan(name, settings, progress, sheet, message, settings.feeder);
}

ScanResult SaneSession::Scan(const std::string& name, const ScanSettings& settings, const ScanProgress& progress,
                             const std::function<void(Bitmap&&)>& sheet, std::string& message, bool allSheets) const {
  message.clear();
  auto fail = [&message](SANE_Status s) {
    message = StatusMessage(s);
    WriteLog(message);
    return ScanResult::Failed;
  };
  if (!ready_) return fail(SANE_STATUS_INVAL);
  Device device;
  if (const SANE_Status s = device.Open(name); s != SANE_STATUS_GOOD) return fail(s);
  if (settings.colour)
    device.SetString(SANE_NAME_SCAN_MODE, IsColourMode);
  else
    device.SetString(SANE_NAME_SCAN_MODE, IsGreyMode);
  device.SetResolution(settings.dpi);
  if (settings.feeder) device.SetString(SANE_NAME_SCAN_SOURCE, IsFeederSource);
  for (const auto& [option, value] : settings.options) device.SetText(option, value);
  for (int sheets = 0;; ++sheets) {
    Bitmap page;
    SANE_Status failure = SANE_STATUS_GOOD;
    const ScanResult r = ReadPage(device, progress, page, failure);
    if (r == ScanResult::Failed) return fail(failure);
    if (r == ScanResult::NoDocuments) {
      if (sheets > 0) return ScanResult::Page;
      fail(SANE_STATUS_NO_DOCS);  // the operator is told, as of any other status
      return ScanResult::NoDocuments;
    }
    if (r == ScanResult::Cancelled) return sheets > 0 ? ScanResult::Page : ScanResult::Cancelled;
    sheet(std::move(page));
    if (!allSheets) return ScanResult::Page;
  }
}
