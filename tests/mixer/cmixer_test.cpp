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

TEST_F(CMixerTest, LevelsWriteRoundedValuesOnEveryChannel) {
  Owner o;
  ASSERT_EQ(1, o.mixer.Open());
  const struct {
    int level;
    DWORD value;
  } cases[] = {{20, 65535}, {10, 32768}, {1, 3277},   {0, 0},     {3, 9830},
               {7, 22937},  {11, 36044}, {15, 49151}, {19, 62258}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.level);
    SetVolumes(kSpeakers, {1234, 54321});  // unbalanced first: every channel must be rewritten
    ASSERT_EQ(MMSYSERR_NOERROR, o.mixer.SetVolume(MIXLINE_MASTER, c.level));
    EXPECT_EQ((std::vector<DWORD>{c.value, c.value}), Volumes(kSpeakers));
  }
}

TEST_F(CMixerTest, ValuesReadTruncatedFromTheFirstChannel) {
  Owner o;
  ASSERT_EQ(1, o.mixer.Open());
  const struct {
    DWORD value;
    int level;
  } cases[] = {{65535, 20}, {32768, 10}, {3277, 1}, {3276, 0}, {0, 0}, {65534, 19}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    SetVolumes(kSpeakers, {c.value, 65535 - c.value});
    EXPECT_EQ(c.level, o.mixer.GetVolume(MIXLINE_MASTER));
  }
}

TEST_F(CMixerTest, RoundTripComesBackOneLowerOnlyWhereRoundingMeetsTruncation) {
  Owner o;
  ASSERT_EQ(1, o.mixer.Open());
  for (int level = 0; level <= 20; ++level) {
    SCOPED_TRACE(level);
    const bool lower = level == 3 || level == 7 || level == 11 || level == 15 || level == 19;
    ASSERT_EQ(MMSYSERR_NOERROR, o.mixer.SetVolume(MIXLINE_LINEIN, level));
    EXPECT_EQ(lower ? level - 1 : level, o.mixer.GetVolume(MIXLINE_LINEIN));
  }
}

TEST_F(CMixerTest, OtherScaleTopsScaleTheSameWay) {
  CMixer m;  // the constructed scale of 8
  ASSERT_EQ(MMSYSERR_NOERROR, m.SetVolume(MIXLINE_MASTER, 5));
  EXPECT_EQ((std::vector<DWORD>{40959, 40959}), Volumes(kSpeakers));  // 5 * 65535 / 8 = 40959.4
  EXPECT_EQ(4, m.GetVolume(MIXLINE_MASTER));                          // 8 * 40959 / 65535 = 4.99
}

TEST_F(CMixerTest, LevelsOutsideTheScaleGoToTheNearestEnd) {
  Owner o;
  o.mixer.SetVolume(MIXLINE_MASTER, -1);
  EXPECT_EQ((std::vector<DWORD>{0, 0}), Volumes(kSpeakers));
  o.mixer.SetVolume(MIXLINE_MASTER, 25);
  EXPECT_EQ((std::vector<DWORD>{65535, 65535}), Volumes(kSpeakers));
}

TEST_F(CMixerTest, SelectorsReachTheirOwnLinesOnly) {
  Owner o;
  ASSERT_EQ(1, o.mixer.Open());
  const auto aux = Volumes(kAux);
  o.mixer.SetVolume(MIXLINE_MASTER, 20);
  o.mixer.SetVolume(MIXLINE_LINEIN, 4);
  EXPECT_EQ((std::vector<DWORD>{65535, 65535}), Volumes(kSpeakers));
  EXPECT_EQ((std::vector<DWORD>{13107, 13107}), Volumes(kLine));
  EXPECT_EQ(aux, Volumes(kAux));

  o.mixer.SetMute(MIXLINE_LINEIN, 1);
  EXPECT_EQ(1, Mute(kLine));
  EXPECT_EQ(0, Mute(kSpeakers));
  EXPECT_EQ(1, o.mixer.GetMute(MIXLINE_LINEIN));
  EXPECT_EQ(0, o.mixer.GetMute(MIXLINE_MASTER));
  o.mixer.SetMute(MIXLINE_MASTER, 1);
  o.mixer.SetMute(MIXLINE_LINEIN, 0);
  EXPECT_EQ(0, o.mixer.GetMute(MIXLINE_LINEIN));
  EXPECT_EQ(1, o.mixer.GetMute(MIXLINE_MASTER));
  // Each operation selects its line first, so the last selection does not leak into the next.
  EXPECT_EQ(20, o.mixer.GetVolume(MIXLINE_MASTER));
  EXPECT_EQ(4, o.mixer.GetVolume(MIXLINE_LINEIN));
}

