/* The Orivane library's version: the one place it is kept. The trace log's
 * header, the About text, FormatVersion(FF_BMP) and the producer of the PDF
 * files it writes all read it from here. */
#ifndef ORIVANE_VERSION_H
#define ORIVANE_VERSION_H

#define ORIVANE_PRODUCT "Orivane"
/* Major * 100 + minor: 347 is 3.47. */
#define ORIVANE_VERSION 347
#define ORIVANE_BUILD 2
#define ORIVANE_VERSION_TEXT "3.47.2.0"

#endif
