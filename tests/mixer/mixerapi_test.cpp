// The mixer functions' own contract: results, addressing by identifier and by handle, line and
// control queries, value forms, and notices for changes made without a handle.
#include "tests/mixer/mixer_helpers.h"
#include "platform/mixer/testing.h"

#include <gtest/gtest.h>

using namespace mixtest;
using namespace orv::mixer;

namespace {

class MixerApi : public ::testing::Test {
 protected:
  void SetUp() override { ResetVirtualMixerForTests(); }
  void TearDown() override {
    orv::ui::ProcessPendingEvents();
    EXPECT_EQ(0, OpenHandleCountForTests());
  }
};

TEST_F(MixerApi, BadDevicesHandlesAndStructuresAreRefused) {
  HMIXER h = reinterpret_cast<HMIXER>(1);
  EXPECT_EQ(MMSYSERR_BADDEVICEID, mixerOpen(&h, 1, 0, 0, CALLBACK_WINDOW));
  EXPECT_EQ(nullptr, h);
  EXPECT_EQ(MMSYSERR_INVALFLAG, mixerOpen(&h, 0, 0, 0, 0x00030000 /* a callback function */));
  ASSERT_EQ(MMSYSERR_NOERROR, mixerOpen(&h, 0, 0, 0, CALLBACK_NULL));
  MIXERLINE l{};
  l.cbStruct = sizeof(l);
  l.dwComponentType = MIXERLINE_COMPONENTTYPE_SRC_LINE;
  const DWORD query = MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_COMPONENTTYPE;
  ASSERT_EQ(MMSYSERR_NOERROR, mixerGetLineInfo(reinterpret_cast<HMIXEROBJ>(h), &l, query));
  EXPECT_EQ(LineOfType(MIXERLINE_COMPONENTTYPE_SRC_LINE).dwLineID, l.dwLineID);
  EXPECT_EQ(MMSYSERR_NOERROR, mixerClose(h));
  EXPECT_EQ(MMSYSERR_INVALHANDLE, mixerClose(h));
  EXPECT_EQ(MMSYSERR_INVALHANDLE, mixerGetLineInfo(reinterpret_cast<HMIXEROBJ>(h), &l, query));
  l.cbStruct = 100;  // an older, shorter structure is refused, not overrun
  EXPECT_EQ(MMSYSERR_INVALPARAM, mixerGetLineInfo(Mixer0(), &l, MIXER_GETLINEINFOF_COMPONENTTYPE));
  EXPECT_EQ(0u, ControlOf(l.dwLineID, 0x21010000));  // a boolean switch the mixer does not have
  EXPECT_EQ(0u, ControlOf(0, MIXERCONTROL_CONTROLTYPE_VOLUME));  // a line that was not found
}

TEST_F(MixerApi, ValueFormsUniformAndPerChannel) {
  const MIXERLINE dst = LineOfType(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
  const DWORD volume = ControlOf(dst.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME);
  DWORD one = 40000;
  MIXERCONTROLDETAILS cd = Details(volume, 1, &one);
  ASSERT_EQ(MMSYSERR_NOERROR, mixerSetControlDetails(Mixer0(), &cd, MIXER_SETCONTROLDETAILSF_VALUE));
  EXPECT_EQ((std::vector<DWORD>{40000, 40000}), Volumes(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS));
  DWORD three[3] = {1, 2, 3};
  cd = Details(volume, 3, three);
  EXPECT_EQ(MMSYSERR_INVALPARAM, mixerSetControlDetails(Mixer0(), &cd, MIXER_SETCONTROLDETAILSF_VALUE));
  cd = Details(volume, 2, nullptr);
  EXPECT_EQ(MMSYSERR_INVALPARAM, mixerGetControlDetails(Mixer0(), &cd, MIXER_GETCONTROLDETAILSF_VALUE));
  cd = Details(0, 2, three);
  EXPECT_EQ(MIXERR_INVALCONTROL, mixerSetControlDetails(Mixer0(), &cd, MIXER_SETCONTROLDETAILSF_VALUE));
  // Past the control's maximum: held at the maximum.
  Volumes(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, {70000, 100});
  EXPECT_EQ((std::vector<DWORD>{65535, 100}), Volumes(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS));
  LONG mute = 7;  // any nonzero value mutes, and reads back as 1
  cd = Details(ControlOf(dst.dwLineID, MIXERCONTROL_CONTROLTYPE_MUTE), 1, &mute);
  ASSERT_EQ(MMSYSERR_NOERROR, mixerSetControlDetails(Mixer0(), &cd, MIXER_SETCONTROLDETAILSF_VALUE));
  EXPECT_EQ(1, Mute(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS));
}

TEST_F(MixerApi, ChangesWithoutAHandleReachOpenWindowsOnlyWhenAValueChanges) {
  NoticeWnd wnd;
  ASSERT_TRUE(wnd.Create());
  HMIXER h = nullptr;
  ASSERT_EQ(MMSYSERR_NOERROR, mixerOpen(&h, 0, reinterpret_cast<DWORD_PTR>(wnd.m_hWnd), 0, CALLBACK_WINDOW));
  HMIXER quiet = nullptr;  // opened without a window: gets nothing, disturbs nothing
  ASSERT_EQ(MMSYSERR_NOERROR, mixerOpen(&quiet, 0, 0, 0, CALLBACK_NULL));
  const MIXERLINE line = LineOfType(MIXERLINE_COMPONENTTYPE_SRC_LINE);
  Volumes(MIXERLINE_COMPONENTTYPE_SRC_LINE, {100, 200});
  Volumes(MIXERLINE_COMPONENTTYPE_SRC_LINE, {100, 200});  // the same values again
  orv::ui::ProcessPendingEvents();
  ASSERT_EQ(1u, wnd.notices.size());
  EXPECT_EQ(reinterpret_cast<WPARAM>(h), wnd.notices[0].hmixer);
  EXPECT_EQ(ControlOf(line.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME), static_cast<DWORD>(wnd.notices[0].control));
  mixerClose(h);
  Volumes(MIXERLINE_COMPONENTTYPE_SRC_LINE, {300, 300});
  orv::ui::ProcessPendingEvents();
  EXPECT_EQ(1u, wnd.notices.size());
  mixerClose(quiet);
}

}  // namespace
