// Source selection, tuning, the channel scan worker and the picture level mapping.
#include "tests/capture/enginerig.h"

#include "common/Commands.h"

#include <QThread>
#include <gtest/gtest.h>

using orv::media::InjectFault;
using orv::test::Calls;
using orv::test::CardState;
using orv::test::EngineRig;
using orv::test::PumpUntil;
using orv::test::RecordingWnd;
using Strings = std::vector<std::string>;

namespace {

TEST(Tuning, SelectSourceRoutesOutputZeroThenTheCrossbarObjectsPath) {
  // Four picture inputs (S-Video, Tuner, Composite, Composite) and two sound inputs.
  EngineRig rig(R"({"crossbars": [{
    "inputs": [{"type": 3, "related": 4}, {"type": 1, "related": 5, "from": "tuner"}, {"type": 2, "related": 4},
               {"type": 2, "related": 4}, {"type": 4097, "related": 0}, {"type": 4096, "related": 1, "from": "tuner-audio"}],
    "outputs": [{"type": 12, "related": 1}, {"type": 4105, "related": 0}]}]})");
  CCaptureGraph& g = rig.Start();
  EXPECT_EQ(4, g.m_nCrossbarInputs);
  const std::pair<int, Strings> cases[] = {
      {3, {"Crossbar0.Route(0,0)", "Crossbar0.Route(0,3)", "Crossbar0.Route(1,4)"}},
      {1, {"Crossbar0.Route(0,1)", "Crossbar0.Route(0,1)", "Crossbar0.Route(1,5)"}},
      {2, {"Crossbar0.Route(0,2)", "Crossbar0.Route(0,2)", "Crossbar0.Route(1,4)"}},
  };
  for (const auto& [source, routes] : cases) {
    orv::media::ClearJournal();
    EXPECT_EQ(1, g.SelectSource(source));
    EXPECT_EQ(source, g.m_nSource);
    EXPECT_EQ(routes, Calls("Crossbar0.Route")) << "source " << source;
  }
  EXPECT_TRUE(rig.Texts().empty());
}

