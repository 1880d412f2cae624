#include "dsm/memory.h"

#include "platform/memblock.h"

namespace dsm {

TW_HANDLE memory_allocate(TW_UINT32 size) {
  return reinterpret_cast<TW_HANDLE>(platform::mem_alloc(size));
}

void memory_free(TW_HANDLE handle) {
  platform::mem_free(reinterpret_cast<platform::MemHandle>(handle));
}

TW_MEMREF memory_lock(TW_HANDLE handle) {
  return platform::mem_lock(reinterpret_cast<platform::MemHandle>(handle));
}

void memory_unlock(TW_HANDLE handle) {
  platform::mem_unlock(reinterpret_cast<platform::MemHandle>(handle));
}

void memory_fill_entry_points(TW_ENTRYPOINT& out, DSMENTRYPROC dsm_entry) {
  out.Size = sizeof(TW_ENTRYPOINT);
  out.DSM_Entry = dsm_entry;
  out.DSM_MemAllocate = memory_allocate;
  out.DSM_MemFree = memory_free;
  out.DSM_MemLock = memory_lock;
  out.DSM_MemUnlock = memory_unlock;
}

}  // namespace dsm
