// The ALSA backend: its mapping of simple-mixer elements to lines and controls, checked without
// hardware through elements of our own, and the real backend where a sound card exists.
#include "mixer/Mixer.h"
#include "platform/mixer/elements.h"
#include "tests/mixer/mixer_helpers.h"
#include "platform/mixer/testing.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using namespace mixtest;
using namespace orv::mixer;

namespace {

// A simple-mixer element as ALSA presents one: raw range, channels, optional playback switch.
class FakeElement : public Element {
 public:
  FakeElement(std::string name, int channels, long min, long max, bool volume = true, bool sw = true)
      : raw(static_cast<size_t>(channels), min), name_(std::move(name)), min_(min), max_(max), volume_(volume), sw_(sw) {}
  std::vector<long> raw;
  bool on = true;
  bool gone = false;  // unplugged

  std::string Name() const override { return name_; }
  bool HasVolume() const override { return volume_; }
  bool HasSwitch() const override { return sw_; }
  int Channels() const override { return static_cast<int>(raw.size()); }
  void Range(long* min, long* max) const override {
    *min = min_;
    *max = max_;
  }
  bool GetVolume(int ch, long* v) const override {
    if (gone || !volume_) return false;
    *v = raw.at(static_cast<size_t>(ch));
    return true;
  }
  bool SetVolume(int ch, long v) override {
    if (gone || !volume_ || v < min_ || v > max_) return false;
    raw.at(static_cast<size_t>(ch)) = v;
    return true;
  }
  bool GetSwitch(int, bool* o) const override {
    if (gone || !sw_) return false;
    *o = on;
    return true;
  }
  bool SetSwitch(bool o) override {
    if (gone || !sw_) return false;
    on = o;
    return true;
  }

 private:
  std::string name_;
  long min_, max_;
  bool volume_, sw_;
};

// Builds a card from fake elements and makes it mixer 0, as the ALSA backend would.
class Card {
 public:
  FakeElement* Add(std::string name, int channels, long min, long max, bool volume = true, bool sw = true) {
    elements_.push_back(std::make_unique<FakeElement>(std::move(name), channels, min, max, volume, sw));
    return static_cast<FakeElement*>(elements_.back().get());
  }
  std::shared_ptr<ElementMixer> Install() {
    auto mixer = std::make_shared<ElementMixer>("Fake Card", std::move(elements_),
                                                MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, false);
    InstallDevicesForTests({mixer});
    return mixer;
  }

