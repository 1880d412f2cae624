#include "twain/session/memory.h"

#include <algorithm>

#include "platform/memblock.h"
#include "twain/session/session.h"

namespace twain {

namespace {

platform::MemHandle as_mem(TW_HANDLE block) { return reinterpret_cast<platform::MemHandle>(block); }
TW_HANDLE as_block(platform::MemHandle h) { return reinterpret_cast<TW_HANDLE>(h); }

const TW_ENTRYPOINT& dsm_memory() { return session().dsm_memory; }

}  // namespace

TW_HANDLE block_alloc(std::size_t size) {
  if (size > 0xffffffffu) return nullptr;
  if (dsm_memory().DSM_MemAllocate) {
    TW_HANDLE h = dsm_memory().DSM_MemAllocate(static_cast<TW_UINT32>(size));
    // Blocks are zero-filled whoever makes them; containers rely on it.
    if (void* p = h ? block_lock(h) : nullptr) {
      std::fill_n(static_cast<unsigned char*>(p), size, 0);
      block_unlock(h);
    }
    return h;
  }
  return as_block(platform::mem_alloc(size, true));
}

void block_free(TW_HANDLE block) {
  if (!block) return;
  if (dsm_memory().DSM_MemFree) {
    dsm_memory().DSM_MemFree(block);
    return;
  }
  platform::mem_free(as_mem(block));
}

void* block_lock(TW_HANDLE block) {
  if (!block) return nullptr;
  if (dsm_memory().DSM_MemLock) return dsm_memory().DSM_MemLock(block);
  return platform::mem_lock(as_mem(block));
}

void block_unlock(TW_HANDLE block) {
  if (!block) return;
  if (dsm_memory().DSM_MemUnlock) {
    dsm_memory().DSM_MemUnlock(block);
    return;
  }
  platform::mem_unlock(as_mem(block));
}

namespace {
// Only blocks that are the program's own can be measured and resized here.
bool is_program_block() { return !dsm_memory().DSM_MemLock || session().dsm_memory_shared; }
}  // namespace

std::size_t block_size(TW_HANDLE block) {
  return is_program_block() ? platform::mem_size(as_mem(block)) : 0;
}

bool block_resize(TW_HANDLE block, std::size_t size) {
  return is_program_block() && platform::mem_realloc(as_mem(block), size) != 0;
}

}  // namespace twain
