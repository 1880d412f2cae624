// The process-wide clipboard slot, guarded by one mutex.
#include "platform/clipboard.h"

#include <mutex>

namespace platform {
namespace {

struct Clipboard {
  std::mutex mutex;
  ClipboardContent content;
};

Clipboard& clipboard() {
  static Clipboard c;
  return c;
}

bool clipboard_put(ClipboardFormat format, const std::uint8_t* bytes, std::size_t size) {
  try {
    std::vector<std::uint8_t> copy(bytes, bytes + size);
    Clipboard& c = clipboard();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.content.format = format;
    c.content.bytes.swap(copy);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace

bool clipboard_set_text(const std::string& text) {
  return clipboard_put(ClipboardFormat::Text, reinterpret_cast<const std::uint8_t*>(text.data()),
                       text.size());
}

bool clipboard_set_dib(const void* bytes, std::size_t size) {
  if (bytes == nullptr || size == 0) return false;
  return clipboard_put(ClipboardFormat::Dib, static_cast<const std::uint8_t*>(bytes), size);
}

ClipboardContent clipboard_get() {
  try {
    Clipboard& c = clipboard();
    std::lock_guard<std::mutex> lock(c.mutex);
    return c.content;
  } catch (...) {
    return {};
  }
}

void clipboard_clear() {
  Clipboard& c = clipboard();
  std::lock_guard<std::mutex> lock(c.mutex);
  c.content = ClipboardContent{};
}

}  // namespace platform
