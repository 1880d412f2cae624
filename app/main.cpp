// quillet: scans pages from a TWAIN device into image files and ends with a
// key=value report and an exit code.
#include "app/app.h"

int main(int argc, char** argv) { return QuilletMain(argc, argv); }
