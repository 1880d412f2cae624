// The Source Manager as an application meets it: its states, the source list,
// the default source, opening and closing, routing, its memory entry points
// and the notifications it relays.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <memory>
#include <set>

#include "dsm/manager_protocol.h"
#include "dsm_harness.h"

namespace dsm_test {
namespace {

constexpr const char* kThreeDevices = R"(
[device]
product = Alpha Scanner
manufacturer = Maker One
family = Family One
[device]
product = Beta Scanner
feeder = no
[device]
product = Gamma Scanner
)";

using SourceManager = DsmTest;

TEST_F(SourceManager, CallsBeforeOpeningAreSequenceErrors) {
  App app;
  IdentityArea area;
  TW_ENTRYPOINT ep{};
  ep.Size = sizeof ep;
  TW_CALLBACK2 callback{};
  struct Case {
    const char* name;
    TW_UINT16 dat, msg;
    void* data;
  } cases[] = {
      {"GETFIRST", DAT_IDENTITY, MSG_GETFIRST, &area.identity},
      {"GETDEFAULT", DAT_IDENTITY, MSG_GETDEFAULT, &area.identity},
      {"USERSELECT", DAT_IDENTITY, MSG_USERSELECT, &area.identity},
      {"OPENDS", DAT_IDENTITY, MSG_OPENDS, &area.identity},
      {"CLOSEDS", DAT_IDENTITY, MSG_CLOSEDS, &area.identity},
      {"ENTRYPOINT", DAT_ENTRYPOINT, MSG_GET, &ep},
      {"CALLBACK2", DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &callback},
      {"CLOSEDSM", DAT_PARENT, MSG_CLOSEDSM, nullptr},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(app.control(c.dat, c.msg, c.data), TWRC_FAILURE) << c.name;
    EXPECT_EQ(app.condition(), TWCC_SEQERROR) << c.name;
  }
  TW_IDENTITY source{};
  source.Id = 1;
  EXPECT_EQ(app.call(&source, DG_CONTROL, DAT_CAPABILITY, MSG_GET, nullptr), TWRC_FAILURE);
  EXPECT_EQ(app.condition(), TWCC_SEQERROR);
}

TEST_F(SourceManager, OpenGivesEachApplicationItsOwnIdOnce) {
  App first("First"), second("Second");
  ASSERT_EQ(first.open_dsm(), TWRC_SUCCESS);
  ASSERT_EQ(second.open_dsm(), TWRC_SUCCESS);
  EXPECT_NE(first.id.Id, 0u);
  EXPECT_NE(first.id.Id, second.id.Id);
  EXPECT_TRUE(first.id.SupportedGroups & DF_DSM2);
  EXPECT_EQ(first.open_dsm(), TWRC_FAILURE);
  EXPECT_EQ(first.condition(), TWCC_SEQERROR);
  // The condition code is read once.
  EXPECT_EQ(first.condition(), TWCC_SUCCESS);
  EXPECT_EQ(first.close_dsm(), TWRC_SUCCESS);
  EXPECT_EQ(first.close_dsm(), TWRC_FAILURE);
  EXPECT_EQ(second.close_dsm(), TWRC_SUCCESS);
}

TEST_F(SourceManager, ListsEveryConfiguredDeviceOnceWithDistinctIds) {
  use_config(kThreeDevices);
  App app;
  ASSERT_EQ(app.open_dsm(), TWRC_SUCCESS);
  IdentityArea area;
  EXPECT_EQ(app.control(DAT_IDENTITY, MSG_GETNEXT, &area.identity), TWRC_FAILURE)
      << "GETNEXT before GETFIRST";
  EXPECT_EQ(app.condition(), TWCC_SEQERROR);

  std::vector<IdentityArea> listed;
  for (TW_UINT16 msg = MSG_GETFIRST; app.control(DAT_IDENTITY, msg, &area.identity) == TWRC_SUCCESS;
       msg = MSG_GETNEXT)
    listed.push_back(area);
  ASSERT_EQ(listed.size(), 3u);
  EXPECT_STREQ(listed[0].identity.ProductName, "Alpha Scanner");
  EXPECT_STREQ(listed[0].identity.Manufacturer, "Maker One");
  EXPECT_STREQ(listed[0].identity.ProductFamily, "Family One");
  EXPECT_STREQ(listed[1].identity.ProductName, "Beta Scanner");
  EXPECT_STREQ(listed[2].identity.ProductName, "Gamma Scanner");
  std::set<TW_UINT32> ids;
  for (const IdentityArea& area : listed) {
    const TW_IDENTITY& identity = area.identity;
    ids.insert(identity.Id);
    EXPECT_EQ(identity.ProtocolMajor, 2);
    EXPECT_EQ(identity.SupportedGroups & (DG_CONTROL | DG_IMAGE | DF_DS2),
              DG_CONTROL | DG_IMAGE | DF_DS2);
  }
  EXPECT_EQ(ids.size(), 3u);
  EXPECT_EQ(ids.count(0), 0u);
  // The end stays the end.
  EXPECT_EQ(app.control(DAT_IDENTITY, MSG_GETNEXT, &area.identity), TWRC_ENDOFLIST);
  EXPECT_EQ(app.close_dsm(), TWRC_SUCCESS);
}

TEST_F(SourceManager, WithoutConfigThereIsTheBuiltInScanner) {
  App app;
  ASSERT_EQ(app.open_dsm(), TWRC_SUCCESS);
  EXPECT_EQ(app.list(), std::vector<std::string>{"Virtual Scanner"});
  app.close_dsm();
}

TEST_F(SourceManager, AnEmptyConfigListsNothingAndHasNoDefault) {
  use_config("# no devices\n");
  App app;
  ASSERT_EQ(app.open_dsm(), TWRC_SUCCESS);
  IdentityArea area;
  EXPECT_EQ(app.control(DAT_IDENTITY, MSG_GETFIRST, &area.identity), TWRC_ENDOFLIST);
  for (TW_UINT16 msg : {MSG_GETDEFAULT, MSG_OPENDS, MSG_USERSELECT}) {
    EXPECT_EQ(app.control(DAT_IDENTITY, msg, &area.identity), TWRC_FAILURE) << msg;
    EXPECT_EQ(app.condition(), TWCC_NODS) << msg;
  }
  app.close_dsm();
}

TEST_F(SourceManager, TheSameFolderTwiceOnThePathListsItsSourcesOnce) {
  const std::string twice = twain_folder() + ":" + twain_folder() + "/.";
  ScopedEnv path("QUILLET_TWAIN_PATH", twice.c_str());
  // A file that only looks like a source is passed over.
  TempDir junk;
  junk.write("Broken.ds", "not a shared object");
  const std::string with_junk = junk.path() + ":" + twice;
  ScopedEnv path2("QUILLET_TWAIN_PATH", with_junk.c_str());
  App app;
  ASSERT_EQ(app.open_dsm(), TWRC_SUCCESS);
  EXPECT_EQ(app.list(), std::vector<std::string>{"Virtual Scanner"});
  app.close_dsm();
}

// The remembered default is a name in a small file; a FIFO put there is not
// waited on: the first source is the default.
TEST_F(SourceManager, ARememberedDefaultThatIsAFifoIsIgnored) {
  use_config(kThreeDevices);
  std::filesystem::create_directories(home_.path() + "/.twndsmrc");
  ASSERT_EQ(::mkfifo((home_.path() + "/.twndsmrc/defaultds").c_str(), 0600), 0);
  App app;
  ASSERT_EQ(app.open_dsm(), TWRC_SUCCESS);
  IdentityArea area;
  EXPECT_EQ(app.control(DAT_IDENTITY, MSG_GETDEFAULT, &area.identity), TWRC_SUCCESS);
  EXPECT_EQ(area.name(), "Alpha Scanner");
  app.close_dsm();
}

TEST_F(SourceManager, DefaultSourceIsTheRememberedOneElseTheFirst) {
  use_config(kThreeDevices);
  struct Case {
    std::optional<std::string> remembered;
    const char* expected;
  } cases[] = {
      {std::nullopt, "Alpha Scanner"},
      {"Gamma Scanner\n", "Gamma Scanner"},
      {"Beta Scanner\r\n", "Beta Scanner"},
      {"No Such Scanner\n", "Alpha Scanner"},
      {"", "Alpha Scanner"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(home_.path() + "/.twndsmrc");
    if (c.remembered) home_.write(".twndsmrc/defaultds", *c.remembered);
    App app;
    ASSERT_EQ(app.open_dsm(), TWRC_SUCCESS);
    IdentityArea area;
    EXPECT_EQ(app.control(DAT_IDENTITY, MSG_GETDEFAULT, &area.identity), TWRC_SUCCESS);
    EXPECT_EQ(area.name(), c.expected) << c.remembered.value_or("(none)");
    // A zeroed identity opens the default source.
    IdentityArea opened;
    EXPECT_EQ(app.control(DAT_IDENTITY, MSG_OPENDS, &opened.identity), TWRC_SUCCESS);
    EXPECT_EQ(opened.name(), c.expected);
    EXPECT_EQ(opened.identity.Id, area.identity.Id);
    EXPECT_EQ(app.control(DAT_IDENTITY, MSG_CLOSEDS, &opened.identity), TWRC_SUCCESS);
    app.close_dsm();
  }
}

TEST_F(SourceManager, UserSelectWithNoOneToAskTakesThePreselectedSourceAndRemembersIt) {
  use_config(kThreeDevices);
  App app;
  ASSERT_EQ(app.open_dsm(), TWRC_SUCCESS);
  IdentityArea area;
  std::strcpy(area.identity.ProductName, "Beta Scanner");
  EXPECT_EQ(app.control(DAT_IDENTITY, MSG_USERSELECT, &area.identity), TWRC_SUCCESS);
  EXPECT_EQ(area.name(), "Beta Scanner");
  EXPECT_NE(area.identity.Id, 0u);
  EXPECT_EQ(home_.read(".twndsmrc/defaultds"), "Beta Scanner\n");
  app.close_dsm();

  // The choice holds for the next program; an empty identity preselects it.
  App next;
  ASSERT_EQ(next.open_dsm(), TWRC_SUCCESS);
  IdentityArea fresh;
  EXPECT_EQ(next.control(DAT_IDENTITY, MSG_GETDEFAULT, &fresh.identity), TWRC_SUCCESS);
  EXPECT_EQ(fresh.name(), "Beta Scanner");
  IdentityArea again;
  EXPECT_EQ(next.control(DAT_IDENTITY, MSG_USERSELECT, &again.identity), TWRC_SUCCESS);
  EXPECT_EQ(again.name(), "Beta Scanner");
  next.close_dsm();
}

// Answers questions from a script, and counts them.
class ScriptedUi : public platform::UiBackend {
 public:
  explicit ScriptedUi(std::vector<platform::UiAnswer> answers, int* asked)
      : answers_(std::move(answers)), asked_(asked) {}
  const char* name() const override { return "scripted"; }
  void message_box(const std::string&, const std::string&, platform::UiIcon) override {}
  platform::UiAnswer ask(const std::string&, const std::string&, platform::UiButtons,
                         platform::UiAnswer) override {
    const auto answer = answers_.at(static_cast<std::size_t>((*asked_)++) % answers_.size());
    return answer;
  }

 private:
  std::vector<platform::UiAnswer> answers_;
  int* asked_;
};

TEST_F(SourceManager, UserSelectFollowsTheAnswers) {
  use_config(kThreeDevices);
  using A = platform::UiAnswer;
  struct Case {
    std::vector<A> answers;
    TW_UINT16 rc;
    const char* chosen;  // and remembered
  } cases[] = {
      {{A::Yes}, TWRC_SUCCESS, "Alpha Scanner"},
      {{A::No, A::No, A::Yes}, TWRC_SUCCESS, "Gamma Scanner"},
      {{A::No, A::Cancel}, TWRC_CANCEL, nullptr},
      {{A::No}, TWRC_CANCEL, nullptr},  // every source declined
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(home_.path() + "/.twndsmrc");
    int asked = 0;
    platform::ui_install(std::make_unique<ScriptedUi>(c.answers, &asked));
    App app;
    ASSERT_EQ(app.open_dsm(), TWRC_SUCCESS);
    IdentityArea area;
    const TW_UINT16 rc = app.control(DAT_IDENTITY, MSG_USERSELECT, &area.identity);
    app.close_dsm();
    platform::ui_select(platform::UiKind::NonInteractive);
    if (asked == 0) GTEST_SKIP() << "the Source Manager does not share this program's interface";
    EXPECT_EQ(rc, c.rc);
    if (c.chosen != nullptr) {
      EXPECT_EQ(area.name(), c.chosen);
      EXPECT_EQ(home_.read(".twndsmrc/defaultds"), std::string(c.chosen) + "\n");
    } else {
      EXPECT_FALSE(std::filesystem::exists(home_.path() + "/.twndsmrc/defaultds"));
    }
  }
}

TEST_F(SourceManager, OpensBySourceIdOrNameAndRefusesWhatItCannotFind) {
  use_config(kThreeDevices);
  App app;
  ASSERT_EQ(app.open_dsm(), TWRC_SUCCESS);
  IdentityArea listed;
  app.control(DAT_IDENTITY, MSG_GETFIRST, &listed.identity);
  app.control(DAT_IDENTITY, MSG_GETNEXT, &listed.identity);  // Beta

  IdentityArea by_id;
  by_id.identity.Id = listed.identity.Id;
  ASSERT_EQ(app.control(DAT_IDENTITY, MSG_OPENDS, &by_id.identity), TWRC_SUCCESS);
  EXPECT_EQ(by_id.name(), "Beta Scanner");
  EXPECT_STREQ(by_id.identity.Manufacturer, "Quillet Project");
  // Opening it again is out of sequence; another source can be opened beside
  // it only if the driver allows (ours presents one device per application).
  IdentityArea again = by_id;
  EXPECT_EQ(app.control(DAT_IDENTITY, MSG_OPENDS, &again.identity), TWRC_FAILURE);
  EXPECT_EQ(app.condition(), TWCC_SEQERROR);
  IdentityArea other;
  std::strcpy(other.identity.ProductName, "Gamma Scanner");
  EXPECT_EQ(app.control(DAT_IDENTITY, MSG_OPENDS, &other.identity), TWRC_FAILURE);
  EXPECT_EQ(app.condition(), TWCC_MAXCONNECTIONS);
  EXPECT_EQ(other.name(), "Gamma Scanner") << "the area names the source that was tried";
  EXPECT_EQ(app.close_dsm(), TWRC_FAILURE) << "a source is still open";
  EXPECT_EQ(app.condition(), TWCC_SEQERROR);
  EXPECT_EQ(app.control(DAT_IDENTITY, MSG_CLOSEDS, &by_id.identity), TWRC_SUCCESS);
  EXPECT_EQ(app.control(DAT_IDENTITY, MSG_CLOSEDS, &by_id.identity), TWRC_FAILURE);
  EXPECT_EQ(app.condition(), TWCC_SEQERROR);

  IdentityArea by_name;
  std::strcpy(by_name.identity.ProductName, "Gamma Scanner");
  ASSERT_EQ(app.control(DAT_IDENTITY, MSG_OPENDS, &by_name.identity), TWRC_SUCCESS);
  EXPECT_NE(by_name.identity.Id, 0u);
  EXPECT_EQ(app.control(DAT_IDENTITY, MSG_CLOSEDS, &by_name.identity), TWRC_SUCCESS);

  struct Missing {
    TW_UINT32 id;
    const char* name;
  } missing[] = {{0, "No Such Scanner"}, {0xfffff, ""}};
  for (const Missing& m : missing) {
    IdentityArea area;
    area.identity.Id = m.id;
    std::strcpy(area.identity.ProductName, m.name);
    EXPECT_EQ(app.control(DAT_IDENTITY, MSG_OPENDS, &area.identity), TWRC_FAILURE) << m.name;
    EXPECT_EQ(app.condition(), TWCC_NODS) << m.name;
    EXPECT_EQ(app.control(DAT_IDENTITY, MSG_CLOSEDS, &area.identity), TWRC_FAILURE) << m.name;
    EXPECT_EQ(app.condition(), TWCC_NODS) << m.name;
  }
  EXPECT_EQ(app.close_dsm(), TWRC_SUCCESS);
}

TEST_F(SourceManager, ASourceOpenElsewhereRefusesASecondApplication) {
  App first("First"), second("Second");
  ASSERT_EQ(first.open_dsm(), TWRC_SUCCESS);
  ASSERT_EQ(second.open_dsm(), TWRC_SUCCESS);
  OpenSource held(first);
  ASSERT_EQ(held.rc, TWRC_SUCCESS);
  IdentityArea area;
  EXPECT_EQ(second.control(DAT_IDENTITY, MSG_OPENDS, &area.identity), TWRC_FAILURE);
  // The source's reason, read from the Source Manager after the failed open.
  EXPECT_EQ(second.condition(), TWCC_MAXCONNECTIONS);
  // Calls for a source the application has not opened go nowhere.
  TW_CAPABILITY cap{ICAP_PIXELTYPE, TWON_DONTCARE16, nullptr};
  EXPECT_EQ(second.call(&held.area.identity, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap),
            TWRC_FAILURE);
  EXPECT_EQ(second.condition(), TWCC_BADDEST);
  second.close_dsm();
}

TEST_F(SourceManager, ReleasingAnApplicationFreesWhatItLeftOpen) {
  // The program keeps the Source Manager mapped: an application that leaves
  // with a source open (here: enabled, an image waiting) is released, and the
  // device can be opened again in the same process.
  void* module = ::dlopen(dsm_path().c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr);
  const auto release = reinterpret_cast<DSM_RELEASEAPPLICATIONPROC>(
      ::dlsym(module, DSM_RELEASEAPPLICATION_NAME));
  ASSERT_NE(release, nullptr) << "the Source Manager does not export " << DSM_RELEASEAPPLICATION_NAME;
  App leaving("Leaving");
  ASSERT_EQ(leaving.open_dsm(), TWRC_SUCCESS);
  IdentityArea source;
  ASSERT_EQ(leaving.control(DAT_IDENTITY, MSG_OPENDS, &source.identity), TWRC_SUCCESS);
  TW_USERINTERFACE ui{0, 0, nullptr};
  ASSERT_EQ(leaving.call(&source.identity, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui),
            TWRC_SUCCESS);
  TW_IMAGEINFO info{};
  for (int i = 0; i < 200 && leaving.call(&source.identity, DG_IMAGE, DAT_IMAGEINFO, MSG_GET,
                                           &info) != TWRC_SUCCESS;
       ++i)
    ::usleep(10000);
  EXPECT_EQ(release(&leaving.id), 1u);
  EXPECT_EQ(release(&leaving.id), 0u) << "released once";
  EXPECT_EQ(leaving.close_dsm(), TWRC_FAILURE) << "the application is gone";

  App next("Next");
  ASSERT_EQ(next.open_dsm(), TWRC_SUCCESS);
  IdentityArea again;
  EXPECT_EQ(next.control(DAT_IDENTITY, MSG_OPENDS, &again.identity), TWRC_SUCCESS)
      << "condition " << next.condition();
  next.control(DAT_IDENTITY, MSG_CLOSEDS, &again.identity);
  next.close_dsm();
  ::dlclose(module);
}

TEST_F(SourceManager, EntryPointsHandOutSharedMovableMemory) {
  App app;
  ASSERT_EQ(app.open_dsm(), TWRC_SUCCESS);
  TW_ENTRYPOINT small{};
  small.Size = sizeof small - 1;
  EXPECT_EQ(app.control(DAT_ENTRYPOINT, MSG_GET, &small), TWRC_FAILURE);
  EXPECT_EQ(app.condition(), TWCC_BADVALUE);

  const TW_ENTRYPOINT ep = app.entry_points();
  const TW_UINT32 size = ep.Size;
  const DSMENTRYPROC entry = ep.DSM_Entry;
  EXPECT_EQ(size, sizeof ep);
  EXPECT_EQ(entry, dsm_entry());
  ASSERT_TRUE(ep.DSM_MemAllocate && ep.DSM_MemFree && ep.DSM_MemLock && ep.DSM_MemUnlock);
  TW_HANDLE block = ep.DSM_MemAllocate(64);
  ASSERT_NE(block, nullptr);
  auto* bytes = static_cast<unsigned char*>(ep.DSM_MemLock(block));
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(bytes[63], 0) << "blocks start zeroed";
  std::memset(bytes, 0x5a, 64);
  ep.DSM_MemUnlock(block);
  EXPECT_EQ(static_cast<unsigned char*>(ep.DSM_MemLock(block))[10], 0x5a);
  ep.DSM_MemUnlock(block);
  ep.DSM_MemFree(block);
  // A freed handle is refused, not dereferenced.
  EXPECT_EQ(ep.DSM_MemLock(block), nullptr);
  app.close_dsm();
}

struct Notified {
  int calls = 0;
  TW_UINT32 origin = 0, dest = 0, dg = 0;
  TW_UINT16 dat = 0, msg = 0;
  void* data = nullptr;
};
Notified g_notified;

TW_UINT16 record_callback(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat,
                          TW_UINT16 msg, TW_MEMREF data) {
  g_notified.calls++;
  g_notified.origin = origin != nullptr ? origin->Id : 0;
  g_notified.dest = dest != nullptr ? dest->Id : 0;
  g_notified.dg = dg;
  g_notified.dat = dat;
  g_notified.msg = msg;
  g_notified.data = data;
  return TWRC_SUCCESS;
}

TEST_F(SourceManager, RelaysSourceNotificationsToTheRegisteredCallback) {
  App app;
  ASSERT_EQ(app.open_dsm(), TWRC_SUCCESS);
  OpenSource source(app);
  ASSERT_EQ(source.rc, TWRC_SUCCESS);
  TW_IDENTITY& src = source.area.identity;
  // What a source sends: its own identity as origin, the application as
  // destination.
  auto notify = [&](TW_UINT16 msg, TW_IDENTITY* dest) {
    return dsm_entry()(&src, dest, DG_CONTROL, DAT_NULL, msg, nullptr);
  };
  g_notified = {};
  EXPECT_EQ(notify(MSG_XFERREADY, &app.id), TWRC_SUCCESS) << "no callback yet";
  EXPECT_EQ(g_notified.calls, 0);

  int ref_con_target = 0;
  TW_CALLBACK2 callback{reinterpret_cast<TW_MEMREF>(record_callback),
                        reinterpret_cast<TW_UINTPTR>(&ref_con_target), 0};
  TW_IDENTITY stranger{};
  stranger.Id = 0x7fffffff;
  EXPECT_EQ(app.call(&stranger, DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &callback),
            TWRC_FAILURE);
  EXPECT_EQ(app.condition(), TWCC_BADDEST);
  ASSERT_EQ(app.call(&src, DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &callback),
            TWRC_SUCCESS);

  for (TW_UINT16 msg : {MSG_XFERREADY, MSG_CLOSEDSREQ, MSG_CLOSEDSOK, MSG_DEVICEEVENT}) {
    g_notified = {};
    // The destination may be left out: the Source Manager knows who opened it.
    for (TW_IDENTITY* dest : {&app.id, static_cast<TW_IDENTITY*>(nullptr)}) {
      EXPECT_EQ(notify(msg, dest), TWRC_SUCCESS) << msg;
    }
    EXPECT_EQ(g_notified.calls, 2) << msg;
    EXPECT_EQ(g_notified.origin, src.Id);
    EXPECT_EQ(g_notified.dest, app.id.Id);
    EXPECT_EQ(g_notified.dg, DG_CONTROL);
    EXPECT_EQ(g_notified.dat, DAT_NULL);
    EXPECT_EQ(g_notified.msg, msg);
    EXPECT_EQ(g_notified.data, &ref_con_target) << "RefCon comes back as the data";
  }
  // Our source answers the event pump itself; it sent nothing.
  TW_EVENT event{nullptr, 0xffff};
  EXPECT_EQ(source.call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_NOTDSEVENT);
  EXPECT_EQ(event.TWMessage, MSG_NULL);

  TW_IDENTITY unknown = src;
  unknown.Id = 0x7ffffffe;
  EXPECT_EQ(dsm_entry()(&unknown, &app.id, DG_CONTROL, DAT_NULL, MSG_XFERREADY, nullptr),
            TWRC_FAILURE);
}

TEST_F(SourceManager, AnApplicationWideCallbackServesSourcesWithoutTheirOwn) {
  App app;
  ASSERT_EQ(app.open_dsm(), TWRC_SUCCESS);
  TW_CALLBACK callback{reinterpret_cast<TW_MEMREF>(record_callback), 42, 0};
  ASSERT_EQ(app.control(DAT_CALLBACK, MSG_REGISTER_CALLBACK, &callback), TWRC_SUCCESS);
  OpenSource source(app);
  ASSERT_EQ(source.rc, TWRC_SUCCESS);
  g_notified = {};
  EXPECT_EQ(
      dsm_entry()(&source.area.identity, &app.id, DG_CONTROL, DAT_NULL, MSG_CLOSEDSREQ, nullptr),
      TWRC_SUCCESS);
  EXPECT_EQ(g_notified.calls, 1);
  EXPECT_EQ(reinterpret_cast<TW_UINTPTR>(g_notified.data), 42u);
}

TEST_F(SourceManager, LongProductNamesAreCutUnlessTheDriverIsCareless) {
  const std::string long_name = "A Scanner Whose Product Name Runs Well Past Its Field";
  ASSERT_GT(long_name.size(), 34u + 10);
  struct Case {
    const char* overrun;
    std::string name;  // what the application's 34 bytes hold
  } cases[] = {{"no", long_name.substr(0, 33)},
               // The careless driver's name fills the field, unterminated;
               // what it wrote past the field stays in the Source Manager.
               {"yes", long_name.substr(0, 34)}};
  for (const Case& c : cases) {
    use_config("[device]\nproduct = " + long_name + "\nname_overrun = " + c.overrun + "\n");
    App app;
    ASSERT_EQ(app.open_dsm(), TWRC_SUCCESS);
    for (TW_UINT16 msg : {MSG_GETFIRST, MSG_GETDEFAULT, MSG_OPENDS}) {
      IdentityArea area;
      ASSERT_EQ(app.control(DAT_IDENTITY, msg, &area.identity), TWRC_SUCCESS) << msg;
      EXPECT_EQ(area.tail[0], 0) << msg;
      EXPECT_EQ(area.name(), c.name) << msg;
      if (msg == MSG_OPENDS) app.control(DAT_IDENTITY, MSG_CLOSEDS, &area.identity);
    }
    app.close_dsm();
  }
}

TEST_F(SourceManager, AStandardApplicationGetsExactly156BytesFromACarelessDriver) {
  const std::string first = "The First Scanner With A Far Too Long Name";
  const std::string second = "The Second Scanner With A Far Too Long Name";
  use_config("[device]\nproduct = " + first + "\nname_overrun = yes\n[device]\nproduct = " +
             second + "\nname_overrun = yes\n");
  App app;
  ASSERT_EQ(app.open_dsm(), TWRC_SUCCESS);
  // A standard application's identity is 156 bytes, here on the heap and no
  // larger, so that a write past it is caught (ASan).
  for (TW_UINT16 msg : {MSG_GETFIRST, MSG_GETNEXT, MSG_GETDEFAULT, MSG_USERSELECT, MSG_OPENDS}) {
    auto exact = std::make_unique<TW_IDENTITY>();
    ASSERT_EQ(app.control(DAT_IDENTITY, msg, exact.get()), TWRC_SUCCESS) << msg;
    EXPECT_EQ(std::string(exact->ProductName, 34), (msg == MSG_GETNEXT ? second : first).substr(0, 34))
        << msg;
    if (msg == MSG_OPENDS) app.control(DAT_IDENTITY, MSG_CLOSEDS, exact.get());
  }
  // The same with guard bytes behind it, for builds without ASan.
  struct {
    TW_IDENTITY identity;
    unsigned char guard[DS_IDENTITY_TAIL_BYTES];
  } guarded;
  std::memset(&guarded, 0x5a, sizeof guarded);
  std::memset(&guarded.identity, 0, sizeof guarded.identity);
  ASSERT_EQ(app.control(DAT_IDENTITY, MSG_GETFIRST, &guarded.identity), TWRC_SUCCESS);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(guarded.guard), sizeof guarded.guard),
            std::string(sizeof guarded.guard, '\x5a'));
  app.close_dsm();
}

