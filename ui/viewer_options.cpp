#include "ui/viewer_options.h"

#include <strings.h>

#include <optional>

namespace ui {
namespace {

constexpr std::size_t kTitleMax = 127;
constexpr std::size_t kPlaceMax = 15;

// A flag word in any of the languages the library's users type: nothing
// when the word is none of them.
std::optional<bool> flag_word(const std::string& value) {
  for (const char* yes : {"", "true", "vrai", "yes", "oui", "si", "ja", "1"})
    if (::strcasecmp(value.c_str(), yes) == 0) return true;
  for (const char* no : {"false", "faux", "no", "non", "nein", "0"})
    if (::strcasecmp(value.c_str(), no) == 0) return false;
  return std::nullopt;
}

// Flags named for what they turn on: any other word turns them on.
bool direct_flag(const std::string& value) { return flag_word(value).value_or(true); }

// Flags named for the opposite of what is stored ("visible" for hidden): a
// word that is not a flag word leaves them as they were.
void inverse_flag(bool* flag, const std::string& value) {
  if (const std::optional<bool> on = flag_word(value)) *flag = !*on;
}

std::string clipped(const std::string& text, std::size_t max) { return text.substr(0, max); }

// "a,b" split at the first comma (b empty without one).
std::pair<std::string, std::string> split_pair(const std::string& value) {
  const std::size_t comma = value.find(',');
  if (comma == std::string::npos) return {value, ""};
  return {value.substr(0, comma), value.substr(comma + 1)};
}

void clear_edges(PlacementTexts& p) { p.left = p.top = p.right = p.bottom = ""; }

using Apply = OptionEffect (*)(ViewOptions&, const std::string&);

struct OptionEntry {
  const char* name;
  Apply apply;
};

template <std::string PlacementTexts::*Field>
OptionEffect place_text(ViewOptions& o, const std::string& v) {
  o.place.*Field = clipped(v, kPlaceMax);
  return OptionEffect::Reposition;
}

// "a,b" into two placement texts.
template <std::string PlacementTexts::*First, std::string PlacementTexts::*Second>
OptionEffect place_pair(ViewOptions& o, const std::string& v) {
  auto [first, second] = split_pair(v);
  o.place.*First = clipped(first, kPlaceMax);
  o.place.*Second = clipped(second, kPlaceMax);
  return OptionEffect::Reposition;
}

OptionEffect position(ViewOptions& o, const std::string& v) {
  o.centre = false;
  if (v.empty()) {
    clear_edges(o.place);
    return OptionEffect::Reposition;
  }
  auto [left, rest] = split_pair(v);
  auto [top, size] = split_pair(rest);
  auto [width, height] = split_pair(size);
  o.place.left = clipped(left, kPlaceMax);
  o.place.top = clipped(top, kPlaceMax);
  o.place.width = clipped(width, kPlaceMax);
  o.place.height = clipped(height, kPlaceMax);
  return OptionEffect::Reposition;
}

// Matched in order, names without regard to case.
const OptionEntry kOptions[] = {
    {"title", [](ViewOptions& o, const std::string& v) { o.title = clipped(v, kTitleMax); return OptionEffect::Caption; }},
    {"left", place_text<&PlacementTexts::left>},
    {"x", place_text<&PlacementTexts::left>},
    {"top", place_text<&PlacementTexts::top>},
    {"y", place_text<&PlacementTexts::top>},
    {"right", place_text<&PlacementTexts::right>},
    {"bottom", place_text<&PlacementTexts::bottom>},
    {"width", place_text<&PlacementTexts::width>},
    {"w", place_text<&PlacementTexts::width>},
    {"height", place_text<&PlacementTexts::height>},
    {"h", place_text<&PlacementTexts::height>},
    {"center",
     [](ViewOptions& o, const std::string& v) {
       o.centre = direct_flag(v);
       o.remember = false;
       clear_edges(o.place);
       return OptionEffect::Reposition;
     }},
    {"topleft",
     [](ViewOptions& o, const std::string& v) {
       o.centre = false;
       return place_pair<&PlacementTexts::left, &PlacementTexts::top>(o, v);
     }},
    {"size", place_pair<&PlacementTexts::width, &PlacementTexts::height>},
    {"position", position},
    {"pos", position},
    {"timeout", [](ViewOptions& o, const std::string& v) { o.timeout = clipped(v, kPlaceMax); return OptionEffect::Stored; }},
    {"modal", [](ViewOptions& o, const std::string& v) { inverse_flag(&o.modeless, v); return OptionEffect::Stored; }},
    {"modeless", [](ViewOptions& o, const std::string& v) { o.modeless = direct_flag(v); return OptionEffect::Stored; }},
    {"visible", [](ViewOptions& o, const std::string& v) { inverse_flag(&o.hidden, v); return OptionEffect::Visibility; }},
    {"ok.visible", [](ViewOptions& o, const std::string& v) { inverse_flag(&o.ok_hidden, v); return OptionEffect::Buttons; }},
    {"cancel.visible", [](ViewOptions& o, const std::string& v) { o.cancel_shown = direct_flag(v); return OptionEffect::Buttons; }},
    {"print.visible", [](ViewOptions& o, const std::string& v) { o.print_shown = direct_flag(v); return OptionEffect::Buttons; }},
    {"save.visible", [](ViewOptions& o, const std::string& v) { o.save_shown = direct_flag(v); return OptionEffect::Buttons; }},
    {"pos.remember", [](ViewOptions& o, const std::string& v) { o.remember = direct_flag(v); return OptionEffect::Stored; }},
    {"position.remember", [](ViewOptions& o, const std::string& v) { o.remember = direct_flag(v); return OptionEffect::Stored; }},
    {"reset", [](ViewOptions& o, const std::string&) { o = ViewOptions{}; return OptionEffect::Buttons; }},
};

}  // namespace

OptionEffect view_option_apply(ViewOptions& options, const std::string& name,
                               const std::string& value) {
  for (const OptionEntry& entry : kOptions) {
    if (::strcasecmp(entry.name, name.c_str()) == 0) return entry.apply(options, value);
  }
  return OptionEffect::Unknown;
}

}  // namespace ui
