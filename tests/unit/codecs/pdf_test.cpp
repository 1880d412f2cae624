// OrvPdf through its exported entry points, loaded as the library loads it.
// Files are checked by readers other than the one that wrote them: qpdf
// --check, and poppler's pdfimages / pdfinfo / pdftotext.
#include <dirent.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <random>
#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's count (its header is not installed with every compiler).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

#include "pdf_dcx_harness.h"

namespace {

using pdf_dcx_test::LockedDib;
using pdf_dcx_test::Owned;
using pdf_dcx_test::run;
using pdf_dcx_test::TempDir;

#define PDF_ENTRY(name) ORVPDF_##name##Fn name = m.sym<ORVPDF_##name##Fn>(#name)
struct Pdf {
  pdf_dcx_test::Module m{"OrvPdf.so", "ORVPDF"};
  PDF_ENTRY(BmiWriteToFile);
  PDF_ENTRY(BeginMultipageFile);
  PDF_ENTRY(DibWritePage);
  PDF_ENTRY(EndMultipageFile);
  PDF_ENTRY(BeginMultipage);
  PDF_ENTRY(EndMultipage);
  PDF_ENTRY(Version);
  PDF_ENTRY(SetTitle);
  PDF_ENTRY(SetAuthor);
  PDF_ENTRY(SetCompression);
  PDF_ENTRY(SetUserPassword);
  PDF_ENTRY(SetOwnerPassword);
  PDF_ENTRY(SetPermissions);
  PDF_ENTRY(SetPDFACompliance);
  PDF_ENTRY(SetMediaBox);
  PDF_ENTRY(SetJpegQuality);
  PDF_ENTRY(SetOpenPassword);
  PDF_ENTRY(DibFromFile);
  PDF_ENTRY(DibFromBuffer);
  PDF_ENTRY(CountPagesInFile);
  PDF_ENTRY(CountPagesInBuffer);
  PDF_ENTRY(LoadDibsFromFile);
  PDF_ENTRY(IsEncrypted);
  PDF_ENTRY(IsOneOfOurs);
  PDF_ENTRY(ReadDocumentProperty);
  PDF_ENTRY(DrawText);
  PDF_ENTRY(SetTextRenderMode);
  PDF_ENTRY(SetTextSize);
  PDF_ENTRY(AnsiTextWidth);
  PDF_ENTRY(SetAppendSource);
  PDF_ENTRY(SetLogHandler);
};
#undef PDF_ENTRY

Pdf& pdf() {
  static Pdf p;
  return p;
}

class PdfTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetForTests();
    ASSERT_TRUE(pdf().m.ok()) << pdf().m.error();
    setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
    // Back to the defaults every test expects.
    pdf().SetCompression(-1, ORVPDF_COMP_DEFAULT);
    pdf().SetUserPassword(nullptr);
    pdf().SetOwnerPassword(nullptr);
    pdf().SetOpenPassword(nullptr);
    pdf().SetPDFACompliance(0);
    pdf().SetMediaBox(0, 0, 0, 0);
    pdf().SetPermissions(ORVPDF_PERM_ALL);
    pdf().SetJpegQuality(75);
  }
  std::string write_one(DIB_HANDLE d, const std::string& name) {
    const std::string path = dir.file(name);
    EXPECT_EQ(pdf().BmiWriteToFile(LockedDib(d).get(), path.c_str(), 0), 0);
    return path;
  }
  TempDir dir;
};

bool qpdf_check(const std::string& path, const std::string& password = "") {
  int status = -1;
  const std::string out =
      run("qpdf " + (password.empty() ? "" : "--password='" + password + "' ") + "--check '" + path + "'", &status);
  if (status != 0) ADD_FAILURE() << out;
  return status == 0;
}

// The "enc" column of pdfimages -list for each image.
std::vector<std::string> image_encodings(const std::string& path) {
  std::istringstream in(run("pdfimages -list '" + path + "'"));
  std::vector<std::string> encs;
  std::string line;
  for (int n = 0; std::getline(in, line); ++n) {
    if (n < 2) continue;  // heading and rule
    std::istringstream f(line);
    std::string page, num, type, width, height, color, comp, bpc, enc;
    f >> page >> num >> type >> width >> height >> color >> comp >> bpc >> enc;
    encs.push_back(enc);
  }
  return encs;
}

// Image of a depth and pixel type filled with the pattern.
DIB_HANDLE pattern_image(int type, int depth, int w, int h, int seed = 0) {
  const DIB_HANDLE d = DIB_Create(type, w, h, depth);
  dib_test::fill_pattern(d, seed);
  DIB_SetResolution(d, 300, 300);
  return d;
}

TEST_F(PdfTest, ReportsTheVersionTheLibraryRequires) { EXPECT_EQ(pdf().Version(), 160); }

