// The ALSA backend's mapping of simple-mixer elements to lines and controls, checked without
// hardware through elements of our own (the real card is exercised in the VM tests).
#include "mixer/Mixer.h"
#include "platform/mixer/elements.h"
#include "tests/mixer/mixer_helpers.h"
#include "platform/mixer/testing.h"

#include <gtest/gtest.h>

using namespace mixtest;
using namespace orv::mixer;

namespace {

// A simple-mixer element as ALSA presents one: raw range, channels, optional playback switch; once
// gone (unplugged) every call fails.
class FakeElement : public Element {
 public:
  FakeElement(std::string name, int channels, long min, long max, bool volume, bool sw)
      : raw(static_cast<size_t>(channels), min), name_(std::move(name)), min_(min), max_(max), volume_(volume), sw_(sw) {}
  std::vector<long> raw;
  bool on = true, gone = false;

  std::string Name() const override { return name_; }
  bool HasVolume() const override { return volume_; }
  bool HasSwitch() const override { return sw_; }
  int Channels() const override { return static_cast<int>(raw.size()); }
  void Range(long* min, long* max) const override { *min = min_, *max = max_; }
  bool GetVolume(int ch, long* v) const override { return !gone && volume_ && (*v = raw.at(static_cast<size_t>(ch)), true); }
  bool SetVolume(int ch, long v) override {
    return !gone && volume_ && v >= min_ && v <= max_ && (raw.at(static_cast<size_t>(ch)) = v, true);
  }
  bool GetSwitch(int, bool* o) const override { return !gone && sw_ && (*o = on, true); }
  bool SetSwitch(bool o) override { return !gone && sw_ && (on = o, true); }