TEST_F(CMixerTest, LineInFallsBackToTheAuxiliarySource) {
  VirtualMixerShape shape;
  shape.lineIn = false;
  ResetVirtualMixerForTests(shape);
  Owner o;
  ASSERT_EQ(1, o.mixer.Open());
  EXPECT_EQ(static_cast<LONG>(LineOfType(kAux).dwSource), o.mixer.FindLineInSource());
  ASSERT_EQ(MMSYSERR_NOERROR, o.mixer.SetVolume(MIXLINE_LINEIN, 10));
  EXPECT_EQ((std::vector<DWORD>{32768, 32768}), Volumes(kAux));
  EXPECT_NE(32768u, Volumes(kSpeakers)[0]);
  ASSERT_EQ(MMSYSERR_NOERROR, o.mixer.SetMute(MIXLINE_LINEIN, 1));
  EXPECT_EQ(1, Mute(kAux));
}

TEST_F(CMixerTest, WithoutLineInOrAuxiliaryTheLineInOperationsFailAndLeaveMasterAlone) {
  VirtualMixerShape shape;
  shape.lineIn = false;
  shape.auxiliary = false;
  ResetVirtualMixerForTests(shape);
  Owner o;
  ASSERT_EQ(1, o.mixer.Open());
  o.mixer.SetVolume(MIXLINE_MASTER, 12);
  o.mixer.SetMute(MIXLINE_MASTER, 0);
  EXPECT_NE(MMSYSERR_NOERROR, o.mixer.SetVolume(MIXLINE_LINEIN, 2));
  EXPECT_NE(MMSYSERR_NOERROR, o.mixer.SetMute(MIXLINE_LINEIN, 1));
  EXPECT_EQ(12, o.mixer.GetVolume(MIXLINE_MASTER));
  EXPECT_EQ(0, o.mixer.GetMute(MIXLINE_MASTER));
  EXPECT_EQ(0, o.mixer.GetVolume(MIXLINE_LINEIN));
  EXPECT_EQ(0, o.mixer.GetMute(MIXLINE_LINEIN));
}

TEST_F(CMixerTest, WithoutSpeakersTheMasterIsTheFirstDestination) {
  VirtualMixerShape shape;
  shape.speakers = false;
  ResetVirtualMixerForTests(shape);
  Owner o;
  ASSERT_EQ(1, o.mixer.Open());
  ASSERT_EQ(MMSYSERR_NOERROR, o.mixer.SetVolume(MIXLINE_MASTER, 20));
  EXPECT_EQ((std::vector<DWORD>{65535, 65535}), Volumes(MIXERLINE_COMPONENTTYPE_DST_HEADPHONES));
  ASSERT_EQ(MMSYSERR_NOERROR, o.mixer.SetVolume(MIXLINE_LINEIN, 1));
  EXPECT_EQ((std::vector<DWORD>{3277, 3277}), Volumes(kLine));
}

TEST_F(CMixerTest, OperationsBeforeOpenActOnMixerZero) {
  CMixer panel;  // the panel unmutes line-in during its creation, before it opens
  ASSERT_EQ(nullptr, panel.m_hMixer);
  ASSERT_EQ(MMSYSERR_NOERROR, panel.SetMute(MIXLINE_LINEIN, 1));
  EXPECT_EQ(1, Mute(kLine));
  ASSERT_EQ(MMSYSERR_NOERROR, panel.SetMute(MIXLINE_LINEIN, 0));
  EXPECT_EQ(0, Mute(kLine));
  panel.m_nMaxLevel = 20;
  ASSERT_EQ(MMSYSERR_NOERROR, panel.SetVolume(MIXLINE_MASTER, 10));

  // Another wrapper, opened, sees the same device state.
  Owner page;
  ASSERT_EQ(1, page.mixer.Open());
  EXPECT_EQ(10, page.mixer.GetVolume(MIXLINE_MASTER));
  EXPECT_EQ(0, page.mixer.GetMute(MIXLINE_LINEIN));
}

