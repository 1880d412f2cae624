#include "codecs/pdf/pdf_document.h"

#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <vector>

#include "codecs/common/image_limits.h"

namespace pdf {

namespace {

// The catalog key that marks documents this module wrote.
constexpr const char* kOurKey = "/OrvPdfWriter";
constexpr const char* kOurValue = "OrvPdf 1.60";
constexpr double kPointsPerInch = 72.0;

// ---- Output pipelines ----------------------------------------------------

// Writes to a FILE*; a short write ends the document with an I/O failure.
class FilePipeline : public Pipeline {
 public:
  explicit FilePipeline(FILE* f) : Pipeline("pdf-file", nullptr), f_(f) {}
  void write(unsigned char const* data, size_t len) override {
    if (std::fwrite(data, 1, len, f_) != len) fail(ORVPDF_E_IO, std::string("write failed: ") + std::strerror(errno));
  }
  void finish() override {}

 private:
  FILE* f_;
};

// Hands each chunk to the caller's writer; its non-zero answer aborts.
class CallbackPipeline : public Pipeline {
 public:
  explicit CallbackPipeline(const OrvPdfWriter* w) : Pipeline("pdf-callback", nullptr), w_(w) {}
  void write(unsigned char const* data, size_t len) override {
    while (len > 0) {
      const int32_t n = static_cast<int32_t>(std::min<size_t>(len, 1 << 30));
      const int32_t rc = w_->write(w_->context, data, n);
      if (rc != 0) throw WriterRefused{rc};
      data += n;
      len -= static_cast<size_t>(n);
    }
  }
  void finish() override {}
  struct WriterRefused {
    int32_t rc;
  };

 private:
  const OrvPdfWriter* w_;
};

// Collects decoded stream data up to a limit and stops the decoding there:
// the first byte past it throws, which ends qpdf's pipeline (qpdf reports
// that as a failed decode), so a stream that inflates far past its image,
// through however many layers of filters, costs no more than the image.
class BoundedPipeline : public Pipeline {
 public:
  explicit BoundedPipeline(std::size_t limit) : Pipeline("pdf-read", nullptr), limit_(limit) {
    bytes.reserve(limit);  // the caller knows the data can fill it
  }
  void write(unsigned char const* data, size_t len) override {
    const std::size_t room = limit_ - std::min(limit_, bytes.size());
    bytes.append(reinterpret_cast<const char*>(data), std::min(room, len));
    if (len > room) {
      full_ = true;
      throw std::length_error("stream data longer than needed");
    }
  }
  void finish() override {}
  // Whether the decoding was stopped at the limit (all `limit` bytes are there).
  bool full() const { return full_; }
  std::string bytes;

