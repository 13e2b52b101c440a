// Source selection, tuning, the channel scan worker and the picture level mapping.
#include "tests/capture/enginerig.h"

#include "common/Commands.h"

#include <gtest/gtest.h>

using orv::media::InjectFault;
using orv::test::Calls;
using orv::test::CardState;
using orv::test::EngineRig;
using orv::test::PumpUntil;
using orv::test::RecordingWnd;

namespace {

// Four picture inputs (S-Video, Tuner, Composite, Composite) and two sound inputs.
const char* kFourInputs = R"({"crossbars": [{
  "inputs": [{"type": 3, "related": 4}, {"type": 1, "related": 5, "from": "tuner"}, {"type": 2, "related": 4},
             {"type": 2, "related": 4}, {"type": 4097, "related": 0}, {"type": 4096, "related": 1, "from": "tuner-audio"}],
  "outputs": [{"type": 12, "related": 1}, {"type": 4105, "related": 0}]}]})";

// ---- Source selection and tuning ----------------------------------------------------------------

TEST(Tuning, SelectSourceRoutesTheCrossbarThenTheCrossbarObject) {
  EngineRig rig(kFourInputs);
  CCaptureGraph& g = rig.Start();
  EXPECT_EQ(4, g.m_nCrossbarInputs);

  orv::media::ClearJournal();
  EXPECT_EQ(1, g.SelectSource(3));
  EXPECT_EQ(3, g.m_nSource);
  // Output 0 from input 0 first, then the path object's input 3 with its sound.
  EXPECT_EQ((std::vector<std::string>{"Crossbar0.Route(0,0)", "Crossbar0.Route(0,3)", "Crossbar0.Route(1,4)"}),
            Calls("Crossbar0.Route"));
  EXPECT_EQ(3, CardState().routes[0][0]);

  for (int source : {0, 1}) {
    orv::media::ClearJournal();
    EXPECT_EQ(1, g.SelectSource(source));
    EXPECT_EQ((std::vector<std::string>{"Crossbar0.Route(0,1)", "Crossbar0.Route(0,1)", "Crossbar0.Route(1,5)"}),
              Calls("Crossbar0.Route"))
        << "source " << source;
  }
  orv::media::ClearJournal();
  EXPECT_EQ(1, g.SelectSource(2));
  EXPECT_EQ("Crossbar0.Route(0,2)", Calls("Crossbar0.Route").front());
  EXPECT_EQ(2, CardState().routes[0][0]);
  EXPECT_TRUE(rig.Texts().empty());
}

TEST(Tuning, SelectSourceWithoutBuilderKeepsTheSource) {
  EngineRig rig("", "[orvane]\nVideoDevice=9\n");
  CCaptureGraph& g = rig.Start();
  rig.boxes.calls.clear();
  EXPECT_EQ(0, g.SelectSource(1));
  EXPECT_EQ(2, g.m_nSource);
  EXPECT_TRUE(rig.Texts().empty());
}

TEST(Tuning, TuneChannelPutsTheChannelBeforeTheBandsInputType) {
  EngineRig rig;
  CCaptureGraph& g = rig.Start();
  g.SelectSource(1);
  orv::media::ClearJournal();
  EXPECT_EQ(1, g.TuneChannel(22));
  EXPECT_EQ((std::vector<std::string>{"Tuner.put_Channel(22,-2,-1)", "Tuner.put_InputType(0,0)"}), Calls("Tuner."));
  EXPECT_EQ(22, CardState().tunerChannel);
  EXPECT_EQ(TunerInputCable, CardState().tunerInputType);

  g.SelectSource(0);
  orv::media::ClearJournal();
  EXPECT_EQ(1, g.TuneChannel(9));
  EXPECT_EQ((std::vector<std::string>{"Tuner.put_Channel(9,-2,-1)", "Tuner.put_InputType(0,1)"}), Calls("Tuner."));
  EXPECT_EQ(TunerInputAntenna, CardState().tunerInputType);

  // A failing put is not examined.
  InjectFault("put_Channel", E_INVALIDARG);
  EXPECT_EQ(1, g.TuneChannel(300));
}

