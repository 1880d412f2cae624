// Pages on demand. Drawing text is the slow part of a page, and all pages of
// a format share everything but the heading and the barcode; so the first
// page of a format draws and converts the whole template, and every page
// after copies it and stamps its two boxes. The template of the last format
// is kept (a device scans a batch in one format; keeping more would keep
// hundreds of megabytes at 600 dpi). The checksum, a byte-serial hash, costs
// more than the copy: the rows above both boxes are hashed once, with the
// template; and the pixel buffers of released pages are reused, since a
// fresh buffer of tens of megabytes costs more in page faults than copying
// into it.
#include <algorithm>
#include <cmath>
#include <mutex>
#include <optional>

#include "sources/virtual/pages.h"
#include "sources/virtual/pages/detail.h"

namespace vscan {
namespace {

using pages::PageLayout;

constexpr std::uint64_t kFnvOffsetBasis = 14695981039346656037ULL;
constexpr std::uint64_t kFnvPrime = 1099511628211ULL;

std::uint64_t fnv_continue(std::uint64_t h, const std::uint8_t* p, std::size_t n) {
  for (const std::uint8_t* end = p + n; p != end; ++p) {
    h ^= *p;
    h *= kFnvPrime;
  }
  return h;
}

// Pixel buffers of released pages of the current size, for the next pages.
// Pages hold it through their deleter, so it outlives every page.
class BufferPool {
 public:
  BufferPool() { spare_.reserve(kSpareBuffers); }

  // Forgets the buffers of another size; pages of that size still out are
  // freed when released.
  void resize(std::size_t size) {
    std::lock_guard lock(mutex_);
    size_ = size;
    spare_.clear();
  }
  // A buffer of `size` bytes with undefined content, empty when none is kept.
  std::vector<std::uint8_t> take(std::size_t size) {
    std::lock_guard lock(mutex_);
    if (spare_.empty() || size != size_) return {};
    std::vector<std::uint8_t> v = std::move(spare_.back());
    spare_.pop_back();
    return v;
  }
  void give(std::vector<std::uint8_t>&& v) noexcept {
    std::lock_guard lock(mutex_);
    // Capacity was reserved, so keeping one never allocates.
    if (v.size() == size_ && spare_.size() < kSpareBuffers) spare_.push_back(std::move(v));
  }

