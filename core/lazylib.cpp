#include "core/lazylib.h"

#include <dlfcn.h>

#include "core/log.h"

void* LazyLibrary::Symbol(const char* name) {
  std::call_once(opened_, [this] {
    handle_ = ::dlopen(soname_, RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
      const char* error = ::dlerror();
      std::lock_guard<std::mutex> lock(mutex_);
      problem_ = std::string(soname_) + " cannot be loaded (" + (error ? error : "unknown error") + ")";
      WriteLog("ERROR, " + problem_);
    }
  });
  if (!handle_) return nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  void* address = ::dlsym(handle_, name);
  if (!address) {
    problem_ = std::string(soname_) + " has no " + name;
    WriteLog("ERROR, " + problem_);
  }
  return address;
}
