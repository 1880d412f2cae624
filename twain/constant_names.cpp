#include "twain/constant_names.h"

#include <array>
#include <cstdio>

namespace twain {

namespace {

constexpr std::array<const char*, 10> kReturnCodeNames = {
    "TWRC_SUCCESS",   "TWRC_FAILURE",  "TWRC_CHECKSTATUS",      "TWRC_CANCEL",
    "TWRC_DSEVENT",   "TWRC_NOTDSEVENT", "TWRC_XFERDONE",       "TWRC_ENDOFLIST",
    "TWRC_INFONOTSUPPORTED", "TWRC_DATANOTAVAILABLE"};

// Codes 7 and 8 are unassigned in the standard; they keep a placeholder so the
// table stays indexed by value.
constexpr std::array<const char*, 30> kConditionCodeNames = {
    "TWCC_SUCCESS",         "TWCC_BUMMER",          "TWCC_LOWMEMORY",
    "TWCC_NODS",            "TWCC_MAXCONNECTIONS",  "TWCC_OPERATIONERROR",
    "TWCC_BADCAP",          "TWCC_7?",              "TWCC_8?",
    "TWCC_BADPROTOCOL",     "TWCC_BADVALUE",        "TWCC_SEQERROR",
    "TWCC_BADDEST",         "TWCC_CAPUNSUPPORTED",  "TWCC_CAPBADOPERATION",
    "TWCC_CAPSEQERROR",     "TWCC_DENIED",          "TWCC_FILEEXISTS",
    "TWCC_FILENOTFOUND",    "TWCC_NOTEMPTY",        "TWCC_PAPERJAM",
    "TWCC_PAPERDOUBLEFEED", "TWCC_FILEWRITEERROR",  "TWCC_CHECKDEVICEONLINE",
    "TWCC_INTERLOCK",       "TWCC_DAMAGEDCORNER",   "TWCC_FOCUSERROR",
    "TWCC_DOCTOOLIGHT",     "TWCC_DOCTOODARK",      "TWCC_NOMEDIA"};

}  // namespace

std::string return_code_name(int rc) {
  if (rc >= 0 && rc < static_cast<int>(kReturnCodeNames.size())) return kReturnCodeNames[rc];
  char buf[32];
  std::snprintf(buf, sizeof buf, "TWRC_ RC=%d??", rc);
  return buf;
}

std::string condition_code_name(int cc) {
  if (cc >= 0 && cc < static_cast<int>(kConditionCodeNames.size())) return kConditionCodeNames[cc];
  char buf[32];
  std::snprintf(buf, sizeof buf, "*****CC:0x%04x", static_cast<unsigned>(cc) & 0xffffu);
  return buf;
}

}  // namespace twain
