// Path search and routing over virtual cards of several shapes.
#include "capture/Crossbar.h"
#include "tests/media/mediarig.h"

#include <gtest/gtest.h>
#include <memory>

using orv::test::Calls;
using orv::test::GraphRig;
using orv::test::UseCard;

namespace {

// Video output 0 fed from composite, tuner and S-Video; sound inputs 3 (line) and 4 (tuner).
const char* kOneCrossbar = R"({
  "crossbars": [{
    "inputs": [{"type": 2, "related": 3}, {"type": 1, "related": 4, "from": "tuner"},
               {"type": 3, "related": 3}, {"type": 4097, "related": 0}, {"type": 4096, "related": 1}],
    "outputs": [{"type": 12, "related": 1}, {"type": 4105, "related": 0}]
  }]
})";

std::string Label(CCrossbar& x, LONG index, LONG size = 260) {
  char buf[260] = "untouched";
  if (x.GetInputLabel(index, buf, size) != S_OK) return "<E_FAIL>";
  return buf;
}

TEST(Crossbar, OneCrossbarGivesVideoInputsInOrderAndSkipsSoundInputs) {
  UseCard(kOneCrossbar);
  GraphRig rig;
  ASSERT_NE(nullptr, rig.analogIn);
  CCrossbar x(rig.analogIn);
  LONG count = -1;
  EXPECT_EQ(S_OK, x.CountInputs(&count));
  ASSERT_EQ(3, count);
  EXPECT_EQ("Video Composite", Label(x, 0));
  EXPECT_EQ("Video Tuner", Label(x, 1));
  EXPECT_EQ("Video SVideo", Label(x, 2));
  LONG type = 0;
  EXPECT_EQ(S_OK, x.GetInputConnector(1, &type));
  EXPECT_EQ(PhysConn_Video_Tuner, type);
  EXPECT_EQ(E_FAIL, x.GetInputConnector(3, &type));
}

TEST(Crossbar, RoutingAPathSetsVideoThenItsRelatedSound) {
  UseCard(kOneCrossbar);
  GraphRig rig;
  CCrossbar x(rig.analogIn);
  orv::media::ClearJournal();
  EXPECT_EQ(S_OK, x.RouteInput(1));
  EXPECT_EQ((std::vector<std::string>{"Crossbar0.Route(0,1)", "Crossbar0.Route(1,4)"}), Calls("Crossbar0.Route"));
  orv::media::VirtualCardState state;
  ASSERT_TRUE(orv::media::GetVirtualCardState(0, &state));
  EXPECT_EQ((std::vector<LONG>{1, 4}), state.routes[0]);
}

TEST(Crossbar, RelatedPinOfMinusOneSkipsTheSoundRoute) {
  // Input 0 names no sound pin; on the second card the video output names none.
  UseCard(R"({"crossbars": [{
    "inputs": [{"type": 2}, {"type": 3, "related": 2}, {"type": 4097}],
    "outputs": [{"type": 12, "related": 1}, {"type": 4105}]}]})");
  {
    GraphRig rig;
    CCrossbar x(rig.analogIn);
    orv::media::ClearJournal();
    EXPECT_EQ(S_OK, x.RouteInput(0));
    EXPECT_EQ((std::vector<std::string>{"Crossbar0.Route(0,0)"}), Calls("Crossbar0.Route"));
    orv::media::ClearJournal();
    EXPECT_EQ(S_OK, x.RouteInput(1));
    EXPECT_EQ((std::vector<std::string>{"Crossbar0.Route(0,1)", "Crossbar0.Route(1,2)"}), Calls("Crossbar0.Route"));
  }
  UseCard(R"({"crossbars": [{
    "inputs": [{"type": 2, "related": 1}, {"type": 4097, "related": 0}],
    "outputs": [{"type": 12, "related": -1}, {"type": 4105, "related": 0}]}]})");
  GraphRig rig;
  CCrossbar x(rig.analogIn);
  orv::media::ClearJournal();
  EXPECT_EQ(S_OK, x.RouteInput(0));
  EXPECT_EQ((std::vector<std::string>{"Crossbar0.Route(0,0)"}), Calls("Crossbar0.Route"));
}

