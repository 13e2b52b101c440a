// Channel up and down on a region's plans: numbers the plan lacks are stepped over, and the walk
// covers the plan's own range.
#include "tests/panel/panelrig.h"

#include <cstring>
#include <sstream>
#include <string>

using namespace paneltest;

namespace {

class RegionChannels : public PanelTest {};

TEST_F(RegionChannels, UpAndDownStepOverNumbersThePlanLacks) {
  // The registered numbers, the one tuned, and the commands of up, up, down.
  const struct { const char* region; int source; const char* registered; int start; Cmds expected; } cases[] = {
      // E13..E20 do not exist in Western Europe; E12 is followed by E21.
      {"EU", SOURCE_TV, "12 13 17 21", 12, {{4, 21}, {4, 12}, {5, 21}}},
      // In Korea every number of the band is a channel (as before regions existed).
      {"KR", SOURCE_TV, "12 13 17 21", 12, {{4, 13}, {4, 17}, {5, 13}}},
      // Australia's channel 0 and Japan's 1 lie below the band's first channel 2.
      {"AU", SOURCE_TV, "0 12 69", 69, {{4, 0}, {4, 12}, {5, 0}}},
      {"JP", SOURCE_TV, "1 62 69", 62, {{4, 1}, {4, 62}, {5, 1}}},
      // Western Europe's cable: S1 is 81, nothing between E69 and 81.
      {"EU", SOURCE_CATV, "69 75 81", 69, {{4, 81}, {4, 69}, {5, 81}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.region) + " " + c.registered);
    orv::test::FreshConfigDir();
    orv::test::WriteConfigFile("win.ini", std::string("[orvane]\nRegion=") + c.region + "\n");
    CPanelWnd panelForCase;
    ASSERT_TRUE(panelForCase.Create("판넬 윈도", CRect(10, 10, 0, 0)));
    panelForCase.m_hwndVideo = video.m_hWnd;
    panelForCase.m_nSource = c.source;
    char* list = c.source == SOURCE_TV ? panelForCase.m_szTVChannels : panelForCase.m_szCATVChannels;
    std::memset(list, '0', c.source == SOURCE_TV ? 70 : 126);
    std::istringstream numbers(c.registered);
    for (int n; numbers >> n;) list[n] = '1';
    (c.source == SOURCE_TV ? panelForCase.m_nTVChannel : panelForCase.m_nCATVChannel) = c.start;
    video.log.clear();
    panelForCase.ChannelUp();
    panelForCase.ChannelUp();
    panelForCase.ChannelDown();
    EXPECT_EQ(c.expected, Sent());
  }
}

}  // namespace