 private:
  std::size_t limit_;
  bool full_ = false;
};

// Counts the bytes piped through it.
class CountingPipeline : public Pipeline {
 public:
  CountingPipeline() : Pipeline("pdf-count", nullptr) {}
  void write(unsigned char const*, size_t len) override { count += len; }
  void finish() override {}
  std::uint64_t count = 0;
};

// ---- Text and dates -----------------------------------------------------------

std::string num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.4f", v);
  std::string s = buf;
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  return s == "-0" ? "0" : s;
}

std::string pdf_literal(const std::string& text) {
  std::string out = "(";
  for (unsigned char c : text) {
    if (c == '(' || c == ')' || c == '\\') out += '\\';
    if (c < 0x20 || c >= 0x7F) {
      char oct[5];
      std::snprintf(oct, sizeof oct, "\\%03o", c);
      out += oct;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + ")";
}

std::string xml_escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// The time stamped into documents: SOURCE_DATE_EPOCH when set (reproducible
// output), else now; always UTC.
std::tm stamp_time() {
  std::time_t t = std::time(nullptr);
  if (const char* e = std::getenv("SOURCE_DATE_EPOCH")) t = static_cast<std::time_t>(std::strtoll(e, nullptr, 10));
  std::tm tm{};
  gmtime_r(&t, &tm);
  return tm;
}
std::string pdf_date(const std::tm& tm) {
  char buf[32];
  std::strftime(buf, sizeof buf, "D:%Y%m%d%H%M%SZ", &tm);
  return buf;
}
std::string xmp_date(const std::tm& tm) {
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

std::string xmp_packet(const Settings& s, const std::tm& created) {
  std::string x =
      "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
      "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
      "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
      "<rdf:Description rdf:about=\"\" xmlns:pdfaid=\"http://www.aiim.org/pdfa/ns/id/\">"
      "<pdfaid:part>1</pdfaid:part><pdfaid:conformance>B</pdfaid:conformance></rdf:Description>\n"
      "<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">"
      "<dc:format>application/pdf</dc:format>";
  if (!s.title.empty())
    x += "<dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">" + xml_escape(s.title) + "</rdf:li></rdf:Alt></dc:title>";
  if (!s.author.empty())
    x += "<dc:creator><rdf:Seq><rdf:li>" + xml_escape(s.author) + "</rdf:li></rdf:Seq></dc:creator>";
  if (!s.subject.empty())
    x += "<dc:description><rdf:Alt><rdf:li xml:lang=\"x-default\">" + xml_escape(s.subject) +
         "</rdf:li></rdf:Alt></dc:description>";
  x += "</rdf:Description>\n<rdf:Description rdf:about=\"\" xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\">";
  if (!s.producer.empty()) x += "<pdf:Producer>" + xml_escape(s.producer) + "</pdf:Producer>";
  if (!s.keywords.empty()) x += "<pdf:Keywords>" + xml_escape(s.keywords) + "</pdf:Keywords>";
  x += "</rdf:Description>\n<rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\">";
  if (!s.creator.empty()) x += "<xmp:CreatorTool>" + xml_escape(s.creator) + "</xmp:CreatorTool>";
  x += "<xmp:CreateDate>" + xmp_date(created) + "</xmp:CreateDate><xmp:ModifyDate>" + xmp_date(created) +
       "</xmp:ModifyDate></rdf:Description>\n</rdf:RDF>\n</x:xmpmeta>\n";
  x += std::string(2000, ' ') + "\n<?xpacket end=\"w\"?>";
  return x;
}

// ---- Page building -----------------------------------------------------------

QPDFObjectHandle colour_space(QPDF& pdf, const ImageStream& im) {
  switch (im.space) {
    case ColourSpace::Gray: return QPDFObjectHandle::newName("/DeviceGray");
    case ColourSpace::RGB: return QPDFObjectHandle::newName("/DeviceRGB");
    case ColourSpace::CMYK: return QPDFObjectHandle::newName("/DeviceCMYK");
    case ColourSpace::Indexed: break;
  }
  QPDFObjectHandle a = QPDFObjectHandle::newArray();
  a.appendItem(QPDFObjectHandle::newName("/Indexed"));
  a.appendItem(QPDFObjectHandle::newName("/DeviceRGB"));
  a.appendItem(QPDFObjectHandle::newInteger(static_cast<long long>(im.palette.size() / 3) - 1));
  a.appendItem(QPDFObjectHandle::newString(im.palette));
  return a;
}

// The page's image XObject; its data waits in the spool until the document
// is written.
QPDFObjectHandle image_object(QPDF& pdf, const ImageStream& im, const std::shared_ptr<Spool>& spool) {
  QPDFObjectHandle dict = QPDFObjectHandle::newDictionary();
  dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
  dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
  dict.replaceKey("/Width", QPDFObjectHandle::newInteger(im.width));
  dict.replaceKey("/Height", QPDFObjectHandle::newInteger(im.height));
  dict.replaceKey("/ColorSpace", colour_space(pdf, im));
  dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(im.bpc));
  if (im.invert) {
    dict.replaceKey("/Decode", QPDFObjectHandle::parse("[1 0 1 0 1 0 1 0]"));
  }
  QPDFObjectHandle filter = QPDFObjectHandle::newNull(), parms = QPDFObjectHandle::newNull();
  if (!im.filter.empty()) filter = QPDFObjectHandle::newName(im.filter);
  if (im.filter == "/CCITTFaxDecode") {
    parms = QPDFObjectHandle::parse("<< /K -1 /Columns " + std::to_string(im.width) + " /Rows " +
                                    std::to_string(im.height) + " /BlackIs1 false >>");
  }
  QPDFObjectHandle stream = QPDFObjectHandle::newStream(&pdf);
  stream.replaceDict(dict);
  stream.replaceStreamData(spool_provider(spool, spool->append(im.data)), filter, parms);
  // Encoded by us already: qpdf could only decode and encode it again (Flate)
  // or, finding nothing it can decode (JPEG, Group 4), read it a second time.
  if (!im.filter.empty()) stream.setFilterOnWrite(false);
  return stream;
}

// A stream whose data waits in the spool; qpdf compresses it when writing.
QPDFObjectHandle spooled_stream(QPDF& pdf, const std::string& data, const std::shared_ptr<Spool>& spool) {
  QPDFObjectHandle stream = QPDFObjectHandle::newStream(&pdf);
  stream.replaceStreamData(spool_provider(spool, spool->append(data)), QPDFObjectHandle::newNull(),
                           QPDFObjectHandle::newNull());
  return stream;
}

// The folder of an output file, where its spool goes.
std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

struct PageBox {
  double x0, y0, w, h;
};

PageBox page_box(const ImageStream& im, const Settings& s) {
  const double* m = s.media_box;
  if (m[2] - m[0] > 0 && m[3] - m[1] > 0)
    return {m[0] * kPointsPerInch, m[1] * kPointsPerInch, (m[2] - m[0]) * kPointsPerInch, (m[3] - m[1]) * kPointsPerInch};
  // Without a resolution a pixel is a point.
  const double dx = im.dpi_x > 0 ? im.dpi_x : kPointsPerInch, dy = im.dpi_y > 0 ? im.dpi_y : kPointsPerInch;
  return {0, 0, im.width * kPointsPerInch / dx, im.height * kPointsPerInch / dy};
}

std::string text_layer(const std::vector<TextRun>& runs, const PageBox& box, const ImageStream& im) {
  std::string c;
  const double sx = box.w / im.width, sy = box.h / im.height;
  for (const TextRun& r : runs) {
    c += "BT\n/F1 " + num(r.size) + " Tf\n" + std::to_string(r.mode) + " Tr\n" + num(r.hscale * 100) + " Tz\n";
    c += "1 0 0 1 " + num(box.x0 + r.x * sx) + " " + num(box.y0 + box.h - r.y * sy) + " Tm\n";
    c += pdf_literal(r.text) + " Tj\nET\n";
  }
  return c;
}

// ---- Writing -------------------------------------------------------------------

void set_info(QPDF& pdf, const Settings& s, const std::tm& now, bool appending) {
  QPDFObjectHandle trailer = pdf.getTrailer();
  QPDFObjectHandle info = trailer.getKey("/Info");
  if (!info.isDictionary()) {
    info = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
    trailer.replaceKey("/Info", info);
  }
  const std::pair<const char*, const std::string*> fields[] = {
      {"/Title", &s.title},       {"/Author", &s.author},   {"/Subject", &s.subject},
      {"/Keywords", &s.keywords}, {"/Creator", &s.creator}, {"/Producer", &s.producer}};
  for (const auto& [key, value] : fields) {
    if (!value->empty()) info.replaceKey(key, QPDFObjectHandle::newUnicodeString(*value));
  }
  if (!appending || !info.hasKey("/CreationDate"))
    info.replaceKey("/CreationDate", QPDFObjectHandle::newString(pdf_date(now)));
  info.replaceKey("/ModDate", QPDFObjectHandle::newString(pdf_date(now)));
}

void set_pdfa(QPDF& pdf, const Settings& s, const std::tm& now) {
  QPDFObjectHandle root = pdf.getRoot();
  QPDFObjectHandle meta = QPDFObjectHandle::newStream(&pdf, xmp_packet(s, now));
  meta.getDict().replaceKey("/Type", QPDFObjectHandle::newName("/Metadata"));
  meta.getDict().replaceKey("/Subtype", QPDFObjectHandle::newName("/XML"));
  root.replaceKey("/Metadata", meta);
  QPDFObjectHandle icc = QPDFObjectHandle::newStream(&pdf, srgb_icc_profile());
  icc.getDict().replaceKey("/N", QPDFObjectHandle::newInteger(3));
  QPDFObjectHandle intent = QPDFObjectHandle::parse(
      "<< /Type /OutputIntent /S /GTS_PDFA1 /OutputConditionIdentifier (sRGB IEC61966-2.1) "
      "/RegistryName (http://www.color.org) /Info (sRGB IEC61966-2.1) >>");
  intent.replaceKey("/DestOutputProfile", icc);
  QPDFObjectHandle intents = QPDFObjectHandle::newArray();
  intents.appendItem(intent);
  root.replaceKey("/OutputIntents", intents);
}

void set_encryption(QPDFWriter& w, const Settings& s) {
  const std::uint32_t p = s.permissions;
  const std::string owner = s.owner_password.empty() ? s.user_password : s.owner_password;
  const qpdf_r3_print_e print = (p & ORVPDF_PERM_PRINT_HIGH) ? qpdf_r3p_full
                                : (p & ORVPDF_PERM_PRINT)    ? qpdf_r3p_low
                                                              : qpdf_r3p_none;
  w.setR6EncryptionParameters(s.user_password.c_str(), owner.c_str(), true,
                              (p & (ORVPDF_PERM_COPY | ORVPDF_PERM_EXTRACT)) != 0, (p & ORVPDF_PERM_ASSEMBLE) != 0,
                              (p & ORVPDF_PERM_ANNOTATE) != 0, (p & ORVPDF_PERM_FILL_FORMS) != 0,
                              (p & ORVPDF_PERM_MODIFY) != 0, print, true);
}

void configure_writer(QPDFWriter& w, const Settings& s, bool encrypt) {
  if (s.pdfa) {
    w.setPreserveEncryption(false);
    w.setObjectStreamMode(qpdf_o_disable);
    w.forcePDFVersion("1.4");
  } else if (encrypt) {
    set_encryption(w, s);
  }
  if (!encrypt) w.setDeterministicID(true);
}

bool file_exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Writes the document into `path`. The file is the library's own
// temporary file, moved into place only once it is complete, so it is
// written in place: no second temporary name of ours to leave behind.
void write_file(QPDF& pdf, const std::string& path, const Settings& s, bool encrypt) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) fail(ORVPDF_E_FILE, "cannot create " + path + ": " + std::strerror(errno));
  bool ok = false;
  std::string why;
  try {
    FilePipeline out(f);
    QPDFWriter w(pdf);
    w.setOutputPipeline(&out);
    configure_writer(w, s, encrypt);
    w.write();
    ok = true;
  } catch (const Failure& e) {
    why = e.text;
  } catch (const std::exception& e) {
    why = e.what();
  }
  ok = std::fflush(f) == 0 && ok;
  ok = !std::ferror(f) && ok;
  ok = ::fsync(fileno(f)) == 0 && ok;
  const int close_rc = std::fclose(f);
  ok = close_rc == 0 && ok;
  if (!ok) {
    if (why.empty()) why = std::strerror(errno);
    // Half a document is no document.
    std::remove(path.c_str());
    fail(ORVPDF_E_IO, "write failed: " + path + ": " + why);
  }
}

// The whole file, for a document that is read and rewritten under one name.
std::string read_whole(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) fail(ORVPDF_E_FILE, "cannot open " + path + ": " + std::strerror(errno));
  std::string bytes;
  char buf[65536];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) bytes.append(buf, n);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) fail(ORVPDF_E_FILE, "cannot read " + path);
  return bytes;
}

}  // namespace

