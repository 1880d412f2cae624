// quillet: scans pages from a TWAIN device into image files and ends with a
// key=value report and an exit code.
#include <malloc.h>

#include "app/app.h"

namespace {

// A page passes through buffers of ten to a few hundred megabytes that are
// freed once it is written. By default the allocator hands such memory back
// to the system at once and faults it in again for the next page, which costs
// a batch about 10 ms of system time per page; keeping up to this much for
// the next page costs nothing that grows with the batch.
constexpr int kKeptForTheNextPage = 64 * 1024 * 1024;

}  // namespace

int main(int argc, char** argv) {
  mallopt(M_MMAP_THRESHOLD, kKeptForTheNextPage);
  mallopt(M_TRIM_THRESHOLD, kKeptForTheNextPage);
  return QuilletMain(argc, argv);
}
