// The graph's start on one clock, and the preview: colour conversion, deinterlacing, giving way.
#include "platform/media/writer/testing.h"
#include "platform/media/devices/virtualsignal.h"
#include "platform/media/graph/frameconverter.h"
#include "platform/media/graph/graph.h"
#include "platform/ui/qtwnd_p.h"
#include "tests/media/mediarig.h"
#include "tests/support/uitest.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <atomic>
#include <thread>
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
  // Windows larger, of the same size, smaller, and odd or not a multiple of 8 wide, each in rows
  // longer than itself whose other pixels (a neighbour's, in a top-level's buffer) stay as they were.
  constexpr std::uint32_t kNeighbour = 0x00123456;
  const std::pair<int, int> windows[] = {{64, 32}, {16, 8}, {8, 4}, {61, 29}, {13, 7}};
  for (const auto& [subtype, data] : layouts) {
    SCOPED_TRACE(orv::media::GuidName(*subtype));
    orv::media::PicturePool pool;
    orv::media::PreviewPicture picture;
    orv::media::FrameConverter conv;
    ASSERT_TRUE(pool.Copy(*subtype, data.data(), data.size(), w, h, &picture));
    for (const auto& [ww, wh] : windows) {
      SCOPED_TRACE(std::to_string(ww) + "x" + std::to_string(wh));
      const int stride = ww + 11;
      std::vector<std::uint32_t> out(static_cast<std::size_t>(stride) * wh, kNeighbour);
      ASSERT_TRUE(conv.Convert(picture, reinterpret_cast<BYTE*>(out.data()), ww, wh, stride * 4));
      for (const int y : {wh / 2, wh - 1}) {
        const std::uint32_t left = out[y * stride], right = out[y * stride + ww - 1];
        for (auto [shift, white, red] : {std::tuple{16, 191, 191}, {8, 191, 0}, {0, 191, 0}}) {
          EXPECT_NEAR(white, (left >> shift) & 0xFF, 4) << "row " << y;
          EXPECT_NEAR(red, (right >> shift) & 0xFF, 6) << "row " << y;
        }
      }
      // Opaque: the pixels may go straight into a window buffer with premultiplied alpha.
      for (int y = 0; y < wh; ++y)
        for (int x = 0; x < stride; ++x) {
          const std::uint32_t p = out[y * stride + x];
          if (x < ww)
            ASSERT_EQ(0xFFu, p >> 24) << x << "," << y;
          else
            ASSERT_EQ(kNeighbour, p) << x << "," << y;
        }
    }
    // A frame too short for its size is refused and leaves nothing to show.
    std::vector<std::uint32_t> out(64 * 32);
    EXPECT_FALSE(pool.Copy(*subtype, data.data(), data.size() - 1, w, h, &picture));
    EXPECT_FALSE(conv.Convert(picture, reinterpret_cast<BYTE*>(out.data()), 64, 32, 64 * 4));
  }
}

// How far each line of a 32-bit RGB picture's green departs from the mean of its neighbours, over
// the rows from..to: the comb of two fields that show different instants.
double Combing(const std::vector<std::uint32_t>& f, int w, int from, int to) {
  double sum = 0;
  for (int y = from; y < to; ++y)
    for (int x = 0; x < w; ++x) {
      const auto green = [&](int row) { return static_cast<double>((f[static_cast<std::size_t>(row) * w + x] >> 8) & 0xFF); };
      sum += std::abs(green(y) - (green(y - 1) + green(y + 1)) / 2);
    }
  return sum / ((to - from) * w);
}

