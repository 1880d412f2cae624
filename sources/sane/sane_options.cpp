#include "sources/sane/sane_options.h"

#include <dlfcn.h>
#include <link.h>
#include <pthread.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>

namespace sanebridge {
namespace {

// libsane's life in this process: started on first use, ended when the
// bridge is unloaded (the Source Manager's dlclose, or the end of the
// process). Devices still open are closed by sane_exit itself.
struct Library {
  std::once_flag once;
  bool started = false;
  ~Library() {
    if (started) sane_exit();
  }
};

Library& library() {
  static Library instance;
  return instance;
}

void* thread_that_exits(void*) {
  ::pthread_exit(nullptr);
}

// SANE's reader threads (sanei_thread) end with pthread_exit while
// sane_cancel cancels them asynchronously. The first unwinding in a process
// loads the unwinder (libgcc_s) under the dynamic loader's lock; a reader
// cancelled inside that load dies holding the lock, and every later dlopen
// or dlclose (the Source Manager unloading us) waits for ever. One thread
// ending here, before any reader exists, has the unwinder loaded for good.
void load_unwinder() {
  pthread_t thread;
  if (::pthread_create(&thread, nullptr, thread_that_exits, nullptr) == 0)
    ::pthread_join(thread, nullptr);
}

// The backends libsane loaded stay loaded past sane_exit, like libsane
// itself: a reader thread a backend cancelled may still be on its way out of
// the backend's code when sane_exit unloads it.
int pin_backend(dl_phdr_info* info, std::size_t, void*) {
  const char* name = info->dlpi_name;
  if (name != nullptr && std::strstr(name, "/sane/libsane-") != nullptr)
    ::dlopen(name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
  return 0;
}

// A reader that has written its whole frame ends at once; one that does
// not end within these waits is stuck on its device (or a backend's reader
// that outlives its frames) and is left to libsane.
constexpr std::chrono::milliseconds kReaderEndWait{250};
constexpr std::chrono::milliseconds kReaderAbortWait{2000};

std::string text(SANE_String_Const s) { return s != nullptr ? std::string(s) : std::string(); }

double from_word(const SANE_Option_Descriptor& desc, SANE_Word word) {
  return desc.type == SANE_TYPE_FIXED ? SANE_UNFIX(word) : static_cast<double>(word);
}

SANE_Word to_word(const SANE_Option_Descriptor& desc, double value) {
  // Rounded, not cut: 50.8 mm must not become 50.79999.
  return desc.type == SANE_TYPE_FIXED ? static_cast<SANE_Word>(std::lround(value * (1 << SANE_FIXED_SCALE_SHIFT)))
                                      : static_cast<SANE_Word>(std::lround(value));
}

bool is_number(const SANE_Option_Descriptor& desc) {
  return (desc.type == SANE_TYPE_INT || desc.type == SANE_TYPE_FIXED) &&
         desc.size == static_cast<SANE_Int>(sizeof(SANE_Word));
}

}  // namespace

bool sane_library_start() {
  Library& lib = library();
  std::call_once(lib.once, [&] {
    // libsane stays loaded when the Source Manager unloads the bridge: its
    // backends may leave threads and exit handlers behind (libusb), which
    // must not outlive their code.
    ::dlopen("libsane.so.1", RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    load_unwinder();
    SANE_Int version = 0;
    lib.started = sane_init(&version, nullptr) == SANE_STATUS_GOOD;
  });
  return lib.started;
}

std::vector<DeviceInfo> sane_list_devices() {
  std::vector<DeviceInfo> out;
  if (!sane_library_start()) return out;
  const SANE_Device** list = nullptr;
  if (sane_get_devices(&list, SANE_FALSE) != SANE_STATUS_GOOD || list == nullptr) return out;
  for (const SANE_Device** d = list; *d != nullptr; ++d)
    out.push_back({text((*d)->name), text((*d)->vendor), text((*d)->model), text((*d)->type)});
  return out;
}

std::unique_ptr<SaneDevice> SaneDevice::open(const std::string& name, SANE_Status& out_status) {
  if (!sane_library_start()) {
    out_status = SANE_STATUS_IO_ERROR;
    return nullptr;
  }
  SANE_Handle handle = nullptr;
  out_status = sane_open(name.c_str(), &handle);
  if (out_status != SANE_STATUS_GOOD || handle == nullptr) return nullptr;
  ::dl_iterate_phdr(pin_backend, nullptr);
  return std::unique_ptr<SaneDevice>(new SaneDevice(handle));
}

SaneDevice::~SaneDevice() {
  cancel();
  sane_close(handle_);
}

SANE_Status SaneDevice::start() {
  watch_.before_start();
  const SANE_Status status = sane_start(handle_);
  watch_.after_start();
  return status;
}

SANE_Status SaneDevice::read(SANE_Byte* data, SANE_Int max, SANE_Int& got, std::size_t remaining) {
  // The backend stops its reader inside the read that hands over the last
  // bytes: let the reader finish first.
  if (remaining > 0 && watch_.all_written(remaining)) watch_.settle(false, kReaderEndWait);
  got = 0;
  return sane_read(handle_, data, max, &got);
}

void SaneDevice::cancel() {
  watch_.settle(true, kReaderAbortWait);
  sane_cancel(handle_);
  watch_.release();
}

namespace {

Option option_named(SANE_Handle handle, const char* name, bool settable) {
  for (SANE_Int i = 1;; ++i) {
    const SANE_Option_Descriptor* desc = sane_get_option_descriptor(handle, i);
    if (desc == nullptr) return {};
    if (desc->name == nullptr || std::strcmp(desc->name, name) != 0) continue;
    if (!SANE_OPTION_IS_ACTIVE(desc->cap) || (settable && !SANE_OPTION_IS_SETTABLE(desc->cap)))
      return {};
    return Option{i, desc};
  }
}

}  // namespace

Option option_find(SANE_Handle handle, const char* name) { return option_named(handle, name, true); }

Option option_find_readable(SANE_Handle handle, const char* name) {
  return option_named(handle, name, false);
}

NumberChoices option_number_choices(const Option& option) {
  NumberChoices choices;
  const SANE_Option_Descriptor& desc = *option.desc;
  if (desc.constraint_type == SANE_CONSTRAINT_WORD_LIST && desc.constraint.word_list != nullptr) {
    choices.is_list = true;
    const SANE_Word* words = desc.constraint.word_list;
    for (SANE_Word i = 1; i <= words[0]; ++i) choices.list.push_back(from_word(desc, words[i]));
  } else if (desc.constraint_type == SANE_CONSTRAINT_RANGE && desc.constraint.range != nullptr) {
    choices.min = from_word(desc, desc.constraint.range->min);
    choices.max = from_word(desc, desc.constraint.range->max);
    choices.quant = from_word(desc, desc.constraint.range->quant);
  }
  return choices;
}

std::vector<std::string> option_string_choices(const Option& option) {
  std::vector<std::string> out;
  const SANE_Option_Descriptor& desc = *option.desc;
  if (desc.constraint_type != SANE_CONSTRAINT_STRING_LIST || desc.constraint.string_list == nullptr)
    return out;
  for (const SANE_String_Const* s = desc.constraint.string_list; *s != nullptr; ++s)
    out.emplace_back(*s);
  return out;
}

std::optional<double> option_get_number(SANE_Handle handle, const Option& option) {
  if (!option || !is_number(*option.desc)) return std::nullopt;
  SANE_Word word = 0;
  if (sane_control_option(handle, option.index, SANE_ACTION_GET_VALUE, &word, nullptr) !=
      SANE_STATUS_GOOD)
    return std::nullopt;
  return from_word(*option.desc, word);
}

std::optional<std::string> option_get_string(SANE_Handle handle, const Option& option) {
  if (!option || option.desc->type != SANE_TYPE_STRING || option.desc->size <= 0)
    return std::nullopt;
  std::string value(static_cast<std::size_t>(option.desc->size), '\0');
  if (sane_control_option(handle, option.index, SANE_ACTION_GET_VALUE, value.data(), nullptr) !=
      SANE_STATUS_GOOD)
    return std::nullopt;
  value.resize(::strnlen(value.c_str(), value.size()));
  return value;
}

std::optional<bool> option_get_flag(SANE_Handle handle, const Option& option) {
  if (!option || option.desc->type != SANE_TYPE_BOOL || option.desc->size != sizeof(SANE_Word))
    return std::nullopt;
  SANE_Word word = 0;
  if (sane_control_option(handle, option.index, SANE_ACTION_GET_VALUE, &word, nullptr) !=
      SANE_STATUS_GOOD)
    return std::nullopt;
  return word != SANE_FALSE;
}

SANE_Status option_set_number(SANE_Handle handle, const Option& option, double value) {
  if (!option || !is_number(*option.desc)) return SANE_STATUS_INVAL;
  SANE_Word word = to_word(*option.desc, value);
  return sane_control_option(handle, option.index, SANE_ACTION_SET_VALUE, &word, nullptr);
}

SANE_Status option_set_string(SANE_Handle handle, const Option& option, const std::string& value) {
  if (!option || option.desc->type != SANE_TYPE_STRING) return SANE_STATUS_INVAL;
  // The backend may read up to the option's size.
  std::string buffer = value;
  buffer.resize(std::max<std::size_t>(value.size() + 1, static_cast<std::size_t>(option.desc->size)),
                '\0');
  return sane_control_option(handle, option.index, SANE_ACTION_SET_VALUE, buffer.data(), nullptr);
}

}  // namespace sanebridge
