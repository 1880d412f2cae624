// Driving the real Source Manager (libtwaindsm.so) and the real virtual
// scanner through it with raw DSM_Entry calls, as an application does.
//
// The Source Manager is $QUILLET_DSM, else ../libtwaindsm.so beside the test
// program's folder; the sources are found through QUILLET_TWAIN_PATH (set by
// the fixture to $QUILLET_TEST_TWAIN, else the twain/ folder beside the
// Source Manager). Containers are read with a decoder of their own here, not
// with the source's code.
#pragma once
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "dsm/source_protocol.h"
#include "orivane/twain.h"
#include "platform/ui.h"

namespace dsm_test {

inline std::string program_folder() {
  char exe[PATH_MAX] = {};
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  const std::string path(exe, n > 0 ? static_cast<std::size_t>(n) : 0);
  return path.substr(0, path.rfind('/'));
}

inline std::string dsm_path() {
  if (const char* path = ::getenv("QUILLET_DSM"); path != nullptr && *path != '\0') return path;
  return program_folder() + "/../libtwaindsm.so";
}

inline std::string twain_folder() {
  if (const char* path = ::getenv("QUILLET_TEST_TWAIN"); path != nullptr && *path != '\0')
    return path;
  const std::string dsm = dsm_path();
  return dsm.substr(0, dsm.rfind('/')) + "/twain";
}

// Loaded once and kept: the Source Manager's state is process-wide, as it is
// in the program.
inline DSMENTRYPROC dsm_entry() {
  static DSMENTRYPROC entry = [] {
    void* handle = ::dlopen(dsm_path().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return DSMENTRYPROC(nullptr);
    return reinterpret_cast<DSMENTRYPROC>(::dlsym(handle, "DSM_Entry"));
  }();
  return entry;
}

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = ::getenv(name)) old_ = old;
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

class TempDir {
 public:
  TempDir() {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/dsmtest.XXXXXX";
    path_ = ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }
  std::string write(const std::string& name, const std::string& text) const {
    const std::string file = path_ + "/" + name;
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    std::ofstream(file, std::ios::binary) << text;
    return file;
  }
  std::string read(const std::string& name) const {
    std::ifstream in(path_ + "/" + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

 private:
  std::string path_;
};

// TWAIN structures are 2-byte packed: the harness keeps its own aligned, so
// that their 32-bit fields can be compared in place. (Pointers inside
// TW_ENTRYPOINT stay misaligned: copy them out before comparing.)
//
// An identity area as the library keeps one: room behind the 156 bytes for
// a source that writes past them.
struct alignas(8) IdentityArea {
  TW_IDENTITY identity{};
  unsigned char tail[DS_IDENTITY_TAIL_BYTES] = {};
  std::string name() const {
    return std::string(identity.ProductName, ::strnlen(identity.ProductName, 34));
  }
  // The whole name a careless source wrote, through the tail.
  std::string name_with_tail() const {
    const char* start = identity.ProductName;
    return std::string(start, ::strnlen(start, 34 + sizeof tail));
  }
};

// A capability container, decoded.
struct Container {
  TW_UINT16 kind = 0;
  TW_UINT16 item_type = 0;
  // One value: the item. Enumeration, array: the items. Range: min, max,
  // step, default, current.
  std::vector<double> items;
  std::vector<std::array<double, 4>> frames;  // FRAME items
  TW_UINT32 current_index = 0;
  TW_UINT32 default_index = 0;
  double range_current() const { return items.at(4); }
};

inline double fix32_value(const unsigned char* p) {
  TW_INT16 whole;
  TW_UINT16 frac;
  std::memcpy(&whole, p, 2);
  std::memcpy(&frac, p + 2, 2);
  return whole + frac / 65536.0;
}

inline void fix32_store(unsigned char* p, double value) {
  const auto n = static_cast<TW_INT32>(std::lround(value * 65536));
  const auto whole = static_cast<TW_INT16>(n >> 16);
  const auto frac = static_cast<TW_UINT16>(n & 0xffff);
  std::memcpy(p, &whole, 2);
  std::memcpy(p + 2, &frac, 2);
}

inline std::size_t item_bytes(TW_UINT16 type) {
  switch (type) {
    case TWTY_INT8:
    case TWTY_UINT8:
      return 1;
    case TWTY_INT16:
    case TWTY_UINT16:
    case TWTY_BOOL:
      return 2;
    case TWTY_FRAME:
      return 16;
    default:
      return 4;
  }
}

inline double item_value(const unsigned char* p, TW_UINT16 type) {
  switch (type) {
    case TWTY_INT8:
      return static_cast<TW_INT8>(p[0]);
    case TWTY_UINT8:
      return p[0];
    case TWTY_INT16: {
      TW_INT16 v;
      std::memcpy(&v, p, 2);
      return v;
    }
    case TWTY_UINT16:
    case TWTY_BOOL: {
      TW_UINT16 v;
      std::memcpy(&v, p, 2);
      return v;
    }
    case TWTY_INT32: {
      TW_INT32 v;
      std::memcpy(&v, p, 4);
      return v;
    }
    case TWTY_UINT32: {
      TW_UINT32 v;
      std::memcpy(&v, p, 4);
      return v;
    }
    case TWTY_FIX32:
      return fix32_value(p);
    default:
      return NAN;
  }
}

inline void item_store(unsigned char* p, TW_UINT16 type, double value) {
  switch (type) {
    case TWTY_FIX32:
      fix32_store(p, value);
      break;
    case TWTY_INT32:
    case TWTY_UINT32: {
      const auto v = static_cast<TW_INT32>(static_cast<long long>(value));
      std::memcpy(p, &v, 4);
      break;
    }
    case TWTY_INT8:
    case TWTY_UINT8:
      p[0] = static_cast<unsigned char>(static_cast<int>(value));
      break;
    default: {
      const auto v = static_cast<TW_UINT16>(static_cast<int>(value));
      std::memcpy(p, &v, 2);
    }
  }
}

// Decodes the container a source returned and frees it.
inline Container take_container(const TW_ENTRYPOINT& ep, TW_CAPABILITY& cap) {
  Container c;
  c.kind = cap.ConType;
  const auto* p = static_cast<const unsigned char*>(ep.DSM_MemLock(cap.hContainer));
  std::memcpy(&c.item_type, p, 2);
  const std::size_t size = item_bytes(c.item_type);
  auto read_items = [&](const unsigned char* at, TW_UINT32 n) {
    for (TW_UINT32 i = 0; i < n; ++i, at += size) {
      if (c.item_type == TWTY_FRAME) {
        c.frames.push_back(
            {fix32_value(at), fix32_value(at + 4), fix32_value(at + 8), fix32_value(at + 12)});
      } else {
        c.items.push_back(item_value(at, c.item_type));
      }
    }
  };
  TW_UINT32 n = 0;
  switch (c.kind) {
    case TWON_ONEVALUE:
      read_items(p + 2, 1);
      break;
    case TWON_ARRAY:
      std::memcpy(&n, p + 2, 4);
      read_items(p + 6, n);
      break;
    case TWON_ENUMERATION:
      std::memcpy(&n, p + 2, 4);
      std::memcpy(&c.current_index, p + 6, 4);
      std::memcpy(&c.default_index, p + 10, 4);
      read_items(p + 14, n);
      break;
    case TWON_RANGE:
      for (int i = 0; i < 5; ++i) c.items.push_back(item_value(p + 2 + 4 * i, c.item_type));
      break;
  }
  ep.DSM_MemUnlock(cap.hContainer);
  ep.DSM_MemFree(cap.hContainer);
  cap.hContainer = nullptr;
  return c;
}

// Containers for MSG_SET, made with the Source Manager's memory.
inline TW_HANDLE make_one_value(const TW_ENTRYPOINT& ep, TW_UINT16 type, double value) {
  TW_HANDLE h = ep.DSM_MemAllocate(type == TWTY_FRAME ? 18 : 6);
  auto* p = static_cast<unsigned char*>(ep.DSM_MemLock(h));
  std::memcpy(p, &type, 2);
  item_store(p + 2, type, value);
  ep.DSM_MemUnlock(h);
  return h;
}

inline TW_HANDLE make_frame(const TW_ENTRYPOINT& ep, std::array<double, 4> frame) {
  TW_HANDLE h = ep.DSM_MemAllocate(18);
  auto* p = static_cast<unsigned char*>(ep.DSM_MemLock(h));
  const TW_UINT16 type = TWTY_FRAME;
  std::memcpy(p, &type, 2);
  for (int i = 0; i < 4; ++i) fix32_store(p + 2 + 4 * i, frame[i]);
  ep.DSM_MemUnlock(h);
  return h;
}

// An enumeration (kind TWON_ENUMERATION) or array (TWON_ARRAY) of `items`.
inline TW_HANDLE make_list(const TW_ENTRYPOINT& ep, TW_UINT16 kind, TW_UINT16 type,
                           const std::vector<double>& items, TW_UINT32 current = 0) {
  const std::size_t header = kind == TWON_ENUMERATION ? 14 : 6;
  TW_HANDLE h =
      ep.DSM_MemAllocate(static_cast<TW_UINT32>(header + items.size() * item_bytes(type)));
  auto* p = static_cast<unsigned char*>(ep.DSM_MemLock(h));
  const auto n = static_cast<TW_UINT32>(items.size());
  std::memcpy(p, &type, 2);
  std::memcpy(p + 2, &n, 4);
  if (kind == TWON_ENUMERATION) {
    std::memcpy(p + 6, &current, 4);
    std::memcpy(p + 10, &current, 4);
  }
  for (std::size_t i = 0; i < items.size(); ++i)
    item_store(p + header + i * item_bytes(type), type, items[i]);
  ep.DSM_MemUnlock(h);
  return h;
}

inline TW_HANDLE make_range(const TW_ENTRYPOINT& ep, TW_UINT16 type, std::array<double, 5> values) {
  TW_HANDLE h = ep.DSM_MemAllocate(22);
  auto* p = static_cast<unsigned char*>(ep.DSM_MemLock(h));
  std::memcpy(p, &type, 2);
  for (int i = 0; i < 5; ++i) item_store(p + 2 + 4 * i, type, values[i]);
  ep.DSM_MemUnlock(h);
  return h;
}

// An application: its identity and raw calls to the Source Manager.
class App {
 public:
  explicit App(const char* product = "Harness App") {
    id.Version.MajorNum = 1;
    id.ProtocolMajor = 2;
    id.ProtocolMinor = 4;
    id.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_APP2;
    std::strncpy(id.Manufacturer, "Quillet Tests", sizeof id.Manufacturer - 1);
    std::strncpy(id.ProductName, product, sizeof id.ProductName - 1);
  }
  alignas(8) TW_IDENTITY id{};

  TW_UINT16 call(TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
    return dsm_entry()(&id, dest, dg, dat, msg, data);
  }
  TW_UINT16 control(TW_UINT16 dat, TW_UINT16 msg, void* data) {
    return call(nullptr, DG_CONTROL, dat, msg, data);
  }
  // Closes the Source Manager if the test left it open: the next test's
  // config is read only when no application has it open.
  ~App() {
    if (open_) close_dsm();
  }
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  TW_UINT16 open_dsm() {
    void* parent = nullptr;
    const TW_UINT16 rc = control(DAT_PARENT, MSG_OPENDSM, &parent);
    open_ = open_ || rc == TWRC_SUCCESS;
    return rc;
  }
  TW_UINT16 close_dsm() {
    void* parent = nullptr;
    const TW_UINT16 rc = control(DAT_PARENT, MSG_CLOSEDSM, &parent);
    open_ = open_ && rc != TWRC_SUCCESS;
    return rc;
  }
  // The condition code of the Source Manager, or of `source` when given.
  TW_UINT16 condition(TW_IDENTITY* source = nullptr) {
    TW_STATUS status{};
    status.ConditionCode = 0xbeef;
    if (call(source, DG_CONTROL, DAT_STATUS, MSG_GET, &status) != TWRC_SUCCESS) return 0xdead;
    return status.ConditionCode;
  }
  std::vector<std::string> list() {
    std::vector<std::string> names;
    IdentityArea area;
    for (TW_UINT16 msg = MSG_GETFIRST; control(DAT_IDENTITY, msg, &area.identity) == TWRC_SUCCESS;
         msg = MSG_GETNEXT) {
      names.push_back(area.name());
      area = IdentityArea{};
    }
    return names;
  }
  TW_ENTRYPOINT entry_points() {
    TW_ENTRYPOINT ep{};
    ep.Size = sizeof ep;
    control(DAT_ENTRYPOINT, MSG_GET, &ep);
    return ep;
  }

 private:
  bool open_ = false;
};

// A source opened by an application, with capability helpers.
class OpenSource {
 public:
  // Opens the source of that product name (the default when empty).
  OpenSource(App& app, const std::string& product = "") : app_(app) {
    std::strncpy(area.identity.ProductName, product.c_str(), 33);
    rc = app_.control(DAT_IDENTITY, MSG_OPENDS, &area.identity);
    ep = app_.entry_points();
  }
  ~OpenSource() {
    if (rc == TWRC_SUCCESS) app_.control(DAT_IDENTITY, MSG_CLOSEDS, &area.identity);
  }
  OpenSource(const OpenSource&) = delete;
  OpenSource& operator=(const OpenSource&) = delete;

  TW_UINT16 call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
    return app_.call(&area.identity, dg, dat, msg, data);
  }
  TW_UINT16 condition() { return app_.condition(&area.identity); }

  // A get (MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT, MSG_QUERYSUPPORT,
  // MSG_RESET); the container when the call succeeded.
  std::optional<Container> get(TW_UINT16 cap, TW_UINT16 msg = MSG_GET,
                               TW_UINT16* out_rc = nullptr) {
    TW_CAPABILITY c{cap, TWON_DONTCARE16, nullptr};
    const TW_UINT16 result = call(DG_CONTROL, DAT_CAPABILITY, msg, &c);
    if (out_rc != nullptr) *out_rc = result;
    if (result != TWRC_SUCCESS || c.hContainer == nullptr) return std::nullopt;
    return take_container(ep, c);
  }
  // The current value as a number (from a one value).
  double current(TW_UINT16 cap) {
    const auto c = get(cap, MSG_GETCURRENT);
    return c && !c->items.empty() ? c->items.front() : NAN;
  }
  // Sets a container (freed afterwards) of `kind`.
  TW_UINT16 set(TW_UINT16 cap, TW_UINT16 kind, TW_HANDLE container) {
    TW_CAPABILITY c{cap, kind, container};
    const TW_UINT16 result = call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &c);
    ep.DSM_MemFree(container);
    return result;
  }
  TW_UINT16 set_one(TW_UINT16 cap, TW_UINT16 type, double value) {
    return set(cap, TWON_ONEVALUE, make_one_value(ep, type, value));
  }

  IdentityArea area;
  TW_UINT16 rc = TWRC_FAILURE;
  TW_ENTRYPOINT ep{};

 private:
  App& app_;
};

// Every test starts with an empty home (no remembered default source), the
// built sources on the search path, no virtual scanner config, and no one to
// answer questions.
class DsmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(dsm_entry(), nullptr) << "cannot load " << dsm_path() << ": " << ::dlerror();
    ASSERT_FALSE(home_.path().empty());
    platform::ui_select(platform::UiKind::NonInteractive);
  }

  // Makes the virtual scanner present the devices of `text`.
  void use_config(const std::string& text) {
    config_.emplace("QUILLET_VSCAN", home_.write("vscan.ini", text).c_str());
  }

  TempDir home_;
  ScopedEnv env_home_{"HOME", home_.path().c_str()};
  ScopedEnv env_path_{"QUILLET_TWAIN_PATH", twain_folder().c_str()};
  ScopedEnv env_ui_{"QUILLET_UI", "none"};
  std::optional<ScopedEnv> config_{std::in_place, "QUILLET_VSCAN", nullptr};
};

}  // namespace dsm_test
