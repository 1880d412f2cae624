// The incompatibility message of the memory transfer: a source whose blocks
// cannot be used (a block larger than the buffer, a block that cannot be
// copied) is a driver the library does not understand yet. The user is told
// once per process, with the numbers support needs, and the text is put on
// the clipboard so that it can be sent on.
#include "twain/acquisition/memory_xfer.h"

#include <cstdarg>
#include <cstdio>

#include "core/error_record.h"
#include "log/trace.h"
#include "platform/clipboard.h"
#include "twain/session/session.h"

namespace twain {
namespace {

constexpr int kLibraryMajor = 3;
constexpr int kLibraryMinor = 47;
constexpr std::size_t kMessageMax = 2048;

// Appends one formatted line; the message stops growing at kMessageMax.
void add_line(std::string& text, const char* format, ...) ORV_PRINTF(2, 3);
void add_line(std::string& text, const char* format, ...) {
  char line[kMessageMax];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  text += line;
  text += '\n';
  if (text.size() > kMessageMax) text.resize(kMessageMax);
}

// The record's 32-bit fields as the message shows them: signed, so that
// "don't care" reads -1.
long as_long(std::uint32_t value) { return static_cast<std::int32_t>(value); }

std::string with_carriage_returns(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

}  // namespace

std::string memory_incompatibility_text(const char* reason, const TW_IMAGEMEMXFER& mx,
                                        const TW_IMAGEINFO& info, int channel) {
  const Session& s = session();
  std::string text;
  add_line(text, "ORIVANE %d.%02d: Memory Transfer Incompatibility", kLibraryMajor, kLibraryMinor);
  add_line(text, "(%s)", reason ? reason : "");
  add_line(text, "%s", "");
  add_line(text, "%s", "This text has been copied to the clipboard.");
  add_line(text, "%s",
           "Please send it to support@talven.example, so that we can make this device work.");
  add_line(text, "%s", "");
  add_line(text, "Product \"%s\"", s.source_product.c_str());
  add_line(text, "Version %u-%u  Vendor: \"%s\"", s.source_major, s.source_minor,
           s.source_manufacturer.c_str());
  add_line(text, "Channel: %d   MXB.Memory.Flags: 0x%08x", channel, mx.Memory.Flags);
  add_line(text, "MXB.Memory.Length: %ld", as_long(mx.Memory.Length));
  add_line(text, "MXB.Comp: %u, BytesPerRow: %ld, BytesWritten: %ld", mx.Compression,
           as_long(mx.BytesPerRow), as_long(mx.BytesWritten));
  add_line(text, "MXB.Columns: %ld, Rows: %ld, XOffset: %ld, YOffset: %ld", as_long(mx.Columns),
           as_long(mx.Rows), as_long(mx.XOffset), as_long(mx.YOffset));
  add_line(text, "INFO.ImageWidth: %ld, ImageLength: %ld", static_cast<long>(info.ImageWidth),
           static_cast<long>(info.ImageLength));
  add_line(text, "INFO.SPP: %d, BPS: [%d, %d, %d, %d], BPP: %d", info.SamplesPerPixel,
           info.BitsPerSample[0], info.BitsPerSample[1], info.BitsPerSample[2],
           info.BitsPerSample[3], info.BitsPerPixel);
  add_line(text, "INFO.Planar: %d, PixelType: %d, Compression: %u", info.Planar, info.PixelType,
           info.Compression);
  return text;
}

void MemTransferError(const char* reason, const TW_IMAGEMEMXFER& mx, const TW_IMAGEINFO& info,
                      int channel) {
  MemoryTransfer& t = memory_transfer();
  if (t.incompatibility_reported) return;
  t.incompatibility_reported = true;
  const std::string text = memory_incompatibility_text(reason, mx, info, channel);
  LogPrint("MemTransferError - message follows -\n%s------------------------\n", text.c_str());
  platform::clipboard_set_text(with_carriage_returns(text));
  ErrorBox(text.c_str());
}

}  // namespace twain