TEST(Tuning, TuneChannelWithoutTunerReturnsZero) {
  EngineRig rig(R"({"tuner": null})");
  CCaptureGraph& g = rig.Start();
  IAMTVTuner* tuner = reinterpret_cast<IAMTVTuner*>(1);
  EXPECT_NE(S_OK, g.FindTuner(&tuner));
  EXPECT_EQ(nullptr, tuner);
  EXPECT_EQ(0, g.TuneChannel(7));
  EXPECT_TRUE(rig.Texts().empty());
}

// ---- Channel scan ---------------------------------------------------------------------------------

std::vector<LONG> AutoTuned() {
  std::vector<LONG> out;
  for (const auto& c : Calls("Tuner.AutoTune(")) out.push_back(std::stol(c.substr(15)));
  return out;
}

std::vector<LPARAM> Found(const RecordingWnd& w) {
  std::vector<LPARAM> out;
  for (const auto& r : w.Of(WM_TUNER_NOTIFY)) {
    EXPECT_EQ(PageCmd::SignalFound, r.wParam);
    out.push_back(r.lParam);
  }
  return out;
}

TEST(ChannelScan, TerrestrialScanTunesEveryChannelAscendingAndReportsSignals) {
  EngineRig rig;
  CCaptureGraph& g = rig.Start();
  g.StopChannelScan();
  EXPECT_EQ(1, g_nScanStop);
  RecordingWnd page;
  orv::media::ClearJournal();
  EXPECT_EQ(1, g.StartChannelScan(page, 0));
  EXPECT_EQ(0, g_nScanStop);
  const std::vector<LPARAM> expected{6, 7, 9, 11, 13, 15, 17, 21, 23, 25, 27, 46, 51};
  ASSERT_TRUE(PumpUntil([&] { return AutoTuned().size() == 68 && Found(page).size() == expected.size(); }, 20000));
  std::vector<LONG> all;
  for (LONG c = 2; c <= 69; ++c) all.push_back(c);
  EXPECT_EQ(all, AutoTuned());
  EXPECT_EQ(expected, Found(page));
  EXPECT_EQ("Tuner.put_InputType(0,1)", Calls("Tuner.put_InputType").front());
  rig.engine.reset();
  EXPECT_EQ(69, CardState().tunerChannel);  // left on the last channel tried
}

TEST(ChannelScan, CableScanUsesTheCableBand) {
  EngineRig rig;
  CCaptureGraph& g = rig.Start();
  RecordingWnd page;
  orv::media::ClearJournal();
  g.StartChannelScan(page, 1);
  ASSERT_TRUE(PumpUntil([&] { return AutoTuned().size() == 125 && Found(page).size() == 27; }, 20000));
  EXPECT_EQ(1, AutoTuned().front());
  EXPECT_EQ(125, AutoTuned().back());
  EXPECT_EQ("Tuner.put_InputType(0,0)", Calls("Tuner.put_InputType").front());
}

TEST(ChannelScan, StopsBeforeTheNextChannelOnceTheFlagIsSet) {
  EngineRig rig;
  CCaptureGraph& g = rig.Start();
  RecordingWnd page;
  page.handler = [&](UINT msg, WPARAM, LPARAM channel, bool*) {
    if (msg == WM_TUNER_NOTIFY && channel == 9) g.StopChannelScan();
    return 0;
  };
  orv::media::ClearJournal();
  g.StartChannelScan(page, 0);
  ASSERT_TRUE(PumpUntil([&] { return Found(page).size() == 3; }, 20000));
  rig.engine.reset();  // waits for the worker
  EXPECT_EQ((std::vector<LPARAM>{6, 7, 9}), Found(page));
  EXPECT_EQ(9, AutoTuned().back());
  EXPECT_EQ(8u, AutoTuned().size());
}

TEST(ChannelScan, EndsQuietlyWithoutTunerOrWhenTheBandCannotBeSet) {
  {
    EngineRig rig(R"({"tuner": null})");
    CCaptureGraph& g = rig.Start();
    RecordingWnd page;
    g.StartChannelScan(page, 0);
    rig.engine.reset();
    EXPECT_EQ(0, page.Count(WM_TUNER_NOTIFY));
  }
  {
    EngineRig rig;
    CCaptureGraph& g = rig.Start();
    InjectFault("put_InputType", E_FAIL);
    RecordingWnd page;
    orv::media::ClearJournal();
    g.StartChannelScan(page, 0);
    ASSERT_TRUE(PumpUntil([&] { return !Calls("Tuner.put_InputType").empty(); }));
    rig.engine.reset();
    EXPECT_TRUE(AutoTuned().empty());
    EXPECT_EQ(0, page.Count(WM_TUNER_NOTIFY));
    EXPECT_TRUE(rig.Texts().empty());
  }
}

