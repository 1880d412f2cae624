// The constant-name tables. Tables indexed by value where the values run
// without gaps; value/name pairs where they do not.
#include "twain/session/constant_names.h"

#include <array>
#include <cstdio>
#include <utility>

namespace twain {

namespace {

using Named = std::pair<unsigned, const char*>;

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

constexpr Named kMessageNames[] = {
    {0x0000, "MSG_NULL"},          {0x0001, "MSG_GET"},
    {0x0002, "MSG_GETCURRENT"},    {0x0003, "MSG_GETDEFAULT"},
    {0x0004, "MSG_GETFIRST"},      {0x0005, "MSG_GETNEXT"},
    {0x0006, "MSG_SET"},           {0x0007, "MSG_RESET"},
    {0x0008, "MSG_QUERYSUPPORT"},  {0x0009, "MSG_GETHELP"},
    {0x000a, "MSG_GETLABEL"},      {0x000b, "MSG_GETLABELENUM"},
    {0x000c, "MSG_SETCONSTRAINT"}, {0x0101, "MSG_XFERREADY"},
    {0x0102, "MSG_CLOSEDSREQ"},    {0x0103, "MSG_CLOSEDSOK"},
    {0x0104, "MSG_DEVICEEVENT"},   {0x0301, "MSG_OPENDSM"},
    {0x0302, "MSG_CLOSEDSM"},      {0x0401, "MSG_OPENDS"},
    {0x0402, "MSG_CLOSEDS"},       {0x0403, "MSG_USERSELECT"},
    {0x0501, "MSG_DISABLEDS"},     {0x0502, "MSG_ENABLEDS"},
    {0x0503, "MSG_ENABLEDSUIONLY"}, {0x0601, "MSG_PROCESSEVENT"},
    {0x0701, "MSG_ENDXFER"},       {0x0702, "MSG_STOPFEEDER"},
    {0x0801, "MSG_CHANGEDIRECTORY"}, {0x0802, "MSG_CREATEDIRECTORY"},
    {0x0803, "MSG_DELETE"},        {0x0804, "MSG_FORMATMEDIA"},
    {0x0805, "MSG_GETCLOSE"},      {0x0806, "MSG_GETFIRSTFILE"},
    {0x0807, "MSG_GETINFO"},       {0x0808, "MSG_GETNEXTFILE"},
    {0x0809, "MSG_RENAME"},        {0x080a, "MSG_COPY"},
    {0x080b, "MSG_AUTOMATICCAPTUREDIRECTORY"}, {0x0901, "MSG_PASSTHRU"},
    {0x0902, "MSG_REGISTER_CALLBACK"}, {0x0a01, "MSG_RESETALL"}};

constexpr Named kDatNames[] = {
    {0x0000, "DAT_NULL"},          {0x0001, "DAT_CAPABILITY"},
    {0x0002, "DAT_EVENT"},         {0x0003, "DAT_IDENTITY"},
    {0x0004, "DAT_PARENT"},        {0x0005, "DAT_PENDINGXFERS"},
    {0x0006, "DAT_SETUPMEMXFER"},  {0x0007, "DAT_SETUPFILEXFER"},
    {0x0008, "DAT_STATUS"},        {0x0009, "DAT_USERINTERFACE"},
    {0x000a, "DAT_XFERGROUP"},     {0x000b, "DAT_TWUNKIDENTITY"},
    {0x000c, "DAT_CUSTOMDSDATA"},  {0x000d, "DAT_DEVICEEVENT"},
    {0x000e, "DAT_FILESYSTEM"},    {0x000f, "DAT_PASSTHRU"},
    {0x0010, "DAT_CALLBACK"},      {0x0011, "DAT_STATUSUTF8"},
    {0x0012, "DAT_CALLBACK2"},     {0x0013, "DAT_METRICS"},
    {0x0014, "DAT_TWAINDIRECT"},   {0x0101, "DAT_IMAGEINFO"},
    {0x0102, "DAT_IMAGELAYOUT"},   {0x0103, "DAT_IMAGEMEMXFER"},
    {0x0104, "DAT_IMAGENATIVEXFER"}, {0x0105, "DAT_IMAGEFILEXFER"},
    {0x0106, "DAT_CIECOLOR"},      {0x0107, "DAT_GRAYRESPONSE"},
    {0x0108, "DAT_RGBRESPONSE"},   {0x0109, "DAT_JPEGCOMPRESSION"},
    {0x010a, "DAT_PALETTE8"},      {0x010b, "DAT_EXTIMAGEINFO"},
    {0x010c, "DAT_FILTER"},        {0x0201, "DAT_AUDIOFILEXFER"},
    {0x0202, "DAT_AUDIOINFO"},     {0x0203, "DAT_AUDIONATIVEXFER"},
    {0x0401, "DAT_ICCPROFILE"},    {0x0402, "DAT_IMAGEMEMFILEXFER"},
    {0x0403, "DAT_ENTRYPOINT"}};

constexpr Named kCapNames[] = {
    {0x0001, "CAP_XFERCOUNT"},
    {0x0100, "ICAP_COMPRESSION"}, {0x0101, "ICAP_PIXELTYPE"},
    {0x0102, "ICAP_UNITS"}, {0x0103, "ICAP_XFERMECH"},
    {0x1000, "CAP_AUTHOR"}, {0x1001, "CAP_CAPTION"}, {0x1002, "CAP_FEEDERENABLED"},
    {0x1003, "CAP_FEEDERLOADED"}, {0x1004, "CAP_TIMEDATE"}, {0x1005, "CAP_SUPPORTEDCAPS"},
    {0x1006, "CAP_EXTENDEDCAPS"}, {0x1007, "CAP_AUTOFEED"}, {0x1008, "CAP_CLEARPAGE"},
    {0x1009, "CAP_FEEDPAGE"}, {0x100a, "CAP_REWINDPAGE"}, {0x100b, "CAP_INDICATORS"},
    {0x100c, "CAP_SUPPORTEDCAPSEXT"}, {0x100d, "CAP_PAPERDETECTABLE"},
    {0x100e, "CAP_UICONTROLLABLE"}, {0x100f, "CAP_DEVICEONLINE"}, {0x1010, "CAP_AUTOSCAN"},
    {0x1011, "CAP_THUMBNAILSENABLED"}, {0x1012, "CAP_DUPLEX"}, {0x1013, "CAP_DUPLEXENABLED"},
    {0x1014, "CAP_ENABLEDSUIONLY"}, {0x1015, "CAP_CUSTOMDSDATA"}, {0x1016, "CAP_ENDORSER"},
    {0x1017, "CAP_JOBCONTROL"}, {0x1018, "CAP_ALARMS"}, {0x1019, "CAP_ALARMVOLUME"},
    {0x101a, "CAP_AUTOMATICCAPTURE"}, {0x101b, "CAP_TIMEBEFOREFIRSTCAPTURE"},
    {0x101c, "CAP_TIMEBETWEENCAPTURES"}, {0x101d, "CAP_CLEARBUFFERS"},
    {0x101e, "CAP_MAXBATCHBUFFERS"}, {0x101f, "CAP_DEVICETIMEDATE"},
    {0x1020, "CAP_POWERSUPPLY"}, {0x1021, "CAP_CAMERAPREVIEWUI"}, {0x1022, "CAP_DEVICEEVENT"},
    {0x1024, "CAP_SERIALNUMBER"}, {0x1026, "CAP_PRINTER"}, {0x1027, "CAP_PRINTERENABLED"},
    {0x1028, "CAP_PRINTERINDEX"}, {0x1029, "CAP_PRINTERMODE"}, {0x102a, "CAP_PRINTERSTRING"},
    {0x102b, "CAP_PRINTERSUFFIX"}, {0x102c, "CAP_LANGUAGE"}, {0x102d, "CAP_FEEDERALIGNMENT"},
    {0x102e, "CAP_FEEDERORDER"}, {0x1030, "CAP_REACQUIREALLOWED"},
    {0x1032, "CAP_BATTERYMINUTES"}, {0x1033, "CAP_BATTERYPERCENTAGE"},
    {0x1034, "CAP_CAMERASIDE"}, {0x1035, "CAP_SEGMENTED"}, {0x1036, "CAP_CAMERAENABLED"},
    {0x1037, "CAP_CAMERAORDER"}, {0x1038, "CAP_MICRENABLED"}, {0x1039, "CAP_FEEDERPREP"},
    {0x103a, "CAP_FEEDERPOCKET"}, {0x103b, "CAP_AUTOMATICSENSEMEDIUM"},
    {0x103c, "CAP_CUSTOMINTERFACEGUID"}, {0x103d, "CAP_SUPPORTEDCAPSSEGMENTUNIQUE"},
    {0x103e, "CAP_SUPPORTEDDATS"}, {0x103f, "CAP_DOUBLEFEEDDETECTION"},
    {0x1040, "CAP_DOUBLEFEEDDETECTIONLENGTH"}, {0x1041, "CAP_DOUBLEFEEDDETECTIONSENSITIVITY"},
    {0x1042, "CAP_DOUBLEFEEDDETECTIONRESPONSE"}, {0x1043, "CAP_PAPERHANDLING"},
    {0x1044, "CAP_INDICATORSMODE"}, {0x1045, "CAP_PRINTERVERTICALOFFSET"},
    {0x1046, "CAP_POWERSAVETIME"}, {0x1047, "CAP_PRINTERCHARROTATION"},
    {0x1048, "CAP_PRINTERFONTSTYLE"}, {0x1049, "CAP_PRINTERINDEXLEADCHAR"},
    {0x104a, "CAP_PRINTERINDEXMAXVALUE"}, {0x104b, "CAP_PRINTERINDEXNUMDIGITS"},
    {0x104c, "CAP_PRINTERINDEXSTEP"}, {0x104d, "CAP_PRINTERINDEXTRIGGER"},
    {0x104e, "CAP_PRINTERSTRINGPREVIEW"}, {0x104f, "CAP_SHEETCOUNT"},
    {0x1100, "ICAP_AUTOBRIGHT"}, {0x1101, "ICAP_BRIGHTNESS"}, {0x1103, "ICAP_CONTRAST"},
    {0x1104, "ICAP_CUSTHALFTONE"}, {0x1105, "ICAP_EXPOSURETIME"}, {0x1106, "ICAP_FILTER"},
    {0x1107, "ICAP_FLASHUSED"}, {0x1108, "ICAP_GAMMA"}, {0x1109, "ICAP_HALFTONES"},
    {0x110a, "ICAP_HIGHLIGHT"}, {0x110c, "ICAP_IMAGEFILEFORMAT"}, {0x110d, "ICAP_LAMPSTATE"},
    {0x110e, "ICAP_LIGHTSOURCE"}, {0x1110, "ICAP_ORIENTATION"},
    {0x1111, "ICAP_PHYSICALWIDTH"}, {0x1112, "ICAP_PHYSICALHEIGHT"}, {0x1113, "ICAP_SHADOW"},
    {0x1114, "ICAP_FRAMES"}, {0x1116, "ICAP_XNATIVERESOLUTION"},
    {0x1117, "ICAP_YNATIVERESOLUTION"}, {0x1118, "ICAP_XRESOLUTION"},
    {0x1119, "ICAP_YRESOLUTION"}, {0x111a, "ICAP_MAXFRAMES"}, {0x111b, "ICAP_TILES"},
    {0x111c, "ICAP_BITORDER"}, {0x111d, "ICAP_CCITTKFACTOR"}, {0x111e, "ICAP_LIGHTPATH"},
    {0x111f, "ICAP_PIXELFLAVOR"}, {0x1120, "ICAP_PLANARCHUNKY"}, {0x1121, "ICAP_ROTATION"},
    {0x1122, "ICAP_SUPPORTEDSIZES"}, {0x1123, "ICAP_THRESHOLD"}, {0x1124, "ICAP_XSCALING"},
    {0x1125, "ICAP_YSCALING"}, {0x1126, "ICAP_BITORDERCODES"},
    {0x1127, "ICAP_PIXELFLAVORCODES"}, {0x1128, "ICAP_JPEGPIXELTYPE"},
    {0x112a, "ICAP_TIMEFILL"}, {0x112b, "ICAP_BITDEPTH"}, {0x112c, "ICAP_BITDEPTHREDUCTION"},
    {0x112d, "ICAP_UNDEFINEDIMAGESIZE"}, {0x112e, "ICAP_IMAGEDATASET"},
    {0x112f, "ICAP_EXTIMAGEINFO"}, {0x1130, "ICAP_MINIMUMHEIGHT"},
    {0x1131, "ICAP_MINIMUMWIDTH"}, {0x1134, "ICAP_AUTODISCARDBLANKPAGES"},
    {0x1136, "ICAP_FLIPROTATION"}, {0x1137, "ICAP_BARCODEDETECTIONENABLED"},
    {0x1138, "ICAP_SUPPORTEDBARCODETYPES"}, {0x1139, "ICAP_BARCODEMAXSEARCHPRIORITIES"},
    {0x113a, "ICAP_BARCODESEARCHPRIORITIES"}, {0x113b, "ICAP_BARCODESEARCHMODE"},
    {0x113c, "ICAP_BARCODEMAXRETRIES"}, {0x113d, "ICAP_BARCODETIMEOUT"},
    {0x113e, "ICAP_ZOOMFACTOR"}, {0x113f, "ICAP_PATCHCODEDETECTIONENABLED"},
    {0x1140, "ICAP_SUPPORTEDPATCHCODETYPES"}, {0x1141, "ICAP_PATCHCODEMAXSEARCHPRIORITIES"},
    {0x1142, "ICAP_PATCHCODESEARCHPRIORITIES"}, {0x1143, "ICAP_PATCHCODESEARCHMODE"},
    {0x1144, "ICAP_PATCHCODEMAXRETRIES"}, {0x1145, "ICAP_PATCHCODETIMEOUT"},
    {0x1146, "ICAP_FLASHUSED2"}, {0x1147, "ICAP_IMAGEFILTER"}, {0x1148, "ICAP_NOISEFILTER"},
    {0x1149, "ICAP_OVERSCAN"}, {0x1150, "ICAP_AUTOMATICBORDERDETECTION"},
    {0x1151, "ICAP_AUTOMATICDESKEW"}, {0x1152, "ICAP_AUTOMATICROTATE"},
    {0x1153, "ICAP_JPEGQUALITY"}, {0x1154, "ICAP_FEEDERTYPE"}, {0x1155, "ICAP_ICCPROFILE"},
    {0x1156, "ICAP_AUTOSIZE"}, {0x1157, "ICAP_AUTOMATICCROPUSESFRAME"},
    {0x1158, "ICAP_AUTOMATICLENGTHDETECTION"}, {0x1159, "ICAP_AUTOMATICCOLORENABLED"},
    {0x115a, "ICAP_AUTOMATICCOLORNONCOLORPIXELTYPE"}, {0x115b, "ICAP_COLORMANAGEMENTENABLED"},
    {0x115c, "ICAP_IMAGEMERGE"}, {0x115d, "ICAP_IMAGEMERGEHEIGHTTHRESHOLD"},
    {0x115e, "ICAP_SUPPORTEDEXTIMAGEINFO"}, {0x115f, "ICAP_FILMTYPE"}, {0x1160, "ICAP_MIRROR"},
    {0x1161, "ICAP_JPEGSUBSAMPLING"},
    {0x1201, "ACAP_AUDIOFILEFORMAT"}, {0x1202, "ACAP_XFERMECH"}};

// Type 13 and 14 carry a question mark: the library has little use for them.
constexpr std::array<const char*, 16> kItemTypeNames = {
    "int8", "int16",  "int32", "uint8",  "uint16", "uint32",   "bool",    "fix32",
    "frame", "str32", "str64", "str128", "str255", "str1024?", "uni512?", "handle"};

constexpr Named kPixelTypeNames[] = {
    {0, "TWPT_BW"},   {1, "TWPT_GRAY"},  {2, "TWPT_RGB"},    {3, "TWPT_PALETTE"},
    {4, "TWPT_CMY"},  {5, "TWPT_CMYK"},  {6, "TWPT_YUV"},    {7, "TWPT_YUVK"},
    {8, "TWPT_CIEXYZ"}, {9, "TWPT_LAB"}, {10, "TWPT_SRGB"},  {11, "TWPT_SCRGB"},
    {16, "TWPT_INFRARED"}};

constexpr Named kFileFormatNames[] = {
    {0, "TWFF_TIFF"},  {1, "TWFF_PICT"},      {2, "TWFF_BMP"},   {3, "TWFF_XBM"},
    {4, "TWFF_JFIF"},  {5, "TWFF_FPX"},       {6, "TWFF_TIFFMULTI"}, {7, "TWFF_PNG"},
    {8, "TWFF_SPIFF"}, {9, "TWFF_EXIF"},      {10, "TWFF_PDF"},  {11, "TWFF_JP2"},
    {13, "TWFF_JPX"},  {14, "TWFF_DEJAVU"},   {15, "TWFF_PDFA"}, {16, "TWFF_PDFA2"},
    {17, "TWFF_PDFRASTER"}};

constexpr std::array<const char*, 7> kUnitNames = {"inch", "cm", "pica", "pt", "twip", "pixel",
                                                   "mm"};
constexpr std::array<const char*, 7> kUnitPlurals = {"inches", "cm",     "picas", "pts",
                                                     "twips",  "pixels", "mm"};

template <std::size_t N>
const char* find_name(const Named (&table)[N], unsigned value) {
  for (const Named& n : table)
    if (n.first == value) return n.second;
  return nullptr;
}

std::string formatted(const char* format, unsigned value) {
  char buf[48];
  std::snprintf(buf, sizeof buf, format, value);
  return buf;
}

}  // namespace

std::string return_code_name(int rc) {
  if (rc >= 0 && rc < static_cast<int>(kReturnCodeNames.size())) return kReturnCodeNames[rc];
  char buf[32];
  std::snprintf(buf, sizeof buf, "TWRC_ RC=%d??", rc);
  return buf;
}

std::string condition_code_name(int cc) {
  if (cc >= 0 && cc < static_cast<int>(kConditionCodeNames.size())) return kConditionCodeNames[cc];
  return formatted("*****CC:0x%04x", static_cast<unsigned>(cc) & 0xffffu);
}

std::string message_name(unsigned msg) {
  if (const char* name = find_name(kMessageNames, msg)) return name;
  if (msg < 0x8000) return formatted("MSG_0x%04X", msg);
  return formatted("MSG_CUSTOMBASE+%u", msg - 0x8000);
}

std::string dat_name(unsigned dat) {
  if (const char* name = find_name(kDatNames, dat)) return name;
  return formatted("DAT_0x%04x", dat);
}

std::string cap_name(unsigned cap) {
  if (const char* name = find_name(kCapNames, cap)) return name;
  return formatted("CAP_0x%04x", cap);
}

std::string item_type_name(int type) {
  if (type >= 0 && type < static_cast<int>(kItemTypeNames.size())) return kItemTypeNames[type];
  return formatted("TWTY_0x%x?", static_cast<unsigned>(type));
}

std::string pixel_type_name(int type) {
  if (const char* name = find_name(kPixelTypeNames, static_cast<unsigned>(type))) return name;
  return formatted("TWPT_%x", static_cast<unsigned>(type));
}

std::string file_format_name(int format) {
  if (const char* name = find_name(kFileFormatNames, static_cast<unsigned>(format))) return name;
  return "TWFY_???";
}

std::string unit_name(int unit, bool plural) {
  if (unit < 0 || unit >= static_cast<int>(kUnitNames.size())) return "?";
  return plural ? kUnitPlurals[unit] : kUnitNames[unit];
}

std::string short_name(const std::string& name) {
  const std::size_t underscore = name.find('_');
  return underscore == std::string::npos ? name : name.substr(underscore + 1);
}

}  // namespace twain
