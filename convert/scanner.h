#pragma once
// Scanning pages through SANE: the local devices, one page at a time with the colour mode,
// resolution and source asked for, every frame layout and depth made a 24-bit page, a progress
// callback that can cancel, and each SANE status as a clear message.
#include <functional>
#include <string>
#include <vector>

#include "present/bitmap.h"

struct ScannerDevice {
  std::string name;    // what SANE opens ("test:0")
  std::string vendor;
  std::string model;
  std::string type;
  // The scanner list's entry: "name;vendor model;type" (the list shows the second field).
  std::string Entry() const;
};

struct ScanSettings {
  bool colour = false;  // Color, else Gray (in the device's own option strings)
  int dpi = 100;        // the nearest resolution the device allows is used
  bool feeder = false;  // the document feeder, where the device has one
  // Further device options by name, as the scan dialog shows them: "yes"/"no" for a switch, a
  // number, or one of the option's strings. Set after the three above; an unknown or inactive
  // option is left as it is.
  std::vector<std::pair<std::string, std::string>> options;
};

// One setting of a device as the scan dialog offers it: the mode, the resolution and the source.
struct ScannerOption {
  std::string name;                  // SANE's option name ("mode", "resolution", "source")
  std::string title;                 // the device's own title for it
  std::vector<std::string> choices;  // the values it allows, as text
  std::string value;                 // its present value
};

// How the device's own option strings are understood, in any letter case: a colour mode ("Color",
// "Colour"), a grey mode ("Gray", "Grey"), a document feeder ("ADF", "Automatic Document Feeder").
bool IsColourMode(const std::string& mode);
bool IsGreyMode(const std::string& mode);
bool IsFeederSource(const std::string& source);

// The entry of a settings list that text typed into it stands for, or -1 when none does: the
// same entry in any letter case; a colour or grey mode word (IsColourMode, IsGreyMode) for the
// entry of that mode; with `numbers`, the entry nearest in value; else the first entry the text
// begins. A list never takes typed text as an entry of its own.
int NearestEntry(const std::vector<std::string>& entries, const std::string& typed, bool numbers);

// Called as the page is read: the percent done (bytes read / (bytes per line x lines)), or -1 while
// the length is unknown (hand scanners). False cancels the scan.
using ScanProgress = std::function<bool(int percent)>;

enum class ScanResult { Page, Cancelled, NoDocuments, Failed };

// SANE for as long as it lives (sane_init ... sane_exit). One at a time: a second session, on any
// thread, waits until the first has ended.
class SaneSession {
 public:
  SaneSession();
  ~SaneSession();
  SaneSession(const SaneSession&) = delete;
  SaneSession& operator=(const SaneSession&) = delete;
  bool Ready() const { return ready_; }

  // The local devices (no network probing), in SANE's order.
  std::vector<ScannerDevice> Devices() const;

  // The device's mode, resolution and source options, those it has and that are active. A
  // resolution range is offered as the common resolutions within it. Empty when it cannot be opened.
  std::vector<ScannerOption> Options(const std::string& device) const;

  // Scans one page (every frame of it) into `page`. Failed: `message` holds
  // "ERROR, acquiring image: " + the status as 8 upper-case hexadecimal digits + " " + SANE's text,
  // also logged. NoDocuments: the feeder is empty (the message and log line as for Failed). The
  // scan is always ended with sane_cancel.
  ScanResult ScanPage(const std::string& device, const ScanSettings& settings, const ScanProgress& progress,
                      Bitmap& page, std::string& message) const;

  // With the feeder: every sheet until it is empty, each handed to `sheet` as it is read (the
  // device stays open between sheets). The feeder's "no documents" after the first sheet ends the
  // run as Page; before it, the result is NoDocuments. Without the feeder: one page, as ScanPage.
  ScanResult ScanSheets(const std::string& device, const ScanSettings& settings, const ScanProgress& progress,
                        const std::function<void(Bitmap&&)>& sheet, std::string& message) const;

 private:
  ScanResult Scan(const std::string& device, const ScanSettings& settings, const ScanProgress& progress,
                  const std::function<void(Bitmap&&)>& sheet, std::string& message, bool allSheets) const;
  bool ready_ = false;
};
