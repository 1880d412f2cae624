// The public headers from C (public_headers.c): the same operations and codes
// a C++ caller gets, whichever name of a renamed header the program includes.
#include <gtest/gtest.h>

#include "orivane/errors.h"
#include "orivane/file_options.h"
#include "orivane/multipage_files.h"
#include "orivane/trace_log.h"

extern "C" {
typedef void (*AnyFunction)(void);
AnyFunction c_view_of_renamed_header(int index);
int c_view_of_error_code(void);
}

namespace {

template <typename F>
AnyFunction any(F* f) {
  return reinterpret_cast<AnyFunction>(f);
}

TEST(PublicHeadersTest, CAndCxxCallersReachTheSameOperations) {
  const AnyFunction expected[] = {any(&TWAIN_LastErrorCode), any(&TWAIN_SetJpegQuality),
                                  any(&TWAIN_BeginMultipageFile), any(&TWAIN_LogFile)};
  int i = 0;
  for (; c_view_of_renamed_header(i) != nullptr; ++i) {
    SCOPED_TRACE(i);
    ASSERT_LT(i, static_cast<int>(std::size(expected)));
    EXPECT_EQ(c_view_of_renamed_header(i), expected[i]);
  }
  EXPECT_EQ(i, static_cast<int>(std::size(expected)));
  EXPECT_EQ(c_view_of_error_code(), ERR_FILE_IN_USE);
}

}  // namespace