// The worker walks the graph without a lock: whatever takes parts of it down ends the scan first.
TEST(ChannelScan, StartingOrStoppingACaptureOrDeletingTheEngineEndsTheScanFirst) {
  enum Step { kStartCapture, kStopCapture, kDeleteEngine };
  for (Step step : {kStartCapture, kStopCapture, kDeleteEngine}) {
    EngineRig rig;
    CCaptureGraph& g = rig.Start();
    const std::string file = orv::test::ConfigDir() + "/scan.avi";
    if (step == kStopCapture) ASSERT_EQ(1, g.StartFileCapture(file.c_str(), FALSE, 0));
    RecordingWnd page;
    orv::media::ClearJournal();
    g.StartChannelScan(page, 0);
    // The worker now waits in its send for a later channel until this thread serves it.
    ASSERT_TRUE(PumpUntil([&] { return !Found(page).empty(); }, 20000)) << step;
    if (step == kStartCapture) EXPECT_EQ(1, g.StartFileCapture(file.c_str(), FALSE, 0));
    if (step == kStopCapture) EXPECT_EQ(1, g.StopFileCapture());
    if (step == kDeleteEngine) rig.engine.reset();
    const std::size_t tuned = AutoTuned().size();
    EXPECT_LT(tuned, 68u) << step;
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(tuned, AutoTuned().size()) << step;
    if (step == kDeleteEngine) EXPECT_EQ(0, orv::media::LiveFilters());
    if (step == kStartCapture) g.StopFileCapture();
  }
}

TEST(ChannelScan, TwoScansShareTheStopFlag) {
  EngineRig rig;
  CCaptureGraph& g = rig.Start();
  RecordingWnd page;
  g.StartChannelScan(page, 0);
  g.StartChannelScan(page, 0);
  ASSERT_TRUE(PumpUntil([&] { return Found(page).size() >= 2; }, 20000));
  g.StopChannelScan();
  rig.engine.reset();
  EXPECT_LT(Found(page).size(), 26u);
}

// ---- Picture levels -------------------------------------------------------------------------------

const char* kRange255 = R"({"procamp": {
  "brightness": {"min": 0, "max": 255, "default": 128}, "contrast": {"min": 0, "max": 255, "default": 128},
  "hue": {"min": 0, "max": 255, "default": 128}, "saturation": {"min": 0, "max": 255, "default": 128}}})";

std::vector<LONG> ProcAmp() {
  const auto s = CardState();
  return {s.procAmp[0], s.procAmp[1], s.procAmp[2], s.procAmp[3]};
}

void SetAll(CCaptureGraph& g, int level) {
  EXPECT_EQ(1, g.SetBrightness(level));
  EXPECT_EQ(1, g.SetContrast(level));
  EXPECT_EQ(1, g.SetHue(level));
  EXPECT_EQ(1, g.SetSaturation(level));
}

TEST(Picture, LevelsMapOntoTheDriversRange) {
  EngineRig rig(kRange255);
  CCaptureGraph& g = rig.Start();
  SetAll(g, 0);
  EXPECT_EQ((std::vector<LONG>{0, 0, 0, 0}), ProcAmp());
  SetAll(g, 255);
  EXPECT_EQ((std::vector<LONG>{255, 255, 255, 254}), ProcAmp());
  SetAll(g, 256);  // only the low 8 bits count
  EXPECT_EQ((std::vector<LONG>{0, 0, 0, 0}), ProcAmp());
  SetAll(g, 383);
  EXPECT_EQ((std::vector<LONG>{127, 127, 127, 126}), ProcAmp());
  EXPECT_EQ("VideoCapture.Set(3,126,2)", Calls("VideoCapture.Set(").back());
  EXPECT_TRUE(rig.Texts().empty());
}

TEST(Picture, LevelsReadBackAsWrittenThroughTheCard) {
  EngineRig rig(kRange255);
  CCaptureGraph& g = rig.Start();
  for (int level : {255, 100, 0}) {
    SetAll(g, level);
    EXPECT_EQ(level, g.GetBrightness());
    EXPECT_EQ(level, g.GetContrast());
    EXPECT_EQ(level, g.GetHue());
    EXPECT_EQ(level, g.GetSaturation());
  }
}

