#include "twain/session/gate.h"

#include "core/error_record.h"
#include "dib/live_count.h"
#include "log/trace.h"
#include "orivane/errors.h"
#include "orivane/twain.h"
#include "platform/memblock.h"
#include "twain/capabilities/container.h"
#include "twain/session/constant_names.h"
#include "twain/session/dsm.h"
#include "twain/session/gate_trace.h"
#include "twain/session/session.h"

namespace twain {

namespace {

// A failed transfer call: its device error is noted as the transfer's, so
// that the classified failure may take its place (and never an older error).
void record_transfer_error() {
  const std::uint64_t before = core::error_record().serial;
  record_device_error();
  core::transfer_error_note(before);
}

int pending_transfers(unsigned msg, void* data, int rc) {
  Session& s = session();
  if (msg == MSG_ENDXFER && rc == TWRC_SUCCESS) {
    const auto* pending = static_cast<const TW_PENDINGXFERS*>(data);
    const unsigned count = pending ? pending->Count : 0;
    LogPrint("  pendingXfers.Count=%d, EOJ=%u\n", static_cast<TW_INT16>(count),
             pending ? pending->EOJ : 0u);
    set_state(count != 0 ? 6 : 5);
    return 1;
  }
  if (msg == MSG_RESET) {
    if (rc == TWRC_SUCCESS) {
      set_state(5);
      return 1;
    }
    if (s.state == 6 || s.state == 7) {
      LogPrint("  guessing we lost state synch.\n");
      set_state(5);
      return 1;
    }
  }
  return rc == TWRC_SUCCESS ? 1 : 0;
}

int user_interface(unsigned msg, int rc) {
  Session& s = session();
  if (msg == MSG_ENABLEDS || msg == MSG_ENABLEDSUIONLY) {
    if (rc == TWRC_SUCCESS) {
      set_state(5);
      return 1;
    }
    if (rc == TWRC_CHECKSTATUS) {
      LogPrint("** Yow! TWRC_CHECKSTATUS!  Tell Talven!\n");
      set_state(5);
      return 1;
    }
    if (rc != TWRC_CANCEL) record_device_error();
    return 0;
  }
  if (msg == MSG_DISABLEDS && rc == TWRC_SUCCESS) {
    set_state(4);
    if (s.saved_parent) {
      LogPrint("SetActiveWindow(0x%08lx)\n", static_cast<unsigned long>(s.saved_parent));
      platform::window_activate(s.saved_parent);
    }
  }
  return rc == TWRC_SUCCESS ? 1 : 0;
}

int process_event(void* data, int rc) {
  const auto* event = static_cast<const TW_EVENT*>(data);
  if (event && event->TWMessage != MSG_NULL) {
    LogPrint("received %s\n", short_name(message_name(event->TWMessage)).c_str());
    if (event->TWMessage == MSG_DEVICEEVENT) {
      TW_DEVICEEVENT device_event{};
      ds_call(DG_CONTROL, DAT_DEVICEEVENT, MSG_GET, &device_event);
    }
  }
  return rc == TWRC_DSEVENT ? 1 : 0;
}

int memory_block(int rc) {
  Session& s = session();
  int result = 0;
  if (rc == TWRC_SUCCESS || rc == TWRC_XFERDONE) {
    ++s.memory_buffer_count;
    set_state(7);
    result = 1;
  } else if (rc == TWRC_CANCEL) {
    set_state(7);
  } else if (rc == TWRC_FAILURE) {
    // After earlier blocks of this image MSG_ENDXFER must still follow.
    set_state(s.memory_buffer_count > 0 ? 7 : 6);
    record_transfer_error();
  } else {
    set_state(6);
  }
  if (!result) s.transfer_ended = true;
  return result;
}

int image_transfer(unsigned dat, void* data, int rc) {
  if (rc == TWRC_XFERDONE) {
    set_state(7);
    // Only a block of ours is an image the application now holds; anything
    // else the source handed over is refused by the transfer.
    if (dat == DAT_IMAGENATIVEXFER && data &&
        native_handle_is_block(*static_cast<TW_HANDLE*>(data)))
      dib::live_count_add(1);
    return 1;
  }
  if (rc == TWRC_CANCEL) {
    set_state(7);
  } else {
    set_state(6);
    record_transfer_error();
  }
  return 0;
}

int control_rules(unsigned dat, unsigned msg, void* data, int rc) {
  const bool ok = rc == TWRC_SUCCESS;
  switch (dat) {
    case DAT_CAPABILITY:
      if (ok && (msg == MSG_GET || msg == MSG_GETCURRENT || msg == MSG_GETDEFAULT)) {
        const auto* cap = static_cast<const TW_CAPABILITY*>(data);
        LogPrint("%s\n", cap ? container_describe(cap->ConType, cap->hContainer).c_str() : "");
      }
      return ok ? 1 : 0;
    case DAT_EVENT:
      return msg == MSG_PROCESSEVENT ? process_event(data, rc) : (ok ? 1 : 0);
    case DAT_PENDINGXFERS: return pending_transfers(msg, data, rc);
    case DAT_SETUPMEMXFER:
      if (ok && msg == MSG_GET) {
        session().memory_buffer_count = 0;
        LogPrint("%s", describe_result_data(dat, data).c_str());
      }
      return ok ? 1 : 0;
    case DAT_USERINTERFACE: return user_interface(msg, rc);
    default: return ok ? 1 : 0;
  }
}

int image_rules(unsigned dat, unsigned msg, void* data, int rc) {
  const bool ok = rc == TWRC_SUCCESS;
  if (msg == MSG_GET && dat == DAT_IMAGEMEMXFER) {
    const int result = memory_block(rc);
    if (result) LogPrint("%s", describe_result_data(dat, data).c_str());
    return result;
  }
  if (msg == MSG_GET && (dat == DAT_IMAGENATIVEXFER || dat == DAT_IMAGEFILEXFER))
    return image_transfer(dat, data, rc);
  if (dat == DAT_IMAGELAYOUT && (msg == MSG_GET || msg == MSG_GETDEFAULT)) {
    if (!ok && rc != TWRC_CHECKSTATUS) return 0;
    LogPrint("\nIL= %s", describe_result_data(dat, data).c_str());
    return 1;
  }
  if (ok && msg == MSG_GET && (dat == DAT_IMAGEINFO || dat == DAT_EXTIMAGEINFO))
    LogPrint("%s", describe_result_data(dat, data).c_str());
  return ok ? 1 : 0;
}

}  // namespace

bool native_handle_is_block(TW_HANDLE handle) {
  return handle != nullptr && platform::mem_is_valid(reinterpret_cast<platform::MemHandle>(handle));
}

int ds_apply_rules(std::uint32_t dg, unsigned dat, unsigned msg, void* data, int rc) {
  if (dg == DG_CONTROL) return control_rules(dat, msg, data, rc);
  if (dg == DG_IMAGE) return image_rules(dat, msg, data, rc);
  return rc == TWRC_SUCCESS ? 1 : 0;
}

void record_device_error() {
  const char* detail = "Device enable";
  switch (session().last_condition_code) {
    case TWCC_PAPERJAM: detail = "Paper jam"; break;
    case TWCC_PAPERDOUBLEFEED: detail = "Misfeed"; break;
    case TWCC_CHECKDEVICEONLINE: detail = "Device off-line"; break;
    default: break;
  }
  RecordError(ERR_DS_OPERATION, detail);
}

}  // namespace twain
