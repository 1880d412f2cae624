// PDF documents of the codec: building image-only pages (with an optional
// invisible text layer) into a new or existing document and writing it out
// with the document properties, encryption or PDF/A; and reading documents
// back: page counts, page images, properties.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codecs/codec_abi.h"
#include "codecs/pdf/pdf_image.h"
#include "codecs/pdf/pdf_spool.h"

class QPDF;

namespace pdf {

// Settings in force for the pages and documents written next.
struct Settings {
  int compression[6] = {kCompDefault, kCompDefault, kCompDefault, kCompDefault, kCompDefault, kCompDefault};
  int jpeg_quality = 75;
  std::string title, author, subject, keywords, creator, producer;
  std::string user_password, owner_password, open_password;
  std::uint32_t permissions = ORVPDF_PERM_ALL;
  int pdfa = 0;
  double media_box[4] = {0, 0, 0, 0};  // inches; all 0 = from the image
};

// One run of text over the next page: position in pixels of the page image
// (origin top left, y on the baseline), size in points.
struct TextRun {
  double x = 0, y = 0, size = 12, hscale = 1;
  int mode = 0;
  std::string text;
};

// The caller's chunk writer refused a chunk with this value.
struct WriterAbort {
  int32_t rc;
};

// Where a document goes.
struct Target {
  std::string path;                     // file (written in place), or
  const OrvPdfWriter* writer = nullptr;  // the caller's chunk writer
  bool append = false;
  // The document an append adds to; "" = the file at `path` itself.
  std::string source;
};

// A document being built: its pages' data waits in a spool file (see
// pdf_spool.h), so memory does not grow with the page count. Every failure
// throws Failure.
class Document {
 public:
  Document();
  ~Document();
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  // Starts the document; an existing file is loaded when appending.
  void begin(const Target& target, const Settings& s);
  void add_page(const void* bmi, const Settings& s, const std::vector<TextRun>& text);
  // Writes the document out; returns the trace line for the log.
  std::string end(const Settings& s);
  int pages_added() const { return pages_added_; }
  // Where the pages wait until end(); null before begin().
  const Spool* spool() const { return spool_.get(); }

 private:
  // The spool outlives the document's objects whose providers read it.
  std::shared_ptr<Spool> spool_;
  std::unique_ptr<QPDF> pdf_;
  Target target_;
  // The document appended to, when it is the file being rewritten: read
  // whole first, because the new file takes its place byte by byte.
  std::string source_bytes_;
  int pages_added_ = 0;
  bool appending_ = false;
};

// Reading. `password` "" = none. All throw Failure.
struct Source {
  std::string path;                  // a file, or
  const std::uint8_t* bytes = nullptr;  // bytes in memory
  std::size_t length = 0;
};
std::unique_ptr<QPDF> document_open(const Source& src, const std::string& password);
int document_page_count(QPDF& pdf);
DibBytes document_page_image(QPDF& pdf, int page);
// The value of an Info entry ("Title", ...); false when it is not there.
bool document_property(QPDF& pdf, const std::string& name, std::string* out_value);
bool document_is_ours(QPDF& pdf);
bool document_is_encrypted(QPDF& pdf);

// Width in points of `text` in the text layer's font (Helvetica) at `points`.
double helvetica_width(const std::string& text, double points);
// A small sRGB (IEC 61966-2.1) ICC profile for the PDF/A output intent.
std::string srgb_icc_profile();

}  // namespace pdf
