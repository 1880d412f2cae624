// The clipboard: one process-wide slot holding either a text or a packed DIB
// (the 40-byte information header, colour table and rows, as a DIB block
// holds them). Setting one format replaces whatever was there. The slot keeps
// its own copy of the bytes, so the caller stays the owner of what it passed.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

enum class ClipboardFormat { Empty, Text, Dib };

struct ClipboardContent {
  ClipboardFormat format = ClipboardFormat::Empty;
  std::vector<std::uint8_t> bytes;  // the text without a terminating zero, or the DIB
};

// Puts a text on the clipboard. False when memory runs out (slot unchanged).
bool clipboard_set_text(const std::string& text);
// Puts a copy of a packed DIB on the clipboard. False for null or empty input
// or when memory runs out (slot unchanged).
bool clipboard_set_dib(const void* bytes, std::size_t size);
// A copy of the slot.
ClipboardContent clipboard_get();
// Empties the slot.
void clipboard_clear();

}  // namespace platform
