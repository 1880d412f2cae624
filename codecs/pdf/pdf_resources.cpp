// Fixed data of the PDF codec: the Helvetica advance widths that measure the
// text layer, and the sRGB ICC profile of the PDF/A output intent.
#include <cmath>
#include <cstring>

#include "codecs/pdf/pdf_document.h"

namespace pdf {

namespace {

// Helvetica advance widths (1/1000 em) of the printable ASCII characters
// 0x20..0x7E; other WinAnsi characters are measured as a digit.
constexpr short kHelvetica[95] = {
    278, 278, 355, 556, 556, 889, 667, 191, 333, 333, 389, 584, 278, 333, 278, 278,  // sp ! " # $ % & ' ( ) * + , - . /
    556, 556, 556, 556, 556, 556, 556, 556, 556, 556,                                // 0-9
    278, 278, 584, 584, 584, 556, 1015,                                              // : ; < = > ? @
    667, 667, 722, 722, 667, 611, 778, 722, 278, 500, 667, 556, 833,                 // A-M
    722, 778, 667, 778, 722, 667, 611, 722, 667, 944, 667, 667, 611,                 // N-Z
    278, 278, 278, 469, 556, 333,                                                    // [ \ ] ^ _ `
    556, 556, 500, 556, 556, 278, 556, 556, 222, 222, 500, 222, 833,                 // a-m
    556, 556, 556, 556, 333, 500, 278, 556, 500, 722, 500, 500, 500,                 // n-z
    334, 260, 334, 584};                                                             // { | } ~
constexpr int kOtherWidth = 556;

void put32(std::string& s, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (24 - 8 * i));  // ICC is big-endian
}
std::uint32_t s15(double v) { return static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lround(v * 65536.0))); }
std::string xyz(double x, double y, double z) {
  std::string t(20, '\0');
  std::memcpy(t.data(), "XYZ ", 4);
  put32(t, 8, s15(x));
  put32(t, 12, s15(y));
  put32(t, 16, s15(z));
  return t;
}

}  // namespace

double helvetica_width(const std::string& text, double points) {
  long units = 0;
  for (unsigned char c : text) units += (c >= 0x20 && c <= 0x7E) ? kHelvetica[c - 0x20] : kOtherWidth;
  return units * points / 1000.0;
}

std::string srgb_icc_profile() {
  // Version 2 display profile: primaries adapted to D50, a 2.2 gamma curve.
  const std::string name = "sRGB IEC61966-2.1";
  std::string desc(12 + name.size() + 1 + 4 + 4 + 2 + 1 + 67, '\0');
  std::memcpy(desc.data(), "desc", 4);
  put32(desc, 8, static_cast<std::uint32_t>(name.size() + 1));
  std::memcpy(desc.data() + 12, name.data(), name.size());
  std::string cprt = std::string("text") + std::string(4, '\0') + "No copyright, use freely" + '\0';
  std::string curv = std::string("curv") + std::string(4, '\0') + std::string("\0\0\0\1\2\x33", 6);
  struct Tag {
    const char* sig;
    std::string data;
  };
  const Tag tags[] = {{"desc", desc},
                      {"cprt", cprt},
                      {"wtpt", xyz(0.9642, 1.0, 0.8249)},
                      {"rXYZ", xyz(0.4361, 0.2225, 0.0139)},
                      {"gXYZ", xyz(0.3851, 0.7169, 0.0971)},
                      {"bXYZ", xyz(0.1431, 0.0606, 0.7141)},
                      {"rTRC", curv},
                      {"gTRC", curv},
                      {"bTRC", curv}};
  const std::size_t count = sizeof tags / sizeof tags[0];
  std::string table(4 + 12 * count, '\0');
  put32(table, 0, static_cast<std::uint32_t>(count));
  std::string body;
  std::size_t offset = 128 + table.size();
  for (std::size_t i = 0; i < count; ++i) {
    std::memcpy(table.data() + 4 + 12 * i, tags[i].sig, 4);
    put32(table, 8 + 12 * i, static_cast<std::uint32_t>(offset + body.size()));
    put32(table, 12 + 12 * i, static_cast<std::uint32_t>(tags[i].data.size()));
    body += tags[i].data;
    body.resize((body.size() + 3) & ~std::size_t{3}, '\0');
  }
  std::string header(128, '\0');
  put32(header, 0, static_cast<std::uint32_t>(128 + table.size() + body.size()));
  put32(header, 8, 0x02100000);
  std::memcpy(header.data() + 12, "mntrRGB XYZ ", 12);
  // Creation date 2000-01-01 00:00:00.
  const unsigned char date[12] = {0x07, 0xD0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0};
  std::memcpy(header.data() + 24, date, 12);
  std::memcpy(header.data() + 36, "acsp", 4);
  put32(header, 68, s15(0.9642));
  put32(header, 72, s15(1.0));
  put32(header, 76, s15(0.8249));
  return header + table + body;
}

}  // namespace pdf
