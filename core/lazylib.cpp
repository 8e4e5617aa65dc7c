#include "core/lazylib.h"

#include <dlfcn.h>
#include <unistd.h>

#include "core/config.h"
#include "core/fileutil.h"
#include "core/log.h"

std::string ProgramModule(const char* fileName) {
  const std::string folder = FolderOf(ExecutablePath());
  const std::string beside = folder + fileName;
  if (::access(beside.c_str(), F_OK) == 0) return beside;
  return folder + "../lib/scrivara/modules/" + fileName;
}

void* LazyLibrary::Symbol(const char* name) {
  std::call_once(opened_, [this] {
    handle_ = ::dlopen(soname_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
      const char* error = ::dlerror();
      std::lock_guard<std::mutex> lock(mutex_);
      problem_ = soname_ + " cannot be loaded (" + (error ? error : "unknown error") + ")";
      WriteLog("ERROR, " + problem_);
    }
  });
  if (!handle_) return nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  void* address = ::dlsym(handle_, name);
  if (!address) {
    problem_ = soname_ + " has no " + name;
    WriteLog("ERROR, " + problem_);
  }
  return address;
}
