// Placeholder until blank detection lands; removed by its implementation.
#include "dib/page_analysis.h"
namespace dib {
bool is_blank(const DibView&, double) { return false; }
}  // namespace dib
