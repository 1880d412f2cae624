#include "dsm/source_list.h"

#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <set>

#include "dsm/dsm_log.h"
#include "platform/paths.h"

namespace dsm {
namespace {

constexpr const char* kSystemFolder = "/usr/local/lib/twain";
// Vendors install a source in its own subfolder; deeper trees are not ours.
constexpr int kMaxFolderDepth = 4;

// A TW_IDENTITY with room behind it for a careless source to overrun.
struct IdentityArea {
  TW_IDENTITY identity;
  unsigned char tail[DS_IDENTITY_TAIL_BYTES];
};

bool has_ds_suffix(const std::string& name) {
  return name.size() > 3 && name.compare(name.size() - 3, 3, ".ds") == 0;
}

void collect_files(const std::string& folder, int depth, std::vector<std::string>& out) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
      names.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string path = folder + "/" + name;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      if (depth < kMaxFolderDepth) collect_files(path, depth + 1, out);
    } else if (S_ISREG(info.st_mode) && has_ds_suffix(name)) {
      out.push_back(path);
    }
  }
}

std::string real_path(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

template <typename Fn>
Fn symbol(platform::ModuleHandle handle, const char* name) {
  return reinterpret_cast<Fn>(platform::module_symbol(handle, name));
}

// The application's form function, for the sources loaded from now on.
std::atomic<DS_HOSTFORMPROC> host_form{nullptr};

void add_device(SourceList& list, const IdentityArea& area, std::size_t module, TW_UINT32 index,
                TW_UINT32& next_id) {
  Device device;
  device.identity = area.identity;
  device.identity.Id = next_id++;
  device.module = module;
  device.index = index;
  dsm_log("device %u: '%.34s' (%s #%u)", device.identity.Id, device.identity.ProductName,
          list.modules[module].path.c_str(), index);
  if (const std::size_t overrun = identity_tail_length(area.tail); overrun > 0)
    dsm_log("device %u wrote %zu bytes past its identity", device.identity.Id, overrun);
  list.devices.push_back(device);
}

// The three functions of a source that presents several devices; null when
// it lacks one of them.
DS_DEVICECOUNTPROC device_count_of(const SourceModule& module) {
  const auto count_fn = symbol<DS_DEVICECOUNTPROC>(module.handle, DS_DEVICECOUNT_NAME);
  const bool complete = symbol<DS_DEVICEIDENTITYPROC>(module.handle, DS_DEVICEIDENTITY_NAME) &&
                        module.select_device != nullptr;
  return complete ? count_fn : nullptr;
}

// Lists the devices of `list.modules[module]`; the number listed.
std::size_t list_module_devices(SourceList& list, std::size_t module, const TW_IDENTITY& app,
                                TW_UINT32& next_id) {
  const SourceModule& source = list.modules[module];
  const auto count_fn = device_count_of(source);
  const auto identity_fn = symbol<DS_DEVICEIDENTITYPROC>(source.handle, DS_DEVICEIDENTITY_NAME);
  const std::size_t before = list.devices.size();
  if (count_fn != nullptr) {
    const TW_UINT32 count = count_fn();
    for (TW_UINT32 i = 0; i < count; ++i) {
      IdentityArea area{};
      if (identity_fn(i, &area.identity) == TWRC_SUCCESS) add_device(list, area, module, i, next_id);
    }
  } else {
    IdentityArea area{};
    TW_IDENTITY origin = app;
    if (source.entry(&origin, DG_CONTROL, DAT_IDENTITY, MSG_GET, &area.identity) == TWRC_SUCCESS)
      add_device(list, area, module, 0, next_id);
  }
  return list.devices.size() - before;
}

void load_module(SourceList& list, const std::string& path, const TW_IDENTITY& app,
                 TW_UINT32& next_id) {
  std::string error;
  platform::ModuleHandle handle = platform::module_open(path, &error);
  if (handle == nullptr) {
    dsm_log("cannot load %s: %s", path.c_str(), error.c_str());
    return;
  }
  SourceModule module;
  module.handle = handle;
  module.path = path;
  module.entry = symbol<DSENTRYPROC>(handle, DS_ENTRY_NAME);
  module.select_device = symbol<DS_SELECTDEVICEPROC>(handle, DS_SELECTDEVICE_NAME);
  if (const auto flags_fn = symbol<DS_PROTOCOLFLAGSPROC>(handle, DS_PROTOCOLFLAGS_NAME))
    module.protocol_flags = flags_fn();
  module.set_host_form = symbol<DS_SETHOSTFORMPROC>(handle, DS_SETHOSTFORM_NAME);
  if (module.set_host_form != nullptr) module.set_host_form(host_form.load());
  if (module.entry == nullptr) {
    dsm_log("%s has no %s", path.c_str(), DS_ENTRY_NAME);
    platform::module_close(handle);
    return;
  }
  // Its devices wait until someone needs them (see source_protocol.h).
  if ((module.protocol_flags & DS_PROTOCOL_LIST_ON_DEMAND) && device_count_of(module) != nullptr) {
    module.listed = false;
    list.modules.push_back(module);
    dsm_log("%s lists its devices on demand", path.c_str());
    return;
  }
  list.modules.push_back(module);
  if (list_module_devices(list, list.modules.size() - 1, app, next_id) == 0) {
    dsm_log("%s presents no device", path.c_str());
    platform::module_close(handle);
    list.modules.pop_back();
  }
}

}  // namespace

