// The graph's start on one clock, and the preview: colour conversion, deinterlacing, giving way.
#include "platform/media/writer/testing.h"
#include "platform/media/devices/virtualsignal.h"
#include "platform/media/graph/frameconverter.h"
#include "platform/media/graph/graph.h"
#include "tests/media/mediarig.h"

#include <cstdlib>
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
  for (const HRESULT refusal : {S_OK, static_cast<HRESULT>(0x80070010u) /* EBUSY */}) {
    orv::test::EmptyGraph rig;
    // Filters start downstream first (last added first): the source that refuses starts last.
    ComPtr<StartProbe> src = new StartProbe(refusal), snk = new StartProbe(S_OK);
    ASSERT_EQ(S_OK, rig.graph->AddFilter(static_cast<IBaseFilter*>(src.Get()), u"Source"));
    ASSERT_EQ(S_OK, rig.graph->AddFilter(static_cast<IBaseFilter*>(snk.Get()), u"Sink"));
    const REFERENCE_TIME before = orv::media::MonotonicNow();
    EXPECT_EQ(refusal, rig.control->Run());
    const REFERENCE_TIME after = orv::media::MonotonicNow();
    EXPECT_EQ(std::pair(1, 1), std::pair(src->runs, snk->runs));
    OAFilterState state = -1;
    rig.control->GetState(0, &state);
    EXPECT_EQ(refusal == S_OK ? State_Running : State_Stopped, state);
    if (refusal == S_OK) {
      EXPECT_TRUE(before <= src->StreamStart() && src->StreamStart() <= after);
      EXPECT_EQ(src->StreamStart(), snk->StreamStart());
      // Running again changes nothing: the streams keep their zero.
      const REFERENCE_TIME zero = src->StreamStart();
      EXPECT_EQ(S_OK, rig.control->Run());
      EXPECT_EQ(1, src->runs);
      EXPECT_EQ(zero, snk->StreamStart());
      EXPECT_EQ(S_OK, rig.control->Stop());
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

// How far each line of a YUY2 picture's luma departs from the mean of its neighbours, over the rows
// from..to: the comb of two fields that show different instants.
double Combing(const std::vector<BYTE>& f, int w, int from, int to) {
  double sum = 0;
  for (int y = from; y < to; ++y)
    for (int x = 0; x < w; ++x) {
      const auto luma = [&](int row) { return static_cast<double>(f[(static_cast<std::size_t>(row) * w + x) * 2]); };
      sum += std::abs(luma(y) - (luma(y - 1) + luma(y + 1)) / 2);
    }
  return sum / ((to - from) * w);
}

// The virtual card's interlaced picture (its moving box a field apart) through the deinterlacer:
// the first field's lines stay as they were, the later field's are rebuilt without the comb.
TEST(Deinterlacing, TheCombOfAMovingPictureGoesAndTheFirstFieldStays) {
  using orv::media::PictureState;
  constexpr int w = 320, h = 240, top = h / 8, box = h / 10;
  for (const auto& [order, kept] : {std::pair{AM_FIELDS_TOP_FIRST, 0}, std::pair{AM_FIELDS_BOTTOM_FIRST, 1}}) {
    SCOPED_TRACE(order);
    PictureState s;
    s.input = PictureState::Input::Tuner, s.signal = true, s.channel = 7, s.fields = order;
    PictureState progressive = s;
    progressive.fields = AM_FIELDS_PROGRESSIVE;
    orv::media::PictureGenerator card, flat;
    std::vector<BYTE> plain(w * h * 2);
    orv::media::Deinterlacer deinterlacer;
    std::vector<BYTE> in(w * h * 2), before, out;
    int outputs = 0;
    for (int i = 0; i < 6; ++i, before = in) {
      card.DrawYUY2(s, i, in.data(), w, h);
      if (!deinterlacer.Process(MEDIASUBTYPE_YUY2, in.data(), in.size(), w, h, order == AM_FIELDS_TOP_FIRST, &out))
        continue;
      ++outputs;  // a frame late: the one before
      ASSERT_EQ(in.size(), out.size());
      flat.DrawYUY2(progressive, i - 1, plain.data(), w, h);
      EXPECT_GT(Combing(before, w, top, top + box), 3 * Combing(plain, w, top, top + box)) << "the card's picture is combed";
      EXPECT_LT(Combing(out, w, top, top + box), Combing(before, w, top, top + box) / 4);
      for (int y = kept; y < h; y += 2)
        ASSERT_TRUE(std::equal(out.begin() + y * w * 2, out.begin() + (y + 1) * w * 2, before.begin() + y * w * 2)) << y;
    }
    EXPECT_EQ(5, outputs);
  }
  // What it cannot take passes by.
  orv::media::Deinterlacer deinterlacer;
  std::vector<BYTE> frame(64 * 48 * 2), out;
  EXPECT_FALSE(deinterlacer.Process(MEDIASUBTYPE_MJPG, frame.data(), frame.size(), 64, 48, true, &out));
  EXPECT_FALSE(deinterlacer.Process(MEDIASUBTYPE_YUY2, frame.data(), frame.size() - 1, 64, 48, true, &out));
}

// While a writer is behind, the live picture leaves frames out; how many is said when it stops.
TEST(Renderer, ThePreviewGivesWayWhileAWriterIsBehind) {
  orv::test::EmptyGraph rig;
  ComPtr<IBaseFilter> renderer = orv::media::NewVideoRenderer();
  ASSERT_EQ(S_OK, rig.graph->AddFilter(renderer, u"Renderer"));
  VIDEOINFOHEADER vih{};
  vih.bmiHeader = {sizeof(BITMAPINFOHEADER), 64, 48, 1, 16, MEDIASUBTYPE_YUY2.Data1, 64 * 48 * 2};
  AM_MEDIA_TYPE mt{MEDIATYPE_Video, MEDIASUBTYPE_YUY2, TRUE, FALSE, 0, FORMAT_VideoInfo, nullptr, sizeof vih,
                   reinterpret_cast<BYTE*>(&vih)};
  std::vector<BYTE> picture(64 * 48 * 2, 128);
  orv::media::FilterBase* sink = orv::media::AsFilterBase(renderer);
  // said: at the stop that follows.
  struct Step { bool behind; int frames; const char* said; } steps[] = {{false, 4, ""}, {true, 3, "3 frames not shown"}, {false, 2, ""}};
  for (const Step& step : steps) {
    ASSERT_EQ(S_OK, rig.control->Run());
    orv::media::SetWritersBehindForTests(step.behind);
    for (int i = 0; i < step.frames; ++i) sink->Receive(sink->PinAt(0), {picture.data(), picture.size(), 0, 1, &mt});
    orv::media::SetWritersBehindForTests(false);
    testing::internal::CaptureStderr();
    rig.control->Stop();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(*step.said != 0, said.find(step.said) != std::string::npos && !said.empty()) << said;
  }
}

}  // namespace
