// The COM identifiers' published values.
#include "tests/media/mediarig.h"

#include <gtest/gtest.h>

TEST(Com, IdentifiersHaveTheirPublishedValues) {
  const std::pair<const char*, const GUID*> published[] = {
      {"{FB6C4283-0353-11D1-905F-0000C0CC16BA}", &PIN_CATEGORY_ANALOGVIDEOIN},
      {"{C6E13380-30AC-11D0-A18C-00A0C9118956}", &IID_IAMCrossbar},
      {"{211A8766-03AC-11D1-8D13-00AA00BD8339}", &IID_IAMTVTuner},
      {"{860BB310-5D01-11D0-BD3B-00A0C911CE86}", &CLSID_VideoInputDeviceCategory},
      {"{33D9A762-90C8-11D0-BD43-00A0C911CE86}", &CLSID_AudioInputDeviceCategory},
      {"{BF87B6E0-8C27-11D0-B3F0-00AA003761C5}", &CLSID_CaptureGraphBuilder},
      {"{73646976-0000-0010-8000-00AA00389B71}", &MEDIATYPE_Video},
      {"{05589F80-C356-11CE-BF01-00AA0055595A}", &FORMAT_VideoInfo},
  };
  for (const auto& [text, guid] : published) {
    GUID parsed;
    ASSERT_TRUE(orv::media::ParseGuid(text, &parsed)) << text;
    EXPECT_EQ(*guid, parsed) << text;
  }
  EXPECT_EQ("IID_IAMStreamConfig", orv::media::GuidName(IID_IAMStreamConfig));
  GUID g;
  EXPECT_FALSE(orv::media::ParseGuid("{FB6C4283-0353-11D1-905F-0000C0CC16BA}x", &g));
}
