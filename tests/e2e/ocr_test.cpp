// /OCR from the virtual scanner as a user runs it, every output checked with
// poppler's tools and qpdf: the text pdftotext recovers (word accuracy
// against the prose the scanner prints), where its word boxes lie (over the
// ink of the printed words in the page image, within 2 pt), the page images
// (the same as without /OCR), a sheet fed upside down (upright with the
// settings file's auto-rotation), and a program without the OCR module.
// Pages are 4 x 5 inches at 200 dpi: enough for the 11 pt print, small
// enough for the sanitizer build.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "../ocr_accuracy.h"
#include "../tool_support.h"
#include "run_program.h"
#include "scan_run.h"

namespace {

namespace fs = std::filesystem;
using test_tools::command_output;

constexpr const char* kGrayPages = "pixel_type = gray\ntwo_sided = no\nresolutions = 200\ndpi_default = 200\n";
constexpr double kDpi = 200;
constexpr double kPointsTolerance = 2;

std::vector<std::string> printed_words() {
  return ocr_accuracy::truth_words(
      ocr_accuracy::paragraphs_in_source(std::string(QUILLET_SOURCE_DIR) + "/sources/virtual/pages/text.cpp"));
}

std::string page_text(const std::string& pdf, int page) {
  const std::string p = std::to_string(page);
  return command_output("pdftotext -f " + p + " -l " + p + " '" + pdf + "' -");
}

double page_accuracy(const std::string& pdf, int page) {
  return ocr_accuracy::word_accuracy(ocr_accuracy::words_of(page_text(pdf, page)), printed_words()).value();
}

// The image of each page, as pdfimages writes them out (PNG bytes).
std::vector<std::string> page_images(const std::string& pdf) {
  const std::string folder = make_temp_folder();
  command_output("pdfimages -png '" + pdf + "' '" + folder + "/img'");
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().string());
  std::sort(names.begin(), names.end());
  std::vector<std::string> images;
  for (const std::string& n : names) images.push_back(read_file(n));
  fs::remove_all(folder);
  return images;
}

bool qpdf_clean(const std::string& pdf) {
  return command_output("qpdf --check '" + pdf + "' 2>&1").find("No syntax or stream encoding errors") !=
         std::string::npos;
}

// A gray image read through ImageMagick: its size and one byte per pixel.
struct Gray {
  int w = 0, h = 0;
  std::string pixels;
  bool dark(int x, int y) const { return static_cast<unsigned char>(pixels[std::size_t(y) * w + x]) < 128; }
};

Gray first_page_image(const std::string& pdf) {
  const std::string folder = make_temp_folder();
  command_output("pdfimages -f 1 -l 1 -png '" + pdf + "' '" + folder + "/p'");
  const std::string png = folder + "/p-000.png";
  Gray g;
  std::sscanf(command_output("identify -format '%w %h' '" + png + "'").c_str(), "%d %d", &g.w, &g.h);
  g.pixels = command_output("convert '" + png + "' -depth 8 gray:-");
  fs::remove_all(folder);
  return g;
}

// How many of the first page's words of body text (pdftotext -bbox, points)
// lie over their printed ink within 2 pt on every side. The ink's rows are
// looked for in the box's columns, from the box's middle row up and down to
// the blank rows between lines; its columns along those rows, widened by
// 3 pt (less than a word space). Words of the prose only (the
// heading's larger print has its own proportions), of 3 characters or more
// (shorter ones are a stroke or a dot).
struct BoxCheck {
  int words = 0, over_ink = 0;
  std::string misses;
};

