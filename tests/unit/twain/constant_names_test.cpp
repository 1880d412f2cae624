// The constant-name tables agree with the TWAIN definitions, and unknown
// values get their fallback texts.
#include "twain/session/constant_names.h"

#include <gtest/gtest.h>

#include <string>

#include "orivane/twain.h"

namespace {

struct Named {
  unsigned value;
  const char* name;
};

#define NAMED(x) Named{static_cast<unsigned>(x), #x}

TEST(ConstantNames, TablesMatchTheDefinitions) {
  for (const Named& n : {NAMED(MSG_NULL), NAMED(MSG_GET), NAMED(MSG_SETCONSTRAINT),
                         NAMED(MSG_XFERREADY), NAMED(MSG_DEVICEEVENT), NAMED(MSG_OPENDSM),
                         NAMED(MSG_USERSELECT), NAMED(MSG_ENABLEDSUIONLY), NAMED(MSG_PROCESSEVENT),
                         NAMED(MSG_STOPFEEDER), NAMED(MSG_AUTOMATICCAPTUREDIRECTORY),
                         NAMED(MSG_REGISTER_CALLBACK), NAMED(MSG_RESETALL)})
    EXPECT_EQ(twain::message_name(n.value), n.name);
  for (const Named& n : {NAMED(DAT_NULL), NAMED(DAT_CAPABILITY), NAMED(DAT_USERINTERFACE),
                         NAMED(DAT_CALLBACK2), NAMED(DAT_TWAINDIRECT), NAMED(DAT_IMAGEINFO),
                         NAMED(DAT_EXTIMAGEINFO), NAMED(DAT_AUDIONATIVEXFER),
                         NAMED(DAT_ENTRYPOINT)})
    EXPECT_EQ(twain::dat_name(n.value), n.name);
  for (const Named& n :
       {NAMED(CAP_XFERCOUNT), NAMED(ICAP_COMPRESSION), NAMED(ICAP_XFERMECH),
        NAMED(CAP_EXTENDEDCAPS), NAMED(CAP_DUPLEXENABLED), NAMED(CAP_SHEETCOUNT),
        NAMED(ICAP_AUTOBRIGHT), NAMED(ICAP_XRESOLUTION), NAMED(ICAP_BITDEPTH),
        NAMED(ICAP_UNDEFINEDIMAGESIZE), NAMED(ICAP_AUTOMATICDESKEW), NAMED(ICAP_JPEGQUALITY),
        NAMED(ICAP_JPEGSUBSAMPLING), NAMED(ACAP_XFERMECH)})
    EXPECT_EQ(twain::cap_name(n.value), n.name);
  for (const Named& n : {NAMED(TWPT_BW), NAMED(TWPT_CMYK), NAMED(TWPT_SCRGB), NAMED(TWPT_INFRARED)})
    EXPECT_EQ(twain::pixel_type_name(static_cast<int>(n.value)), n.name);
  for (const Named& n : {NAMED(TWFF_TIFF), NAMED(TWFF_JFIF), NAMED(TWFF_PDFRASTER)})
    EXPECT_EQ(twain::file_format_name(static_cast<int>(n.value)), n.name);
  for (const Named& n : {NAMED(TWRC_SUCCESS), NAMED(TWRC_ENDOFLIST), NAMED(TWRC_DATANOTAVAILABLE)})
    EXPECT_EQ(twain::return_code_name(static_cast<int>(n.value)), n.name);
  for (const Named& n : {NAMED(TWCC_SUCCESS), NAMED(TWCC_BADVALUE), NAMED(TWCC_NOMEDIA)})
    EXPECT_EQ(twain::condition_code_name(static_cast<int>(n.value)), n.name);
}

TEST(ConstantNames, UnknownValuesAndShortForms) {
  struct Case {
    std::string got, want;
  };
  const Case cases[] = {
      {twain::return_code_name(12), "TWRC_ RC=12??"},
      {twain::condition_code_name(0x8001), "*****CC:0x8001"},
      {twain::message_name(0x0999), "MSG_0x0999"},
      {twain::message_name(0x8003), "MSG_CUSTOMBASE+3"},
      {twain::dat_name(0x0777), "DAT_0x0777"},
      {twain::cap_name(0x8123), "CAP_0x8123"},
      {twain::item_type_name(TWTY_STR1024), "str1024?"},
      {twain::item_type_name(TWTY_HANDLE), "handle"},
      {twain::item_type_name(0x20), "TWTY_0x20?"},
      {twain::pixel_type_name(0x1f), "TWPT_1f"},
      {twain::file_format_name(12), "TWFY_???"},
      {twain::unit_name(TWUN_INCHES), "inch"},
      {twain::unit_name(TWUN_INCHES, true), "inches"},
      {twain::unit_name(TWUN_POINTS, true), "pts"},
      {twain::unit_name(TWUN_MILLIMETERS), "mm"},
      {twain::unit_name(7), "?"},
      {twain::short_name(twain::return_code_name(TWRC_SUCCESS)), "SUCCESS"},
      {twain::short_name(twain::message_name(MSG_REGISTER_CALLBACK)), "REGISTER_CALLBACK"},
      {twain::short_name(twain::condition_code_name(99)), "*****CC:0x0063"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want);
}

}  // namespace
