/* The former name of orivane/trace_log.h, kept so that programs written
 * against it still build: what it declares was never TWAIN's. New code
 * includes orivane/trace_log.h. */
#include "orivane/trace_log.h"
