// Path search and routing over virtual cards of several shapes.
#include "capture/Crossbar.h"
#include "tests/media/mediarig.h"

#include <gtest/gtest.h>

using orv::test::Calls;
using orv::test::GraphRig;
using orv::test::UseCard;
using Strings = std::vector<std::string>;

namespace {

// Crossbar 1 (tuner, composite) feeds input 0 of crossbar 0, which also has its own S-Video input.
const char* kTwoCrossbars = R"({"crossbars": [
  {"inputs": [{"type": 9, "related": 2, "from": "crossbar1"}, {"type": 3, "related": 2},
              {"type": 4102, "related": 0, "from": "crossbar1:1"}],
   "outputs": [{"type": 12, "related": 1}, {"type": 4105, "related": 0}]},
  {"inputs": [{"type": 1, "related": 2, "from": "tuner"}, {"type": 2, "related": 3},
              {"type": 4096, "related": 0, "from": "tuner-audio"}, {"type": 4097, "related": 1}],
   "outputs": [{"type": 12, "related": 1}, {"type": 4105, "related": 0}]}]})";

std::string Label(CCrossbar& x, LONG index, LONG size = 260) {
  char buf[260] = "untouched";
  return x.GetInputLabel(index, buf, size) == S_OK ? buf : "<E_FAIL>";
}

// The picture inputs found, in order; the one routed; every route made, in order.
struct RouteCase { const char* card; Strings labels; LONG index; Strings routes; };

TEST(Crossbar, PathsAreFoundInOrderAndRoutedPictureFirstThenItsSoundUpstreamFirst) {
  const RouteCase cases[] = {
      // Sound inputs 3 (line) and 4 (tuner) are no paths of their own.
      {R"({"crossbars": [{"inputs": [{"type": 2, "related": 3}, {"type": 1, "related": 4, "from": "tuner"},
           {"type": 3, "related": 3}, {"type": 4097, "related": 0}, {"type": 4096, "related": 1}],
           "outputs": [{"type": 12, "related": 1}, {"type": 4105, "related": 0}]}]})",
       {"Video Composite", "Video Tuner", "Video SVideo"}, 1, {"Crossbar0.Route(0,1)", "Crossbar0.Route(1,4)"}},
      // The input names no sound pin; then the output names none.
      {R"({"crossbars": [{"inputs": [{"type": 2}, {"type": 4097}], "outputs": [{"type": 12, "related": 1},
           {"type": 4105}]}]})",
       {"Video Composite"}, 0, {"Crossbar0.Route(0,0)"}},
      {R"({"crossbars": [{"inputs": [{"type": 2, "related": 1}, {"type": 4097, "related": 0}],
           "outputs": [{"type": 12, "related": -1}, {"type": 4105, "related": 0}]}]})",
       {"Video Composite"}, 0, {"Crossbar0.Route(0,0)"}},
      // Paths through crossbar 1 are found while searching crossbar 0's input 0, before its input 1.
      {kTwoCrossbars, {"Video Tuner", "Video Composite", "Video SVideo"}, 1,
       {"Crossbar1.Route(0,1)", "Crossbar1.Route(1,3)", "Crossbar0.Route(0,0)", "Crossbar0.Route(1,2)"}},
      {kTwoCrossbars, {"Video Tuner", "Video Composite", "Video SVideo"}, 2,
       {"Crossbar0.Route(0,1)", "Crossbar0.Route(1,2)"}},
      // A refused route is no path; the tuner upstream is no crossbar, so its path ends at the input.
      {R"({"crossbars": [{"inputs": [{"type": 3}, {"type": 1, "from": "tuner"}, {"type": 2}],
           "outputs": [{"type": 12}], "refuse": [[0, 1]]}]})",
       {"Video SVideo", "Video Composite"}, 1, {"Crossbar0.Route(0,2)"}},
      {"", {"Video SVideo", "Video Tuner", "Video Composite"}, 1, {"Crossbar0.Route(0,1)", "Crossbar0.Route(1,3)"}},
      // No crossbar at the analogue input, or none at all: no paths.
      {R"({"crossbars": []})", {}, 0, {}},
      {R"({"crossbars": [], "analog_in_from": "tuner"})", {}, 0, {}},
  };
  for (const RouteCase& c : cases) {
    SCOPED_TRACE(c.card);
    UseCard(c.card);
    GraphRig rig;
    ASSERT_NE(nullptr, rig.analogIn);
    CCrossbar x(rig.analogIn);
    LONG count = -1, type = 0;
    EXPECT_EQ(S_OK, x.CountInputs(&count));
    Strings labels;
    for (LONG i = 0; i < count; ++i) {
      labels.push_back(Label(x, i));
      EXPECT_EQ(S_OK, x.GetInputConnector(i, &type));
      EXPECT_EQ(labels.back(), CCrossbar::ConnectorName(type));
    }
    EXPECT_EQ(c.labels, labels);
    for (LONG beyond : {LONG{-1}, count}) {
      EXPECT_EQ(E_FAIL, x.GetInputConnector(beyond, &type));
      EXPECT_EQ("<E_FAIL>", Label(x, beyond));
      EXPECT_EQ(E_FAIL, x.RouteInput(beyond));
    }
    orv::media::ClearJournal();
    EXPECT_EQ(c.routes.empty() ? E_FAIL : S_OK, x.RouteInput(c.index));
    EXPECT_EQ(c.routes, Calls("Crossbar"));
  }
}

}  // namespace
