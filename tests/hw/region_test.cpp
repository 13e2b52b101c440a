// The region's channel plans and the chosen TV standard on vivid, set at start and on the device
// page's OK while the preview runs.
#include "tests/hw/hwrig.h"

using orv::hw::HwEngine;
using orv::hw::Vivid;

TEST(Region, ChannelPlansAndStandardReachVivid) {
  ORV_NEEDS_VM();
  Vivid v;
  ASSERT_GE(v.fd, 0);
  HwEngine rig("[orvane]\nRegion=KR\n");
  CCaptureGraph& g = rig.Start();
  ASSERT_TRUE(g.m_bPreviewing);
  const CaptureDevices list = g.ListDevices();
  ASSERT_FALSE(list.video.empty());
  EXPECT_EQ(14u, list.video[0].standards.size());  // vivid's tuner takes every standard
  // The carrier in vivid's 62.5 kHz steps.
  const struct { const char* winIni; int channel; unsigned units; v4l2_std_id std; } cases[] = {
      {"[orvane]\nRegion=KR\n", 11, 3188, V4L2_STD_NTSC_M},                  // 199.25 MHz
      {"[orvane]\nRegion=EU\nStandard=PAL-BG\n", 5, 2804, V4L2_STD_PAL_BG},  // E5, 175.25 MHz
      {"[orvane]\nRegion=UK\n", 21, 7540, V4L2_STD_PAL_I},                   // 471.25 MHz
      {"[orvane]\nRegion=KR\nStandard=NTSC-M-KR\n", 11, 3188, V4L2_STD_NTSC_M_KR},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.winIni);
    orv::test::WriteConfigFile("win.ini", c.winIni);
    ASSERT_EQ(1, g.UseStoredDevices());
    ASSERT_EQ(1, g.SelectSource(0));
    ASSERT_EQ(1, g.TuneChannel(c.channel));
    EXPECT_EQ(c.units, v.Get(VIDIOC_G_FREQUENCY, &v4l2_frequency::frequency));
    EXPECT_EQ(c.std, v.Std());
    EXPECT_TRUE(g.m_bPreviewing);
  }
  EXPECT_TRUE(rig.boxes.calls.empty()) << rig.boxes.calls.front().text;
}
