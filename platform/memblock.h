// Movable memory blocks: the owned, resizable byte blocks that stand in for the
// platform's global memory handles (DIBs, capability containers, native
// transfers). A handle is an opaque number looked up in a registry, so a stale,
// foreign or already-freed handle is detected and refused instead of crashing.
#pragma once
#include <cstddef>
#include <cstdint>

namespace platform {

// Opaque block handle; 0 is never a valid handle.
using MemHandle = std::uintptr_t;

// Allocates a block of `size` bytes (0 allowed), zero-filled when `zero` is set.
// Returns 0 when the size cannot be allocated. The caller owns the handle.
MemHandle mem_alloc(std::size_t size, bool zero = true);
// Resizes a block, keeping its contents up to the smaller size; new bytes are
// zero. Returns the handle (unchanged) or 0 on failure (the block is unchanged).
MemHandle mem_realloc(MemHandle h, std::size_t size);
// Returns the block's bytes and raises its lock count, or nullptr for an invalid
// handle. The pointer stays valid until the block is resized or freed.
void* mem_lock(MemHandle h);
// Lowers the lock count; false for an invalid handle or a block not locked.
bool mem_unlock(MemHandle h);
// Size in bytes, 0 for an invalid handle.
std::size_t mem_size(MemHandle h);
// Frees the block; true on success, false for an invalid handle. Freeing 0 is a
// no-op that returns true.
bool mem_free(MemHandle h);
// True if `h` names a live block.
bool mem_is_valid(MemHandle h);
// Number of live blocks (all kinds).
std::size_t mem_live_count();

}  // namespace platform