TEST_F(PdfTest, FlatePagesRoundTripPixelExact) {
  struct Case {
    const char* name;
    int type, depth;
    bool palette, top_down;
  };
  const Case cases[] = {
      {"bw", DIB_PT_BW, 1, false, false},        {"gray4", DIB_PT_GRAY, 4, false, false},
      {"gray8", DIB_PT_GRAY, 8, false, true},    {"palette8", DIB_PT_PALETTE, 8, true, false},
      {"palette4", DIB_PT_PALETTE, 4, true, true}, {"gray16", DIB_PT_GRAY, 16, false, false},
      {"rgb24", DIB_PT_RGB, 24, false, true},    {"cmyk32", DIB_PT_CMYK, 32, false, false},
      {"rgb48", DIB_PT_RGB, 48, false, false},
  };
  pdf().SetCompression(-1, ORVPDF_COMP_FLATE);
  for (const Case& c : cases) {
    for (int w : {1, 13, 33}) {
      SCOPED_TRACE(std::string(c.name) + " width " + std::to_string(w));
      Owned src(pattern_image(c.type, c.depth, w, 7, w));
      if (c.top_down) dib_test::make_top_down(src.get());
      const std::string path = write_one(src.get(), std::string(c.name) + ".pdf");
      EXPECT_TRUE(qpdf_check(path));
      EXPECT_EQ(image_encodings(path), std::vector<std::string>{"image"});
      Owned back(pdf().DibFromFile(path.c_str(), 0, nullptr));
      ASSERT_TRUE(back);
      EXPECT_TRUE(pdf_dcx_test::same_pixels(back.get(), src.get()));
      EXPECT_EQ(DIB_XResolutionInt(back.get()), 300);
    }
  }
}

TEST_F(PdfTest, BwPagesAreGroup4AndReadBackExactly) {
  for (bool min_is_white : {false, true}) {
    Owned src(pattern_image(DIB_PT_BW, 1, 203, 31));
    Owned expect(DibCopy(src.get()));
    if (min_is_white) {
      DIB_Negate(src.get());
      DIB_SetColorTableRGB(src.get(), 0, 255, 255, 255);
      DIB_SetColorTableRGB(src.get(), 1, 0, 0, 0);
    }
    const std::string path = write_one(src.get(), "bw.pdf");
    EXPECT_TRUE(qpdf_check(path));
    EXPECT_EQ(image_encodings(path), std::vector<std::string>{"ccitt"});
    Owned back(pdf().DibFromFile(path.c_str(), 0, nullptr));
    EXPECT_TRUE(pdf_dcx_test::same_pixels(back.get(), expect.get())) << "min-is-white " << min_is_white;
  }
}

// A DIB holding a JPEG stream as it comes from a compressed transfer.
DIB_HANDLE jpeg_dib(const std::string& jpeg, int w, int h) {
  const std::size_t size = 40 + jpeg.size();
  const DIB_HANDLE d = platform::mem_alloc(size);
  auto* p = static_cast<std::uint8_t*>(platform::mem_lock(d));
  const std::int32_t hdr[] = {40, w, h};
  std::memcpy(p, hdr, 12);
  p[12] = 1;
  p[14] = 24;
  const std::uint32_t compression = ORV_STREAM_JPEG << 8, image = static_cast<std::uint32_t>(jpeg.size()),
                      ppm = 11811;
  std::memcpy(p + 16, &compression, 4);
  std::memcpy(p + 20, &image, 4);
  std::memcpy(p + 24, &ppm, 4);
  std::memcpy(p + 28, &ppm, 4);
  std::memcpy(p + 40, jpeg.data(), jpeg.size());
  platform::mem_unlock(d);
  return d;
}

TEST_F(PdfTest, JpegStreamsGoInUnchanged) {
  // The stream comes from another coder (cjpeg), so nothing of ours made it.
  std::string ppm = "P6\n64 48\n255\n";
  for (int i = 0; i < 64 * 48 * 3; ++i) ppm += static_cast<char>((i * 7) & 0xFF);
  pdf_dcx_test::write_file(dir.file("in.ppm"), ppm);
  run("cjpeg -quality 80 '" + dir.file("in.ppm") + "' > '" + dir.file("in.jpg") + "'");
  const std::string jpeg = pdf_dcx_test::read_file(dir.file("in.jpg"));
  ASSERT_GT(jpeg.size(), 100u);
  const DIB_HANDLE d = jpeg_dib(jpeg, 64, 48);
  const std::string path = dir.file("j.pdf");
  ASSERT_EQ(pdf().BmiWriteToFile(LockedDib(d).get(), path.c_str(), 0), 0);
  platform::mem_free(d);
  EXPECT_TRUE(qpdf_check(path));
  EXPECT_EQ(image_encodings(path), std::vector<std::string>{"jpeg"});
  run("pdfimages -j '" + path + "' '" + dir.file("out") + "'");
  EXPECT_EQ(pdf_dcx_test::read_file(dir.file("out-000.jpg")), jpeg);
  Owned back(pdf().DibFromFile(path.c_str(), 0, nullptr));
  ASSERT_TRUE(back);
  EXPECT_EQ(DIB_Width(back.get()), 64);
  EXPECT_EQ(DIB_Depth(back.get()), 24);
}