// Crossbar 1 (tuner, composite) feeds input 0 of crossbar 0, which also has its own S-Video input.
const char* kTwoCrossbars = R"({
  "crossbars": [
    {"inputs": [{"type": 9, "related": 2, "from": "crossbar1"}, {"type": 3, "related": 2},
                {"type": 4102, "related": 0, "from": "crossbar1:1"}],
     "outputs": [{"type": 12, "related": 1}, {"type": 4105, "related": 0}]},
    {"inputs": [{"type": 1, "related": 2, "from": "tuner"}, {"type": 2, "related": 3},
                {"type": 4096, "related": 0, "from": "tuner-audio"}, {"type": 4097, "related": 1}],
     "outputs": [{"type": 12, "related": 1}, {"type": 4105, "related": 0}]}
  ]
})";

TEST(Crossbar, TwoCrossbarsInSeriesGiveTwoHopPathsRoutedUpstreamFirst) {
  UseCard(kTwoCrossbars);
  GraphRig rig;
  CCrossbar x(rig.analogIn);
  LONG count = 0;
  x.CountInputs(&count);
  ASSERT_EQ(3, count);
  // Paths through crossbar 1 are found while searching crossbar 0's input 0, before its input 1.
  EXPECT_EQ("Video Tuner", Label(x, 0));
  EXPECT_EQ("Video Composite", Label(x, 1));
  EXPECT_EQ("Video SVideo", Label(x, 2));

  orv::media::ClearJournal();
  EXPECT_EQ(S_OK, x.RouteInput(1));
  EXPECT_EQ((std::vector<std::string>{"Crossbar1.Route(0,1)", "Crossbar1.Route(1,3)", "Crossbar0.Route(0,0)",
                                      "Crossbar0.Route(1,2)"}),
            Calls("Crossbar"));

  orv::media::ClearJournal();
  EXPECT_EQ(S_OK, x.RouteInput(2));
  EXPECT_EQ((std::vector<std::string>{"Crossbar0.Route(0,1)", "Crossbar0.Route(1,2)"}), Calls("Crossbar"));
}

TEST(Crossbar, RouteInputReportsOnlyTheLastVideoRoute) {
  UseCard(kTwoCrossbars);
  GraphRig rig;
  CCrossbar x(rig.analogIn);
  orv::media::InjectFault("Route:Crossbar1", E_UNEXPECTED);
  EXPECT_EQ(S_OK, x.RouteInput(0));
  orv::media::ClearFaults();
  orv::media::InjectFault("Route:Crossbar0", E_UNEXPECTED, 0, 1);
  EXPECT_EQ(E_UNEXPECTED, x.RouteInput(0));
  orv::media::ClearFaults();
}

TEST(Crossbar, RefusedRoutesAndNonCrossbarUpstreamShapeThePaths) {
  // Output 0 refuses input 1 (the tuner): no path through it. The tuner filter upstream of the
  // tuner input is not a crossbar, so the remaining paths end at their inputs.
  UseCard(R"({"crossbars": [{
    "inputs": [{"type": 3}, {"type": 1, "from": "tuner"}, {"type": 2}],
    "outputs": [{"type": 12}], "refuse": [[0, 1]]}]})");
  {
    GraphRig rig;
    CCrossbar x(rig.analogIn);
    LONG count = 0;
    x.CountInputs(&count);
    ASSERT_EQ(2, count);
    EXPECT_EQ("Video SVideo", Label(x, 0));
    EXPECT_EQ("Video Composite", Label(x, 1));
  }
  UseCard("");
  GraphRig rig;
  CCrossbar x(rig.analogIn);
  LONG count = 0, type = 0;
  x.CountInputs(&count);
  ASSERT_EQ(3, count);
  EXPECT_EQ(S_OK, x.GetInputConnector(1, &type));
  EXPECT_EQ(PhysConn_Video_Tuner, type);
  orv::media::ClearJournal();
  x.RouteInput(1);
  EXPECT_EQ((std::vector<std::string>{"Crossbar0.Route(0,1)", "Crossbar0.Route(1,3)"}), Calls("Crossbar0.Route"));
}

