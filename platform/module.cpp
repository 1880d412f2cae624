// Loading shared objects at run time through the dynamic loader.
#include "platform/module.h"

#include <dlfcn.h>
#include <link.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

namespace platform {
namespace {

std::string canonical_path(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) return path;
  return resolved;
}

std::string program_file() {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return std::string();
  return std::string(buffer, static_cast<std::size_t>(n));
}

}  // namespace

ModuleHandle module_open(const std::string& path, std::string* out_error) {
  try {
    // The loader reads an empty name as "the program itself", which is never
    // what a caller naming a module file means.
    if (path.empty()) {
      if (out_error != nullptr) *out_error = "empty module path";
      return nullptr;
    }
    ::dlerror();  // the loader's message is per thread; start from none
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr && out_error != nullptr) {
      const char* message = ::dlerror();
      *out_error = message != nullptr ? message : "cannot load " + path;
    }
    return handle;
  } catch (...) {
    if (out_error != nullptr) out_error->clear();
    return nullptr;
  }
}

void* module_symbol(ModuleHandle m, const char* name) {
  // A null handle would mean RTLD_DEFAULT to the loader and search every
  // module; a caller whose load failed must get nothing instead.
  if (m == nullptr || name == nullptr) return nullptr;
  return ::dlsym(m, name);
}

bool module_close(ModuleHandle m) {
  if (m == nullptr) return false;
  return ::dlclose(m) == 0;
}

std::string module_path(ModuleHandle m) {
  if (m == nullptr) return std::string();
  try {
    link_map* map = nullptr;
    if (::dlinfo(m, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) return std::string();
    // The program's own entry carries an empty name.
    if (map->l_name == nullptr || map->l_name[0] == '\0') return program_file();
    return canonical_path(map->l_name);
  } catch (...) {
    return std::string();
  }
}

}  // namespace platform
