// The page spool of a PDF document being built: every page's encoded image
// and content stream goes to an anonymous file as the page is added, and qpdf
// reads each one back from there (through a stream data provider) only when
// the document is written. A document's memory then holds its object tree
// alone, not its pages, so a thousand-page batch needs no more memory than a
// ten-page one.
//
// The spool has no name: it is opened with O_TMPFILE in the output's folder
// (where the finished document needs the same room anyway; the temporary
// folder may be memory) and, where the file system cannot do that, created
// under a hidden ".orv-tmp." name and unlinked at once. Closing it, or the
// process ending in any way, frees its space.
#pragma once
#include <qpdf/QPDFObjectHandle.hh>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class Pipeline;

namespace pdf {

class Spool {
 public:
  // Where one stream lies in the spool.
  struct Extent {
    std::uint64_t offset = 0, length = 0;
  };

  // Opens the spool in `folder` ("" = the temporary folder), trying the
  // temporary folder when `folder` refuses. Throws Failure (ORVPDF_E_IO).
  explicit Spool(const std::string& folder);
  ~Spool();
  Spool(const Spool&) = delete;
  Spool& operator=(const Spool&) = delete;

  // Adds `bytes` at the end. Throws Failure (ORVPDF_E_IO: disk full...).
  Extent append(std::string_view bytes);
  // Writes the stream at `e` to `out`. Throws Failure (ORVPDF_E_IO) when the
  // spool cannot give all of it back.
  void copy_to(const Extent& e, Pipeline& out) const;
  // Bytes held, and bytes handed back so far: once a document is written
  // the two are equal, as qpdf reads every stream once.
  std::uint64_t size() const { return size_; }
  std::uint64_t read_back() const { return read_back_; }

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
  mutable std::uint64_t read_back_ = 0;
};

// A provider handing qpdf the stream at `e` of `spool`, which it keeps open.
std::shared_ptr<QPDFObjectHandle::StreamDataProvider> spool_provider(std::shared_ptr<const Spool> spool,
                                                                     Spool::Extent e);

}  // namespace pdf
