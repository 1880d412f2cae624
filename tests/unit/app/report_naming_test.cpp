// The report's key rule and the page-number advance of output names.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "../test_support.h"
#include "app/naming.h"
#include "app/report.h"

namespace {

TEST(Report, EachKeyOnceAtItsLatestPlace) {
  ResetForTests();
  ReportLine("[Quillet]\n");
  ReportLine("DefaultSource=%s\n", "A");
  ReportLine("Source=%s\n", "B");
  ReportLine("Error=%s\n", "first");
  ReportLine("File1=%s\n", "x");
  ReportLine("Error=%s\n", "second");
  EXPECT_EQ(front_end().report.text(),
            "[Quillet]\nDefaultSource=A\nSource=B\nFile1=x\nError=second\n");
}

TEST(Report, LinesAreCutAndStayOneLine) {
  ResetForTests();
  ReportLine("Error=%s\n", std::string(5000, 'e').c_str());
  ReportLine("Note=a\r\nb\n");
  std::string text = front_end().report.text();
  std::size_t first_end = text.find('\n');
  EXPECT_EQ(first_end, 1022u);
  EXPECT_EQ(text.substr(first_end + 1), "Note=a  b\n");
}

TEST(Report, ManyPagesAreAllKept) {
  ResetForTests();
  for (int i = 1; i <= 20000; ++i) ReportLine("File%d=/scans/page%05d.tif\n", i, i);
  std::string text = front_end().report.text();
  EXPECT_GT(text.size(), 65536u);
  EXPECT_NE(text.find("File20000=/scans/page20000.tif\n"), std::string::npos);
}

TEST(Naming, IncrementKeepsWidthAndGrows) {
  struct Case {
    const char* name;
    const char* next;
  } cases[] = {{"scan007.tif", "scan008.tif"}, {"scan99.tif", "scan100.tif"},
               {"scan.tif", "scan1.tif"},      {"doc0099.tif", "doc0100.tif"},
               {"2024.pdf", "2025.pdf"},
               {"n99999999999999999999.bmp", "n100000000000000000000.bmp"}};
  for (const Case& c : cases) {
    ScanRequest r;
    r.output_name = c.name;
    DeriveOutputName(r);
    IncrementFileName(r);
    EXPECT_EQ(r.output_name, c.next) << c.name;
  }
}

TEST(Naming, LongExtensionsSurviveTheIncrement) {
  ScanRequest r;
  r.output_name = "scan1.longextension";
  DeriveOutputName(r);
  IncrementFileName(r);
  EXPECT_EQ(r.output_name, "scan2.longextension");
}

TEST(Naming, TemplateFields) {
  std::string name = "scan{D}.tif";
  EXPECT_TRUE(ExpandNameTemplate(name));
  ASSERT_EQ(name.size(), std::string("scan20261207.tif").size());
  EXPECT_EQ(name.substr(0, 6), "scan20");
  std::string plain = "scan.tif";
  EXPECT_FALSE(ExpandNameTemplate(plain));
  std::string open = "a{D.tif";
  EXPECT_FALSE(ExpandNameTemplate(open));
  std::string two = "{Y}-{m}";
  EXPECT_TRUE(ExpandNameTemplate(two));
  EXPECT_EQ(two.size(), 7u);
}

}  // namespace

namespace {

TEST(Naming, FullPathAgainstTheStartFolder) {
  EXPECT_EQ(PageFullPath("scan1.tif", "/home/u"), "/home/u/scan1.tif");
  EXPECT_EQ(PageFullPath("sub/scan1.tif", "/home/u/"), "/home/u/sub/scan1.tif");
  EXPECT_EQ(PageFullPath("/abs/scan1.tif", "/home/u"), "/abs/scan1.tif");
}

TEST(Naming, CarbonCopyTakesWhatItLacksFromTheOutput) {
  struct Case {
    const char* copy;
    const char* output;
    const char* expected;
  } cases[] = {{"/share/*.pdf", "/scans/a1.tif", "/share/a1.pdf"},
               {"copy.jpg", "/scans/a1.tif", "/scans/copy.jpg"},
               {".pdf", "out/a1.tif", "out/a1.pdf"},
               {"/d/", "x.bmp", "/d/x"}};
  for (const Case& c : cases) EXPECT_EQ(CarbonCopyPath(c.copy, c.output), c.expected) << c.copy;
}

TEST(Naming, AutoIncrementSkipsExistingFiles) {
  char dir[] = "/tmp/quillet-ai-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  for (const char* n : {"scan1.tif", "scan2.tif"}) {
    std::string p = std::string(dir) + "/" + n;
    std::FILE* f = std::fopen(p.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
  }
  ScanRequest r;
  r.auto_increment = true;
  r.output_name = std::string(dir) + "/scan.tif";
  DeriveOutputName(r);
  IncrementFileName(r);   // the first page of a numbered run
  SkipExistingNames(r);
  EXPECT_EQ(r.output_name, std::string(dir) + "/scan3.tif");
}

}  // namespace
