// The SANE bridge inside one process, through the real Source Manager: its
// devices are listed only when a run needs them, and a scan that ends on a
// device fault leaves the process's C library usable (libsane cancels its
// reader thread asynchronously; a reader cancelled inside the library would
// leave a lock taken that the next setlocale waits on for ever).
//
// libsane reads its configuration once per process, so every test here
// names the one it needs; ctest runs each test in a process of its own, and
// a test whose configuration another one already gave libsane is skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "../dsm/dsm_harness.h"

#if defined(__SANITIZE_ADDRESS__)
// SANE's test backend keeps the device records it makes for
// sane_get_devices past sane_exit (see tests/lsan.supp). Nothing else of it
// is let go: a reader thread cancelled in the middle of its page leaves its
// page buffer behind, which the leak checker then reports.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:sane_test_get_devices\nleak:sane_dll_get_devices\n";
}
#endif

namespace dsm_test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kSaneDevice = "Noname frontend-tester";

// Gives libsane a configuration naming only `backend`, with `options` for
// SANE's test backend; false when this process's libsane already has
// another one, or there is no bridge.
bool use_sane_backend(const std::string& backend, const std::string& options = "") {
  static std::string given;
  const std::string wanted = backend + "\n" + options;
  if (!given.empty()) return given == wanted;
  if (!std::filesystem::exists(twain_folder() + "/SaneBridge.ds")) return false;
  static TempDir dir;
  dir.write("dll.conf", backend + "\n");
  dir.write("test.conf", "number_of_devices 1\n" + options);
  ::setenv("SANE_CONFIG_DIR", dir.path().c_str(), 1);
#ifdef ORV_FAKE_SANE_DIR
  // libsane's dll backend looks for backends along LD_LIBRARY_PATH first.
  ::setenv("LD_LIBRARY_PATH", ORV_FAKE_SANE_DIR, 1);
#endif
  given = wanted;
  return true;
}

bool use_sane_test_backend(const std::string& options) { return use_sane_backend("test", options); }

class SaneBridge : public DsmTest {
 protected:
  // The Source Manager's notes of this test, emptied.
  std::string dsm_log() {
    std::string text = home_.read("dsm.log");
    std::filesystem::remove(home_.path() + "/dsm.log");
    return text;
  }
  ScopedEnv env_log_{"QUILLET_DSM_LOG", (home_.path() + "/dsm.log").c_str()};
  ScopedEnv env_sane_{"QUILLET_SANE", nullptr};
};

