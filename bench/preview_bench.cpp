// The live picture's cost per picture: the renderer's whole path (a card's 640x480 YUY2 picture
// handed to the renderer on the card's side, its window's pixels drawn on the user-interface side;
// deinterlaced on the renderer's own thread when asked) next to what libswscale alone needs for the
// same conversion, and bwdif with libswscale for the deinterlaced one, in the same run. Both are
// process CPU time per picture (every thread's), the median of several rounds; the ratio is the
// renderer's over the bare libraries'. Last, the virtual card's own drawing, against its frame period.
//
//   bench_preview [pictures per round]   (default 150)
#include "platform/media/graph/filterbase.h"
#include "platform/media/graph/frameconverter.h"
#include "platform/media/graph/graph.h"
#include "platform/media/devices/virtualsignal.h"
#include "platform/ui/qtwnd_p.h"

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

using namespace orv::media;

namespace {

constexpr int kWidth = 640, kHeight = 480, kDistinct = 8, kRounds = 5;

double CpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

// The card's pictures: its moving box, a field apart in the interlaced ones (bottom field first, as
// on 525 lines).
std::vector<std::vector<BYTE>> Pictures(bool interlaced) {
  PictureState s;
  s.input = PictureState::Input::Tuner;
  s.channel = 7;
  s.signal = true;
  s.fields = interlaced ? AM_FIELDS_BOTTOM_FIRST : AM_FIELDS_PROGRESSIVE;
  PictureGenerator g;
  std::vector<std::vector<BYTE>> out(kDistinct, std::vector<BYTE>(kWidth * kHeight * 2));
  for (int i = 0; i < kDistinct; ++i) g.DrawYUY2(s, i, out[i].data(), kWidth, kHeight);
  return out;
}

// A card whose decoder says its pictures are interlaced, bottom field first. It sends nothing
// itself: the benchmark hands the renderer its pictures.
class InterlacedCard : public FilterBase, public IAMAnalogVideoDecoder {
 public:
  InterlacedCard() : FilterBase(GUID_NULL, "BenchCard", "BenchCard") {
    AddPin({"Preview", PINDIR_OUTPUT, PIN_CATEGORY_PREVIEW, MEDIATYPE_Video, false, false, nullptr});
  }
  ORV_UNKNOWN_IMPL
  HRESULT get_NumberOfLines(LONG* lines) override { return *lines = 525, S_OK; }
  HRESULT get_HorizontalLocked(LONG* locked) override { return *locked = 1, S_OK; }
  HRESULT get_FieldOrder(AM_FIELD_ORDER* order) override { return *order = AM_FIELDS_BOTTOM_FIRST, S_OK; }

