#pragma once
// A shared library opened when first needed instead of at the program's start: the command-line
// companion's every run would otherwise pay for loading the HTTP and Word libraries (and theirs)
// that only some commands use.
#include <mutex>
#include <string>
#include <utility>

// The path of one of the program's own modules: beside the executable (a build tree), else in
// lib/scrivara/modules/ beside its bin/ folder (installed).
std::string ProgramModule(const char* fileName);

class LazyLibrary {
 public:
  // soname: "libcurl.so.4", or a path (ProgramModule). Nothing is opened until the first Bind.
  explicit LazyLibrary(std::string soname) : soname_(std::move(soname)) {}
  LazyLibrary(const LazyLibrary&) = delete;
  LazyLibrary& operator=(const LazyLibrary&) = delete;

  // Points `function` at the library's function of that name, opening the library on first use
  // (thread-safe); false when the library or the function is missing, with the reason in Problem().
  template <class F>
  bool Bind(F*& function, const char* name) {
    function = reinterpret_cast<F*>(Symbol(name));
    return function != nullptr;
  }
  std::string Problem() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return problem_;
  }

 private:
  void* Symbol(const char* name);
  const std::string soname_;
  std::once_flag opened_;
  void* handle_ = nullptr;
  mutable std::mutex mutex_;
  std::string problem_;
};