TEST_F(PdfTest, JpegCompressionWhenTheSettingAsksForIt) {
  ASSERT_EQ(pdf().SetCompression(-1, ORVPDF_COMP_JPEG), 1);  // BW keeps Group 4
  pdf().SetJpegQuality(90);
  for (int depth : {8, 24}) {
    // Smooth content: JPEG's error stays small.
    Owned src(DIB_Create(depth == 8 ? DIB_PT_GRAY : DIB_PT_RGB, 64, 64, depth));
    std::vector<std::uint8_t> row(64 * 3);
    for (int y = 0; y < 64; ++y) {
      for (int x = 0; x < 64; ++x) {
        if (depth == 8) {
          row[x] = static_cast<std::uint8_t>(x * 2 + y);
        } else {
          row[3 * x] = static_cast<std::uint8_t>(x * 3);
          row[3 * x + 1] = static_cast<std::uint8_t>(y * 3);
          row[3 * x + 2] = static_cast<std::uint8_t>(x + y);
        }
      }
      DIB_WriteRow(src.get(), y, row.data(), static_cast<int32_t>(row.size()));
    }
    DIB_SetResolution(src.get(), 200, 200);
    const std::string path = write_one(src.get(), "q.pdf");
    EXPECT_TRUE(qpdf_check(path));
    EXPECT_EQ(image_encodings(path), std::vector<std::string>{"jpeg"});
    Owned back(pdf().DibFromFile(path.c_str(), 0, nullptr));
    EXPECT_EQ(DIB_AlmostEqual(back.get(), src.get(), 12), 1) << depth;
  }
  Owned bw(pattern_image(DIB_PT_BW, 1, 50, 50));
  EXPECT_EQ(image_encodings(write_one(bw.get(), "bw.pdf")), std::vector<std::string>{"ccitt"});
  EXPECT_EQ(pdf().SetCompression(DIB_PT_BW, ORVPDF_COMP_JPEG), 0);
  EXPECT_EQ(pdf().SetCompression(DIB_PT_RGB, ORVPDF_COMP_G4), 0);
}

TEST_F(PdfTest, TwentyPagesPropertiesAndRanges) {
  pdf().SetTitle("Scan (batch) \xC3\xA9t\xC3\xA9");
  pdf().SetAuthor("Quillet tests");
  const std::string path = dir.file("twenty.pdf");
  ASSERT_EQ(pdf().BeginMultipageFile(path.c_str(), 0), 0);
  for (int i = 0; i < 20; ++i) {
    Owned page(pattern_image(i % 2 ? DIB_PT_GRAY : DIB_PT_BW, i % 2 ? 8 : 1, 100 + i, 50, i));
    ASSERT_EQ(pdf().DibWritePage(LockedDib(page.get()).get()), 0);
  }
  ASSERT_EQ(pdf().EndMultipageFile(), 0);
  EXPECT_TRUE(qpdf_check(path));
  EXPECT_EQ(pdf().CountPagesInFile(path.c_str(), nullptr), 20);
  const std::string info = run("pdfinfo '" + path + "'");
  const std::size_t pages_at = info.find("Pages:");
  ASSERT_NE(pages_at, std::string::npos) << info;
  EXPECT_EQ(std::atoi(info.c_str() + pages_at + 6), 20);

  OrvHandle out[5] = {};
  EXPECT_EQ(pdf().LoadDibsFromFile(path.c_str(), 18, 5, nullptr, out), 2);
  EXPECT_EQ(DIB_Width(out[0]), 118);
  EXPECT_EQ(DIB_Width(out[1]), 119);
  DIB_FreeArray(out, 2);

  char buf[8];
  EXPECT_EQ(pdf().ReadDocumentProperty(path.c_str(), "Title", nullptr, buf, sizeof buf), 18);
  EXPECT_STREQ(buf, "Scan (b");
  char author[64];
  EXPECT_EQ(pdf().ReadDocumentProperty(path.c_str(), "Author", nullptr, author, sizeof author), 13);
  EXPECT_STREQ(author, "Quillet tests");
  EXPECT_LT(pdf().ReadDocumentProperty(path.c_str(), "Subject", nullptr, author, sizeof author), 0);
  EXPECT_EQ(pdf().IsOneOfOurs(path.c_str(), nullptr), 1);
  // The same pages copied by another program are not ours.
  run("qpdf --empty --pages '" + path + "' -- '" + dir.file("copy.pdf") + "'");
  EXPECT_EQ(pdf().IsOneOfOurs(dir.file("copy.pdf").c_str(), nullptr), 0);
  EXPECT_EQ(pdf().CountPagesInFile(dir.file("copy.pdf").c_str(), nullptr), 20);
  pdf().SetTitle(nullptr);
  pdf().SetAuthor(nullptr);
}

