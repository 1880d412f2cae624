// Memory blocks handed across the Source Manager boundary: capability
// containers, custom source data, native images. While the Source Manager is
// loaded and has given its memory functions (DAT_ENTRYPOINT), blocks are
// allocated, locked and freed through them, so that a block made here can be
// freed by a source and the other way round; before that the library's own
// movable blocks are used. The Source Manager makes its blocks as the
// library's movable blocks of this process (platform/memblock.h), which is
// what lets sizes be read and blocks be resized here.
#pragma once
#include <cstddef>

#include "orivane/twain.h"

namespace twain {

// A zero-filled block of `size` bytes, or null.
TW_HANDLE block_alloc(std::size_t size);
// Frees a block; null is ignored.
void block_free(TW_HANDLE block);
// The block's address (raising its lock count), or null.
void* block_lock(TW_HANDLE block);
void block_unlock(TW_HANDLE block);
// The block's size in bytes; 0 when the block is unknown here.
std::size_t block_size(TW_HANDLE block);
// Resizes an unlocked block, keeping its contents; new bytes are zero. The
// handle stays the same. False when the block cannot be resized (unchanged).
bool block_resize(TW_HANDLE block, std::size_t size);

}  // namespace twain