 private:
  std::vector<std::unique_ptr<Element>> elements_;
};

class AlsaMapping : public ::testing::Test {
 protected:
  void TearDown() override {
    orv::ui::ProcessPendingEvents();
    ResetDevicesForTests();
  }
};

TEST_F(AlsaMapping, VolumeMapsLinearlyOntoARangeThatDoesNotStartAtZero) {
  EXPECT_EQ(-50, ValueToRaw(0, -50, 100));
  EXPECT_EQ(100, ValueToRaw(65535, -50, 100));
  EXPECT_EQ(25, ValueToRaw(32768, -50, 100));
  EXPECT_EQ(-42, ValueToRaw(3277, -50, 100));  // 7.5 steps up, rounded
  EXPECT_EQ(100, ValueToRaw(70000, -50, 100));
  EXPECT_EQ(0u, RawToValue(-50, -50, 100));
  EXPECT_EQ(65535u, RawToValue(100, -50, 100));
  EXPECT_EQ(32768u, RawToValue(25, -50, 100));
  EXPECT_EQ(65535u, RawToValue(130, -50, 100));  // a driver reporting past its range
  EXPECT_EQ(0u, RawToValue(-90, -50, 100));
  // An element with a one-point range cannot be scaled; it must not divide by zero.
  EXPECT_EQ(7, ValueToRaw(65535, 7, 7));
  EXPECT_EQ(0u, RawToValue(7, 7, 7));
}

TEST_F(AlsaMapping, CMixerLevelsLandOnTheElementsRawRangeOnEveryChannel) {
  Card card;
  FakeElement* master = card.Add("Master", 2, -50, 100);
  card.Install();
  CMixer m;
  m.m_nMaxLevel = 20;
  ASSERT_EQ(MMSYSERR_NOERROR, m.SetVolume(MIXLINE_MASTER, 10));
  EXPECT_EQ((std::vector<long>{25, 25}), master->raw);
  ASSERT_EQ(MMSYSERR_NOERROR, m.SetVolume(MIXLINE_MASTER, 0));
  EXPECT_EQ((std::vector<long>{-50, -50}), master->raw);
  master->raw = {100, -50};
  EXPECT_EQ(20, m.GetVolume(MIXLINE_MASTER));  // the first channel counts
  master->raw = {-35, 100};                    // 6553.5 on the platform scale
  EXPECT_EQ(2, m.GetVolume(MIXLINE_MASTER));
}

TEST_F(AlsaMapping, MuteIsThePlaybackSwitchOff) {
  Card card;
  card.Add("Master", 2, 0, 31);
  FakeElement* line = card.Add("Line", 2, 0, 31);
  card.Install();
  CMixer m;
  ASSERT_EQ(MMSYSERR_NOERROR, m.SetMute(MIXLINE_LINEIN, 1));
  EXPECT_FALSE(line->on);
  EXPECT_EQ(1, m.GetMute(MIXLINE_LINEIN));
  line->on = true;
  EXPECT_EQ(0, m.GetMute(MIXLINE_LINEIN));
}

TEST_F(AlsaMapping, AnElementWithoutPlaybackSwitchHasNoMuteControl) {
  Card card;
  FakeElement* master = card.Add("Master", 2, 0, 255, true, false);
  card.Install();
  CMixer m;
  m.m_nMaxLevel = 20;
  EXPECT_EQ(1u, LineOfType(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS).cControls);
  EXPECT_EQ(0u, m.GetControlID(MIXERCONTROL_CONTROLTYPE_MUTE));
  EXPECT_EQ(MIXERR_INVALCONTROL, m.SetMute(MIXLINE_MASTER, 1));
  EXPECT_EQ(0, m.GetMute(MIXLINE_MASTER));  // it cannot be muted, so it sounds
  ASSERT_EQ(MMSYSERR_NOERROR, m.SetVolume(MIXLINE_MASTER, 20));
  EXPECT_EQ((std::vector<long>{255, 255}), master->raw);
}

TEST_F(AlsaMapping, ASwitchOnlyLineHasMuteButNoVolume) {
  Card card;
  card.Add("Master", 2, 0, 31);
  FakeElement* line = card.Add("Line", 2, 0, 0, false, true);
  card.Install();
  CMixer m;
  EXPECT_EQ(MIXERR_INVALCONTROL, m.SetVolume(MIXLINE_LINEIN, 5));
  EXPECT_EQ(0, m.GetVolume(MIXLINE_LINEIN));
  ASSERT_EQ(MMSYSERR_NOERROR, m.SetMute(MIXLINE_LINEIN, 1));
  EXPECT_FALSE(line->on);
}

TEST_F(AlsaMapping, WithoutLineTheAuxElementIsTheLineIn) {
  Card card;
  FakeElement* master = card.Add("Master", 2, 0, 31);
  FakeElement* aux = card.Add("Aux", 2, 0, 31);
  card.Install();
  CMixer m;
  m.m_nMaxLevel = 20;
  ASSERT_EQ(MMSYSERR_NOERROR, m.SetVolume(MIXLINE_LINEIN, 20));
  EXPECT_EQ((std::vector<long>{31, 31}), aux->raw);
  EXPECT_EQ((std::vector<long>{0, 0}), master->raw);
}

TEST_F(AlsaMapping, LineIsPreferredToAuxWhateverTheirOrder) {
  Card card;
  card.Add("Master", 2, 0, 31);
  FakeElement* aux = card.Add("Aux", 2, 0, 31);
  FakeElement* line = card.Add("Line", 2, 0, 31);
  card.Install();
  CMixer m;
  m.m_nMaxLevel = 20;
  m.SetVolume(MIXLINE_LINEIN, 20);
  EXPECT_EQ((std::vector<long>{31, 31}), line->raw);
  EXPECT_EQ((std::vector<long>{0, 0}), aux->raw);
}

TEST_F(AlsaMapping, WithoutMasterTheFirstPlaybackVolumeElementIsTheSpeakers) {
  Card card;
  card.Add("IEC958", 2, 0, 0, false, true);
  card.Add("Master", 2, 0, 0, false, true);  // a master switch alone cannot carry the volume
  FakeElement* pcm = card.Add("PCM", 2, 0, 255);
  card.Add("Headphone", 2, 0, 127);
  card.Install();
  CMixer m;
  m.m_nMaxLevel = 20;
  ASSERT_EQ(MMSYSERR_NOERROR, m.SetVolume(MIXLINE_MASTER, 20));
  EXPECT_EQ((std::vector<long>{255, 255}), pcm->raw);
}

TEST_F(AlsaMapping, ACardWithoutPlaybackVolumeHasNoDestination) {
  std::vector<std::unique_ptr<Element>> elements;
  elements.push_back(std::make_unique<FakeElement>("IEC958", 2, 0, 0, false, true));
  ElementMixer card("Fake", std::move(elements), MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, false);
  EXPECT_FALSE(card.HasDestination());
  EXPECT_TRUE(card.Lines().empty());
}

TEST_F(AlsaMapping, AMonoElementIsOneChannel) {
  Card card;
  FakeElement* master = card.Add("Master", 1, 0, 100);
  card.Install();
  CMixer m;
  m.m_nMaxLevel = 20;
  EXPECT_EQ(1u, m.GetChannelCount());
  ASSERT_EQ(MMSYSERR_NOERROR, m.SetVolume(MIXLINE_MASTER, 10));
  EXPECT_EQ((std::vector<long>{50}), master->raw);
}

TEST_F(AlsaMapping, EventsBecomeOneNoticePerChangedControl) {
  Card card;
  FakeElement* master = card.Add("Master", 2, 0, 100);
  auto mixer = card.Install();
  NoticeWnd wnd;
  ASSERT_TRUE(wnd.Create());
  CMixer m;
  m.m_hwndNotify = wnd.m_hWnd;
  m.m_nMaxLevel = 20;
  ASSERT_EQ(1, m.Open());
  const DWORD volume = m.GetControlID(MIXERCONTROL_CONTROLTYPE_VOLUME);
  const DWORD mute = m.GetControlID(MIXERCONTROL_CONTROLTYPE_MUTE);

  // Another program moved the volume; the card's event arrives.
  master->raw = {80, 80};
  mixer->ElementChanged(master);
  // Our own write is announced by the card's event too, not a second time by the write.
  m.SetMute(MIXLINE_MASTER, 1);
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
}

TEST_F(AlsaMapping, AnUnpluggedCardGivesDefaultsNotCrashes) {
  Card card;
  FakeElement* master = card.Add("Master", 2, 0, 100);
  FakeElement* line = card.Add("Line", 2, 0, 100);
  auto mixer = card.Install();
  CMixer m;
  m.m_nMaxLevel = 20;
  m.SetVolume(MIXLINE_MASTER, 20);
  m.SetMute(MIXLINE_LINEIN, 1);
  master->gone = line->gone = true;
  EXPECT_EQ(0, m.GetVolume(MIXLINE_MASTER));
  EXPECT_EQ(0, m.GetMute(MIXLINE_LINEIN));
  EXPECT_NE(MMSYSERR_NOERROR, m.SetVolume(MIXLINE_MASTER, 5));
  EXPECT_NE(MMSYSERR_NOERROR, m.SetMute(MIXLINE_LINEIN, 0));
  mixer->ElementChanged(master);  // a late event for a removed element
}

// The real backend, where this machine has a sound card.
TEST(AlsaCard, VolumeMuteAndNoticesOnTheFirstCard) {
  auto cards = OpenAlsaCards();
  if (cards.empty())
    GTEST_SKIP() << "no ALSA card with a playback volume element on this machine (no sound card or no /dev/snd)";
  InstallDevicesForTests({cards.front()});
  NoticeWnd wnd;
  ASSERT_TRUE(wnd.Create());
  CMixer m;
  m.m_hwndNotify = wnd.m_hWnd;
  m.m_nMaxLevel = 20;
  ASSERT_EQ(1, m.Open());
  const int level = m.GetVolume(MIXLINE_MASTER);
  const int mute = m.GetMute(MIXLINE_MASTER);

  // The ends of the scale map onto the ends of any raw range.
  const int target = level == 20 ? 0 : 20;
  ASSERT_EQ(MMSYSERR_NOERROR, m.SetVolume(MIXLINE_MASTER, target));
  EXPECT_EQ(target, m.GetVolume(MIXLINE_MASTER));
  // The change comes back as the card's event, read on this thread's event loop.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (wnd.notices.empty() && std::chrono::steady_clock::now() < until) {
    orv::ui::ProcessPendingEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_FALSE(wnd.notices.empty()) << "no MM_MIXM_CONTROL_CHANGE from the card's events";
  if (m.GetControlID(MIXERCONTROL_CONTROLTYPE_MUTE)) {
    ASSERT_EQ(MMSYSERR_NOERROR, m.SetMute(MIXLINE_MASTER, !mute));
    EXPECT_EQ(!mute, m.GetMute(MIXLINE_MASTER));
    m.SetMute(MIXLINE_MASTER, mute);
  }
  m.SetVolume(MIXLINE_MASTER, level);
  m.Close();
  orv::ui::ProcessPendingEvents();
  ResetDevicesForTests();
}

}  // namespace
