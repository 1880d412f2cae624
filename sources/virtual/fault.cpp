#include "sources/virtual/fault.h"

#include <sys/mman.h>
#include <unistd.h>

#include <csignal>

namespace vscan {

DsCall classify_call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg) {
  if (dg == DG_IMAGE) {
    switch (dat) {
      case DAT_IMAGELAYOUT:
        return DsCall::ImageLayout;
      case DAT_IMAGEINFO:
        return DsCall::ImageInfo;
      case DAT_IMAGENATIVEXFER:
        return DsCall::NativeXfer;
      case DAT_IMAGEMEMXFER:
        return DsCall::MemoryXfer;
      case DAT_IMAGEFILEXFER:
        return DsCall::FileXfer;
      default:
        return DsCall::Other;
    }
  }
  if (dg != DG_CONTROL) return DsCall::Other;
  switch (dat) {
    case DAT_IDENTITY:
      if (msg == MSG_OPENDS) return DsCall::OpenDs;
      if (msg == MSG_CLOSEDS) return DsCall::CloseDs;
      return msg == MSG_GET ? DsCall::Identity : DsCall::Other;
    case DAT_ENTRYPOINT:
      return DsCall::EntryPoint;
    case DAT_STATUS:
      return DsCall::Status;
    case DAT_CAPABILITY:
      return DsCall::Capability;
    case DAT_USERINTERFACE:
      if (msg == MSG_ENABLEDS) return DsCall::EnableDs;
      if (msg == MSG_ENABLEDSUIONLY) return DsCall::EnableDsUiOnly;
      return msg == MSG_DISABLEDS ? DsCall::DisableDs : DsCall::Other;
    case DAT_EVENT:
      return DsCall::ProcessEvent;
    case DAT_PENDINGXFERS:
      return DsCall::PendingXfers;
    case DAT_SETUPMEMXFER:
      return DsCall::SetupMemXfer;
    case DAT_SETUPFILEXFER:
      return DsCall::SetupFileXfer;
    default:
      return DsCall::Other;
  }
}

void fault_crash(int signal) {
  if (signal == SIGSEGV) {
    const long page = ::sysconf(_SC_PAGESIZE);
    void* target = ::mmap(nullptr, static_cast<std::size_t>(page), PROT_NONE,
                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (target != MAP_FAILED) {
      *static_cast<volatile int*>(target) = 0;
      ::munmap(target, static_cast<std::size_t>(page));
      return;
    }
  }
  std::raise(signal);
}

}  // namespace vscan