TEST_F(PdfTest, AppendAddsPagesToAnExistingFile) {
  Owned a(pattern_image(DIB_PT_GRAY, 8, 20, 10, 1)), b(pattern_image(DIB_PT_RGB, 24, 30, 10, 2));
  const std::string path = dir.file("app.pdf");
  ASSERT_EQ(pdf().BmiWriteToFile(LockedDib(a.get()).get(), path.c_str(), 1), 0);  // missing: created
  ASSERT_EQ(pdf().BmiWriteToFile(LockedDib(a.get()).get(), path.c_str(), 1), 0);
  ASSERT_EQ(pdf().BeginMultipageFile(path.c_str(), 1), 0);
  ASSERT_EQ(pdf().DibWritePage(LockedDib(b.get()).get()), 0);
  ASSERT_EQ(pdf().EndMultipageFile(), 0);
  EXPECT_TRUE(qpdf_check(path));
  EXPECT_EQ(pdf().CountPagesInFile(path.c_str(), nullptr), 3);
  Owned last(pdf().DibFromFile(path.c_str(), 2, nullptr));
  EXPECT_TRUE(pdf_dcx_test::same_pixels(last.get(), b.get()));
  // Without the flag the file starts over.
  ASSERT_EQ(pdf().BmiWriteToFile(LockedDib(a.get()).get(), path.c_str(), 0), 0);
  EXPECT_EQ(pdf().CountPagesInFile(path.c_str(), nullptr), 1);
}

TEST_F(PdfTest, PasswordsEncryptAndReadingNeedsThem) {
  Owned page(pattern_image(DIB_PT_GRAY, 8, 16, 16));
  pdf().SetUserPassword("open sesame");
  pdf().SetOwnerPassword("owner");
  pdf().SetPermissions(ORVPDF_PERM_PRINT);
  const std::string path = write_one(page.get(), "enc.pdf");
  pdf().SetUserPassword(nullptr);
  pdf().SetOwnerPassword(nullptr);
  EXPECT_TRUE(qpdf_check(path, "open sesame"));
  const std::string shown = run("qpdf --password='open sesame' --show-encryption '" + path + "'");
  EXPECT_NE(shown.find("R = 6"), std::string::npos) << shown;
  EXPECT_NE(shown.find("modify anything: not allowed"), std::string::npos) << shown;
  EXPECT_EQ(pdf().IsEncrypted(path.c_str()), 1);

  TWAIN_ClearError();
  EXPECT_EQ(pdf().DibFromFile(path.c_str(), 0, nullptr), 0u);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_PDF_PASSWORD);
  EXPECT_EQ(pdf().CountPagesInFile(path.c_str(), "wrong"), -1);
  Owned back(pdf().DibFromFile(path.c_str(), 0, "open sesame"));
  EXPECT_TRUE(pdf_dcx_test::same_pixels(back.get(), page.get()));
  pdf().SetOpenPassword("open sesame");  // the default for reads without one
  EXPECT_EQ(pdf().CountPagesInFile(path.c_str(), nullptr), 1);

  const std::string plain = write_one(page.get(), "plain.pdf");
  EXPECT_EQ(pdf().IsEncrypted(plain.c_str()), 0);
}

TEST_F(PdfTest, PdfAHasMetadataAndIntentAndRefusesEncryption) {
  pdf().SetPDFACompliance(1);
  pdf().SetTitle("Archive & <copy>");
  pdf().SetUserPassword("secret");  // PDF/A wins: the file stays unencrypted
  Owned page(pattern_image(DIB_PT_RGB, 24, 40, 30));
  const std::string path = write_one(page.get(), "a.pdf");
  pdf().SetTitle(nullptr);
  EXPECT_TRUE(qpdf_check(path));
  EXPECT_EQ(pdf().IsEncrypted(path.c_str()), 0);
  const std::string bytes = pdf_dcx_test::read_file(path);
  EXPECT_EQ(bytes.substr(0, 8), "%PDF-1.4");
  EXPECT_NE(bytes.find("<pdfaid:part>1</pdfaid:part>"), std::string::npos);
  EXPECT_NE(bytes.find("Archive &amp; &lt;copy&gt;"), std::string::npos);
  EXPECT_NE(bytes.find("/OutputIntents"), std::string::npos);
  EXPECT_NE(bytes.find("/GTS_PDFA1"), std::string::npos);
  const std::string meta = run("pdfinfo -meta '" + path + "'");
  EXPECT_NE(meta.find("pdfaid:conformance>B<"), std::string::npos) << meta;
}

