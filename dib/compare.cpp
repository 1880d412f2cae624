#include "dib/compare.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dib/row_readers.h"

namespace dib {
namespace {

constexpr double kDpiTolerance = 0.02;

// Row y of both images as 24-bit colour; unknown layouts compare their raw
// used bytes instead.
bool read_pair(const RowReader& ra, const RowReader& rb, const DibView& va, const DibView& vb,
               int y, std::vector<std::uint8_t>& a, std::vector<std::uint8_t>& b) {
  if (ra.supported() && rb.supported()) return ra.rgb(y, a.data()) && rb.rgb(y, b.data());
  if (va.used_bytes() != vb.used_bytes()) return false;
  a.assign(va.row(y), va.row(y) + va.used_bytes());
  b.assign(vb.row(y), vb.row(y) + vb.used_bytes());
  return true;
}

}  // namespace

bool images_equal(Handle a, Handle b) {
  if (a == 0 || b == 0) return false;
  if (a == b) return true;
  Locked la(a), lb(b);
  const DibView &va = la.view(), &vb = lb.view();
  const InfoHeader &ha = va.header(), &hb = vb.header();
  if (ha.size != kInfoHeaderBytes || hb.size != kInfoHeaderBytes) return false;
  if (va.width() != vb.width() || va.height() != vb.height() || va.depth() != vb.depth() ||
      ha.x_ppm != hb.x_ppm || ha.y_ppm != hb.y_ppm) {
    return false;
  }
  if (va.used_bytes() == 0) return true;
  const RowReader ra(va), rb(vb);
  std::vector<std::uint8_t> ra_row(static_cast<std::size_t>(va.width()) * 3 + 4);
  std::vector<std::uint8_t> rb_row(ra_row.size());
  for (int y = 0; y < va.height(); ++y) {
    if (!read_pair(ra, rb, va, vb, y, ra_row, rb_row)) return false;
    if (ra_row != rb_row) return false;
  }
  return true;
}

bool images_almost_equal(Handle a, Handle b, int tolerance, int* out_max_error) {
  *out_max_error = -1;
  Locked la(a), lb(b);
  const DibView &va = la.view(), &vb = lb.view();
  if (va.width() != vb.width() || va.height() != vb.height() ||
      va.pixel_type() != vb.pixel_type() || va.depth() != vb.depth()) {
    return false;
  }
  if (std::fabs(ppm_to_dpi(va.header().x_ppm) - ppm_to_dpi(vb.header().x_ppm)) > kDpiTolerance ||
      std::fabs(ppm_to_dpi(va.header().y_ppm) - ppm_to_dpi(vb.header().y_ppm)) > kDpiTolerance) {
    return false;
  }
  int max_error = 0;
  if (va.used_bytes() != 0) {
    const RowReader ra(va), rb(vb);
    std::vector<std::uint8_t> ra_row(static_cast<std::size_t>(va.width()) * 3 + 4);
    std::vector<std::uint8_t> rb_row(ra_row.size());
    for (int y = 0; y < va.height(); ++y) {
      if (!read_pair(ra, rb, va, vb, y, ra_row, rb_row)) return false;
      for (std::size_t i = 0; i < ra_row.size(); ++i) {
        max_error = std::max(max_error, std::abs(int{ra_row[i]} - int{rb_row[i]}));
      }
    }
  }
  *out_max_error = max_error;
  return max_error <= tolerance;
}

}  // namespace dib
