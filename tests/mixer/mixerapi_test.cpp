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

TEST_F(MixerApi, OpenCloseAndAddressingByHandleOrIdentifier) {
  HMIXER h = reinterpret_cast<HMIXER>(1);
  EXPECT_EQ(MMSYSERR_BADDEVICEID, mixerOpen(&h, 1, 0, 0, CALLBACK_WINDOW));
  EXPECT_EQ(nullptr, h);
  EXPECT_EQ(MMSYSERR_INVALFLAG, mixerOpen(&h, 0, 0, 0, 0x00030000 /* a callback function */));
  ASSERT_EQ(MMSYSERR_NOERROR, mixerOpen(&h, 0, 0, 0, CALLBACK_NULL));
  MIXERLINE byHandle{};
  byHandle.cbStruct = sizeof(byHandle);
  byHandle.dwComponentType = MIXERLINE_COMPONENTTYPE_SRC_LINE;
  const DWORD query = MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_COMPONENTTYPE;
  ASSERT_EQ(MMSYSERR_NOERROR, mixerGetLineInfo(reinterpret_cast<HMIXEROBJ>(h), &byHandle, query));
  EXPECT_EQ(LineOfType(MIXERLINE_COMPONENTTYPE_SRC_LINE).dwLineID, byHandle.dwLineID);
  EXPECT_EQ(MMSYSERR_NOERROR, mixerClose(h));
  EXPECT_EQ(MMSYSERR_INVALHANDLE, mixerClose(h));
  EXPECT_EQ(MMSYSERR_INVALHANDLE, mixerGetLineInfo(reinterpret_cast<HMIXEROBJ>(h), &byHandle, query));
  EXPECT_EQ(MMSYSERR_BADDEVICEID, mixerGetLineInfo(reinterpret_cast<HMIXEROBJ>(static_cast<UINT_PTR>(5)), &byHandle,
                                                   MIXER_OBJECTF_MIXER | MIXER_GETLINEINFOF_COMPONENTTYPE));
}

TEST_F(MixerApi, LineQueriesByDestinationSourceAndType) {
  MIXERLINE dst{};
  dst.cbStruct = sizeof(dst);
  dst.dwDestination = 0;
  ASSERT_EQ(MMSYSERR_NOERROR, mixerGetLineInfo(Mixer0(), &dst, MIXER_GETLINEINFOF_DESTINATION));
  EXPECT_EQ(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, dst.dwComponentType);
  EXPECT_EQ(2u, dst.cChannels);
  EXPECT_EQ(2u, dst.cConnections);
  EXPECT_EQ(0u, dst.fdwLine & MIXERLINE_LINEF_SOURCE);

  const MIXERLINE line = LineOfType(MIXERLINE_COMPONENTTYPE_SRC_LINE);
  MIXERLINE src{};
  src.cbStruct = sizeof(src);
  src.dwDestination = line.dwDestination;
  src.dwSource = line.dwSource;
  ASSERT_EQ(MMSYSERR_NOERROR, mixerGetLineInfo(Mixer0(), &src, MIXER_GETLINEINFOF_SOURCE));
  EXPECT_EQ(line.dwLineID, src.dwLineID);
  EXPECT_EQ(MIXERLINE_COMPONENTTYPE_SRC_LINE, src.dwComponentType);
  EXPECT_NE(0u, src.fdwLine & MIXERLINE_LINEF_SOURCE);
  EXPECT_NE(0u, src.dwLineID);
  EXPECT_NE(dst.dwLineID, src.dwLineID);

  src.dwSource = 9;
  EXPECT_EQ(MIXERR_INVALLINE, mixerGetLineInfo(Mixer0(), &src, MIXER_GETLINEINFOF_SOURCE));
  src.dwComponentType = MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE;
  EXPECT_EQ(MIXERR_INVALLINE, mixerGetLineInfo(Mixer0(), &src, MIXER_GETLINEINFOF_COMPONENTTYPE));
  src.cbStruct = 100;  // an older, shorter structure is refused, not overrun
  EXPECT_EQ(MMSYSERR_INVALPARAM, mixerGetLineInfo(Mixer0(), &src, MIXER_GETLINEINFOF_SOURCE));
}