 private:
  static constexpr std::size_t kSpareBuffers = 2;
  std::mutex mutex_;
  std::size_t size_ = 0;
  std::vector<std::vector<std::uint8_t>> spare_;
};

// A format's rendered template: its layout, pixels in the delivered type
// with both stamp boxes white, and the fonts for stamping.
struct Template {
  PageFormat format;
  PageLayout layout;
  std::size_t bytes_per_row = 0;
  std::vector<std::uint8_t> pixels;
  int prefix_rows = 0;  // rows above both stamp boxes
  std::uint64_t prefix_hash = kFnvOffsetBasis;
  std::mutex stamp_mutex;  // the fonts cache glyphs as they draw; the canvas
  pages::PageFonts fonts;
  // The template's drawing, kept from the first turned page on: turned
  // pages are drawn whole.
  std::unique_ptr<pages::Canvas> canvas;
};

// The page generator's process-wide state: the last format's template and
// the buffers of its pages.
struct PageCache {
  std::mutex mutex;
  std::shared_ptr<Template> last;
  std::shared_ptr<BufferPool> buffers = std::make_shared<BufferPool>();
};

PageCache& page_cache() {
  static PageCache cache;
  return cache;
}

// Far beyond any scanner; glyphs would take gigabytes.
constexpr double kMaxDpi = 10000;

bool renderable(const PageFormat& f) {
  const auto dpi_ok = [](double dpi) { return std::isfinite(dpi) && dpi > 0 && dpi <= kMaxDpi; };
  return pages::page_bytes_per_row(f) > 0 && f.height > 0 && dpi_ok(f.x_dpi) && dpi_ok(f.y_dpi);
}

std::shared_ptr<Template> template_build(const PageFormat& f) {
  auto t = std::make_shared<Template>();
  t->format = f;
  t->layout = pages::page_layout(f);
  t->bytes_per_row = pages::page_bytes_per_row(f);
  t->fonts = pages::PageFonts::open(f);
  const pages::Canvas canvas = pages::page_template(f, t->layout, t->fonts);
  t->pixels.resize(t->bytes_per_row * std::size_t(f.height));
  pages::page_convert(canvas, f, 0, 0, t->pixels.data(), t->bytes_per_row);
  const auto box_top = [](const pages::Box& b, int height) { return b.empty() ? height : b.y0; };
  t->prefix_rows =
      std::min(box_top(t->layout.heading, f.height), box_top(t->layout.barcode, f.height));
  t->prefix_hash = fnv_continue(kFnvOffsetBasis, t->pixels.data(),
                                t->bytes_per_row * std::size_t(t->prefix_rows));
  return t;
}

std::shared_ptr<Template> template_for(const PageFormat& f, std::shared_ptr<BufferPool>& out_pool) {
  PageCache& cache = page_cache();
  std::lock_guard lock(cache.mutex);
  if (!cache.last || !(cache.last->format == f)) {
    cache.last.reset();  // free the old pixels before drawing the new ones
    cache.buffers->resize(0);
    cache.last = template_build(f);
    cache.buffers->resize(cache.last->pixels.size());
  }
  out_pool = cache.buffers;
  return cache.last;
}

// A page whose pixels go back to `pool` when its last holder lets go.
std::shared_ptr<Raster> page_new(const std::shared_ptr<BufferPool>& pool) {
  return std::shared_ptr<Raster>(new Raster, [pool](Raster* r) {
    pool->give(std::move(r->pixels));
    delete r;
  });
}

// Converts a whole drawing into `page` (format, row size and pixels set).
void page_fill(Raster& page, const pages::Canvas& canvas, std::size_t bytes_per_row) {
  page.bytes_per_row = bytes_per_row;
  page.pixels.resize(bytes_per_row * std::size_t(page.format.height));
  pages::page_convert(canvas, page.format, 0, 0, page.pixels.data(), bytes_per_row);
}

bool turned(const PageFacts& facts) {
  return std::isfinite(facts.skew_degrees) && facts.skew_degrees != 0 &&
         std::abs(facts.skew_degrees) <= 45;
}

// The dark platen around a sheet smaller than the scan area.
constexpr pages::Rgb kPlaten = {40, 40, 40};
constexpr double kMaxPlatenInches = 1.0;

bool on_platen(const PageFacts& facts) {
  return std::isfinite(facts.platen_inches) && facts.platen_inches > 0 &&
         facts.platen_inches <= kMaxPlatenInches;
}

void paint_platen(pages::Canvas& c, const PageFormat& f, double inches) {
  const int w = std::min(c.width(), int(std::lround(inches * f.x_dpi)));
  const int h = std::min(c.height(), int(std::lround(inches * f.y_dpi)));
  c.fill({0, 0, c.width(), h}, kPlaten);
  c.fill({0, c.height() - h, c.width(), c.height()}, kPlaten);
  c.fill({0, 0, w, c.height()}, kPlaten);
  c.fill({c.width() - w, 0, c.width(), c.height()}, kPlaten);
}

// A page drawn whole: the template's drawing with the boxes stamped, turned
// and laid on the platen as the facts say.
std::shared_ptr<const Raster> page_drawn(Template& t, const PageFacts& facts,
                                         std::shared_ptr<Raster> page) {
  const PageFormat& f = t.format;
  const PageLayout& l = t.layout;
  std::optional<pages::Canvas> whole;
  {
    std::lock_guard lock(t.stamp_mutex);
    if (!t.canvas) t.canvas = std::make_unique<pages::Canvas>(pages::page_template(f, l, t.fonts));
    whole.emplace(*t.canvas);
    whole->blit(pages::page_heading(f, l, facts, t.fonts), l.heading.x0, l.heading.y0);
    whole->blit(pages::page_barcode(f, l, facts, t.fonts, page->barcode_text), l.barcode.x0,
                l.barcode.y0);
  }
  if (turned(facts)) *whole = pages::page_rotate(*whole, facts.skew_degrees, f.x_dpi, f.y_dpi);
  if (on_platen(facts)) paint_platen(*whole, f, facts.platen_inches);
  if (facts.upside_down) *whole = pages::page_turned_over(*whole);
  page_fill(*page, *whole, t.bytes_per_row);
  return page;
}

// A printed page: the template's pixels with the two boxes stamped.
std::shared_ptr<const Raster> page_stamped(Template& t, const PageFacts& facts,
                                           std::shared_ptr<Raster> page, BufferPool& pool) {
  const PageFormat& f = t.format;
  const PageLayout& l = t.layout;
  std::optional<pages::Canvas> heading, barcode;
  {
    std::lock_guard lock(t.stamp_mutex);
    heading.emplace(pages::page_heading(f, l, facts, t.fonts));
    barcode.emplace(pages::page_barcode(f, l, facts, t.fonts, page->barcode_text));
  }
  page->bytes_per_row = t.bytes_per_row;
  page->pixels = pool.take(t.pixels.size());
  if (page->pixels.empty())
    page->pixels = t.pixels;
  else
    std::copy(t.pixels.begin(), t.pixels.end(), page->pixels.begin());
  std::uint8_t* pixels = page->pixels.data();
  pages::page_convert(*heading, f, l.heading.x0, l.heading.y0, pixels, t.bytes_per_row);
  pages::page_convert(*barcode, f, l.barcode.x0, l.barcode.y0, pixels, t.bytes_per_row);
  const std::size_t prefix = t.bytes_per_row * std::size_t(t.prefix_rows);
  page->hash_seed = t.prefix_hash;
  page->hash_from = prefix;
  return page;
}

}  // namespace

std::shared_ptr<const Raster> render_page(const PageFormat& format, const PageFacts& facts) {
  if (!renderable(format)) return nullptr;
  if (facts.blank) {
    // Nothing in common with the printed pages, and rare: drawn whole.
    auto page = std::make_shared<Raster>();
    page->format = format;
    page_fill(*page, pages::page_blank(format, facts), pages::page_bytes_per_row(format));
    return page;
  }
  std::shared_ptr<BufferPool> pool;
  const std::shared_ptr<Template> t = template_for(format, pool);
  std::shared_ptr<Raster> page = page_new(pool);
  page->format = format;
  if (turned(facts) || on_platen(facts) || facts.upside_down) return page_drawn(*t, facts, std::move(page));
  return page_stamped(*t, facts, std::move(page), *pool);
}

std::uint64_t Raster::checksum() const {
  static std::mutex m;
  std::lock_guard lock(m);
  if (!checksum_cache) {
    const std::size_t from = std::min(hash_from, pixels.size());
    checksum_cache = fnv_continue(hash_seed, pixels.data() + from, pixels.size() - from);
  }
  return *checksum_cache;
}

std::uint64_t raster_checksum(const std::uint8_t* rows, std::size_t bytes_per_row, int height) {
  if (rows == nullptr || height <= 0) return kFnvOffsetBasis;
  return fnv_continue(kFnvOffsetBasis, rows, bytes_per_row * std::size_t(height));
}

}  // namespace vscan
