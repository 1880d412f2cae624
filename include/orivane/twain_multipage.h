/* The former name of orivane/multipage_files.h, kept so that programs written
 * against it still build: what it declares was never TWAIN's. New code
 * includes orivane/multipage_files.h. */
#include "orivane/multipage_files.h"