TEST(Crossbar, LabelsFollowTheBufferSizeAndTheNameTable) {
  UseCard(R"({"crossbars": [{"inputs": [{"type": 1, "from": "tuner"}, {"type": 99}, {"type": 13}],
              "outputs": [{"type": 12}]}]})");
  GraphRig rig;
  CCrossbar x(rig.analogIn);
  EXPECT_EQ("Video", Label(x, 0, 6));
  EXPECT_EQ("", Label(x, 0, 1));
  EXPECT_EQ("Unknown", Label(x, 1));
  EXPECT_EQ("Video Encoder", Label(x, 2));
  EXPECT_EQ(E_FAIL, x.GetInputLabel(0, nullptr, 10));
  EXPECT_EQ("<E_FAIL>", Label(x, 3));
  EXPECT_EQ("<E_FAIL>", Label(x, -1));
  EXPECT_STREQ("Audio SPDIFDigital", CCrossbar::ConnectorName(0x1004));
  EXPECT_STREQ("Unknown", CCrossbar::ConnectorName(0x100A));
  EXPECT_STREQ("Unknown", CCrossbar::ConnectorName(0));
}

TEST(Crossbar, UnconnectedOrNonCrossbarStartGivesAnEmptyList) {
  for (const char* card : {R"({"crossbars": []})", R"({"crossbars": [], "analog_in_from": "tuner"})"}) {
    UseCard(card);
    GraphRig rig;
    ASSERT_NE(nullptr, rig.analogIn);
    CCrossbar x(rig.analogIn);
    LONG count = -1, type = 0;
    EXPECT_EQ(S_OK, x.CountInputs(&count));
    EXPECT_EQ(0, count);
    for (LONG i : {-1, 0, 1}) {
      EXPECT_EQ(E_FAIL, x.RouteInput(i));
      EXPECT_EQ(E_FAIL, x.GetInputConnector(i, &type));
      EXPECT_EQ("<E_FAIL>", Label(x, i));
    }
  }
}

TEST(Crossbar, EveryFilterIsReleasedAfterTheCrossbarAndTheGraph) {
  UseCard(kTwoCrossbars);
  const int before = orv::media::LiveFilters();
  {
    GraphRig rig;
    auto x = std::make_unique<CCrossbar>(rig.analogIn);
    EXPECT_EQ(before + 4, orv::media::LiveFilters());  // capture, two crossbars, tuner
    rig.graph.Reset();
    rig.builder.Reset();
    // The stored paths still hold both crossbars.
    EXPECT_EQ(before + 3, orv::media::LiveFilters());
    x.reset();
    EXPECT_EQ(before + 1, orv::media::LiveFilters());
  }
  EXPECT_EQ(before, orv::media::LiveFilters());
}

TEST(PathList, KeepsOrderAndCountAcrossReuseOfNodes) {
  CPathList list("RoutingList");
  CrossbarHop hops[8]{};
  EXPECT_EQ(nullptr, list.RemoveHead());
  for (int round = 0; round < 2; ++round) {
    for (auto& h : hops) ASSERT_TRUE(list.AddTail(&h));
    EXPECT_EQ(8, list.GetCount());
    EXPECT_EQ(&hops[5], list.GetAt(5));
    EXPECT_EQ(nullptr, list.GetAt(8));
    for (auto& h : hops) EXPECT_EQ(&h, list.RemoveHead());
    EXPECT_EQ(0, list.GetCount());
    EXPECT_EQ(nullptr, list.GetAt(0));
  }
  EXPECT_STREQ("RoutingList", list.GetName());
}

}  // namespace