 protected:
  void* Lookup(REFIID riid) override {
    if (riid == IID_IAMAnalogVideoDecoder) return static_cast<IAMAnalogVideoDecoder*>(this);
    return FilterBase::Lookup(riid);
  }
};

class PaintCounter : public QObject {
 public:
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
};

// The renderer in a window of w x h on the offscreen platform, fed by the benchmark as the card's
// streaming thread would; each picture counts once the window has painted it.
class RendererPath {
 public:
  RendererPath(int w, int h, bool deinterlace) {
    m_owner.CreateEx(0, AfxRegisterWndClass(0), "bench", WS_POPUP, 0, 0, w, h, nullptr, 0);
    m_renderer = NewVideoRenderer();
    ComPtr<IVideoWindow> window;
    ComPtr<IVideoDeinterlace> deinterlacer;
    window.QueryFrom(m_renderer.Get());
    deinterlacer.QueryFrom(m_renderer.Get());
    window->put_Owner(reinterpret_cast<OAHWND>(m_owner.m_hWnd));
    window->SetWindowPosition(0, 0, w, h);
    window->put_Visible(OATRUE);
    deinterlacer->put_Deinterlace(deinterlace ? TRUE : FALSE);
    m_owner.ShowWindow(SW_SHOW);
    // Wakes the wait for a paint now and then, should one never come.
    m_tick.start(200);
    FilterBase* sink = AsFilterBase(m_renderer.Get());
    m_card->PinAt(0)->Connect(sink->PinAt(0), nullptr);
    m_input = sink->PinAt(0);
    const std::vector<HWND> children = orv::ui::ChildrenOf(m_owner.m_hWnd);
    if (!children.empty()) orv::ui::WidgetForHandle(children.front())->installEventFilter(&m_paints);
    m_renderer->Run(0);
    m_vih.bmiHeader = {sizeof(BITMAPINFOHEADER), kWidth, kHeight, 1, 16, MEDIASUBTYPE_YUY2.Data1, kWidth * kHeight * 2};
    m_type = {MEDIATYPE_Video, MEDIASUBTYPE_YUY2, TRUE, FALSE, 0, FORMAT_VideoInfo, nullptr, sizeof m_vih,
              reinterpret_cast<BYTE*>(&m_vih)};
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
  }
  ~RendererPath() {
    m_renderer->Stop();
    m_card->PinAt(0)->Disconnect();
    m_input->Disconnect();
    m_owner.DestroyWindow();
  }
  bool Show(const std::vector<BYTE>& picture) {
    const int before = m_paints.paints;
    AsFilterBase(m_renderer.Get())->Receive(m_input, {picture.data(), picture.size(), 0, 1, &m_type});
    QElapsedTimer waited;
    waited.start();
    while (m_paints.paints == before) {
      if (waited.elapsed() > 5000) return false;
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
  }

 private:
  CWnd m_owner;
  ComPtr<InterlacedCard> m_card = new InterlacedCard;
  ComPtr<IBaseFilter> m_renderer;
  PinBase* m_input = nullptr;
  PaintCounter m_paints;
  QTimer m_tick;
  VIDEOINFOHEADER m_vih{};
  AM_MEDIA_TYPE m_type{};
};

// libswscale alone: each picture into a buffer of the window's size.
class BareScaler {
 public:
  BareScaler(int w, int h, AVPixelFormat from) : m_w(w), m_h(h), m_out(static_cast<std::size_t>(w) * h) {
    m_ctx = sws_getContext(kWidth, kHeight, from, w, h, AV_PIX_FMT_RGB32, PreviewScalerFlags(kWidth, w), nullptr,
                           nullptr, nullptr);
  }
  ~BareScaler() { sws_freeContext(m_ctx); }
  bool Scale(const std::uint8_t* const planes[], const int strides[]) {
    std::uint8_t* out[4] = {reinterpret_cast<std::uint8_t*>(m_out.data())};
    const int outStrides[4] = {m_w * 4};
    return m_ctx && sws_scale(m_ctx, planes, strides, 0, kHeight, out, outStrides) == m_h;
  }

 private:
  int m_w, m_h;
  std::vector<std::uint32_t> m_out;
  SwsContext* m_ctx = nullptr;
};

// bwdif alone (libavfilter turning the packed picture into planes for it), then libswscale.
class BareDeinterlacer {
 public:
  BareDeinterlacer(int w, int h, const std::vector<std::vector<BYTE>>& pictures) : m_scaler(w, h, AV_PIX_FMT_YUV422P) {
    m_graph = avfilter_graph_alloc();
    m_graph->nb_threads = 1;
    char args[128];
    std::snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=1/25:pixel_aspect=1/1", kWidth, kHeight,
                  AV_PIX_FMT_YUYV422);
    AVFilterContext* bwdif = nullptr;
    const AVPixelFormat planar[] = {AV_PIX_FMT_YUV422P, AV_PIX_FMT_NONE};
    avfilter_graph_create_filter(&m_source, avfilter_get_by_name("buffer"), "in", args, nullptr, m_graph);
    avfilter_graph_create_filter(&bwdif, avfilter_get_by_name("bwdif"), "bwdif", "mode=send_frame:parity=bff:deint=all",
                                 nullptr, m_graph);
    avfilter_graph_create_filter(&m_sink, avfilter_get_by_name("buffersink"), "out", nullptr, nullptr, m_graph);
    av_opt_set_int_list(m_sink, "pix_fmts", planar, AV_PIX_FMT_NONE, AV_OPT_SEARCH_CHILDREN);
    m_ok = avfilter_link(m_source, 0, bwdif, 0) >= 0 && avfilter_link(bwdif, 0, m_sink, 0) >= 0 &&
           avfilter_graph_config(m_graph, nullptr) >= 0;
    // Reference-counted frames made once: the filter reads them where they are.
    for (const auto& p : pictures) {
      AVFrame* f = av_frame_alloc();
      f->format = AV_PIX_FMT_YUYV422, f->width = kWidth, f->height = kHeight;
      av_frame_get_buffer(f, 0);
      av_image_copy_plane(f->data[0], f->linesize[0], p.data(), kWidth * 2, kWidth * 2, kHeight);
      m_pictures.push_back(f);
    }
    m_in = av_frame_alloc();
    m_out = av_frame_alloc();
  }
  ~BareDeinterlacer() {
    for (AVFrame*& f : m_pictures) av_frame_free(&f);
    av_frame_free(&m_in);
    av_frame_free(&m_out);
    avfilter_graph_free(&m_graph);
  }
  bool Show(int i) {
    if (!m_ok || av_frame_ref(m_in, m_pictures[i % m_pictures.size()]) < 0) return false;
    m_in->pts = m_pts++;
    if (av_buffersrc_add_frame(m_source, m_in) < 0) return false;
    if (av_buffersink_get_frame(m_sink, m_out) < 0) return true;  // filling up
    const bool ok = m_scaler.Scale(m_out->data, m_out->linesize);
    av_frame_unref(m_out);
    return ok;
  }