TEST_F(CMixerTest, EachOwnerIsNotifiedOfTheOthersChanges) {
  Owner panel;
  Owner page;
  ASSERT_EQ(1, panel.mixer.Open());
  ASSERT_EQ(1, page.mixer.Open());
  ASSERT_NE(panel.mixer.m_hMixer, page.mixer.m_hMixer);
  orv::ui::ProcessPendingEvents();
  panel.wnd.notices.clear();
  page.wnd.notices.clear();

  page.mixer.SetVolume(MIXLINE_MASTER, 5);
  const DWORD volume = page.mixer.GetControlID(MIXERCONTROL_CONTROLTYPE_VOLUME);
  ASSERT_NE(0u, volume);
  orv::ui::ProcessPendingEvents();
  ASSERT_EQ(1u, panel.wnd.notices.size());
  ASSERT_EQ(1u, page.wnd.notices.size());
  EXPECT_EQ(reinterpret_cast<WPARAM>(panel.mixer.m_hMixer), panel.wnd.notices[0].hmixer);
  EXPECT_EQ(reinterpret_cast<WPARAM>(page.mixer.m_hMixer), page.wnd.notices[0].hmixer);
  EXPECT_EQ(volume, static_cast<DWORD>(panel.wnd.notices[0].control));
  // The owner reads back on the notice and sees the other owner's level.
  EXPECT_EQ(5, panel.mixer.GetVolume(MIXLINE_MASTER));

  panel.mixer.SetMute(MIXLINE_LINEIN, 1);
  const DWORD mute = panel.mixer.GetControlID(MIXERCONTROL_CONTROLTYPE_MUTE);
  orv::ui::ProcessPendingEvents();
  EXPECT_EQ(1u, page.wnd.CountFor(mute));
  EXPECT_EQ(1u, panel.wnd.CountFor(mute));
  EXPECT_EQ(1, page.mixer.GetMute(MIXLINE_LINEIN));
}

TEST_F(CMixerTest, OpeningAgainKeepsOneHandleAndOneNoticePerChange) {
  Owner panel;
  ASSERT_EQ(1, panel.mixer.Open());
  ASSERT_EQ(1, panel.mixer.Open());  // after an accepted settings sheet
  EXPECT_EQ(1, OpenHandleCountForTests());
  EXPECT_EQ(panel.wnd.m_hWnd, panel.mixer.m_hwndNotify);

  CMixer other;
  other.m_nMaxLevel = 20;
  other.SetVolume(MIXLINE_MASTER, 17);  // a change made elsewhere
  orv::ui::ProcessPendingEvents();
  ASSERT_EQ(1u, panel.wnd.notices.size());
  EXPECT_EQ(reinterpret_cast<WPARAM>(panel.mixer.m_hMixer), panel.wnd.notices[0].hmixer);
}

TEST_F(CMixerTest, CloseStopsNoticesAndTheDestructorCloses) {
  Owner panel;
  ASSERT_EQ(1, panel.mixer.Open());
  EXPECT_EQ(MMSYSERR_NOERROR, panel.mixer.Close());
  EXPECT_EQ(nullptr, panel.mixer.m_hMixer);
  EXPECT_EQ(nullptr, panel.mixer.m_hwndNotify);
  EXPECT_EQ(MMSYSERR_NOERROR, panel.mixer.Close());  // nothing open: 0
  panel.mixer.SetVolume(MIXLINE_MASTER, 1);            // still works, by identifier
  orv::ui::ProcessPendingEvents();
  EXPECT_TRUE(panel.wnd.notices.empty());

  {
    Owner page;
    ASSERT_EQ(1, page.mixer.Open());
    EXPECT_EQ(1, OpenHandleCountForTests());
  }
  EXPECT_EQ(0, OpenHandleCountForTests());
}

TEST_F(CMixerTest, WithoutAnyMixerOpenFailsAndReadsGiveZero) {
  orv::mixer::InstallDevicesForTests({});
  Owner o;
  EXPECT_EQ(0, o.mixer.Open());
  EXPECT_EQ(nullptr, o.mixer.m_hMixer);
  EXPECT_NE(MMSYSERR_NOERROR, o.mixer.SetVolume(MIXLINE_MASTER, 10));
  EXPECT_NE(MMSYSERR_NOERROR, o.mixer.SetMute(MIXLINE_LINEIN, 0));
  EXPECT_EQ(0, o.mixer.GetVolume(MIXLINE_MASTER));
  EXPECT_EQ(0, o.mixer.GetMute(MIXLINE_MASTER));
  EXPECT_EQ(0, o.mixer.GetVolume(MIXLINE_LINEIN));
  orv::mixer::ResetDevicesForTests();
}

}  // namespace
