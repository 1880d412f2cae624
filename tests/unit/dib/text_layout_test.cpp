// Text layout without fonts: bytes read as characters, lines cut at spaces,
// placed and justified, with every character 10 pixels wide.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dib/text_layout.h"

namespace {

TEST(TextDecode, Utf8WhereValidLatin1ForEveryOtherByte) {
  struct Case {
    std::string bytes;
    std::u32string chars;
    int latin1, controls;
  } cases[] = {
      {"Page 3", U"Page 3", 0, 0},
      {"na\xc3\xafve \xe2\x82\xac \xf0\x9f\x93\x84", U"na\u00efve \u20ac \U0001F4C4", 0, 0},
      {"caf\xe9", U"caf\u00e9", 1, 0},                   // a Latin-1 file name
      {"\xc0\xaf", U"\u00c0\u00af", 2, 0},                // overlong "/"
      {"\xed\xa0\x80", U"\u00ed\u00a0", 3, 1},            // a surrogate: 3 bytes, one a C1 control
      {"\xf4\x90\x80\x80", U"\u00f4", 4, 3},              // past U+10FFFF
      {"\xe2\x82", U"\u00e2", 2, 1},                      // cut short at the end
      {"a\r\nb\rc\td\x01\x1b\x7f", U"a\nbc d", 0, 4},     // CR LF -> LF; lone CR, ESC... dropped
      {std::string("\xef\xbb\xbfx\0y", 6), U"xy", 0, 1},  // byte-order mark, NUL
  };
  for (const Case& c : cases) {
    const dib::DecodedText d = dib::text_decode(c.bytes);
    EXPECT_EQ(d.chars, c.chars) << c.bytes;
    EXPECT_EQ(d.latin1_bytes, c.latin1) << c.bytes;
    EXPECT_EQ(d.controls_dropped, c.controls) << c.bytes;
  }
}

struct Laid {
  std::vector<std::u32string> text;
  std::vector<int> x;
};

Laid lay(std::u32string_view t, dib::LayoutRules r, std::vector<dib::TextLine>* out = nullptr) {
  const std::vector<int> advances(t.size(), 10);
  const auto lines = dib::text_layout(t, advances, r);
  Laid l;
  for (const auto& line : lines) {
    l.text.emplace_back(t.substr(line.begin, line.end - line.begin));
    l.x.push_back(line.x);
  }
  if (out) *out = lines;
  return l;
}

dib::LayoutRules rules(int usable, int flags_wrap_center_right = 0) {
  dib::LayoutRules r;
  r.box_width = usable + 1;
  r.usable = usable;
  r.font_height = 40;
  r.max_lines = 100;
  r.wrap = flags_wrap_center_right & 1;
  r.center = flags_wrap_center_right & 2;
  r.right = flags_wrap_center_right & 4;
  return r;
}

TEST(TextLayout, LinesCutAtSpacesPlacedAsAsked) {
  constexpr int kWrap = 1, kCenter = 2, kRight = 4;
  struct Case {
    std::u32string text;
    int usable, flags;
    std::vector<std::u32string> lines;
    std::vector<int> x;
  } cases[] = {
      {U"aaa bbb ccc", 75, kWrap, {U"aaa bbb", U"ccc"}, {0, 0}},
      {U"aaa bbb ccc", 75, 0, {U"aaa bbb ccc"}, {0}},                  // no wrap: one line, clipped
      {U"aaaaaaaaaa bb", 50, kWrap, {U"aaaaaaaaaa", U"bb"}, {0, 0}},    // a long word stays whole
      {U"aa    bb", 30, kWrap, {U"aa", U"bb"}, {0, 0}},                 // spaces at the cut skipped
      {U"aa   \nbb", 30, kWrap, {U"aa", U"bb"}, {0, 0}},               // ...and the newline after them
      {U"  xx", 40, kWrap, {U"  xx"}, {0}},                             // fits: leading spaces kept
      {U"  xxxxx", 30, kWrap, {U"", U"xxxxx"}, {0, 0}},                 // cut before its only run of spaces
      {U"  ab  ", 99, kCenter, {U"ab"}, {40}},                          // centred: outer spaces dropped
      {U"ab", 99, kRight, {U"ab"}, {79}},
      {U"one\n\nthree", 99, 0, {U"one", U"", U"three"}, {0, 0, 0}},
      {U"", 99, 0, {U""}, {0}},
      {U"end\n", 99, 0, {U"end", U""}, {0, 0}},
  };
  for (const Case& c : cases) {
    const Laid l = lay(c.text, rules(c.usable, c.flags));
    EXPECT_EQ(l.text, c.lines) << std::string(c.text.begin(), c.text.end());
    EXPECT_EQ(l.x, c.x) << std::string(c.text.begin(), c.text.end());
  }
}

TEST(TextLayout, JustifiesLinesThatNearlyFillTheBox) {
  dib::LayoutRules r = rules(125, 1);
  r.justify = true;
  std::vector<dib::TextLine> lines;
  // "aaa bbb ccc" (110 of 125, slack 15 < 110 / 3.2) is stretched, "ddd" is
  // the paragraph's end: the text's last line, stretched only if it fills.
  lay(U"aaa bbb ccc ddd", r, &lines);
  ASSERT_EQ(lines.size(), 2u);
  // 15 / 3 / 10 rounds to 1 a character; 15 - 10 = 5 left for the 2 spaces.
  EXPECT_EQ(lines[0].char_extra, 1);
  EXPECT_EQ(lines[0].space_extra, 2);
  EXPECT_EQ(lines[0].spaces_plus_one, 1);
  EXPECT_EQ(dib::text_line_drawn_width(lines[0], U"aaa bbb ccc ddd"), 125);
  EXPECT_EQ(lines[1].char_extra, 0);
  // A paragraph ended by "\n" keeps its spacing however full it is.
  lay(U"aaa bbb cccc\nx", r, &lines);
  EXPECT_EQ(lines[0].char_extra, 0);
  EXPECT_EQ(lines[0].space_extra, 0);
}

}  // namespace
