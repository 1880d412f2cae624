// The memory functions the Source Manager hands out through DAT_ENTRYPOINT.
// Every container and image handle that crosses the Source Manager is one of
// the program's movable blocks (platform/memblock.h): a TW_HANDLE is the
// block's registry handle, so the application frees what a source allocated
// with the same registry, and a stale handle is refused instead of crashing.
//
// The platform block functions are linked into the Source Manager and keep
// default visibility: inside a program that exports its own (the quillet
// program is linked with ENABLE_EXPORTS), the dynamic linker binds these calls
// to the program's copies, so the program and the sources share one registry.
// In a program that does not export them, the Source Manager's own copy serves
// the sources and the application alike through these entry points.
#pragma once
#include "orivane/twain.h"

namespace dsm {

TW_HANDLE memory_allocate(TW_UINT32 size);
void memory_free(TW_HANDLE handle);
TW_MEMREF memory_lock(TW_HANDLE handle);
void memory_unlock(TW_HANDLE handle);

// Fills the entry points (DSM_Entry and the four functions above).
void memory_fill_entry_points(TW_ENTRYPOINT& out, DSMENTRYPROC dsm_entry);

}  // namespace dsm
