// Several pages encoded into one document in memory: the size handshake
// (capacity 0 first), partial buffers that must never be written past their
// capacity, every writable format, and the refusals. Documents are checked
// with qpdf, pdfinfo and tiffinfo where installed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../../tool_support.h"
#include "../dib/dib_test_support.h"
#include "core/error_record.h"
#include "fileio/codec_modules.h"
#include "fileio/multipage.h"
#include "orivane/file_api.h"
#include "orivane/file_options.h"
#include "orivane/multipage_files.h"
#include "platform/paths.h"

namespace {

using namespace dib_test;
namespace fs = std::filesystem;
using test_tools::have_tool;

std::string run(const std::string& command) { return test_tools::command_output(command + " 2>&1"); }

class BufferWriteTest : public DibTest {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/buffer-write-XXXXXX";
    dir_ = mkdtemp(tmpl);
    setenv("QUILLET_MODULE_PATH", build_folder().c_str(), 1);
    setenv("TMPDIR", dir_.c_str(), 1);
    // Fixed dates: two encodings of the same pages are byte for byte equal.
    setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
    DibTest::SetUp();
    TWAIN_SuppressErrorMessages(1);
    for (int i = 0; i < 3; ++i) {
      owned_.emplace_back(make_image(24, 90, 60 + 10 * i, i));
      pages_.push_back(owned_.back().get());
    }
  }
  void TearDown() override {
    owned_.clear();
    fileio::multipage_reset_for_tests();
    fileio::codec_modules_reset_for_tests();
    DibTest::TearDown();
    unsetenv("QUILLET_MODULE_PATH");
    unsetenv("TMPDIR");
    unsetenv("SOURCE_DATE_EPOCH");
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  // The whole document, asked for the way callers do: size first.
  std::string encode(int format) {
    const uint32_t size = DIB_WriteArrayToBuffer(pages_.data(), 3, format, nullptr, 0);
    if (size == 0) return "";
    std::string bytes(size, '\0');
    EXPECT_EQ(DIB_WriteArrayToBuffer(pages_.data(), 3, format, bytes.data(), size), size);
    return bytes;
  }
  std::string saved(const std::string& name, const std::string& bytes) {
    std::ofstream(path(name), std::ios::binary) << bytes;
    return path(name);
  }

  std::string dir_;
  std::vector<Owned> owned_;
  std::vector<DIB_HANDLE> pages_;
};

TEST_F(BufferWriteTest, EveryFormatHoldsAllPages) {
  struct Case {
    int format;
    int pages;  // as the loaders count them
    int height;  // of the first page read back: stacked formats hold all three
  };
  const Case cases[] = {{FF_PDF, 3, 60}, {FF_TIFF, 3, 60}, {FF_DCX, 3, 60},
                        {FF_BMP, 1, 210}, {FF_PNG, 1, 210}, {FF_GIF, 1, 210}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    const std::string doc = encode(c.format);
    ASSERT_FALSE(doc.empty());
    EXPECT_EQ(DIB_FormatOfBuffer(doc.data(), static_cast<uint32_t>(doc.size())), c.format);
    EXPECT_EQ(BufferPageCount(doc.data(), static_cast<uint32_t>(doc.size())), c.pages);
    Owned first(DIB_LoadPageFromBuffer(doc.data(), static_cast<uint32_t>(doc.size()), 0));
    ASSERT_TRUE(first);
    EXPECT_EQ(DIB_Height(first.get()), c.height);
  }
  // The temporary files are gone and no output name is reported.
  EXPECT_TRUE(fs::is_empty(dir_));
  EXPECT_STREQ(LastOutputFileName(), "");
  for (DIB_HANDLE p : pages_) EXPECT_TRUE(DIB_IsValid(p));  // the caller keeps its pages
}

TEST_F(BufferWriteTest, IndependentReadersAcceptTheDocuments) {
  if (have_tool("qpdf") && have_tool("pdfinfo")) {
    const std::string pdf = saved("memory.pdf", encode(FF_PDF));
    EXPECT_NE(run("qpdf --check " + pdf).find("No syntax or stream encoding errors"), std::string::npos);
    const std::string info = run("pdfinfo " + pdf);
    const std::size_t pages = info.find("Pages:");
    ASSERT_NE(pages, std::string::npos) << info;
    EXPECT_EQ(std::atoi(info.c_str() + pages + 6), 3) << info;
  }
  if (have_tool("tiffinfo")) {
    const std::string info = run("tiffinfo " + saved("memory.tif", encode(FF_TIFF)));
    std::size_t directories = 0;
    for (std::size_t at = 0; (at = info.find("TIFF Directory at offset", at)) != std::string::npos; ++at)
      ++directories;
    EXPECT_EQ(directories, 3u) << info;
  }
}

TEST_F(BufferWriteTest, ShortBuffersGetTheSizeAndNothingPastTheirCapacity) {
  for (const int format : {FF_PDF, FF_TIFF}) {
    SCOPED_TRACE(format);
    const std::string whole = encode(format);
    ASSERT_FALSE(whole.empty());
    const uint32_t size = static_cast<uint32_t>(whole.size());
    for (const uint32_t capacity : {0u, 1u, size / 3, size - 1}) {
      SCOPED_TRACE(capacity);
      std::string buffer(size + 16, '\x5A');
      EXPECT_EQ(DIB_WriteArrayToBuffer(pages_.data(), 3, format, buffer.data(), capacity), size);
      EXPECT_EQ(buffer.find_first_not_of('\x5A', capacity), std::string::npos) << "written past the capacity";
      // What was copied is the start of the document, never other bytes.
      const std::size_t copied = buffer.substr(0, capacity).find_last_not_of('\x5A');
      if (copied != std::string::npos) {
        EXPECT_EQ(buffer.substr(0, copied + 1), whole.substr(0, copied + 1));
      }
    }
    // A null buffer with a capacity gets the size and no copy.
    EXPECT_EQ(DIB_WriteArrayToBuffer(pages_.data(), 3, format, nullptr, size), size);
  }
}

TEST_F(BufferWriteTest, RefusalsRecordWhy) {
  struct Case {
    const DIB_HANDLE* array;
    int count;
    int format;
    int error;
    const char* detail;
  };
  const Case cases[] = {
      {nullptr, 3, FF_PDF, ERR_BAD_PARAMETER, "PdfWriteArrayToBuffer: NULL array"},
      {pages_.data(), -1, FF_PDF, ERR_BAD_PARAMETER, "PdfWriteArrayToBuffer: NULL array"},
      {nullptr, 3, FF_TIFF, ERR_BAD_PARAMETER, "DIB_WriteArrayToBuffer"},
      {pages_.data(), 0, FF_TIFF, ERR_BAD_PARAMETER, "DIB_WriteArrayToBuffer"},
      {pages_.data(), 3, 42, ERR_BAD_PARAMETER, "DIB_WriteArrayToBuffer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.detail);
    char buffer[64];
    EXPECT_EQ(DIB_WriteArrayToBuffer(c.array, c.count, c.format, buffer, sizeof buffer), 0u);
    EXPECT_EQ(TWAIN_LastErrorCode(), c.error);
    EXPECT_NE(core::error_record().text.find(c.detail), std::string::npos) << core::error_record().text;
  }
}

TEST_F(BufferWriteTest, AFailedPageEndsTheDocumentAndTheNextOneWorks) {
  std::vector<DIB_HANDLE> with_stale = pages_;
  with_stale[1] = 0x7777;  // no image of ours
  EXPECT_EQ(DIB_WriteArrayToBuffer(with_stale.data(), 3, FF_PDF, nullptr, 0), 0u);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_BAD_DIB);
  // OrvPdf was not left with a document open.
  EXPECT_GT(DIB_WriteArrayToBuffer(pages_.data(), 3, FF_PDF, nullptr, 0), 0u);
}

TEST_F(BufferWriteTest, AnOpenMultipagePdfIsNotMixedWithTheDocumentInMemory) {
  ASSERT_EQ(TWAIN_SetMultipageFormat(MPF_PDF), 0);
  ASSERT_EQ(TWAIN_BeginMultipageFile(path("open.pdf").c_str()), 0);
  ASSERT_EQ(TWAIN_DibWritePage(pages_[0]), 0);
  EXPECT_EQ(DIB_WriteArrayToBuffer(pages_.data(), 3, FF_PDF, nullptr, 0), 0u);
  EXPECT_EQ(TWAIN_LastErrorCode(), ERR_MULTIPAGE_OPEN);
  EXPECT_EQ(TWAIN_EndMultipageFile(), 0);
  EXPECT_EQ(FilePageCount(path("open.pdf").c_str()), 1);
  TWAIN_SetMultipageFormat(MPF_TIFF);
}

// The same documents as length-prefixed byte strings: the prefix counts
// the document's bytes, a zero byte follows them, nothing stays behind.
TEST_F(BufferWriteTest, DocumentsAsLengthPrefixedByteStrings) {
  for (int format : {FF_TIFF, FF_DCX, FF_BMP, FF_PNG, FF_PDF}) {
    SCOPED_TRACE(format);
    const std::string doc = encode(format);
    uint8_t* text = DIB_ArrayAsBSTR(pages_.data(), 3, format);
    ASSERT_NE(text, nullptr) << core::error_record().text;
    const uint32_t length = text[0] | text[1] << 8 | text[2] << 16 | static_cast<uint32_t>(text[3]) << 24;
    const std::string bytes(reinterpret_cast<const char*>(text + 4), length);
    EXPECT_EQ(text[4 + length], 0);
    DIB_FreeBSTR(text);
    if (format == FF_PDF) {
      EXPECT_EQ(bytes.substr(0, 5), "%PDF-");
      EXPECT_EQ(BufferPageCount(bytes.data(), length), 3);
    } else {
      EXPECT_EQ(bytes, doc);
    }
  }
  EXPECT_TRUE(fs::is_empty(dir_));
  EXPECT_STREQ(LastOutputFileName(), "");
  DIB_FreeBSTR(nullptr);
  // A code with no format, and pages that cannot be written: null, and why.
  EXPECT_EQ(DIB_ArrayAsBSTR(pages_.data(), 3, 5), nullptr);
  EXPECT_EQ(core::error_record().code, ERR_BAD_PARAMETER);
  const DIB_HANDLE stale[] = {0x1234};
  EXPECT_EQ(DIB_ArrayAsBSTR(stale, 1, FF_PNG), nullptr);
  EXPECT_EQ(core::error_record().code, ERR_BAD_DIB);
  EXPECT_TRUE(fs::is_empty(dir_));
}

}  // namespace
