// Placeholder until deskew lands; removed by its implementation.
#include "dib/page_analysis.h"
namespace dib {
Handle auto_deskew(Handle) { return 0; }
}  // namespace dib