// The virtual card's interlaced picture (its moving box a field apart) through the deinterlacer and
// into RGB of its own size, as the window gets it: the first field's lines stay as they were, the
// later field's are rebuilt without the comb.
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
    orv::media::PicturePool pool;
    orv::media::Deinterlacer deinterlacer;
    orv::media::FrameConverter conv;
    orv::media::PreviewPicture in, out, plain;
    std::vector<BYTE> frame(w * h * 2);
    std::vector<std::uint32_t> rgbIn(w * h), before, rgbOut(w * h), rgbPlain(w * h);
    auto toRgb = [&](const orv::media::PreviewPicture& p, std::vector<std::uint32_t>* rgb) {
      return conv.Convert(p, reinterpret_cast<BYTE*>(rgb->data()), w, h, w * 4);
    };
    int outputs = 0;
    for (int i = 0; i < 6; ++i, before = rgbIn) {
      card.DrawYUY2(s, i, frame.data(), w, h);
      ASSERT_TRUE(pool.Copy(MEDIASUBTYPE_YUY2, frame.data(), frame.size(), w, h, &in));
      ASSERT_TRUE(toRgb(in, &rgbIn));
      if (!deinterlacer.Process(in, order == AM_FIELDS_TOP_FIRST, &out)) continue;
      ++outputs;  // a frame late: the one before
      ASSERT_TRUE(toRgb(out, &rgbOut));
      flat.DrawYUY2(progressive, i - 1, frame.data(), w, h);
      ASSERT_TRUE(pool.Copy(MEDIASUBTYPE_YUY2, frame.data(), frame.size(), w, h, &plain) && toRgb(plain, &rgbPlain));
      EXPECT_GT(Combing(before, w, top, top + box), 3 * Combing(rgbPlain, w, top, top + box)) << "the card's picture is combed";
      EXPECT_LT(Combing(rgbOut, w, top, top + box), Combing(before, w, top, top + box) / 4);
      // Kept lines, right way up: the packed and the planar picture convert alike to within rounding.
      for (int y = kept; y < h; y += 2)
        for (int x = 0; x < w; ++x)
          for (int shift : {0, 8, 16})
            ASSERT_NEAR((before[y * w + x] >> shift) & 0xFF, (rgbOut[y * w + x] >> shift) & 0xFF, 3) << x << "," << y;
    }
    EXPECT_EQ(5, outputs);
  }
  // What it cannot take passes by.
  orv::media::PicturePool pool;
  orv::media::Deinterlacer deinterlacer;
  orv::media::PreviewPicture jpeg, out;
  std::vector<BYTE> frame(64 * 48 * 2);
  ASSERT_TRUE(pool.Copy(MEDIASUBTYPE_MJPG, frame.data(), frame.size(), 64, 48, &jpeg));
  EXPECT_FALSE(deinterlacer.Process(jpeg, true, &out));
  EXPECT_TRUE(out.Empty());
}

// The renderer in a window of its own owner, fed by the test as a card's streaming thread would.
// Upstream sits the virtual card (not running), whose decoder tells how its pictures are interlaced.
struct RendererRig : orv::test::GraphRig {
  RendererRig(int w, int h, bool deinterlace) : owner(0, WS_POPUP, {0, 0, w, h}) {
    renderer = orv::media::NewVideoRenderer();
    EXPECT_EQ(S_OK, graph->AddFilter(renderer, u"Renderer"));
    sink = orv::media::AsFilterBase(renderer);
    EXPECT_EQ(S_OK, graph->ConnectDirect(orv::media::AsFilterBase(capture)->FindPin(PINDIR_OUTPUT, PIN_CATEGORY_PREVIEW),
                                         sink->PinAt(0), nullptr));
    ComPtr<IVideoWindow> window;
    ComPtr<IVideoDeinterlace> deinterlacer;
    EXPECT_EQ(S_OK, window.QueryFrom(renderer.Get()));
    EXPECT_EQ(S_OK, deinterlacer.QueryFrom(renderer.Get()));
    window->put_Owner(reinterpret_cast<OAHWND>(owner.m_hWnd));
    window->SetWindowPosition(0, 0, w, h);
    window->put_Visible(OATRUE);
    deinterlacer->put_Deinterlace(deinterlace ? TRUE : FALSE);
    owner.ShowWindow(SW_SHOW);
    EXPECT_EQ(S_OK, renderer->Run(0));  // the renderer alone: the card sends nothing
    vih.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 16, MEDIASUBTYPE_YUY2.Data1, static_cast<DWORD>(w * h * 2)};
    type = {MEDIATYPE_Video, MEDIASUBTYPE_YUY2, TRUE, FALSE, 0, FORMAT_VideoInfo, nullptr, sizeof vih,
            reinterpret_cast<BYTE*>(&vih)};
  }
  ~RendererRig() { renderer->Stop(); }
  void Send(const std::vector<BYTE>& yuy2) { sink->Receive(sink->PinAt(0), {yuy2.data(), yuy2.size(), 0, 1, &type}); }
  // What the owner shows, drawn as it is on the screen.
  QImage Screen() {
    orv::ui::WidgetForHandle(orv::ui::ChildrenOf(owner.m_hWnd).front())->repaint();
    return QGuiApplication::primaryScreen()->grabWindow(orv::ui::WidgetForHandle(owner.m_hWnd)->winId()).toImage();
  }
  orv::test::RecordingWnd owner;
  ComPtr<IBaseFilter> renderer;
  orv::media::FilterBase* sink = nullptr;
  VIDEOINFOHEADER vih{};
  AM_MEDIA_TYPE type{};
};