TEST_F(SourceManager, ADriverCrashOnRequestKillsTheCallerWithTheSignal) {
  struct Case {
    const char* config;
    int signal;
  } cases[] = {
      {"fault = opends\n", SIGSEGV},
      {"fault = opends\ncrash_signal = fpe\n", SIGFPE},
      {"fault = identity\n", SIGSEGV},  // while listing, inside MSG_OPENDSM
  };
  for (const Case& c : cases) {
    use_config(std::string("[device]\nproduct = Crasher\n") + c.config);
    EXPECT_EXIT(
        {
          // The default action, not the sanitizer's report: the test is that
          // the signal arrives inside the call.
          std::signal(c.signal, SIG_DFL);
          App app;
          app.open_dsm();
          IdentityArea area;
          app.control(DAT_IDENTITY, MSG_OPENDS, &area.identity);
          std::_Exit(0);
        },
        testing::KilledBySignal(c.signal), "")
        << c.config;
  }
  // A crash-free call on the same device still works in this process.
  use_config("[device]\nproduct = Crasher\nfault = closeds\n");
  App app;
  ASSERT_EQ(app.open_dsm(), TWRC_SUCCESS);
  EXPECT_EQ(app.list(), std::vector<std::string>{"Crasher"});
  app.close_dsm();
}

}  // namespace
}  // namespace dsm_test