TEST_F(PdfTest, InMemoryDocumentsAndMediaBox) {
  std::string pdf_bytes;
  OrvPdfWriter writer{"PDF-in-memory", &pdf_bytes, [](void* ctx, const void* bytes, int32_t n) -> int32_t {
                        static_cast<std::string*>(ctx)->append(static_cast<const char*>(bytes), static_cast<std::size_t>(n));
                        return 0;
                      }};
  pdf().SetMediaBox(0, 0, 8.5, 11);
  Owned page(pattern_image(DIB_PT_GRAY, 8, 85, 110));
  ASSERT_EQ(pdf().BeginMultipage(&writer), 0);
  ASSERT_EQ(pdf().DibWritePage(LockedDib(page.get()).get()), 0);
  ASSERT_EQ(pdf().DibWritePage(LockedDib(page.get()).get()), 0);
  ASSERT_EQ(pdf().EndMultipage(), 0);
  EXPECT_EQ(pdf().CountPagesInBuffer(pdf_bytes.data(), static_cast<int32_t>(pdf_bytes.size()), nullptr), 2);
  Owned back(pdf().DibFromBuffer(pdf_bytes.data(), static_cast<int32_t>(pdf_bytes.size()), 1, nullptr));
  EXPECT_TRUE(pdf_dcx_test::same_pixels(back.get(), page.get()) ||
              DIB_XResolutionInt(back.get()) == 10);  // 85 pixels over 8.5 inches
  EXPECT_EQ(DIB_XResolutionInt(back.get()), 10);
  pdf_dcx_test::write_file(dir.file("mem.pdf"), pdf_bytes);
  EXPECT_TRUE(qpdf_check(dir.file("mem.pdf")));
  EXPECT_NE(run("pdfinfo '" + dir.file("mem.pdf") + "'").find("612 x 792 pts"), std::string::npos);

  // A writer that refuses ends the document with its own value.
  OrvPdfWriter refusing{"refuses", nullptr, [](void*, const void*, int32_t) -> int32_t { return 77; }};
  ASSERT_EQ(pdf().BeginMultipage(&refusing), 0);
  ASSERT_EQ(pdf().DibWritePage(LockedDib(page.get()).get()), 0);
  EXPECT_EQ(pdf().EndMultipage(), 77);
}

// The module's trace since the last call.
std::string take_trace() {
  static std::string text;
  pdf().SetLogHandler([](const char* line) { text += std::string(line) + "\n"; });
  return std::exchange(text, std::string());
}

// Bytes spooled and read back, from the trace of the document last written.
std::pair<long long, long long> spool_figures(const std::string& trace) {
  long long spooled = -1, read = -1;
  const std::size_t at = trace.rfind("PdfSpool: ");
  if (at != std::string::npos)
    std::sscanf(trace.c_str() + at, "PdfSpool: %lld bytes spooled, %lld read back", &spooled, &read);
  return {spooled, read};
}