// Pictures handed over while the window paints as fast as it can: every paint shows one whole
// picture, never parts of two.
TEST(Renderer, EveryPaintShowsOneWholePicture) {
  constexpr int w = 640, h = 480;
  RendererRig rig(w, h, false);
  std::vector<BYTE> dark(w * h * 2, 128), light(w * h * 2, 128);
  for (std::size_t i = 0; i < dark.size(); i += 2) dark[i] = 40, light[i] = 200;
  ASSERT_TRUE(orv::test::PumpUntil([&] { return rig.Screen().size() == QSize(w, h); }));
  std::atomic<bool> done{false};
  std::thread card([&] {
    for (int i = 0; !done; ++i) rig.Send(i % 2 ? light : dark);
  });
  int paints = 0, whole = 0;
  for (; paints < 100; ++paints) {
    const QImage img = rig.Screen();
    // One grey all over, to within the scaler's rounding (dark and light lie 170 apart).
    const int first = qGreen(img.pixel(0, 0));
    bool same = true;
    for (int y = 0; y < h && same; y += 3)
      for (int x = 0; x < w && same; x += 5) same = std::abs(qGreen(img.pixel(x, y)) - first) <= 8;
    whole += same;
  }
  done = true;
  card.join();
  EXPECT_EQ(paints, whole);
}

// The virtual card's interlaced picture (bottom field first, its box a field apart) deinterlaced on
// its way to the window: right way up, the box's edges line up from row to row again.
TEST(Renderer, TheDeinterlacedPictureShowsRightWayUpWithoutTheComb) {
  constexpr int w = 640, h = 480, top = h / 8, box = h / 10;
  RendererRig rig(w, h, true);
  orv::media::PictureState s;
  s.input = orv::media::PictureState::Input::Tuner, s.signal = true, s.channel = 7, s.fields = AM_FIELDS_BOTTOM_FIRST;
  orv::media::PictureGenerator card;
  std::vector<BYTE> frame(w * h * 2);
  // The box's left edge on a row: the first light pixel.
  auto edge = [](const QImage& img, int y) {
    for (int x = 0; x < img.width(); ++x)
      if (qGreen(img.pixel(x, y)) > 200) return x;
    return -1;
  };
  // As the card sends it, the rows of the two fields start a field's move (6 pixels) apart.
  auto lumaEdge = [&](int y) {
    for (int x = 0; x < w; ++x)
      if (frame[(y * w + x) * 2] > 200) return x;
    return -1;
  };
  auto combless = [&](const QImage& img) {
    for (int y = top + 1; y + 1 < top + box; ++y)
      if (edge(img, y) < 0 || std::abs(edge(img, y) - edge(img, y + 1)) > 2) return false;
    return true;
  };
  // libavfilter is loaded after the first picture (which shows as it came): the pictures are
  // deinterlaced from then on.
  QImage img;
  int sent = 0;
  ASSERT_TRUE(orv::test::PumpUntil([&] {
    card.DrawYUY2(s, sent++, frame.data(), w, h);
    rig.Send(frame);
    return img = rig.Screen(), combless(img);
  }));
  ASSERT_EQ(6, std::abs(lumaEdge(top + 1) - lumaEdge(top + 2)));
  for (int y = top + 1; y + 1 < top + box; ++y) EXPECT_NEAR(edge(img, y), edge(img, y + 1), 2) << y;
  // The colour bars at the bottom, the channel's background above.
  EXPECT_GT(qRed(img.pixel(5, h - 5)), 150);
  EXPECT_LT(qRed(img.pixel(5, 5)), 150);
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