Document::Document() = default;
Document::~Document() = default;

void Document::begin(const Target& target, const Settings& s) {
  target_ = target;
  pdf_ = std::make_unique<QPDF>();
  pdf_->setSuppressWarnings(true);
  const std::string& from = target.source.empty() ? target.path : target.source;
  appending_ = target.append && target.writer == nullptr && file_exists(from);
  try {
    if (appending_ && from == target.path) {
      source_bytes_ = read_whole(from);
      pdf_->processMemoryFile(from.c_str(), source_bytes_.data(), source_bytes_.size(), s.open_password.c_str());
    } else if (appending_) {
      pdf_->processFile(from.c_str(), s.open_password.c_str());
    } else {
      pdf_->emptyPDF();
    }
  } catch (const QPDFExc& e) {
    fail(e.getErrorCode() == qpdf_e_password ? ORVPDF_E_PASSWORD : ORVPDF_E_FORMAT,
         "cannot append to " + from + ": " + e.what());
  } catch (const Failure&) {
    throw;
  } catch (const std::exception& e) {
    fail(ORVPDF_E_FORMAT, "cannot append to " + from + ": " + e.what());
  }
  spool_ = std::make_shared<Spool>(target.writer ? std::string() : folder_of(target.path));
}

void Document::add_page(const void* bmi, const Settings& s, const std::vector<TextRun>& text) {
  int compression[6];
  std::copy(std::begin(s.compression), std::end(s.compression), compression);
  const ImageStream im = image_encode(bmi, compression, s.jpeg_quality);
  QPDF& pdf = *pdf_;
  const PageBox box = page_box(im, s);
  std::string content = "q\n" + num(box.w) + " 0 0 " + num(box.h) + " " + num(box.x0) + " " + num(box.y0) +
                        " cm\n/Im0 Do\nQ\n" + text_layer(text, box, im);
  QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
  QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
  xobjects.replaceKey("/Im0", image_object(pdf, im, spool_));
  resources.replaceKey("/XObject", xobjects);
  if (!text.empty()) {
    QPDFObjectHandle fonts = QPDFObjectHandle::newDictionary();
    fonts.replaceKey("/F1", pdf.makeIndirectObject(QPDFObjectHandle::parse(
                                "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>")));
    resources.replaceKey("/Font", fonts);
  }
  QPDFObjectHandle page = QPDFObjectHandle::newDictionary();
  page.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
  QPDFObjectHandle mb = QPDFObjectHandle::newArray();
  for (double v : {box.x0, box.y0, box.x0 + box.w, box.y0 + box.h}) mb.appendItem(QPDFObjectHandle::newReal(num(v)));
  page.replaceKey("/MediaBox", mb);
  page.replaceKey("/Resources", resources);
  page.replaceKey("/Contents", spooled_stream(pdf, content, spool_));
  try {
    QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);
  } catch (const std::exception& e) {
    fail(ORVPDF_E_FORMAT, std::string("cannot add a page: ") + e.what());
  }
  ++pages_added_;
}

