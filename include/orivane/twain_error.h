/* The former name of orivane/errors.h, kept so that programs written
 * against it still build: what it declares was never TWAIN's. New code
 * includes orivane/errors.h. */
#include "orivane/errors.h"
