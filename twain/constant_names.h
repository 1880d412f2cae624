// Names of TWAIN constants for traces and error notes.
#pragma once
#include <string>

namespace twain {

// "TWRC_SUCCESS" ... "TWRC_DATANOTAVAILABLE", else "TWRC_ RC=<n>??".
std::string return_code_name(int rc);
// "TWCC_SUCCESS" ... "TWCC_NOMEDIA" (0-29), else "*****CC:0x%04x".
std::string condition_code_name(int cc);

}  // namespace twain