 private:
  std::string name_;
  long min_, max_;
  bool volume_, sw_;
};

// Builds a card from fake elements; Install makes it mixer 0, as the ALSA backend would.
class AlsaMapping : public ::testing::Test {
 protected:
  void TearDown() override {
    orv::ui::ProcessPendingEvents();
    ResetDevicesForTests();
  }
  FakeElement* Add(std::string name, int channels, long min, long max, bool volume = true, bool sw = true) {
    elements_.push_back(std::make_unique<FakeElement>(std::move(name), channels, min, max, volume, sw));
    return static_cast<FakeElement*>(elements_.back().get());
  }
  std::shared_ptr<ElementMixer> Install() {
    auto mixer = std::make_shared<ElementMixer>("Fake Card", std::move(elements_),
                                                MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, false);
    elements_.clear();
    InstallDevicesForTests({mixer});
    m.m_nMaxLevel = 20;
    return mixer;
  }
  std::vector<std::unique_ptr<Element>> elements_;
  CMixer m;
};

// Values past either end are held there; an element with a one-point range must not divide by zero.
TEST_F(AlsaMapping, RawValuesOutsideTheRangeAreHeldAtItsEnds) {
  EXPECT_EQ(100, ValueToRaw(70000, -50, 100));
  EXPECT_EQ(-42, ValueToRaw(3277, -50, 100));  // 7.5 steps up, rounded
  EXPECT_EQ(65535u, RawToValue(130, -50, 100));
  EXPECT_EQ(0u, RawToValue(-90, -50, 100));
  EXPECT_EQ(7, ValueToRaw(65535, 7, 7));
  EXPECT_EQ(0u, RawToValue(7, 7, 7));
}

TEST_F(AlsaMapping, CMixerLevelsLandOnTheRawRangeOfEveryChannel) {
  FakeElement* master = Add("Master", 2, -50, 100);
  FakeElement* mono = Add("Line", 1, 0, 100);
  Install();
  ASSERT_EQ(MMSYSERR_NOERROR, m.SetVolume(MIXLINE_MASTER, 10));
  EXPECT_EQ((std::vector<long>{25, 25}), master->raw);
  ASSERT_EQ(MMSYSERR_NOERROR, m.SetVolume(MIXLINE_MASTER, 0));
  EXPECT_EQ((std::vector<long>{-50, -50}), master->raw);
  master->raw = {100, -50};
  EXPECT_EQ(20, m.GetVolume(MIXLINE_MASTER));  // the first channel counts
  master->raw = {-35, 100};                    // 6553.5 on the platform scale
  EXPECT_EQ(2, m.GetVolume(MIXLINE_MASTER));
  ASSERT_EQ(MMSYSERR_NOERROR, m.SetVolume(MIXLINE_LINEIN, 10));
  EXPECT_EQ((std::vector<long>{50}), mono->raw);
  EXPECT_EQ(1u, m.GetChannelCount());
}

TEST_F(AlsaMapping, MuteIsThePlaybackSwitchWhereThereIsOne) {
  FakeElement* master = Add("Master", 2, 0, 255, true, false);
  FakeElement* line = Add("Line", 2, 0, 0, false, true);
  Install();
  ASSERT_EQ(MMSYSERR_NOERROR, m.SetMute(MIXLINE_LINEIN, 1));
  EXPECT_FALSE(line->on);
  EXPECT_EQ(1, m.GetMute(MIXLINE_LINEIN));
  line->on = true;
  EXPECT_EQ(0, m.GetMute(MIXLINE_LINEIN));
  EXPECT_EQ(MIXERR_INVALCONTROL, m.SetVolume(MIXLINE_LINEIN, 5));  // a switch-only line
  // Without a playback switch there is no mute control, and the line sounds.
  EXPECT_EQ(MIXERR_INVALCONTROL, m.SetMute(MIXLINE_MASTER, 1));
  EXPECT_EQ(0, m.GetMute(MIXLINE_MASTER));
  ASSERT_EQ(MMSYSERR_NOERROR, m.SetVolume(MIXLINE_MASTER, 20));
  EXPECT_EQ((std::vector<long>{255, 255}), master->raw);
}

// Line is preferred to Aux whatever their order, Aux serves without Line; without Master the first
// element with a playback volume is the speakers; with none the card has no destination.
TEST_F(AlsaMapping, WhichElementsBecomeTheLines) {
  Add("Master", 2, 0, 0, false, true);  // a master switch alone cannot carry the volume
  FakeElement* pcm = Add("PCM", 2, 0, 255);
  FakeElement* aux = Add("Aux", 2, 0, 31);
  Add("Headphone", 2, 0, 127);
  Install();
  m.SetVolume(MIXLINE_LINEIN, 20);
  m.SetVolume(MIXLINE_MASTER, 20);
  EXPECT_EQ((std::vector<long>{31, 31}), aux->raw);
  EXPECT_EQ((std::vector<long>{255, 255}), pcm->raw);
  Add("Master", 2, 0, 31);
  aux = Add("Aux", 2, 0, 31);
  FakeElement* line = Add("Line", 2, 0, 31);
  Install();
  m.SetVolume(MIXLINE_LINEIN, 20);
  EXPECT_EQ((std::vector<long>{31, 31}), line->raw);
  EXPECT_EQ((std::vector<long>{0, 0}), aux->raw);
  Add("IEC958", 2, 0, 0, false, true);
  ElementMixer none("Fake", std::move(elements_), MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, false);
  EXPECT_FALSE(none.HasDestination());
  EXPECT_TRUE(none.Lines().empty());
}

TEST_F(AlsaMapping, EventsBecomeOneNoticePerChangedControl) {
  FakeElement* master = Add("Master", 2, 0, 100);
  auto mixer = Install();
  NoticeWnd wnd;
  ASSERT_TRUE(wnd.Create());
  m.m_hwndNotify = wnd.m_hWnd;
  ASSERT_EQ(1, m.Open());
  const DWORD volume = m.GetControlID(MIXERCONTROL_CONTROLTYPE_VOLUME);
  const DWORD mute = m.GetControlID(MIXERCONTROL_CONTROLTYPE_MUTE);

  master->raw = {80, 80};  // another program moved the volume; the card's event arrives
  mixer->ElementChanged(master);
  m.SetMute(MIXLINE_MASTER, 1);  // our own write is announced by the card's event, not by the write
  orv::ui::ProcessPendingEvents();
  EXPECT_EQ(1u, wnd.CountFor(volume));
  EXPECT_EQ(0u, wnd.CountFor(mute));
  mixer->ElementChanged(master);
  // An event that changed nothing we show (a capture setting, say) gives no notice.
  mixer->ElementChanged(master);
  orv::ui::ProcessPendingEvents();
  EXPECT_EQ(1u, wnd.CountFor(volume));
  EXPECT_EQ(1u, wnd.CountFor(mute));
  EXPECT_EQ(2u, wnd.notices.size());
  m.Close();
}

TEST_F(AlsaMapping, AnUnpluggedCardGivesDefaultsNotCrashes) {
  FakeElement* master = Add("Master", 2, 0, 100);
  FakeElement* line = Add("Line", 2, 0, 100);
  auto mixer = Install();
  m.SetVolume(MIXLINE_MASTER, 20);
  m.SetMute(MIXLINE_LINEIN, 1);
  master->gone = line->gone = true;
  EXPECT_EQ(0, m.GetVolume(MIXLINE_MASTER));
  EXPECT_EQ(0, m.GetMute(MIXLINE_LINEIN));
  EXPECT_NE(MMSYSERR_NOERROR, m.SetVolume(MIXLINE_MASTER, 5));
  EXPECT_NE(MMSYSERR_NOERROR, m.SetMute(MIXLINE_LINEIN, 0));
  mixer->ElementChanged(master);  // a late event for a removed element
}

}  // namespace
