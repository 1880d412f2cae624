// The standard's paper sizes, given in millimetres and converted at 25.4 mm
// per inch; only the US sizes are defined in inches.
#include "core/paper_sizes.h"

#include <array>

#include "orivane/twain.h"

namespace core {

namespace {

struct Millimetres {
  double width, height;
};

constexpr double kMmPerInch = 25.4;

// Index = TWSS_ code. Entry 8 has no paper.
constexpr std::array<Millimetres, 54> kSizes = {{
    {0, 0},                                                   // 0 none
    {210, 297},     {182, 257},     {8.5 * kMmPerInch, 11 * kMmPerInch},   // 1 A4, 2 JIS B5, 3 letter
    {8.5 * kMmPerInch, 14 * kMmPerInch}, {148, 210}, {250, 353},           // 4 legal, 5 A5, 6 ISO B4
    {125, 176},     {0, 0},         {11 * kMmPerInch, 17 * kMmPerInch},    // 7 ISO B6, 8, 9 ledger
    {7.25 * kMmPerInch, 10.5 * kMmPerInch}, {297, 420}, {353, 500},        // 10 executive, 11 A3, 12 ISO B3
    {105, 148},     {229, 324},     {162, 229},     {114, 162},            // 13 A6, 14 C4, 15 C5, 16 C6
    {1682, 2378},   {1189, 1682},   {841, 1189},    {594, 841},            // 17 4A0, 18 2A0, 19 A0, 20 A1
    {420, 594},     {74, 105},      {52, 74},       {37, 52},              // 21 A2, 22 A7, 23 A8, 24 A9
    {26, 37},       {1000, 1414},   {707, 1000},    {500, 707},            // 25 A10, 26-28 ISO B0-B2
    {176, 250},     {88, 125},      {62, 88},       {44, 62},              // 29 ISO B5, 30-32 ISO B7-B9
    {31, 44},       {1030, 1456},   {728, 1030},    {515, 728},            // 33 ISO B10, 34-36 JIS B0-B2
    {364, 515},     {257, 364},     {128, 182},     {91, 128},             // 37 JIS B3, 38 B4, 39 B6, 40 B7
    {64, 91},       {45, 64},       {32, 45},       {917, 1297},           // 41-43 JIS B8-B10, 44 C0
    {648, 917},     {458, 648},     {324, 458},     {81, 114},             // 45 C1, 46 C2, 47 C3, 48 C7
    {57, 81},       {40, 57},       {28, 40},                              // 49 C8, 50 C9, 51 C10
    {5.5 * kMmPerInch, 8.5 * kMmPerInch}, {2 * kMmPerInch, 3.5 * kMmPerInch},  // 52 statement, 53 card
}};

}  // namespace

bool paper_size_inches(int code, PaperSize* out_size) {
  if (code < 1 || code >= static_cast<int>(kSizes.size())) return false;
  out_size->width = kSizes[code].width / kMmPerInch;
  out_size->height = kSizes[code].height / kMmPerInch;
  return true;
}

double inches_to_units(double inches, int units, double dots_per_inch) {
  switch (units) {
    case TWUN_CENTIMETERS: return inches * 2.54;
    case TWUN_PICAS: return inches * 6;
    case TWUN_POINTS: return inches * 72;
    case TWUN_TWIPS: return inches * 1440;
    case TWUN_MILLIMETERS: return inches * kMmPerInch;
    case TWUN_PIXELS: return dots_per_inch > 0 ? inches * dots_per_inch : inches;
    default: return inches;
  }
}

}  // namespace core
