// CMixer over the virtual mixer: the 0..20 scale, line selection, addressing before Open, notices.
#include "mixer/Mixer.h"
#include "tests/mixer/mixer_helpers.h"
#include "platform/mixer/testing.h"

#include <gtest/gtest.h>

using namespace mixtest;
using orv::mixer::OpenHandleCountForTests;
using orv::mixer::ResetVirtualMixerForTests;
using orv::mixer::VirtualMixerShape;

namespace {

constexpr DWORD kSpeakers = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
constexpr DWORD kLine = MIXERLINE_COMPONENTTYPE_SRC_LINE;
constexpr DWORD kAux = MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY;
using Values = std::vector<DWORD>;

class CMixerTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetVirtualMixerForTests(); }
  void TearDown() override {
    orv::ui::ProcessPendingEvents();
    EXPECT_EQ(0, OpenHandleCountForTests()) << "a CMixer left a handle open";
  }
};

// An owner as the panel and the audio page set theirs up.
struct Owner {
  NoticeWnd wnd;
  CMixer mixer;
  Owner() {
    EXPECT_TRUE(wnd.Create());
    mixer.m_hwndNotify = wnd.m_hWnd;
    mixer.m_nMaxLevel = 20;
  }
};

// Writes round to the nearest value on every channel; reads truncate, so some levels read back one
// lower (which the panel's volume-up must step past); levels off the scale go to its nearest end.
TEST_F(CMixerTest, LevelsRoundUpOnWriteAndTruncateOnRead) {
  Owner o;
  ASSERT_EQ(1, o.mixer.Open());
  const struct { int level; DWORD value; int readBack; } cases[] = {
      {0, 0, 0}, {1, 3277, 1}, {3, 9830, 2}, {7, 22937, 6}, {10, 32768, 10}, {11, 36044, 10},
      {15, 49151, 14}, {19, 62258, 18}, {20, 65535, 20}, {-1, 0, 0}, {25, 65535, 20}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.level);
    Volumes(kSpeakers, {1234, 54321});  // unbalanced first: every channel must be rewritten
    ASSERT_EQ(MMSYSERR_NOERROR, o.mixer.SetVolume(MIXLINE_MASTER, c.level));
    EXPECT_EQ((Values{c.value, c.value}), Volumes(kSpeakers));
    EXPECT_EQ(c.readBack, o.mixer.GetVolume(MIXLINE_MASTER));
  }
  Volumes(kSpeakers, {65534, 0});  // the first channel counts
  EXPECT_EQ(19, o.mixer.GetVolume(MIXLINE_MASTER));
  EXPECT_EQ(20, KeepWrittenLevel(19, 20));
  EXPECT_EQ(18, KeepWrittenLevel(18, 20));
  EXPECT_EQ(19, KeepWrittenLevel(19, -1));
}

TEST_F(CMixerTest, MissingLinesFallBackOrFailWithoutTouchingTheMaster) {
  VirtualMixerShape shape;
  shape.lineIn = false;
  shape.speakers = false;
  ResetVirtualMixerForTests(shape);
  Owner o;
  ASSERT_EQ(1, o.mixer.Open());
  EXPECT_EQ(static_cast<LONG>(LineOfType(kAux).dwSource), o.mixer.FindLineInSource());
  ASSERT_EQ(MMSYSERR_NOERROR, o.mixer.SetVolume(MIXLINE_LINEIN, 10));
  ASSERT_EQ(MMSYSERR_NOERROR, o.mixer.SetMute(MIXLINE_LINEIN, 1));
  EXPECT_EQ((Values{32768, 32768}), Volumes(kAux));
  EXPECT_EQ(1, Mute(kAux));
  // Without speakers the master is the first destination.
  ASSERT_EQ(MMSYSERR_NOERROR, o.mixer.SetVolume(MIXLINE_MASTER, 20));
  EXPECT_EQ((Values{65535, 65535}), Volumes(MIXERLINE_COMPONENTTYPE_DST_HEADPHONES));

  shape.auxiliary = false;
  ResetVirtualMixerForTests(shape);
  Owner bare;
  ASSERT_EQ(1, bare.mixer.Open());
  bare.mixer.SetVolume(MIXLINE_MASTER, 12);
  EXPECT_NE(MMSYSERR_NOERROR, bare.mixer.SetVolume(MIXLINE_LINEIN, 2));
  EXPECT_NE(MMSYSERR_NOERROR, bare.mixer.SetMute(MIXLINE_LINEIN, 1));
  EXPECT_EQ(12, bare.mixer.GetVolume(MIXLINE_MASTER));
}

