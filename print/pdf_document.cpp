#include "print/pdf_document.h"

#include <zlib.h>

#include <cstdio>

namespace print {
namespace {

std::string number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", v);
  return text;
}

bool deflate_pixels(const std::vector<std::uint8_t>& in, std::string& out) {
  uLongf size = compressBound(static_cast<uLong>(in.size()));
  try {
    out.resize(size);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, in.data(), static_cast<uLong>(in.size()), Z_BEST_SPEED) != Z_OK)
    return false;
  out.resize(size);
  return true;
}

}  // namespace

bool PdfDocument::add_page(double sheet_w, double sheet_h, const PageImage& image, double x, double y, double w,
                           double h) {
  Page p{sheet_w, sheet_h, {}, {}, {}};
  if (!deflate_pixels(image.pixels, p.data)) return false;
  p.image = "/Type /XObject /Subtype /Image /Width " + std::to_string(image.width) + " /Height " +
            std::to_string(image.height) + " /ColorSpace " + (image.gray ? "/DeviceGray" : "/DeviceRGB") +
            " /BitsPerComponent 8 /Filter /FlateDecode";
  // PDF's origin is the sheet's bottom left.
  p.content = "q " + number(w) + " 0 0 " + number(h) + " " + number(x) + " " + number(sheet_h - y - h) +
              " cm /Im0 Do Q\n";
  pages_.push_back(std::move(p));
  return true;
}

std::string PdfDocument::bytes() const {
  std::string out = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  std::vector<std::size_t> offsets;
  auto object = [&](const std::string& body) {
    offsets.push_back(out.size());
    out += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
  };
  // Objects: 1 catalog, 2 page tree, then per page: page, content, image.
  std::string kids;
  for (std::size_t i = 0; i < pages_.size(); ++i) kids += std::to_string(3 + 3 * i) + " 0 R ";
  object("<< /Type /Catalog /Pages 2 0 R >>");
  object("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages_.size()) + " >>");
  for (std::size_t i = 0; i < pages_.size(); ++i) {
    const Page& p = pages_[i];
    const std::size_t first = 3 + 3 * i;
    object("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + number(p.sheet_w) + " " + number(p.sheet_h) +
           "] /Resources << /XObject << /Im0 " + std::to_string(first + 2) + " 0 R >> >> /Contents " +
           std::to_string(first + 1) + " 0 R >>");
    object("<< /Length " + std::to_string(p.content.size()) + " >>\nstream\n" + p.content + "\nendstream");
    object("<< " + p.image + " /Length " + std::to_string(p.data.size()) + " >>\nstream\n" + p.data +
           "\nendstream");
  }
  const std::size_t xref = out.size();
  out += "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n";
  for (std::size_t o : offsets) {
    char line[24];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", o);
    out += line;
  }
  out += "trailer\n<< /Size " + std::to_string(offsets.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return out;
}

}  // namespace print
