// The multipage loop: enables the device once, then transfers page after
// page until the document ends, handing each page that is not blank to the
// application's page hook and then to a consumer (begin / page / end).
//
// A document ends when a step fails, when the device asks to be closed (it
// disabled itself: the user closed its dialog or the batch is done), when a
// hidden-dialog feeder delivers nothing, or when the user answers No to the
// next-page question. Some devices send a close request after their first
// page although more could follow; the quirk table below lets the loop go on
// for them.
#include "twain/acquisition/multipage_loop.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

#include "core/error_record.h"
#include "core/state_registry.h"
#include "log/trace.h"
#include "orivane/dib_api.h"
#include "orivane/errors.h"
#include "orivane/twain.h"
#include "orivane/twain_acquire.h"
#include "orivane/twain_manager.h"
#include "orivane/twain_session.h"
#include "orivane/twain_settings.h"
#include "orivane/twain_sources.h"
#include "twain/acquisition/acquire.h"
#include "twain/acquisition/next_page.h"
#include "twain/capabilities/deferred.h"
#include "twain/capabilities/switches.h"
#include "twain/session/dsm.h"
#include "twain/session/session.h"

namespace twain {

MultipageLoopState& multipage_loop() {
  static MultipageLoopState s;
  return s;
}

void multipage_loop_reset() {
  multipage_loop() = MultipageLoopState{};
  to_files_reset();
}

namespace {

bool equals_nocase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// What the close-request quirks (and the end-of-page rules) look at.
struct CycleFacts {
  platform::WindowHandle window = 0;
  bool got_page = false;         // a DIB came back this cycle
  bool feeder_at_start = false;  // the feeder was selected when the loop began
  bool ui_hidden = false;
};

enum class Verdict { Stop, NextCycle, Continue };

using QuirkTest = bool (*)(const CycleFacts&);
using QuirkAction = Verdict (*)(const CycleFacts&);

// The answer of a row that asks: Yes goes on, No lets the next rows decide.
constexpr Verdict kTryNext = Verdict::Stop;

struct CloseQuirk {
  QuirkTest applies;
  const char* trace;
  QuirkAction act;   // kTryNext (Stop) from an asking row = try the next rows
  bool asks;
};

Verdict ask_or_try_next(const CycleFacts& f) {
  return AskForNextPage(f.window) ? Verdict::NextCycle : kTryNext;
}

// Rows tried in order after a close request in the first cycle; the first
// that applies decides. With none the document ends.
const CloseQuirk kCloseQuirks[] = {
    {[](const CycleFacts& f) { return contains(session().source_family, "TravelScan") && f.got_page; },
     "#Hack[TravelScan] got a page, ignore CLOSEDSREQ\n",
     [](const CycleFacts& f) { return f.ui_hidden ? ask_or_try_next(f) : Verdict::NextCycle; }, true},
    {[](const CycleFacts& f) {
       return !f.feeder_at_start && session().source_product.compare(0, 4, "WIA-") == 0;
     },
     "#Hack[WIA]\n", ask_or_try_next, true},
    {[](const CycleFacts& f) {
       return f.ui_hidden && !TWAIN_IsFeederSelected() &&
              equals_nocase(session().source_manufacturer, "Hewlett-Packard");
     },
     "#Hack[HP] not feeder, no UI: ignore CLOSEDSREQ\n",
     [](const CycleFacts&) { return Verdict::Continue; }, false},
    {[](const CycleFacts& f) { return f.ui_hidden && contains(session().source_product, "Lexmark 1200 Series"); },
     "#Hack[Lexmark 1200 Series] ignore CLOSEDSREQ\n",
     [](const CycleFacts&) { return Verdict::Continue; }, false},
    {[](const CycleFacts& f) { return f.ui_hidden && contains(session().source_product, "Lexmark 8300 Series"); },
     "#Hack[Lexmark 8300 Series] ignore CLOSEDSREQ\n",
     [](const CycleFacts&) { return Verdict::Continue; }, false},
};

Verdict apply_close_quirks(const CycleFacts& f) {
  for (const CloseQuirk& q : kCloseQuirks) {
    if (!q.applies(f)) continue;
    LogPrint("%s", q.trace);
    const Verdict v = q.act(f);
    // An asking row answered No: the rows after it may still apply.
    if (q.asks && v == kTryNext) continue;
    return v;
  }
  return Verdict::Stop;
}

// Fills the settings the application left unset with the values a document
// needs: every page the device has, from the feeder.
void apply_multipage_defaults() {
  DeferredSettings& d = deferred();
  if (d.xfer_count == 0) {
    LogPrint("..Defaulting XferCount=-1\n");
    d.xfer_count = -1;
  }
  if (d.feeder < 0 && !d.feeder_explicitly_selected) {
    LogPrint("..Defaulting Feeder=1\n");
    d.feeder = 1;
  }
  if (d.xfer_count == -1 && d.auto_scan < 0) {
    LogPrint("..Defaulting AutoScan=1\n");
    d.auto_scan = 1;
  }
  if (d.auto_feed < 0) {
    LogPrint("..Defaulting AutoFeed=1\n");
    d.auto_feed = 1;
  }
  // The loop collects DIBs: a file transfer would deliver none.
  const bool open = session().state >= 4;
  if (d.xfer_mech == TWSX_FILE || (open && d.current_xfer_mech == TWSX_FILE)) {
    LogPrint("** Forcing XferMech from File to Native.\n");
    if (open) {
      TWAIN_SetXferMech(TWSX_NATIVE);
    } else {
      d.xfer_mech = TWSX_NATIVE;
    }
  }
}

// Hands one delivered page to the hook and the consumer. Answers the new
// loop result; *began tells whether begin succeeded.
int deliver_page(std::uintptr_t dib, const PageConsumer& c, int result, bool* began) {
  MultipageLoopState& st = multipage_loop();
  if (st.hook != nullptr) {
    // A hook that answers another DIB (or none) has taken the original.
    dib = st.hook(dib, st.hook_value);
    core::ErrorRecord& r = core::error_record();
    if (r.code != 0) {
      result = -1;
      // A cancel in the hook ends the document without an error to show.
      if (r.code == ERR_CANCELLED) core::error_clear();
    }
  }
  if (dib == 0) return result;
  if (result == 0 && !*began) {
    result = c.begin != nullptr ? c.begin(c.value) : 0;
    *began = result == 0;
  }
  if (result == 0) {
    ++st.processed;
    result = c.page != nullptr ? c.page(dib, c.value) : (DibFree(dib), 0);
  } else {
    DibFree(dib);
  }
  return result;
}

// After a non-stopping cycle: whether to go on with the next page.
Verdict end_of_cycle(const CycleFacts& f) {
  if (!f.ui_hidden) {
    if (TWAIN_State() == 5 && switches().stop_on_empty) {
      TWAIN_DisableSource();
      return Verdict::Stop;
    }
    return Verdict::NextCycle;
  }
  if (!f.got_page) return Verdict::Stop;
  if (TWAIN_State() == 6) return Verdict::NextCycle;
  if (equals_nocase(session().source_family, "TravelScan")) {
    LogPrint("#Hack[TravelScan] treat like flatbed\n");
  } else if (TWAIN_IsFeederSelected()) {
    LogPrint("Infer: Feeder empty\n");
    return Verdict::Stop;
  }
  if (!AskForNextPage(f.window)) return Verdict::Stop;
  if (equals_nocase(session().source_product, "hp scanjet 8200 series TWAIN")) {
    LogPrint("#Hack[HP/non-ADF] force device closed, then re-open.\n");
    const std::string product = session().source_product;
    if (!TWAIN_CloseSource() || !TWAIN_OpenSource(product.c_str()) ||
        !TWAIN_PreAcquire(f.window)) {
      return Verdict::Stop;
    }
    return Verdict::NextCycle;
  }
  return TWAIN_DisableSource() ? Verdict::NextCycle : Verdict::Stop;
}

// The page cycles of one enabled document. Answers the loop result.
int run_cycles(const CycleFacts& start, const PageConsumer& c, bool* began) {
  MultipageLoopState& st = multipage_loop();
  CycleFacts f = start;
  int result = 0;
  bool first = true;
  for (;;) {
    core::error_clear();
    const std::uintptr_t dib = TWAIN_WaitForNativeXfer(f.window);
    f.got_page = dib != 0;
    if (f.got_page && blank_flag()) {
      DibFree(dib);
      ++st.blank_discards;
    } else if (f.got_page) {
      result = deliver_page(dib, c, result, began);
      if (result != 0) return result;
    }
    TWAIN_PumpMessages(1);
    if (session().close_request_seen) {
      Verdict v = Verdict::Stop;
      if (first) {
        LogPrint("1st page ");
        v = apply_close_quirks(f);
      }
      if (v == Verdict::NextCycle) continue;
      if (v == Verdict::Stop) {
        if (st.processed > 0 && core::error_record().code == ERR_CANCELLED) core::error_clear();
        LogPrint("device disabled, stop scanning\n");
        return result;
      }
    } else {
      first = false;
    }
    if (end_of_cycle(f) == Verdict::Stop) return result;
  }
}

// Enables the device and runs the cycles; the message boxes stay off while
// the document is scanned.
int scan_document(const CycleFacts& start, int state_at_start, const PageConsumer& c,
                  bool* began) {
  CycleFacts f = start;
  const int suppressed = TWAIN_SuppressErrorMessages(1);
  f.feeder_at_start = TWAIN_IsFeederSelected() != 0;
  int result = 0;
  if (!TWAIN_EnableSource(f.window)) {
    if (session().last_return_code == TWRC_CANCEL) {
      RecordError(ERR_CANCELLED, nullptr);
      result = -10;
    } else {
      result = -1;
    }
    TWAIN_DropToState(state_at_start);
  } else {
    result = run_cycles(f, c, began);
  }
  LogPrint("-scan loop ended\n");
  if (result == 0 && core::error_record().code != 0) {
    LogPrint("note: Error recorded\n");
    result = -1;
  }
  if (*began) {
    const int ended = c.end != nullptr ? c.end(c.value) : 0;
    if (result == 0) result = ended;
  }
  TWAIN_SuppressErrorMessages(suppressed);
  return result;
}

}  // namespace

int AcquireMultipageLoop(platform::WindowHandle window, const PageConsumer& consumer) {
  Switches& sw = switches();
  const int saved_multi = sw.multi_transfer;
  sw.multi_transfer = 1;
  LogPrint("AcquireMultipage\n");
  int result = -1;
  {
    LogNest nest;
    core::error_clear();
    MultipageLoopState& st = multipage_loop();
    st.processed = 0;
    st.blank_discards = 0;
    const int state_at_start = TWAIN_State();
    CycleFacts f;
    f.window = parent_window_check(window);
    f.ui_hidden = sw.hide_ui != 0;
    if (f.window == 0) {
      sw.multi_transfer = saved_multi;
      LogPrint("AcquireMultipage => -1\n");
      return -1;
    }
    if (TWAIN_State() > 4) TWAIN_DisableSource();
    apply_multipage_defaults();
    bool began = false;
    result = TWAIN_PreAcquire(f.window) ? scan_document(f, state_at_start, consumer, &began) : -1;
    sw.multi_transfer = saved_multi;
    TWAIN_PostAcquire();
    LogPrint("Acquired & Processed: %d  BlankDiscards: %d\n", st.processed, st.blank_discards);
  }
  LogPrint("AcquireMultipage => %d\n", result);
  return result;
}

}  // namespace twain

void SetPageHook(TWAIN_PAGE_HOOK hook, intptr_t value) {
  LogApiCall("SetPageHook\n");
  twain::multipage_loop().hook = hook;
  twain::multipage_loop().hook_value = value;
}

int TWAIN_BlankDiscardCount(void) { return twain::multipage_loop().blank_discards; }

int TWAIN_ProcessedPageCount(void) { return twain::multipage_loop().processed; }

namespace {

// The to-file loops' progress.
const bool kMultipageLoopRegistered = core::register_state({"twain.multipage_loop", [] { twain::multipage_loop_reset(); }, [] { twain::multipage_loop_reset(); }});

}  // namespace