TEST_F(MixerApi, ControlsByTypeAndTheirMissingCases) {
  const MIXERLINE dst = LineOfType(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
  MIXERCONTROL c{};
  MIXERLINECONTROLS lc{};
  lc.cbStruct = sizeof(lc);
  lc.dwLineID = dst.dwLineID;
  lc.dwControlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
  lc.cControls = 1;
  lc.cbmxctrl = sizeof(c);
  lc.pamxctrl = &c;
  ASSERT_EQ(MMSYSERR_NOERROR, mixerGetLineControls(Mixer0(), &lc, MIXER_GETLINECONTROLSF_ONEBYTYPE));
  EXPECT_EQ(MIXERCONTROL_CONTROLTYPE_VOLUME, c.dwControlType);
  EXPECT_EQ(0u, c.Bounds.dwMinimum);
  EXPECT_EQ(65535u, c.Bounds.dwMaximum);
  EXPECT_NE(0u, c.dwControlID);
  EXPECT_NE(ControlOf(dst.dwLineID, MIXERCONTROL_CONTROLTYPE_MUTE), c.dwControlID);

  lc.dwControlType = 0x21010000;  // a boolean switch the mixer does not have
  EXPECT_EQ(MIXERR_INVALCONTROL, mixerGetLineControls(Mixer0(), &lc, MIXER_GETLINECONTROLSF_ONEBYTYPE));
  lc.dwControlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
  lc.dwLineID = 0;  // what a caller holds for a line that was not found
  EXPECT_EQ(MIXERR_INVALLINE, mixerGetLineControls(Mixer0(), &lc, MIXER_GETLINECONTROLSF_ONEBYTYPE));
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

  DWORD loud[2] = {70000, 100};  // past the control's maximum: held at the maximum
  cd = Details(volume, 2, loud);
  ASSERT_EQ(MMSYSERR_NOERROR, mixerSetControlDetails(Mixer0(), &cd, MIXER_SETCONTROLDETAILSF_VALUE));
  EXPECT_EQ((std::vector<DWORD>{65535, 100}), Volumes(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS));

  LONG mute = 7;  // any nonzero value mutes, and reads back as 1
  cd = Details(ControlOf(dst.dwLineID, MIXERCONTROL_CONTROLTYPE_MUTE), 1, &mute);
  ASSERT_EQ(MMSYSERR_NOERROR, mixerSetControlDetails(Mixer0(), &cd, MIXER_SETCONTROLDETAILSF_VALUE));
  EXPECT_EQ(1, Mute(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS));
}

TEST_F(MixerApi, ChangesWithoutAHandleStillReachOpenWindowsOnlyWhenAValueChanges) {
  NoticeWnd wnd;
  ASSERT_TRUE(wnd.Create());
  HMIXER h = nullptr;
  ASSERT_EQ(MMSYSERR_NOERROR, mixerOpen(&h, 0, reinterpret_cast<DWORD_PTR>(wnd.m_hWnd), 0, CALLBACK_WINDOW));
  HMIXER quiet = nullptr;  // opened without a window: gets nothing, disturbs nothing
  ASSERT_EQ(MMSYSERR_NOERROR, mixerOpen(&quiet, 0, 0, 0, CALLBACK_NULL));

  const MIXERLINE line = LineOfType(MIXERLINE_COMPONENTTYPE_SRC_LINE);
  const DWORD volume = ControlOf(line.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME);
  SetVolumes(MIXERLINE_COMPONENTTYPE_SRC_LINE, {100, 200});
  SetVolumes(MIXERLINE_COMPONENTTYPE_SRC_LINE, {100, 200});  // the same values again
  orv::ui::ProcessPendingEvents();
  ASSERT_EQ(1u, wnd.notices.size());
  EXPECT_EQ(reinterpret_cast<WPARAM>(h), wnd.notices[0].hmixer);
  EXPECT_EQ(volume, static_cast<DWORD>(wnd.notices[0].control));

  mixerClose(h);
  SetVolumes(MIXERLINE_COMPONENTTYPE_SRC_LINE, {300, 300});
  orv::ui::ProcessPendingEvents();
  EXPECT_EQ(1u, wnd.notices.size());
  mixerClose(quiet);
}

}  // namespace