TEST(Tuning, TuneChannelPutsTheChannelBeforeTheBandsInputType) {
  EngineRig rig;
  CCaptureGraph& g = rig.Start();
  for (auto [source, channel, inputType] : {std::tuple{1, 22, TunerInputCable}, {0, 9, TunerInputAntenna}}) {
    g.SelectSource(source);
    orv::media::ClearJournal();
    EXPECT_EQ(1, g.TuneChannel(channel));
    EXPECT_EQ((Strings{"Tuner.put_Channel(" + std::to_string(channel) + ",-2,-1)",
                       "Tuner.put_InputType(0," + std::to_string(inputType) + ")"}),
              Calls("Tuner."));
    EXPECT_EQ(channel, CardState().tunerChannel);
    EXPECT_EQ(inputType, CardState().tunerInputType);
  }
  EngineRig noTuner(R"({"tuner": null})");
  EXPECT_EQ(0, noTuner.Start().TuneChannel(7));
  EXPECT_TRUE(noTuner.Texts().empty());
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

// Every channel of the band, or of the region's plan: Western Europe has no E13..E20.
TEST(ChannelScan, TunesEveryChannelOfThePlanAscendingAndReportsTheSignals) {
  struct Band { const char* winIni; int band; LONG first, last; std::vector<LPARAM> found; const char* inputType;
                LONG gapFirst = 0, gapLast = -1; };
  const Band bands[] = {
      {"", 0, 2, 69, {6, 7, 9, 11, 13, 15, 17, 21, 23, 25, 27, 46, 51}, "Tuner.put_InputType(0,1)"},
      {"", 1, 1, 125, {2, 3, 5, 6, 7, 9, 10, 11, 12, 13, 14, 18, 20, 22, 25, 27, 29, 33, 37, 42, 45, 48, 52, 60, 75, 96, 110},
       "Tuner.put_InputType(0,0)"},
      {"[orvane]\nRegion=EU\n", 0, 2, 69, {6, 7, 9, 11, 21, 23, 25, 27, 46, 51}, "Tuner.put_InputType(0,1)", 13, 20},
  };
  for (const Band& b : bands) {
    SCOPED_TRACE(std::string(b.winIni) + " band " + std::to_string(b.band));
    EngineRig rig("", b.winIni);
    CCaptureGraph& g = rig.Start();
    RecordingWnd page;
    std::vector<LONG> all;
    for (LONG c = b.first; c <= b.last; ++c)
      if (c < b.gapFirst || c > b.gapLast) all.push_back(c);
    orv::media::ClearJournal();
    EXPECT_EQ(1, g.StartChannelScan(page, b.band));
    EXPECT_EQ(0, g_nScanStop);
    ASSERT_TRUE(PumpUntil([&] { return Found(page).size() == b.found.size() && AutoTuned().size() == all.size(); },
                          20000));
    rig.engine.reset();  // waits for the worker
    EXPECT_EQ(all, AutoTuned());
    EXPECT_EQ(b.found, Found(page));
    EXPECT_EQ(b.inputType, Calls("Tuner.put_InputType").front());
    EXPECT_EQ(b.last, CardState().tunerChannel);  // left on the last channel tried
  }
}

// The page's stop ends the scan before the next channel. The worker walks the graph without a
// lock: whatever takes parts of it down ends the scan first.
TEST(ChannelScan, StopOrStartingOrStoppingACaptureOrDeletingTheEngineEndsTheScan) {
  enum Step { kStop, kStartCapture, kStopCapture, kDeleteEngine };
  for (Step step : {kStop, kStartCapture, kStopCapture, kDeleteEngine}) {
    EngineRig rig;
    CCaptureGraph& g = rig.Start();
    const std::string file = orv::test::ConfigDir() + "/scan.avi";
    ASSERT_TRUE(step != kStopCapture || g.StartFileCapture(file.c_str(), FALSE, 0) == 1);
    RecordingWnd page;
    page.handler = [&](UINT, WPARAM, LPARAM, bool*) { return step == kStop ? (g.StopChannelScan(), 0) : 0; };
    orv::media::ClearJournal();
    g.StartChannelScan(page, 0);
    // Channel 6 has the first signal: the worker sends it and waits until this thread serves the
    // send. Nothing is served meanwhile (a pump would let the worker run on through the band).
    for (int waited = 0; AutoTuned().size() < 5 && waited < 20000; waited += 2) QThread::msleep(2);
    ASSERT_EQ(5u, AutoTuned().size()) << step;
    if (step == kStop) EXPECT_TRUE(PumpUntil([&] { return !Found(page).empty(); }, 20000));
    EXPECT_TRUE(step != kStartCapture || g.StartFileCapture(file.c_str(), FALSE, 0) == 1);
    EXPECT_TRUE(step != kStopCapture || g.StopFileCapture() == 1);
    if (step == kDeleteEngine) rig.engine.reset();
    const std::size_t tuned = AutoTuned().size();
    EXPECT_EQ(5u, tuned) << step;  // channels 2 to 6: the scan ended before the next channel
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(tuned, AutoTuned().size()) << step;
    EXPECT_TRUE(step != kDeleteEngine || orv::media::LiveFilters() + orv::media::LiveMediaObjects() == 0);
    if (step == kStartCapture) g.StopFileCapture();
  }
}

// ---- Picture levels -------------------------------------------------------------------------------

std::vector<LONG> ProcAmp() {
  const auto s = CardState();
  return {s.procAmp[0], s.procAmp[1], s.procAmp[2], s.procAmp[3]};
}

TEST(Picture, LevelsMapOntoTheDriversRangeAndReadBack) {
  const char* range255 = R"({"procamp": {
    "brightness": {"min": 0, "max": 255, "default": 128}, "contrast": {"min": 0, "max": 255, "default": 128},
    "hue": {"min": 0, "max": 255, "default": 128}, "saturation": {"min": 0, "max": 255, "default": 128}}})";
  const struct { const char* card; int level; std::vector<LONG> values; int readBack; } cases[] = {
      {range255, 0, {0, 0, 0, 0}, 0},
      {range255, 255, {255, 255, 255, 254}, 255},  // saturation is written with the range's width
      {range255, 256, {0, 0, 0, 0}, 0},  // only the low 8 bits count
      {range255, 383, {127, 127, 127, 126}, 127},
      {"", 127, {4961, 4961, 4961, 4960}, 127},  // 0..10000
      {R"({"procamp": {"brightness": {"min": -100, "max": 100, "default": 0}}})", 0, {0, 0, 0, 0}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.card) + " level " + std::to_string(c.level));
    EngineRig rig(c.card);
    CCaptureGraph& g = rig.Start();
    EXPECT_EQ(1, g.SetBrightness(c.level));
    EXPECT_EQ(1, g.SetContrast(c.level));
    EXPECT_EQ(1, g.SetHue(c.level));
    EXPECT_EQ(1, g.SetSaturation(c.level));
    EXPECT_EQ(c.values, ProcAmp());
    EXPECT_EQ(std::vector<int>(4, c.readBack),
              (std::vector<int>{g.GetBrightness(), g.GetContrast(), g.GetHue(), g.GetSaturation()}));
    EXPECT_TRUE(rig.Texts().empty());
  }
}

TEST(Picture, FailuresGiveZeroAndChangeNothing) {
  EngineRig rig(R"({"procamp": {"hue": null}})");
  CCaptureGraph& g = rig.Start();
  EXPECT_EQ(0, g.SetHue(100));  // the driver refuses an unsupported property
  EXPECT_EQ(0, g.GetHue());
  InjectFault("Set:IAMVideoProcAmp", E_FAIL);
  const LONG before = CardState().procAmp[0];
  EXPECT_EQ(0, g.SetBrightness(50));
  EXPECT_EQ(before, CardState().procAmp[0]);
  EXPECT_TRUE(rig.Texts().empty());
}

}  // namespace