std::vector<std::string> folder_entries(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* d = opendir(folder.c_str())) {
    while (const dirent* e = readdir(d)) {
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Bytes the process holds on its heap.
std::size_t heap_in_use() {
#if defined(__SANITIZE_ADDRESS__)
  return __sanitizer_get_current_allocated_bytes();
#else
  return mallinfo2().uordblks;
#endif
}

// An RGB image of noise: Flate cannot shrink it, so a page held in memory shows.
DIB_HANDLE noise_image(int w, int h, unsigned seed) {
  const DIB_HANDLE d = DIB_Create(DIB_PT_RGB, w, h, 24);
  std::mt19937 gen(seed);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(w) * 3);
  for (int y = 0; y < h; ++y) {
    for (auto& b : row) b = static_cast<std::uint8_t>(gen());
    DIB_WriteRow(d, y, row.data(), static_cast<int32_t>(row.size()));
  }
  DIB_SetResolution(d, 300, 300);
  return d;
}

TEST_F(PdfTest, PagesWaitInANamelessSpoolAndAreReadBackOnce) {
  // Group 4, JPEG, Flate and a text layer, in every kind of document qpdf
  // writes differently; the pages are read back from the spool exactly once.
  enum Kind { kPlain, kEncrypted, kPdfA, kInMemory, kAppend };
  Owned bw(pattern_image(DIB_PT_BW, 1, 600, 100)), gray(pattern_image(DIB_PT_GRAY, 8, 64, 40)),
      rgb(pattern_image(DIB_PT_RGB, 24, 33, 20));
  pdf().SetCompression(DIB_PT_GRAY, ORVPDF_COMP_JPEG);
  const std::string base = write_one(bw.get(), "base.pdf");
  for (Kind kind : {kPlain, kEncrypted, kPdfA, kInMemory, kAppend}) {
    SCOPED_TRACE("kind " + std::to_string(kind));
    const std::string password = kind == kEncrypted ? "pw" : "";
    pdf().SetUserPassword(password.c_str());
    pdf().SetPDFACompliance(kind == kPdfA ? 1 : 0);
    std::string bytes;
    OrvPdfWriter writer{"PDF-in-memory", &bytes, [](void* ctx, const void* data, int32_t n) -> int32_t {
                          static_cast<std::string*>(ctx)->append(static_cast<const char*>(data), static_cast<std::size_t>(n));
                          return 0;
                        }};
    const std::string path = dir.file("doc.pdf");
    pdf().SetAppendSource(kind == kAppend ? base.c_str() : "");
    ASSERT_EQ(kind == kInMemory ? pdf().BeginMultipage(&writer) : pdf().BeginMultipageFile(path.c_str(), kind == kAppend),
              0);
    take_trace();
    pdf().DrawText(10, 60, "Spooled words");
    for (DIB_HANDLE page : {bw.get(), gray.get(), rgb.get()}) {
      ASSERT_EQ(pdf().DibWritePage(LockedDib(page).get()), 0);
      EXPECT_EQ(folder_entries(dir.file(".")), std::vector<std::string>{"base.pdf"}) << "the spool has a name";
    }
    ASSERT_EQ(kind == kInMemory ? pdf().EndMultipage() : pdf().EndMultipageFile(), 0);
    const auto [spooled, read] = spool_figures(take_trace());
    EXPECT_GT(spooled, 0);
    EXPECT_EQ(read, spooled);
    pdf().SetUserPassword(nullptr);
    pdf().SetPDFACompliance(0);
    pdf().SetAppendSource(nullptr);
    if (kind == kInMemory) pdf_dcx_test::write_file(path, bytes);
    EXPECT_TRUE(qpdf_check(path, password));
    const int first = kind == kAppend ? 1 : 0;
    EXPECT_EQ(pdf().CountPagesInFile(path.c_str(), password.c_str()), first + 3);
    if (password.empty()) {
      std::vector<std::string> encs = {"ccitt", "jpeg", "image"};
      if (kind == kAppend) encs.insert(encs.begin(), "ccitt");
      EXPECT_EQ(image_encodings(path), encs);
    }
    const std::string upw = password.empty() ? "" : "-upw '" + password + "' ";
    EXPECT_NE(run("pdftotext " + upw + "-f " + std::to_string(first + 1) + " -l " + std::to_string(first + 1) + " '" +
                  path + "' -").find("Spooled words"), std::string::npos);
    Owned back_bw(pdf().DibFromFile(path.c_str(), first, password.c_str()));
    Owned back_rgb(pdf().DibFromFile(path.c_str(), first + 2, password.c_str()));
    EXPECT_TRUE(pdf_dcx_test::same_pixels(back_bw.get(), bw.get()));
    EXPECT_TRUE(pdf_dcx_test::same_pixels(back_rgb.get(), rgb.get()));
    std::remove(path.c_str());
  }
}

TEST_F(PdfTest, MemoryDoesNotGrowWithThePageCount) {
  constexpr int kFirst = 4, kPages = 40;  // 288 KiB a page: 10 MiB in all
  constexpr long long kAllowedGrowth = 2 << 20;
  Owned noise(noise_image(256, 384, 7));
  pdf().SetCompression(-1, ORVPDF_COMP_FLATE);
  const std::string path = dir.file("long.pdf");
  ASSERT_EQ(pdf().BeginMultipageFile(path.c_str(), 0), 0);
  long long after_first = 0;
  for (int i = 0; i < kPages; ++i) {
    ASSERT_EQ(pdf().DibWritePage(LockedDib(noise.get()).get()), 0);
    if (i + 1 == kFirst) after_first = static_cast<long long>(heap_in_use());
  }
  const long long growth = static_cast<long long>(heap_in_use()) - after_first;
  ASSERT_EQ(pdf().EndMultipageFile(), 0);
  EXPECT_LT(growth, kAllowedGrowth) << "the heap grew with the pages added";
  EXPECT_TRUE(qpdf_check(path));
  EXPECT_EQ(pdf().CountPagesInFile(path.c_str(), nullptr), kPages);
  Owned last(pdf().DibFromFile(path.c_str(), kPages - 1, nullptr));
  EXPECT_TRUE(pdf_dcx_test::same_pixels(last.get(), noise.get()));
}

TEST_F(PdfTest, APageTheSpoolRefusesCostsOnlyItself) {
  // A file-size limit stops the spool in the middle of a page; the pages
  // before and after it come out whole once the limit is lifted.
  Owned small1(pattern_image(DIB_PT_GRAY, 8, 30, 20, 1)), small2(pattern_image(DIB_PT_GRAY, 8, 30, 20, 2));
  Owned noise(noise_image(200, 200, 3));
  pdf().SetCompression(-1, ORVPDF_COMP_FLATE);
  const std::string path = dir.file("limited.pdf");
  const pid_t child = fork();
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit lim{20000, old.rlim_max};
    setrlimit(RLIMIT_FSIZE, &lim);
    TWAIN_ClearError();
    int step = 1;
    auto expect = [&](bool ok) {
      if (!ok) _exit(step);
      ++step;
    };
    expect(pdf().BeginMultipageFile(path.c_str(), 0) == 0);
    expect(pdf().DibWritePage(LockedDib(small1.get()).get()) == 0);
    expect(pdf().DibWritePage(LockedDib(noise.get()).get()) != 0);
    expect(TWAIN_LastErrorCode() == ERR_FILE_WRITE);
    expect(setrlimit(RLIMIT_FSIZE, &old) == 0);
    expect(pdf().DibWritePage(LockedDib(small2.get()).get()) == 0);
    expect(pdf().EndMultipageFile() == 0);
    _exit(0);
  }
  int status = -1;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "failed at step " << WEXITSTATUS(status);
  EXPECT_TRUE(qpdf_check(path));
  EXPECT_EQ(pdf().CountPagesInFile(path.c_str(), nullptr), 2);
  Owned first(pdf().DibFromFile(path.c_str(), 0, nullptr)), second(pdf().DibFromFile(path.c_str(), 1, nullptr));
  EXPECT_TRUE(pdf_dcx_test::same_pixels(first.get(), small1.get()));
  EXPECT_TRUE(pdf_dcx_test::same_pixels(second.get(), small2.get()));
}