TEST(Picture, EveryLevelReadsBackAsItselfOnEveryRange) {
  struct Range {
    LONG min, max;
  };
  for (const Range r : {Range{0, 255}, Range{0, 65535}, Range{0, 10000}, Range{-128, 127}, Range{0, 256}}) {
    for (LONG property : {VideoProcAmp_Brightness, VideoProcAmp_Contrast, VideoProcAmp_Hue, VideoProcAmp_Saturation}) {
      // Saturation is written with the range's width: on 256 values, levels 0 and 1 both write 0.
      const bool narrow = property == VideoProcAmp_Saturation && r.max - r.min == 255;
      for (int level = 0; level <= 255; ++level) {
        const LONG value = PictureValueFromLevel(property, r.min, r.max, level);
        const int back = PictureLevelFromValue(property, r.min, r.max, value);
        ASSERT_EQ(narrow && level == 1 ? 0 : level, back) << r.min << ".." << r.max << " property " << property;
        // What is read back and written at the next start lands on the same value.
        ASSERT_EQ(value, PictureValueFromLevel(property, r.min, r.max, back)) << r.min << ".." << r.max;
      }
    }
  }
  // A value no level writes (set by another program, or beyond a range that shrank) is clamped.
  EXPECT_EQ(255, PictureLevelFromValue(VideoProcAmp_Hue, 0, 255, 300));
  EXPECT_EQ(0, PictureLevelFromValue(VideoProcAmp_Hue, 0, 255, -5));
  EXPECT_EQ(0, PictureLevelFromValue(VideoProcAmp_Saturation, 7, 7, 0));
}

TEST(Picture, MiddleLevelRoundTripsOnAWideRange) {
  EngineRig rig;  // 0..10000
  CCaptureGraph& g = rig.Start();
  SetAll(g, 127);
  EXPECT_EQ((std::vector<LONG>{4961, 4961, 4961, 4960}), ProcAmp());
  EXPECT_EQ(127, g.GetBrightness());
  EXPECT_EQ(127, g.GetContrast());
  EXPECT_EQ(127, g.GetHue());
  EXPECT_EQ(127, g.GetSaturation());
}

TEST(Picture, LevelZeroIsZeroWhateverTheMinimum) {
  EngineRig rig(R"({"procamp": {"brightness": {"min": -100, "max": 100, "default": 0}}})");
  CCaptureGraph& g = rig.Start();
  EXPECT_EQ(1, g.SetBrightness(0));
  EXPECT_EQ(0, CardState().procAmp[0]);
}

TEST(Picture, FailuresGiveZero) {
  EngineRig rig(R"({"procamp": {"hue": null}})");
  CCaptureGraph& g = rig.Start();
  EXPECT_EQ(0, g.SetHue(100));  // the driver refuses an unsupported property
  EXPECT_EQ(0, g.GetHue());
  InjectFault("Get:IAMVideoProcAmp:VideoProcAmp_Contrast", E_FAIL);
  EXPECT_EQ(0, g.GetContrast());
  InjectFault("Set:IAMVideoProcAmp", E_FAIL);
  const LONG before = CardState().procAmp[0];
  EXPECT_EQ(0, g.SetBrightness(50));
  EXPECT_EQ(before, CardState().procAmp[0]);
  EXPECT_TRUE(rig.Texts().empty());
}

TEST(Picture, WithoutCaptureFilterEveryCallSaysSo) {
  EngineRig rig("", "[orvane]\nVideoDevice=3\n");
  CCaptureGraph& g = rig.Start();
  rig.boxes.calls.clear();
  EXPECT_EQ(0, g.SetBrightness(10));
  EXPECT_EQ(0, g.GetBrightness());
  EXPECT_EQ(0, g.GetContrast());
  EXPECT_EQ(0, g.GetHue());
  EXPECT_EQ(0, g.GetSaturation());
  ASSERT_EQ(5u, rig.Texts().size());
  EXPECT_EQ("에러 80004003: IAMVideoProcAmp객체 인터페이스를 얻을 수 없음", rig.Texts()[0]);
}

}  // namespace
