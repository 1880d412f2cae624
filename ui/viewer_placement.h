// Where the viewer window goes and how its contents are laid out: the
// arithmetic of placing it against the desktop's work area (edges and sizes
// in pixels or percent), bringing a remembered rectangle back inside, the
// button column, and the size an image is painted at. Pure functions: no
// display is needed to use or test them.
#pragma once
#include <optional>
#include <string>

namespace ui {

// A rectangle by its edges, in screen pixels; right and bottom are one past.
struct ViewRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool operator==(const ViewRect&) const = default;
};

// The placement texts of the view options: a number of pixels, a number
// followed by '%' (of the work area), or empty (not given).
struct PlacementTexts {
  std::string left, top, right, bottom, width, height;
};

// Places a window whose rectangle is now `current` against the work area
// `work`: given edges and sizes first, then, with `centre`, centred on each
// axis with no edge given.
ViewRect place_view(const ViewRect& current, const ViewRect& work, const PlacementTexts& texts,
                    bool centre);

// A remembered rectangle brought inside the work area: shifted in (to the
// left edge keeping its size, then to the right edge, the same vertically),
// then cut where it still sticks out.
ViewRect bring_inside(const ViewRect& remembered, const ViewRect& work);

// The settings-store text of a rectangle ("l,t,r,b") and back. A text that
// is not four numbers, or an empty or inverted rectangle, is no rectangle.
std::string position_text(const ViewRect& r);
std::optional<ViewRect> parse_position(const std::string& text);

// The viewer's controls in window pixels for a window `width` x `height`.
// Dialog units become pixels by the dialog font's average character size
// (x: unit * char_w / 4, y: unit * char_h / 8).
struct ViewerControls {
  ViewRect ok, cancel, print, save;  // empty for a hidden button
  ViewRect scroll, page_text;        // empty with fewer than 2 pages
  ViewRect image;
};
struct ButtonsShown {
  bool ok = true, cancel = false, print = false, save = false;
};
ViewerControls layout_viewer(int width, int height, const ButtonsShown& shown, int pages,
                             int char_w, int char_h);

// An image's display size: its pixels, with the dimension of the lower
// resolution stretched by the ratio of the two (rounded) when they differ
// and neither is 0.
struct Size {
  int w = 0, h = 0;
  bool operator==(const Size&) const = default;
};
Size display_size(int width, int height, double x_dpi, double y_dpi);
// The size the image is painted at in an area: the display size scaled by
// the smaller ratio, so the whole image fits (small ones are enlarged).
Size painted_size(Size display, Size area);

}  // namespace ui