TEST_F(CMixerTest, OperationsBeforeOpenActOnMixerZero) {
  CMixer panel;  // the panel unmutes line-in during its creation, before it opens
  ASSERT_EQ(MMSYSERR_NOERROR, panel.SetMute(MIXLINE_LINEIN, 1));
  EXPECT_EQ(1, Mute(kLine));
  panel.m_nMaxLevel = 20;
  ASSERT_EQ(MMSYSERR_NOERROR, panel.SetVolume(MIXLINE_MASTER, 10));
  Owner page;  // another wrapper, opened, sees the same device state
  ASSERT_EQ(1, page.mixer.Open());
  EXPECT_EQ(10, page.mixer.GetVolume(MIXLINE_MASTER));
  EXPECT_EQ(1, page.mixer.GetMute(MIXLINE_LINEIN));
}

TEST_F(CMixerTest, EachOwnerIsNotifiedOfTheOthersChanges) {
  Owner panel, page;
  ASSERT_EQ(1, panel.mixer.Open());
  ASSERT_EQ(1, page.mixer.Open());
  ASSERT_EQ(1, panel.mixer.Open());  // again, after an accepted settings sheet: still one handle
  EXPECT_EQ(2, OpenHandleCountForTests());
  orv::ui::ProcessPendingEvents();
  panel.wnd.notices.clear();
  page.wnd.notices.clear();
  page.mixer.SetVolume(MIXLINE_MASTER, 5);
  page.mixer.SetVolume(MIXLINE_MASTER, 5);  // the same value again: no notice
  const DWORD volume = page.mixer.GetControlID(MIXERCONTROL_CONTROLTYPE_VOLUME);
  orv::ui::ProcessPendingEvents();
  ASSERT_EQ(1u, panel.wnd.notices.size());
  ASSERT_EQ(1u, page.wnd.notices.size());
  EXPECT_EQ(reinterpret_cast<WPARAM>(panel.mixer.m_hMixer), panel.wnd.notices[0].hmixer);
  EXPECT_EQ(volume, static_cast<DWORD>(panel.wnd.notices[0].control));
  EXPECT_EQ(5, panel.mixer.GetVolume(MIXLINE_MASTER));
}

TEST_F(CMixerTest, CloseStopsNoticesAndWithoutAnyMixerReadsGiveZero) {
  Owner panel;
  ASSERT_EQ(1, panel.mixer.Open());
  EXPECT_EQ(MMSYSERR_NOERROR, panel.mixer.Close());
  EXPECT_EQ(MMSYSERR_NOERROR, panel.mixer.Close());  // nothing open: 0
  EXPECT_EQ(MMSYSERR_NOERROR, panel.mixer.SetVolume(MIXLINE_MASTER, 1));  // still works, by identifier
  orv::ui::ProcessPendingEvents();
  EXPECT_TRUE(panel.wnd.notices.empty());
  orv::mixer::InstallDevicesForTests({});
  Owner o;
  EXPECT_EQ(0, o.mixer.Open());
  EXPECT_NE(MMSYSERR_NOERROR, o.mixer.SetVolume(MIXLINE_MASTER, 10));
  EXPECT_NE(MMSYSERR_NOERROR, o.mixer.SetMute(MIXLINE_LINEIN, 0));
  EXPECT_EQ(0, o.mixer.GetVolume(MIXLINE_MASTER));
  EXPECT_EQ(0, o.mixer.GetMute(MIXLINE_MASTER));
  orv::mixer::ResetDevicesForTests();
}

}  // namespace
