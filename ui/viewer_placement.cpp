#include "ui/viewer_placement.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace ui {
namespace {

// A placement text read: its number and whether it was a percentage.
struct Amount {
  long value = 0;
  bool percent = false;
};

// "n", "n%", with blanks around; anything else (empty, "10px") is not given.
std::optional<Amount> read_amount(const std::string& text) {
  const char* start = text.c_str();
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(start, &end, 10);
  if (end == start || errno == ERANGE || value < -1000000 || value > 1000000) return std::nullopt;
  Amount a{value, false};
  while (*end == ' ') ++end;
  if (*end == '%') {
    a.percent = true;
    ++end;
  }
  while (*end == ' ') ++end;
  if (*end != '\0') return std::nullopt;
  return a;
}

// An edge: a percentage of the work area's extent, rounded, or pixels, both
// from the work area's start.
std::optional<int> edge(const std::string& text, int start, int extent) {
  const std::optional<Amount> a = read_amount(text);
  if (!a) return std::nullopt;
  if (a->percent) return start + static_cast<int>((extent * a->value + 50) / 100);
  return start + static_cast<int>(a->value);
}

std::optional<int> extent(const std::string& text, int whole) {
  const std::optional<Amount> a = read_amount(text);
  if (!a) return std::nullopt;
  if (a->percent) return static_cast<int>((whole * a->value + 50) / 100);
  return static_cast<int>(a->value);
}

// One axis of the placement: the two edges and the extent, against the work
// area's [start, start + whole).
void place_axis(int* low, int* high, const std::string& low_text, const std::string& high_text,
                const std::string& size_text, int start, int whole, bool centre) {
  const std::optional<int> lo = edge(low_text, start, whole);
  const std::optional<int> hi = edge(high_text, start, whole);
  if (lo) *low = *lo;
  if (hi) *high = *hi;
  if (const std::optional<int> size = extent(size_text, whole)) {
    if (hi && !lo) {
      *low = *high - *size;
    } else {
      *high = *low + *size;
    }
  }
  if (centre && !lo && !hi) {
    const int size = *high - *low;
    *low = start + (whole - size) / 2;
    *high = *low + size;
  }
}

// One axis of bringing a rectangle inside [start, end).
void shift_inside(int* low, int* high, int start, int end) {
  const int size = *high - *low;
  if (*low < start) {
    *low = start;
    *high = start + size;
  }
  if (*high > end) {
    *high = end;
    *low = end - size;
  }
  *low = std::max(*low, start);
  *high = std::min(*high, end);
}

// Dialog units to pixels.
ViewRect units(int l, int t, int r, int b, int char_w, int char_h) {
  return {l * char_w / 4, t * char_h / 8, r * char_w / 4, b * char_h / 8};
}

}  // namespace

ViewRect place_view(const ViewRect& current, const ViewRect& work, const PlacementTexts& texts,
                    bool centre) {
  ViewRect r = current;
  place_axis(&r.left, &r.right, texts.left, texts.right, texts.width, work.left, work.width(),
             centre);
  place_axis(&r.top, &r.bottom, texts.top, texts.bottom, texts.height, work.top, work.height(),
             centre);
  return r;
}

ViewRect bring_inside(const ViewRect& remembered, const ViewRect& work) {
  ViewRect r = remembered;
  shift_inside(&r.left, &r.right, work.left, work.right);
  shift_inside(&r.top, &r.bottom, work.top, work.bottom);
  return r;
}

std::string position_text(const ViewRect& r) {
  char text[64];
  std::snprintf(text, sizeof text, "%d,%d,%d,%d", r.left, r.top, r.right, r.bottom);
  return text;
}

std::optional<ViewRect> parse_position(const std::string& text) {
  ViewRect r;
  int used = 0;
  if (std::sscanf(text.c_str(), "%d,%d,%d,%d%n", &r.left, &r.top, &r.right, &r.bottom, &used) != 4 ||
      static_cast<std::size_t>(used) != text.size())
    return std::nullopt;
  if (r.width() <= 0 || r.height() <= 0) return std::nullopt;
  return r;
}

ViewerControls layout_viewer(int width, int height, const ButtonsShown& shown, int pages,
                             int char_w, int char_h) {
  ViewerControls c;
  // The buttons go down a column from OK's place, each shown one taking the
  // next slot; a slot is a button and a quarter of its height.
  ViewRect slot = units(4, 4, 50, 18, char_w, char_h);
  const int step = slot.height() + slot.height() / 4;
  for (auto [on, place] : {std::pair{shown.ok, &c.ok}, std::pair{shown.cancel, &c.cancel},
                           std::pair{shown.print, &c.print}, std::pair{shown.save, &c.save}}) {
    if (!on) continue;
    *place = slot;
    slot.top += step;
    slot.bottom += step;
  }
  if (pages >= 2) {
    const ViewRect bar = units(40, 24, 52, 104, char_w, char_h);
    c.scroll = {bar.left, slot.top, bar.right, slot.top + bar.height()};
    const ViewRect text = units(4, 56, 38, 68, char_w, char_h);
    const int middle = (c.scroll.top + c.scroll.bottom) / 2;
    c.page_text = {text.left, middle - text.height() / 2, text.right,
                   middle - text.height() / 2 + text.height()};
  }
  const ViewRect corner = units(56, 4, 5, 5, char_w, char_h);
  c.image = {corner.left, corner.top, std::max(corner.left, width - corner.right),
             std::max(corner.top, height - corner.bottom)};
  return c;
}

Size display_size(int width, int height, double x_dpi, double y_dpi) {
  Size s{width, height};
  if (x_dpi > 0 && y_dpi > 0 && x_dpi != y_dpi) {
    if (x_dpi < y_dpi) {
      s.w = static_cast<int>(std::lround(width * (y_dpi / x_dpi)));
    } else {
      s.h = static_cast<int>(std::lround(height * (x_dpi / y_dpi)));
    }
  }
  return s;
}

Size painted_size(Size display, Size area) {
  if (display.w <= 0 || display.h <= 0 || area.w <= 0 || area.h <= 0) return {};
  const double scale = std::min(static_cast<double>(area.h) / display.h,
                                static_cast<double>(area.w) / display.w);
  return {static_cast<int>(display.w * scale + 0.5), static_cast<int>(display.h * scale + 0.5)};
}

}  // namespace ui