std::string Document::end(const Settings& s) {
  QPDF& pdf = *pdf_;
  const std::tm now = stamp_time();
  const bool encrypt = !s.pdfa && (!s.user_password.empty() || !s.owner_password.empty());
  std::string note;
  try {
    set_info(pdf, s, now, appending_);
    pdf.getRoot().replaceKey(kOurKey, QPDFObjectHandle::newString(kOurValue));
    if (s.pdfa) {
      set_pdfa(pdf, s, now);
      if (!s.user_password.empty() || !s.owner_password.empty()) note = "PDF/A: passwords ignored, file not encrypted";
    }
  } catch (const Failure&) {
    throw;
  } catch (const std::exception& e) {
    fail(ORVPDF_E_FAILURE, e.what());
  }
  if (target_.writer) {
    CallbackPipeline out(target_.writer);
    try {
      QPDFWriter w(pdf);
      w.setOutputPipeline(&out);
      configure_writer(w, s, encrypt);
      w.write();
    } catch (const CallbackPipeline::WriterRefused& r) {
      throw WriterAbort{r.rc};
    } catch (const Failure&) {
      throw;
    } catch (const std::exception& e) {
      fail(ORVPDF_E_IO, e.what());
    }
  } else {
    write_file(pdf, target_.path, s, encrypt);
  }
  return note;
}

