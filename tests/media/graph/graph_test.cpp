// The graph's start on one clock, and the preview's colour conversion.
#include "platform/media/graph/frameconverter.h"
#include "tests/media/mediarig.h"

#include <gtest/gtest.h>

namespace {

// A filter that records how the graph started it, and can refuse to start.
class StartProbe : public orv::media::FilterBase {
 public:
  explicit StartProbe(HRESULT result) : FilterBase(GUID_NULL, "Probe", "Probe"), m_result(result) {}
  int runs = 0, stops = 0;

 protected:
  HRESULT OnRun() override { return ++runs, m_result; }
  void OnStop() override { ++stops; }

 private:
  HRESULT m_result;
};

TEST(Graph, RunGivesEveryFilterOneMonotonicStartAndFailsWithAFilterThatCannotStart) {
  orv::test::ComScope com;
  for (const HRESULT refusal : {S_OK, static_cast<HRESULT>(0x80070010u) /* EBUSY */}) {
    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph)));
    // Filters start downstream first (last added first): the source that refuses starts last.
    ComPtr<StartProbe> src = new StartProbe(refusal), snk = new StartProbe(S_OK);
    ASSERT_EQ(S_OK, graph->AddFilter(static_cast<IBaseFilter*>(src.Get()), u"Source"));
    ASSERT_EQ(S_OK, graph->AddFilter(static_cast<IBaseFilter*>(snk.Get()), u"Sink"));
    ComPtr<IMediaControl> control;
    ASSERT_EQ(S_OK, control.QueryFrom(graph));
    const REFERENCE_TIME before = orv::media::MonotonicNow();
    EXPECT_EQ(refusal, control->Run());
    const REFERENCE_TIME after = orv::media::MonotonicNow();
    EXPECT_EQ(std::pair(1, 1), std::pair(src->runs, snk->runs));
    OAFilterState state = -1;
    control->GetState(0, &state);
    EXPECT_EQ(refusal == S_OK ? State_Running : State_Stopped, state);
    if (refusal == S_OK) {
      EXPECT_TRUE(before <= src->StreamStart() && src->StreamStart() <= after);
      EXPECT_EQ(src->StreamStart(), snk->StreamStart());
      // Running again changes nothing: the streams keep their zero.
      const REFERENCE_TIME zero = src->StreamStart();
      EXPECT_EQ(S_OK, control->Run());
      EXPECT_EQ(1, src->runs);
      EXPECT_EQ(zero, snk->StreamStart());
      EXPECT_EQ(S_OK, control->Stop());
    } else {
      // The sink that had started is stopped again; nothing is left running.
      EXPECT_EQ(std::tuple(1, State_Stopped, State_Stopped), std::tuple(snk->stops, snk->State(), src->State()));
    }
  }
}

TEST(FrameConversion, YuvColoursScaleIntoRgb32InEveryLayout) {
  // Left half 75% white, right half 75% red (Y, U, V), in each layout a card may send.
  constexpr int w = 16, h = 8;
  const BYTE white[3] = {180, 128, 128}, red[3] = {65, 100, 212};
  auto c = [&](int x, int k) { return x < w / 2 ? white[k] : red[k]; };
  std::vector<BYTE> yuy2, uyvy, luma, u, v, uv;
  for (int i = 0; i < w * h; i += 2) {  // pixel pairs, row by row; chroma from every other row
    const int x = i % w;
    yuy2.insert(yuy2.end(), {c(x, 0), c(x, 1), c(x, 0), c(x, 2)});
    uyvy.insert(uyvy.end(), {c(x, 1), c(x, 0), c(x, 2), c(x, 0)});
    luma.insert(luma.end(), {c(x, 0), c(x, 0)});
    if (i / w % 2 == 0) u.push_back(c(x, 1)), v.push_back(c(x, 2)), uv.insert(uv.end(), {c(x, 1), c(x, 2)});
  }
  auto planes = [&](std::vector<BYTE> a, const std::vector<BYTE>& b, const std::vector<BYTE>& c) {
    return a.insert(a.end(), b.begin(), b.end()), a.insert(a.end(), c.begin(), c.end()), a;
  };
  const std::pair<const GUID*, std::vector<BYTE>> layouts[] = {{&MEDIASUBTYPE_YUY2, yuy2}, {&MEDIASUBTYPE_UYVY, uyvy},
      {&MEDIASUBTYPE_I420, planes(luma, u, v)}, {&MEDIASUBTYPE_YV12, planes(luma, v, u)}, {&MEDIASUBTYPE_NV12, planes(luma, uv, {})}};
  for (const auto& [subtype, data] : layouts) {
    SCOPED_TRACE(orv::media::GuidName(*subtype));
    orv::media::FrameConverter conv;
    std::vector<std::uint32_t> out(64 * 32, 0);
    auto* rgb = reinterpret_cast<BYTE*>(out.data());
    ASSERT_TRUE(conv.Convert(*subtype, data.data(), data.size(), w, h, rgb, 64, 32, 64 * 4));
    const std::uint32_t left = out[16 * 64 + 5], right = out[16 * 64 + 60];
    for (auto [shift, white, red] : {std::tuple{16, 191, 191}, {8, 191, 0}, {0, 191, 0}}) {
      EXPECT_NEAR(white, (left >> shift) & 0xFF, 4);
      EXPECT_NEAR(red, (right >> shift) & 0xFF, 6);
    }
    // A frame too short for its size is refused.
    EXPECT_FALSE(conv.Convert(*subtype, data.data(), data.size() - 1, w, h, rgb, 64, 32, 64 * 4));
  }
}

}  // namespace