 private:
  BareScaler m_scaler;
  AVFilterGraph* m_graph = nullptr;
  AVFilterContext* m_source = nullptr;
  AVFilterContext* m_sink = nullptr;
  std::vector<AVFrame*> m_pictures;
  AVFrame* m_in = nullptr;
  AVFrame* m_out = nullptr;
  long long m_pts = 0;
  bool m_ok = false;
};

// Milliseconds of CPU per picture for n pictures; negative when a picture failed.
double PerPicture(int n, const std::function<bool(int)>& show) {
  const double start = CpuSeconds();
  for (int i = 0; i < n; ++i)
    if (!show(i)) return -1;
  return (CpuSeconds() - start) * 1000 / n;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  const int n = argc > 1 ? std::max(10, std::atoi(argv[1])) : 150;
  std::printf("%d pictures of 640x480 YUY2 per round, median of %d rounds; ms of CPU per picture\n\n", n, kRounds);
  std::printf("%-22s %10s %10s %7s\n", "case", "renderer", "bare", "ratio");
  bool allWithin = true;
  for (const bool deinterlace : {false, true}) {
    const std::vector<std::vector<BYTE>> pictures = Pictures(deinterlace);
    for (const auto [w, h] : {std::pair{640, 480}, std::pair{1280, 1024}}) {
      std::vector<double> path, bare;
      for (int round = 0; round < kRounds; ++round) {
        {
          RendererPath renderer(w, h, deinterlace);
          renderer.Show(pictures[0]);  // the window's first paint and the filter's first picture
          path.push_back(PerPicture(n, [&](int i) { return renderer.Show(pictures[i % kDistinct]); }));
        }
        if (deinterlace) {
          BareDeinterlacer reference(w, h, pictures);
          reference.Show(0);
          bare.push_back(PerPicture(n, [&](int i) { return reference.Show(i); }));
        } else {
          BareScaler reference(w, h, AV_PIX_FMT_YUYV422);
          const int strides[4] = {kWidth * 2};
          bare.push_back(PerPicture(n, [&](int i) {
            const std::uint8_t* planes[4] = {pictures[i % kDistinct].data()};
            return reference.Scale(planes, strides);
          }));
        }
      }
      const double p = Median(path), b = Median(bare);
      if (p < 0 || b <= 0) {
        std::printf("%dx%d%s: a picture did not arrive\n", w, h, deinterlace ? " deinterlaced" : "");
        return 1;
      }
      const std::string name = std::to_string(w) + "x" + std::to_string(h) + (deinterlace ? " deinterlaced" : "");
      std::printf("%-22s %10.3f %10.3f %7.2f\n", name.c_str(), p, b, p / b);
      allWithin = allWithin && p / b <= 1.2;
    }
  }
  // The virtual card draws each picture on its streaming thread: snow anew every time, a channel with
  // a signal as a kept picture and its moving box.
  std::vector<BYTE> frame(kWidth * kHeight * 2);
  const double period = 1000.0 / 14.99;
  std::printf("\n");
  for (const bool signal : {false, true}) {
    PictureState s;
    s.input = PictureState::Input::Tuner, s.channel = 8, s.signal = signal;
    PictureGenerator generator;
    std::vector<double> draw;
    for (int round = 0; round < kRounds; ++round)
      draw.push_back(PerPicture(n, [&](int i) { return generator.DrawYUY2(s, i, frame.data(), kWidth, kHeight), true; }));
    std::printf("virtual card's %-9s %.3f ms a picture, %.2f %% of its frame period\n", signal ? "channel:" : "snow:",
                Median(draw), 100 * Median(draw) / period);
  }
  std::printf("%s\n", allWithin ? "every ratio within 1.2" : "a ratio above 1.2");
  return allWithin ? 0 : 1;
}