// ---- Reading ---------------------------------------------------------------------

std::unique_ptr<QPDF> document_open(const Source& src, const std::string& password) {
  auto pdf = std::make_unique<QPDF>();
  pdf->setSuppressWarnings(true);
  try {
    if (src.bytes) {
      pdf->processMemoryFile("<in memory>", reinterpret_cast<const char*>(src.bytes), src.length, password.c_str());
    } else {
      if (!file_exists(src.path)) fail(ORVPDF_E_FILE, "cannot open " + src.path);
      pdf->processFile(src.path.c_str(), password.c_str());
    }
  } catch (const QPDFExc& e) {
    fail(e.getErrorCode() == qpdf_e_password ? ORVPDF_E_PASSWORD : ORVPDF_E_FORMAT, e.what());
  } catch (const Failure&) {
    throw;
  } catch (const std::exception& e) {
    fail(ORVPDF_E_FORMAT, e.what());
  }
  return pdf;
}

int document_page_count(QPDF& pdf) {
  try {
    return static_cast<int>(pdf.getAllPages().size());
  } catch (const std::exception& e) {
    fail(ORVPDF_E_FORMAT, e.what());
  }
}

namespace {

int int_key(QPDFObjectHandle dict, const char* key, int fallback) {
  QPDFObjectHandle v = dict.getKey(key);
  if (!v.isInteger()) return fallback;
  const long long n = v.getIntValue();
  return n < INT32_MIN || n > INT32_MAX ? fallback : static_cast<int>(n);
}

void read_colour_space(QPDFObjectHandle cs, ImageStream& im, int depth = 0) {
  if (depth > 4) fail(ORVPDF_E_FEATURE, "colour space nested too deep");
  if (cs.isName()) {
    const std::string n = cs.getName();
    if (n == "/DeviceGray" || n == "/CalGray" || n == "/G") im.space = ColourSpace::Gray;
    else if (n == "/DeviceRGB" || n == "/CalRGB" || n == "/RGB") im.space = ColourSpace::RGB;
    else if (n == "/DeviceCMYK" || n == "/CMYK") im.space = ColourSpace::CMYK;
    else fail(ORVPDF_E_FEATURE, "unsupported colour space " + n);
    return;
  }
  if (!cs.isArray() || cs.getArrayNItems() < 1 || !cs.getArrayItem(0).isName())
    fail(ORVPDF_E_FORMAT, "bad colour space");
  const std::string kind = cs.getArrayItem(0).getName();
  if (kind == "/CalGray" || kind == "/CalRGB") {
    read_colour_space(QPDFObjectHandle::newName(kind), im, depth + 1);
  } else if (kind == "/ICCBased" && cs.getArrayNItems() >= 2 && cs.getArrayItem(1).isStream()) {
    const int n = int_key(cs.getArrayItem(1).getDict(), "/N", 0);
    im.space = n == 1 ? ColourSpace::Gray : n == 3 ? ColourSpace::RGB : n == 4 ? ColourSpace::CMYK : im.space;
    if (n != 1 && n != 3 && n != 4) fail(ORVPDF_E_FEATURE, "unsupported ICC colour space");
  } else if ((kind == "/Indexed" || kind == "/I") && cs.getArrayNItems() >= 4) {
    ImageStream base;
    read_colour_space(cs.getArrayItem(1), base, depth + 1);
    if (base.space != ColourSpace::RGB && base.space != ColourSpace::Gray) fail(ORVPDF_E_FEATURE, "unsupported palette");
    const int hival = std::clamp(cs.getArrayItem(2).isInteger() ? static_cast<int>(cs.getArrayItem(2).getIntValue()) : 0, 0, 255);
    QPDFObjectHandle lookup = cs.getArrayItem(3);
    std::string table;
    if (lookup.isString()) {
      table = lookup.getStringValue();
    } else if (lookup.isStream()) {
      BoundedPipeline p(4096);
      bool filtered = false;
      lookup.pipeStreamData(&p, &filtered, 0, qpdf_dl_generalized, true, false);
      table = p.bytes;
    }
    const std::size_t n = base.space == ColourSpace::RGB ? 3 : 1;
    table.resize(static_cast<std::size_t>(hival + 1) * n, '\0');
    im.palette.clear();
    for (int i = 0; i <= hival; ++i) {
      for (int c = 0; c < 3; ++c) im.palette += table[i * n + (n == 3 ? c : 0)];
    }
    im.space = ColourSpace::Indexed;
  } else {
    fail(ORVPDF_E_FEATURE, "unsupported colour space " + kind);
  }
}

// The most `raw` bytes can decode to through the stream's filters, applied
// in order; UINT64_MAX when a filter has no known bound.
std::uint64_t filters_max_bytes(QPDFObjectHandle filter, std::uint64_t raw) {
  std::vector<QPDFObjectHandle> chain;
  if (filter.isArray()) chain = filter.getArrayAsVector();
  else if (!filter.isNull()) chain.push_back(filter);
  std::uint64_t bytes = raw;
  for (QPDFObjectHandle& f : chain) {
    const std::string name = f.isName() ? f.getName() : "";
    if (name == "/FlateDecode" || name == "/Fl") bytes = codec::saturating_mul(bytes, codec::kDeflateBytesPerByte);
    else if (name == "/LZWDecode" || name == "/LZW") bytes = codec::lzw_max_bytes(bytes);
    else if (name == "/RunLengthDecode" || name == "/RL") bytes = codec::saturating_mul(bytes, codec::kPackBitsBytesPerByte);
    else if (name == "/ASCII85Decode" || name == "/A85") bytes = codec::saturating_mul(bytes, 4);  // "z" = 4 zero bytes
    else if (name != "/ASCIIHexDecode" && name != "/AHx" && name != "/Crypt") return UINT64_MAX;
  }
  return bytes;
}

// The decoded samples of an image stream with general-purpose filters: the
// filters must be ones we decode, the stream's bytes must be able to fill the
// image, and decoding stops once the image's `need` bytes are there.
std::string image_samples(QPDFObjectHandle image, QPDFObjectHandle filter, const ImageStream& im,
                          std::uint64_t need) {
  bool filterable = false;
  image.pipeStreamData(nullptr, &filterable, 0, qpdf_dl_specialized, true, false);
  if (!filterable && !filter.isNull()) fail(ORVPDF_E_FEATURE, "unsupported image filter");
  CountingPipeline raw;
  image.pipeStreamData(&raw, nullptr, 0, qpdf_dl_none, true, false);
  if (filters_max_bytes(filter, raw.count) < need)
    fail(ORVPDF_E_FORMAT, codec::image_data_refusal(static_cast<std::uint64_t>(im.width),
                                                    static_cast<std::uint64_t>(im.height), raw.count,
                                                    filter.isNull() ? "uncompressed" : "filtered"));
  BoundedPipeline p(static_cast<std::size_t>(need));
  if (!image.pipeStreamData(&p, nullptr, 0, qpdf_dl_specialized, true, false) && !p.full())
    fail(ORVPDF_E_FEATURE, "unsupported image filter");
  return std::move(p.bytes);
}

// The page's image: the largest image XObject among its resources.
QPDFObjectHandle page_image(QPDFObjectHandle page) {
  QPDFPageObjectHelper helper(page);
  QPDFObjectHandle best;
  long long best_area = -1;
  for (auto& [name, image] : helper.getImages()) {
    QPDFObjectHandle d = image.getDict();
    const long long area = static_cast<long long>(int_key(d, "/Width", 0)) * int_key(d, "/Height", 0);
    if (area > best_area) {
      best = image;
      best_area = area;
    }
  }
  if (best_area < 0) fail(ORVPDF_E_FEATURE, "page holds no image");
  return best;
}

}  // namespace