std::vector<std::string> source_folders() {
  std::vector<std::string> folders;
  const std::string program = platform::program_path();
  const std::size_t slash = program.rfind('/');
  if (slash != std::string::npos) folders.push_back(program.substr(0, slash) + "/twain");
  if (const char* path = std::getenv("QUILLET_TWAIN_PATH")) {
    std::string list = path;
    std::size_t start = 0;
    while (start <= list.size()) {
      std::size_t end = list.find(':', start);
      if (end == std::string::npos) end = list.size();
      if (end > start) folders.push_back(list.substr(start, end - start));
      start = end + 1;
    }
  }
  // An installed program's data sources: in the TWAIN folder of its own
  // install tree, found from the program's folder like its modules.
  if (const std::string installed = platform::installed_source_folder(); !installed.empty())
    folders.push_back(installed);
  folders.push_back(kSystemFolder);
  return folders;
}

SourceList source_list_scan(const TW_IDENTITY& app, TW_UINT32& next_id) {
  SourceList list;
  std::set<std::string> seen;
  for (const std::string& folder : source_folders()) {
    std::vector<std::string> files;
    collect_files(folder, 0, files);
    dsm_log("sources in %s: %zu file(s)", folder.c_str(), files.size());
    for (const std::string& file : files) {
      if (seen.insert(real_path(file)).second) load_module(list, file, app, next_id);
    }
  }
  return list;
}

bool source_list_on_demand(SourceList& list, TW_UINT32& next_id) {
  const std::size_t before = list.devices.size();
  for (std::size_t i = 0; i < list.modules.size(); ++i) {
    if (list.modules[i].listed) continue;
    // Asked once: a source that presents nothing now stays loaded (the
    // devices refer to modules by index) and is not asked again.
    list.modules[i].listed = true;
    const std::size_t added = list_module_devices(list, i, TW_IDENTITY{}, next_id);
    dsm_log("listed on demand: %s (%zu devices)", list.modules[i].path.c_str(), added);
  }
  return list.devices.size() > before;
}

bool source_list_pending(const SourceList& list) {
  return std::any_of(list.modules.begin(), list.modules.end(),
                     [](const SourceModule& m) { return !m.listed; });
}

void source_list_unload(SourceList& list) {
  list.devices.clear();
  for (SourceModule& module : list.modules) platform::module_close(module.handle);
  list.modules.clear();
}

void source_list_set_host_form(SourceList& list, DS_HOSTFORMPROC form) {
  host_form.store(form);
  for (const SourceModule& module : list.modules) {
    if (module.set_host_form != nullptr) module.set_host_form(form);
  }
}

void device_copy_identity(const Device& device, TW_IDENTITY* out) {
  // An application's TW_IDENTITY is 156 bytes and not one more.
  std::memcpy(out, &device.identity, sizeof(TW_IDENTITY));
}

std::size_t identity_tail_length(const unsigned char* tail) {
  if (tail[0] == 0) return 0;
  const void* end = std::memchr(tail, 0, DS_IDENTITY_TAIL_BYTES);
  return end != nullptr
             ? static_cast<std::size_t>(static_cast<const unsigned char*>(end) - tail) + 1
             : DS_IDENTITY_TAIL_BYTES;
}

}  // namespace dsm