// What a run asks of the Source Manager decides whether SANE is started:
// the default source, or a device named exactly, never start it.
TEST_F(SaneBridge, ListsSaneDevicesOnlyWhenARunNeedsThem) {
  if (!use_sane_test_backend("")) GTEST_SKIP() << "libsane has another configuration here";
  struct Case {
    const char* label;
    const char* remembered;  // the default source chosen earlier ("" none)
    TW_UINT16 msg;
    const char* product;  // in the identity passed
    const char* answer;   // product name of the identity returned
    bool listed;
  };
  const Case cases[] = {
      {"the default source", "", MSG_OPENDS, "", "Virtual Scanner", false},
      {"the default's identity", "", MSG_GETDEFAULT, "", "Virtual Scanner", false},
      {"a device named exactly", "", MSG_OPENDS, "Virtual Scanner", "Virtual Scanner", false},
      {"a SANE device by name", "", MSG_OPENDS, kSaneDevice, kSaneDevice, true},
      {"a name nobody has", "", MSG_OPENDS, "No Such Scanner", "", true},
      {"a remembered SANE device", kSaneDevice, MSG_GETDEFAULT, "", kSaneDevice, true},
      {"the person's choice", "", MSG_USERSELECT, "", "Virtual Scanner", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::filesystem::remove_all(home_.path() + "/.twndsmrc");
    if (*c.remembered != '\0') home_.write(".twndsmrc/defaultds", std::string(c.remembered) + "\n");
    App app;
    ASSERT_EQ(app.open_dsm(), TWRC_SUCCESS);
    IdentityArea area;
    std::strncpy(area.identity.ProductName, c.product, 33);
    const TW_UINT16 rc = app.control(DAT_IDENTITY, c.msg, &area.identity);
    EXPECT_EQ(rc == TWRC_SUCCESS ? area.name() : "", c.answer);
    if (c.msg == MSG_OPENDS && rc == TWRC_SUCCESS)
      app.control(DAT_IDENTITY, MSG_CLOSEDS, &area.identity);
    app.close_dsm();
    EXPECT_EQ(dsm_log().find("listed on demand") != std::string::npos, c.listed);
  }
  // The walk of the list ends with the SANE devices, listed when it gets
  // there.
  App app;
  ASSERT_EQ(app.open_dsm(), TWRC_SUCCESS);
  EXPECT_EQ(app.list(), (std::vector<std::string>{"Virtual Scanner", kSaneDevice}));
  app.close_dsm();
}

TEST_F(SaneBridge, QuilletSaneZeroTurnsTheBridgeOff) {
  if (!use_sane_test_backend("")) GTEST_SKIP() << "libsane has another configuration here";
  ScopedEnv off("QUILLET_SANE", "0");
  App app;
  ASSERT_EQ(app.open_dsm(), TWRC_SUCCESS);
  EXPECT_EQ(app.list(), std::vector<std::string>{"Virtual Scanner"});
  IdentityArea area;
  std::strncpy(area.identity.ProductName, kSaneDevice, 33);
  EXPECT_EQ(app.control(DAT_IDENTITY, MSG_OPENDS, &area.identity), TWRC_FAILURE);
  app.close_dsm();
}

// True when setlocale, a locale made and freed, strerror and malloc all
// return within the time: nothing left a C-library lock taken.
bool c_library_answers() {
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> answered = done->get_future();
  std::thread([done] {
    std::setlocale(LC_ALL, "C");
    if (locale_t l = ::newlocale(LC_ALL_MASK, "C.UTF-8", nullptr)) ::freelocale(l);
    (void)std::strerror(EPIPE);
    delete[] new char[1 << 20];
    done->set_value();
  }).detach();
  return answered.wait_for(10s) == std::future_status::ready;
}

// A page of 1.1 MB (300 dpi gray) jams while the backend's reader is still
// writing it into its pipe (which holds 64 KB). The bridge lets the reader
// finish its page before sane_cancel: a reader cancelled instead leaves its
// page buffer to the leak checker, and may leave a C-library lock taken,
// which the next setlocale would wait on for ever.
TEST_F(SaneBridge, AFailedScanLeavesTheProcessUsable) {
  if (!use_sane_test_backend("resolution 300\nread-status-code \"SANE_STATUS_JAMMED\"\n"))
    GTEST_SKIP() << "libsane has another configuration here";
  App app;
  ASSERT_EQ(app.open_dsm(), TWRC_SUCCESS);
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE(round);
    OpenSource source(app, kSaneDevice);
    ASSERT_EQ(source.rc, TWRC_SUCCESS);
    TW_USERINTERFACE ui{};
    ASSERT_EQ(source.call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
    // As while an application answers MSG_XFERREADY: the reader fills the
    // pipe and waits in its write.
    std::this_thread::sleep_for(100ms);
    TW_HANDLE dib = nullptr;
    EXPECT_EQ(source.call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib), TWRC_FAILURE);
    EXPECT_EQ(source.condition(), TWCC_PAPERJAM);
    TW_PENDINGXFERS pending{};
    EXPECT_EQ(source.call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS);
    EXPECT_EQ(source.call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
    if (!c_library_answers()) {
      ADD_FAILURE() << "a C-library lock stayed taken after the jam";
      std::_Exit(1);  // the process cannot even end cleanly now
    }
  }
  app.close_dsm();
}

// The fake backend's device: resolutions apart, a gamma, a paper sensor and
// a 100 mm square bed.
TEST_F(SaneBridge, DeviceOptionsBecomeTheirCapabilities) {
  if (!use_sane_backend("fake")) GTEST_SKIP() << "libsane has another configuration here";
  App app;
  ASSERT_EQ(app.open_dsm(), TWRC_SUCCESS);
  OpenSource source(app, "Fake Scanner");
  ASSERT_EQ(source.rc, TWRC_SUCCESS);
  struct Case {
    TW_UINT16 cap;
    TW_UINT16 type;
    double value;
  };
  for (const Case& c : {Case{ICAP_XRESOLUTION, TWTY_FIX32, 150}, Case{ICAP_YRESOLUTION, TWTY_FIX32, 300},
                        Case{ICAP_GAMMA, TWTY_FIX32, 2.2}, Case{ICAP_SUPPORTEDSIZES, TWTY_UINT16, TWSS_NONE}}) {
    SCOPED_TRACE(c.cap);
    EXPECT_EQ(source.set_one(c.cap, c.type, c.value), TWRC_SUCCESS);
    EXPECT_NEAR(source.current(c.cap), c.value, 1.0 / 65536);
  }
  // Setting one axis leaves the other.
  EXPECT_EQ(source.current(ICAP_XRESOLUTION), 150);
  const auto sizes = source.get(ICAP_SUPPORTEDSIZES);
  ASSERT_TRUE(sizes);
  // A business card (51 x 89 mm) fits the bed, A6 (105 mm wide) does not.
  EXPECT_NE(std::find(sizes->items.begin(), sizes->items.end(), TWSS_BUSINESSCARD), sizes->items.end());
  EXPECT_EQ(std::find(sizes->items.begin(), sizes->items.end(), TWSS_A6), sizes->items.end());
  EXPECT_EQ(source.set_one(ICAP_SUPPORTEDSIZES, TWTY_UINT16, TWSS_A6), TWRC_FAILURE);
  // The sensor is read each time it is asked.
  EXPECT_EQ(source.current(CAP_PAPERDETECTABLE), 1);
  for (const char* loaded : {"0", "1"}) {
    ScopedEnv sensor("FAKE_SANE_PAGE_LOADED", loaded);
    EXPECT_EQ(source.current(CAP_FEEDERLOADED), std::atoi(loaded)) << loaded;
  }
  // The page has the two resolutions and the gamma the device was given
  // (its pixels are 40 x gamma).
  TW_USERINTERFACE ui{};
  ASSERT_EQ(source.call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
  TW_IMAGEINFO info{};
  ASSERT_EQ(source.call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
  EXPECT_EQ(info.ImageWidth, 295);  // 50 mm at 150 dpi
  EXPECT_EQ(info.ImageLength, 590);  // 50 mm at 300 dpi
  EXPECT_EQ(info.YResolution.Whole, 300);
  TW_HANDLE dib = nullptr;
  ASSERT_EQ(source.call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib), TWRC_XFERDONE);
  const auto* header = static_cast<const std::uint8_t*>(source.ep.DSM_MemLock(dib));
  std::int32_t ppm_x = 0, ppm_y = 0;
  std::memcpy(&ppm_x, header + 24, 4);
  std::memcpy(&ppm_y, header + 28, 4);
  EXPECT_EQ(ppm_x, 5906);
  EXPECT_EQ(ppm_y, 11811);
  EXPECT_EQ(header[40 + 256 * 4], 88);  // the first pixel, after the gray table
  source.ep.DSM_MemUnlock(dib);
  source.ep.DSM_MemFree(dib);
  TW_PENDINGXFERS pending{};
  EXPECT_EQ(source.call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS);
  EXPECT_EQ(source.call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
  // A feeder without paper refuses the scan.
  ScopedEnv empty("FAKE_SANE_PAGE_LOADED", "0");
  EXPECT_EQ(source.set_one(CAP_FEEDERENABLED, TWTY_BOOL, 1), TWRC_SUCCESS);
  EXPECT_EQ(source.call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_FAILURE);
  EXPECT_EQ(source.condition(), TWCC_NOMEDIA);
}

}  // namespace
}  // namespace dsm_test