DibBytes document_page_image(QPDF& pdf, int page) {
  try {
    const auto& pages = pdf.getAllPages();
    if (page < 0 || static_cast<std::size_t>(page) >= pages.size())
      fail(ORVPDF_E_INVALID, "no page " + std::to_string(page));
    QPDFObjectHandle image = page_image(pages[static_cast<std::size_t>(page)]);
    QPDFObjectHandle d = image.getDict();
    ImageStream im;
    im.width = int_key(d, "/Width", 0);
    im.height = int_key(d, "/Height", 0);
    if (im.width <= 0 || im.height <= 0 || im.width > (1 << 24) || im.height > (1 << 24))
      fail(ORVPDF_E_FORMAT, "bad image size");
    image_check_size(static_cast<std::uint64_t>(im.width), static_cast<std::uint64_t>(im.height));
    const bool mask = d.getKey("/ImageMask").isBool() && d.getKey("/ImageMask").getBoolValue();
    im.bpc = mask ? 1 : int_key(d, "/BitsPerComponent", 8);
    if (mask) {
      im.space = ColourSpace::Gray;
    } else {
      read_colour_space(d.getKey("/ColorSpace"), im);
    }
    QPDFObjectHandle decode = d.getKey("/Decode");
    if (decode.isArray() && decode.getArrayNItems() >= 2 && decode.getArrayItem(0).isNumber())
      im.invert = decode.getArrayItem(0).getNumericValue() > decode.getArrayItem(1).getNumericValue();
    if (mask) im.invert = !im.invert;  // a mask paints its 0 samples
    QPDFObjectHandle filter = d.getKey("/Filter");
    if (filter.isArray() && filter.getArrayNItems() == 1) filter = filter.getArrayItem(0);
    QPDFObjectHandle parms = d.getKey("/DecodeParms");
    if (parms.isArray() && parms.getArrayNItems() == 1) parms = parms.getArrayItem(0);
    const std::string fname = filter.isName() ? filter.getName() : "";
    if (fname == "/DCTDecode" || fname == "/DCT" || fname == "/CCITTFaxDecode" || fname == "/CCF") {
      im.filter = fname == "/DCT" ? "/DCTDecode" : fname == "/CCF" ? "/CCITTFaxDecode" : fname;
      auto raw = image.getRawStreamData();
      im.data.assign(reinterpret_cast<const char*>(raw->getBuffer()), raw->getSize());
      if (parms.isDictionary()) {
        im.ccitt_k = int_key(parms, "/K", 0);
        im.black_is_1 = parms.getKey("/BlackIs1").isBool() && parms.getKey("/BlackIs1").getBoolValue();
      }
      if (im.filter == "/CCITTFaxDecode" &&
          static_cast<std::uint64_t>(im.height) > codec::saturating_mul(im.data.size(), codec::kCcittRowsPerByte))
        fail(ORVPDF_E_FORMAT, codec::image_data_refusal(static_cast<std::uint64_t>(im.width),
                                                        static_cast<std::uint64_t>(im.height), im.data.size(),
                                                        "CCITT"));
    } else {
      const std::uint64_t ncomp = im.space == ColourSpace::RGB ? 3 : im.space == ColourSpace::CMYK ? 4 : 1;
      const std::uint64_t need = (static_cast<std::uint64_t>(im.width) * static_cast<std::uint64_t>(std::max(im.bpc, 1)) * ncomp + 7) / 8 *
                                 static_cast<std::uint64_t>(im.height);
      if (need > kMaxSampleBytes) fail(ORVPDF_E_MEMORY, "image too large");
      im.data = image_samples(image, d.getKey("/Filter"), im, need);
    }
    // Resolution from the page size: pixels per inch of the media box.
    double dpi_x = 0, dpi_y = 0;
    QPDFObjectHandle box = QPDFPageObjectHelper(pages[static_cast<std::size_t>(page)]).getMediaBox();
    if (box.isRectangle()) {
      const auto r = box.getArrayAsRectangle();
      const double wpt = std::fabs(r.urx - r.llx), hpt = std::fabs(r.ury - r.lly);
      if (wpt > 0 && hpt > 0) {
        dpi_x = std::round(im.width * kPointsPerInch / wpt * 100) / 100;
        dpi_y = std::round(im.height * kPointsPerInch / hpt * 100) / 100;
      }
    }
    return image_decode(im, dpi_x, dpi_y);
  } catch (const Failure&) {
    throw;
  } catch (const QPDFExc& e) {
    fail(e.getErrorCode() == qpdf_e_password ? ORVPDF_E_PASSWORD : ORVPDF_E_FORMAT, e.what());
  } catch (const std::bad_alloc&) {
    fail(ORVPDF_E_MEMORY, "out of memory");
  } catch (const std::exception& e) {
    fail(ORVPDF_E_FORMAT, e.what());
  }
}

bool document_property(QPDF& pdf, const std::string& name, std::string* out_value) {
  try {
    QPDFObjectHandle info = pdf.getTrailer().getKey("/Info");
    if (!info.isDictionary()) return false;
    QPDFObjectHandle v = info.getKey("/" + name);
    if (!v.isString()) return false;
    *out_value = v.getUTF8Value();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool document_is_ours(QPDF& pdf) {
  try {
    QPDFObjectHandle v = pdf.getRoot().getKey(kOurKey);
    return v.isString() && v.getStringValue().rfind("OrvPdf", 0) == 0;
  } catch (const std::exception&) {
    return false;
  }
}

bool document_is_encrypted(QPDF& pdf) { return pdf.isEncrypted(); }

}  // namespace pdf
