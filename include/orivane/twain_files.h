/* The former name of orivane/file_options.h, kept so that programs written
 * against it still build: what it declares was never TWAIN's. New code
 * includes orivane/file_options.h. */
#include "orivane/file_options.h"
