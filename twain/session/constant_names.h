// Names of TWAIN constants for traces and error notes.
#pragma once
#include <string>

namespace twain {

// "TWRC_SUCCESS" ... "TWRC_DATANOTAVAILABLE", else "TWRC_ RC=<n>??".
std::string return_code_name(int rc);
// "TWCC_SUCCESS" ... "TWCC_NOMEDIA" (0-29), else "*****CC:0x%04x".
std::string condition_code_name(int cc);
// "MSG_NULL" ... "MSG_RESETALL"; else "MSG_0x%04X" below 0x8000 and
// "MSG_CUSTOMBASE+%u" from there on.
std::string message_name(unsigned msg);
// "DAT_NULL" ... "DAT_ENTRYPOINT"; else "DAT_0x%04x".
std::string dat_name(unsigned dat);
// The standard's CAP_, ICAP_ and ACAP_ names; else "CAP_0x%04x".
std::string cap_name(unsigned cap);
// "int8", "int16", ... "str1024?", "uni512?", "handle"; else "TWTY_0x%x?".
std::string item_type_name(int type);
// "TWPT_BW" ...; else "TWPT_%x".
std::string pixel_type_name(int type);
// "TWFF_TIFF" ...; else "TWFY_???".
std::string file_format_name(int format);
// "inch", "cm", "pica", "pt", "twip", "pixel", "mm" (plural: "inches", "cm",
// "picas", "pts", "twips", "pixels", "mm"); else "?".
std::string unit_name(int unit, bool plural = false);

// A name without its prefix: "TWRC_SUCCESS" -> "SUCCESS", "MSG_GET" -> "GET".
// Texts without a prefix come back unchanged.
std::string short_name(const std::string& name);

}  // namespace twain