TEST_F(PdfTest, InvisibleTextLayerIsExtractable) {
  Owned page(pattern_image(DIB_PT_BW, 1, 600, 300));
  pdf().SetTextRenderMode(3);
  pdf().SetTextSize(12);
  ASSERT_EQ(pdf().DrawText(50, 100, "Invoice (2024) 42\\x"), 0);
  const std::string path = write_one(page.get(), "text.pdf");
  EXPECT_TRUE(qpdf_check(path));
  EXPECT_NE(run("pdftotext '" + path + "' -").find("Invoice (2024) 42\\x"), std::string::npos);
  // The text went with that page only.
  EXPECT_EQ(run("pdftotext '" + write_one(page.get(), "plain.pdf") + "' -").find("Invoice"), std::string::npos);
  EXPECT_DOUBLE_EQ(pdf().AnsiTextWidth("Hi", 10), (722 + 222) * 10 / 1000.0);
}

// A PDF holding one image with the given dictionary entries and data.
std::string image_pdf(const std::string& image_dict, const std::string& data) {
  std::string s = "%PDF-1.4\n";
  std::vector<std::size_t> at;
  auto obj = [&](const std::string& body) {
    at.push_back(s.size());
    s += std::to_string(at.size()) + " 0 obj\n" + body + "\nendobj\n";
  };
  obj("<< /Type /Catalog /Pages 2 0 R >>");
  obj("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  obj("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Resources << /XObject << /Im0 4 0 R >> >> /Contents 5 0 R >>");
  obj("<< /Type /XObject /Subtype /Image " + image_dict + " /Length " + std::to_string(data.size()) + " >>\nstream\n" +
      data + "\nendstream");
  obj("<< /Length 20 >>\nstream\nq 100 0 0 100 0 0 cm\nendstream");
  const std::size_t xref = s.size();
  s += "xref\n0 6\n0000000000 65535 f \n";
  for (std::size_t o : at) {
    char line[24];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", o);
    s += line;
  }
  s += "trailer\n<< /Size 6 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return s;
}

TEST_F(PdfTest, ForeignImageOnlyPdfIsRead) {
  // 2 x 2 gray, uncompressed: 0, 255 / 128, 64.
  const std::string path = dir.file("foreign.pdf");
  pdf_dcx_test::write_file(path, image_pdf("/Width 2 /Height 2 /ColorSpace /DeviceGray /BitsPerComponent 8",
                                         std::string("\x00\xFF\x80\x40", 4)));
  Owned back(pdf().DibFromFile(path.c_str(), 0, nullptr));
  ASSERT_TRUE(back);
  std::uint8_t row[8];
  DIB_ReadRow(back.get(), 1, row, 8);
  EXPECT_EQ(row[0], 0x80);
  EXPECT_EQ(row[1], 0x40);
  EXPECT_EQ(DIB_XResolutionInt(back.get()), 1);  // 2 pixels over 100 points
}

TEST_F(PdfTest, BadFilesAreRefusedWithBoundedMemory) {
  Owned page(pattern_image(DIB_PT_GRAY, 8, 64, 64));
  const std::string good = pdf_dcx_test::read_file(write_one(page.get(), "good.pdf"));
  std::string zeros(1 << 20, '\0');  // inflates far beyond its claim would need, compressed below
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"zero length", ""},
      {"header only", "%PDF-1.4\n"},
      {"truncated half", good.substr(0, good.size() / 2)},
      {"truncated tail", good.substr(0, good.size() - 40)},
      {"garbage", std::string(5000, 'x')},
      {"60000 x 60000 claim",
       image_pdf("/Width 60000 /Height 60000 /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /FlateDecode", "x")},
      {"60000 x 60000 jpeg", image_pdf("/Width 60000 /Height 60000 /ColorSpace /DeviceGray /BitsPerComponent 8 "
                                       "/Filter /DCTDecode", std::string("\xFF\xD8\xFF\xC0\x00\x0B\x08\xEA\x60\xEA\x60\x01\x01\x11\x00", 15))},
      {"short samples", image_pdf("/Width 50 /Height 50 /ColorSpace /DeviceGray /BitsPerComponent 8", "abc")},
      {"unknown colour space", image_pdf("/Width 2 /Height 2 /ColorSpace /Lab /BitsPerComponent 8", std::string(12, 'a'))},
  };
  const int live = DIB_LiveImageCount();
  for (const auto& [name, content] : cases) {
    SCOPED_TRACE(name);
    const std::string path = dir.file("bad.pdf");
    pdf_dcx_test::write_file(path, content);
    TWAIN_ClearError();
    EXPECT_EQ(pdf().DibFromFile(path.c_str(), 0, nullptr), 0u);
    EXPECT_NE(TWAIN_LastErrorCode(), 0);
    EXPECT_EQ(pdf().DibFromBuffer(content.data(), static_cast<int32_t>(content.size()), 0, nullptr), 0u);
  }
  // Damaged fax data decodes to whatever the coder makes of it (it need not
  // notice), but within the image's own size.
  const std::string fax = image_pdf("/Width 50 /Height 50 /ColorSpace /DeviceGray /BitsPerComponent 1 "
                                    "/Filter /CCITTFaxDecode /DecodeParms << /K -1 /Columns 50 >>", std::string(20, '\xFF'));
  {
    Owned fax_page(pdf().DibFromBuffer(fax.data(), static_cast<int32_t>(fax.size()), 0, nullptr));
    if (fax_page) EXPECT_EQ(DIB_Width(fax_page.get()), 50);
  }
  EXPECT_EQ(DIB_LiveImageCount(), live) << "a refused page left an image behind";
  // A range that runs into a damaged page frees what it had loaded.
  const std::string mixed = dir.file("mixed.pdf");
  pdf_dcx_test::write_file(mixed, image_pdf("/Width 50 /Height 50 /ColorSpace /DeviceGray /BitsPerComponent 8", "abc"));
  OrvHandle out[2] = {};
  EXPECT_LT(pdf().LoadDibsFromFile(mixed.c_str(), 0, 2, nullptr, out), 0);
  EXPECT_EQ(out[0], 0u);
  EXPECT_EQ(DIB_LiveImageCount(), live);
  EXPECT_EQ(pdf().CountPagesInFile(dir.file("none.pdf").c_str(), nullptr), -1);
  EXPECT_EQ(pdf().DibFromFile(dir.file("good.pdf").c_str(), 1, nullptr), 0u);
  EXPECT_LT(pdf().IsEncrypted(dir.file("none.pdf").c_str()), 0);
}

TEST_F(PdfTest, WriteErrorsAreReported) {
  // A file-size limit makes the kernel refuse writes past it (EFBIG): the
  // writer must fail and leave no file, not return success with half a PDF.
  Owned page(pattern_image(DIB_PT_RGB, 24, 400, 400));
  const std::string path = dir.file("big.pdf");
  const pid_t child = fork();
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit lim{20000, 20000};
    setrlimit(RLIMIT_FSIZE, &lim);
    const int rc = pdf().BmiWriteToFile(LockedDib(page.get()).get(), path.c_str(), 0);
    _exit(rc != 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "write past the size limit reported success";
  EXPECT_NE(access(path.c_str(), F_OK), 0);
  EXPECT_NE(pdf().BmiWriteToFile(LockedDib(page.get()).get(), "/nonexistent-folder/x.pdf", 0), 0);
}

}  // namespace