BoxCheck boxes_over_ink(const std::string& pdf) {
  const Gray g = first_page_image(pdf);
  const std::string xml = command_output("pdftotext -f 1 -l 1 -bbox '" + pdf + "' -");
  const std::regex word(R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re");
  const std::vector<std::string> prose = printed_words();
  const double px = kDpi / 72, tolerance = kPointsTolerance * px;
  const int margin = int(3 * px);
  auto row_has_ink = [&](int y, int x0, int x1) {
    for (int x = std::max(0, x0); x < std::min(g.w, x1); ++x)
      if (g.dark(x, y)) return true;
    return false;
  };
  BoxCheck c;
  for (auto it = std::sregex_iterator(xml.begin(), xml.end(), word); it != std::sregex_iterator(); ++it) {
    const std::smatch& m = *it;
    const std::vector<std::string> w = ocr_accuracy::words_of(m[5].str());
    if (m[5].length() < 3 || w.empty() || std::find(prose.begin(), prose.end(), w[0]) == prose.end()) continue;
    const double x0 = std::stod(m[1]) * px, y0 = std::stod(m[2]) * px, x1 = std::stod(m[3]) * px,
                 y1 = std::stod(m[4]) * px;
    int top = int((y0 + y1) / 2), bottom = top;
    while (top > 0 && row_has_ink(top - 1, int(x0), int(x1))) --top;
    while (bottom < g.h && row_has_ink(bottom, int(x0), int(x1))) ++bottom;
    int left = g.w, right = -1;
    for (int y = top; y < bottom; ++y)
      for (int x = std::max(0, int(x0) - margin); x < std::min(g.w, int(x1) + margin); ++x)
        if (g.dark(x, y)) left = std::min(left, x), right = std::max(right, x + 1);
    ++c.words;
    if (right > 0 && std::abs(left - x0) <= tolerance && std::abs(right - x1) <= tolerance &&
        std::abs(top - y0) <= tolerance && std::abs(bottom - y1) <= tolerance)
      ++c.over_ink;
    else
      c.misses += m[5].str() + " ";
  }
  return c;
}

// A program folder of its own: the program copied (it finds its modules and
// its settings file beside itself), the build's modules and data sources
// linked in, OrvOcr only when `with_ocr`, and `settings` as Orivane3.ini.
std::string program_copy(bool with_ocr, const std::string& settings) {
  const fs::path program = quillet_program();
  const std::string folder = make_temp_folder();
  fs::copy_file(program, folder + "/quillet");
  for (const auto& e : fs::directory_iterator(program.parent_path())) {
    const std::string name = e.path().filename().string();
    const bool module = name.rfind("Orv", 0) == 0 && e.path().extension() == ".so";
    if ((module && (with_ocr || name != "OrvOcr.so")) || name == "libtwaindsm.so" || name == "twain")
      fs::create_symlink(e.path(), folder + "/" + name);
  }
  if (!settings.empty()) std::ofstream(folder + "/Orivane3.ini") << settings;
  return folder + "/quillet";
}

TEST(Ocr, MultipagePdfIsSearchableOverUnchangedImages) {
  ScanRun s(kGrayPages);
  const RunResult r = s.run({"/OCR", "/PDF+", "/N=3", "scan.pdf"});
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  const std::string pdf = s.at("scan.pdf");
  EXPECT_TRUE(qpdf_clean(pdf));
  for (int page = 1; page <= 3; ++page) {
    EXPECT_GE(page_accuracy(pdf, page), 0.98) << page_text(pdf, page);
    EXPECT_NE(page_text(pdf, page).find("Page " + std::to_string(page)), std::string::npos);
  }
  const BoxCheck boxes = boxes_over_ink(pdf);
  EXPECT_GT(boxes.words, 50);
  EXPECT_GE(boxes.over_ink, boxes.words * 98 / 100) << "words off their ink: " << boxes.misses;
  // The same scan without /OCR: the same page images, no text.
  ScanRun plain(kGrayPages);
  ASSERT_EQ(plain.run({"/PDF+", "/N=3", "scan.pdf"}).exit_status, 0);
  const std::vector<std::string> with_text = page_images(pdf);
  EXPECT_EQ(with_text.size(), 3u);
  EXPECT_TRUE(with_text == page_images(plain.at("scan.pdf")));
  EXPECT_EQ(page_text(plain.at("scan.pdf"), 1).find("Page"), std::string::npos);
}

TEST(Ocr, SinglePdfCarriesItsText) {
  ScanRun s(kGrayPages);
  const RunResult r = s.run({"/OCR", "scan.pdf"});
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_EQ(report_value(r.out, "File"), s.at("scan.pdf"));
  EXPECT_EQ(report_value(r.out, "Error"), "");
  EXPECT_TRUE(qpdf_clean(s.at("scan.pdf")));
  EXPECT_GE(page_accuracy(s.at("scan.pdf"), 1), 0.98) << page_text(s.at("scan.pdf"), 1);
  // Text has a place only in a PDF: /OCR into anything else is refused
  // before a page is scanned.
  for (const char* name : {"scan.tif", "scan.png"}) {
    const RunResult refused = s.run({"/OCR", name});
    EXPECT_EQ(refused.exit_status, 251) << name;
    EXPECT_EQ(report_value(refused.out, "Error"), "/OCR only supported to PDF (/PDF, /PDF+ or a .pdf name)");
    EXPECT_FALSE(file_exists(s.at(name)));
  }
}

// Without the module a single PDF is still written (without text) and the
// report says why it has none; a multipage PDF with /OCR fails and leaves
// no file.
TEST(Ocr, WithoutTheModuleTheReportSaysSo) {
  ScanRun s(kGrayPages);
  s.env["QUILLET_BIN"] = program_copy(false, "");
  const RunResult single = s.run({"/OCR", "one.pdf"});
  EXPECT_EQ(single.exit_status, 0) << single.out << single.err;
  EXPECT_EQ(report_value(single.out, "File"), s.at("one.pdf"));
  EXPECT_EQ(report_value(single.out, "Error"), "OCR: Could not find and load OrvOcr.dll.");
  EXPECT_TRUE(qpdf_clean(s.at("one.pdf")));
  const RunResult multi = s.run({"/OCR", "/PDF+", "/N=2", "doc.pdf"});
  EXPECT_NE(multi.exit_status, 0) << multi.out;
  EXPECT_NE(report_value(multi.out, "Error").find("OrvOcr.dll"), std::string::npos) << multi.out;
  EXPECT_FALSE(file_exists(s.at("doc.pdf")));
  EXPECT_EQ(report_value(multi.out, "PagesWritten"), "0");
  // The About text says what is there.
  const RunResult about = s.run({"/V", "/NOSCAN"});
  EXPECT_NE(about.err.find("OCR:  \t\tUnavailable"), std::string::npos) << about.err;
}

TEST(Ocr, AnUpsideDownSheetComesOutUprightWithAutoRotation) {
  ScanRun s(std::string(kGrayPages) + "events = 2:upside_down\n");
  s.env["QUILLET_BIN"] = program_copy(true, "OCR_SetAutoRotatePagesToPDF=1\r\n");
  const RunResult r = s.run({"/OCR", "/PDF+", "/N=2", "doc.pdf"});
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_GE(page_accuracy(s.at("doc.pdf"), 2), 0.98) << page_text(s.at("doc.pdf"), 2);
  // Turned back, the page is the one an upright sheet gives.
  ScanRun plain(kGrayPages);
  ASSERT_EQ(plain.run({"/PDF+", "/N=2", "doc.pdf"}).exit_status, 0);
  const std::vector<std::string> turned = page_images(s.at("doc.pdf")), upright = page_images(plain.at("doc.pdf"));
  ASSERT_EQ(turned.size(), 2u);
  EXPECT_TRUE(turned == upright);
  const RunResult about = s.run({"/V", "/NOSCAN"});
  EXPECT_NE(about.err.find("OCR:  \t\tversion 1.05 (Tesseract)"), std::string::npos) << about.err;
}

TEST(Ocr, ImageToolReadsTextAndWritesSearchablePdf) {
  ScanRun s(kGrayPages);
  ASSERT_EQ(s.run({"/TIF+", "/N=2", "scan.tif"}).exit_status, 0);
  const RunResult text = run_orivane({"ocr", "scan.tif"}, s.home);
  ASSERT_EQ(text.exit_status, 0) << text.err;
  const std::size_t feed = text.out.find('\f');
  ASSERT_NE(feed, std::string::npos);
  EXPECT_NE(text.out.find("Page 1"), std::string::npos);
  EXPECT_NE(text.out.find("Page 2", feed), std::string::npos);
  const RunResult pdf = run_orivane({"ocr", "scan.tif", "scan.pdf"}, s.home);
  ASSERT_EQ(pdf.exit_status, 0) << pdf.err;
  EXPECT_TRUE(qpdf_clean(s.at("scan.pdf")));
  EXPECT_GE(page_accuracy(s.at("scan.pdf"), 2), 0.98);
  const RunResult refused = run_orivane({"ocr", "scan.tif", "scan.png"}, s.home);
  EXPECT_EQ(refused.exit_status, 1);
  EXPECT_FALSE(file_exists(s.at("scan.png")));
}

}  // namespace
