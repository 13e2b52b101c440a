// The real-card code on a driver the test plays (tests/media/fakev4l2.h): the picture formats a
// card offers stored and shown the right way up, the TV standard per input, streams that cannot
// start, fields woven into frames, frame counts that match the file, and a tuner's lingering lock.
#include "platform/media/graph/filterbase.h"
#include "platform/media/graph/frameconverter.h"
#include "platform/media/devices/testing.h"
#include "tests/media/fakev4l2.h"
#include "tests/support/testenv.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

using namespace orv::media;
using orv::test::FakeV4l2;

namespace {

constexpr std::uint32_t Tag(const char (&s)[5]) {
  return static_cast<std::uint32_t>(s[0]) | static_cast<std::uint32_t>(s[1]) << 8 |
         static_cast<std::uint32_t>(s[2]) << 16 | static_cast<std::uint32_t>(s[3]) << 24;
}
constexpr HRESULT Errno(int e) { return static_cast<HRESULT>(0x80070000u | static_cast<unsigned>(e)); }

// Keeps every sample that reaches it.
class KeepSink : public FilterBase {
 public:
  KeepSink() : FilterBase(GUID_NULL, "Keep", "Keep") {
    AddPin({"In", PINDIR_INPUT, GUID_NULL, GUID_NULL, false, false, nullptr});
  }
  ORV_UNKNOWN_IMPL
  void Receive(PinBase*, const MediaSample& s) override {
    std::lock_guard lock(mutex);
    frames.emplace_back(s.data, s.data + s.size);
    starts.push_back(s.start);
    if (s.type) {
      subtype = s.type->subtype;
      vih = *reinterpret_cast<const VIDEOINFOHEADER*>(s.type->pbFormat);
    }
  }
  std::mutex mutex;
  std::vector<std::vector<BYTE>> frames;
  std::vector<REFERENCE_TIME> starts;
  GUID subtype = GUID_NULL;
  VIDEOINFOHEADER vih{};
};

// The capture filter of the played card in a graph, its crossbar and tuner brought upstream.
struct SeamRig {
  explicit SeamRig(FakeV4l2& fake) {
    CoInitialize(nullptr);
    CoCreateInstance(CLSID_CaptureGraphBuilder, nullptr, CLSCTX_INPROC, IID_PPV_ARGS(&builder));
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_PPV_ARGS(&graph));
    builder->SetFiltergraph(graph);
    hr = CreateV4l2Capture({"/dev/video9", 9, "fake:9", "Played card"}, fake.Calls(), &capture);
    if (FAILED(hr)) return;
    graph->AddFilter(capture, nullptr);
    builder->FindInterface(&PIN_CATEGORY_CAPTURE, capture, IID_PPV_ARGS(&config));
    builder->FindInterface(&PIN_CATEGORY_CAPTURE, capture, IID_PPV_ARGS(&crossbar));
    control.QueryFrom(graph);
  }
  ~SeamRig() {
    if (control) control->Stop();
    sinks.clear();
    control.Reset();
    crossbar.Reset();
    config.Reset();
    mux.Reset();
    capture.Reset();
    graph.Reset();
    builder.Reset();
    CoUninitialize();
  }
  PinBase* Pin(const GUID& category) { return AsFilterBase(capture)->FindPin(PINDIR_OUTPUT, category); }
  KeepSink* Keep(const GUID& category) {
    auto* sink = new KeepSink;
    sinks.emplace_back(static_cast<IBaseFilter*>(sink));
    EXPECT_EQ(S_OK, graph->AddFilter(sinks.back(), nullptr));
    EXPECT_EQ(S_OK, graph->ConnectDirect(Pin(category), sink->PinAt(0), nullptr));
    return sink;
  }
  void RecordTo(const std::string& path) {
    ComPtr<IFileSinkFilter> file;
    ASSERT_EQ(S_OK, builder->SetOutputFileName(&MEDIASUBTYPE_Avi, Widen(path).c_str(), &mux, &file));
    ASSERT_EQ(S_OK, builder->RenderStream(&PIN_CATEGORY_CAPTURE, capture, nullptr, mux));
  }
  VIDEOINFOHEADER Format() {
    AM_MEDIA_TYPE* mt = nullptr;
    VIDEOINFOHEADER vih{};
    if (config && config->GetFormat(&mt) == S_OK) {
      vih = *reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
      DeleteMediaType(mt);
    }
    return vih;
  }
  void SetRate(REFERENCE_TIME avgTimePerFrame) {
    AM_MEDIA_TYPE* mt = nullptr;
    ASSERT_EQ(S_OK, config->GetFormat(&mt));
    reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat)->AvgTimePerFrame = avgTimePerFrame;
    EXPECT_EQ(S_OK, config->SetFormat(mt));
    DeleteMediaType(mt);
  }
  void Counts(LONG* captured, LONG* dropped) {
    ComPtr<IAMDroppedFrames> counts;
    ASSERT_EQ(S_OK, counts.QueryFrom(capture));
    counts->GetNumNotDropped(captured);
    counts->GetNumDropped(dropped);
  }

  HRESULT hr = S_OK;
  ComPtr<ICaptureGraphBuilder> builder;
  ComPtr<IGraphBuilder> graph;
  ComPtr<IBaseFilter> capture, mux;
  ComPtr<IAMStreamConfig> config;
  ComPtr<IAMCrossbar> crossbar;
  ComPtr<IMediaControl> control;
  std::vector<ComPtr<IBaseFilter>> sinks;
};

// An AVI file's picture stream as libavformat and libavcodec read it.
struct ReadBack {
  std::uint32_t tag = 0;
  int width = 0, height = 0;
  int pictures = 0;        // chunks that hold a picture (empty ones keep the time of missed frames)
  std::vector<BYTE> luma;  // the first picture as 8-bit grey, top row first
};
ReadBack ReadAvi(const std::string& path) {
  ReadBack out;
  AVFormatContext* ctx = nullptr;
  if (avformat_open_input(&ctx, path.c_str(), nullptr, nullptr) < 0) return out;
  avformat_find_stream_info(ctx, nullptr);
  const int stream = av_find_best_stream(ctx, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  AVCodecContext* dec = nullptr;
  if (stream >= 0) {
    const AVCodecParameters* par = ctx->streams[stream]->codecpar;
    out.tag = par->codec_tag;
    out.width = par->width;
    out.height = par->height;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    dec = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (dec && (avcodec_parameters_to_context(dec, par) < 0 || avcodec_open2(dec, codec, nullptr) < 0))
      avcodec_free_context(&dec);
  }
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  while (stream >= 0 && av_read_frame(ctx, pkt) >= 0) {
    if (pkt->stream_index == stream && pkt->size > 0) {
      ++out.pictures;
      if (out.luma.empty() && dec && avcodec_send_packet(dec, pkt) == 0 && avcodec_receive_frame(dec, frame) == 0) {
        // Only the luma counts here: JPEG's full-range formats go as their plain kin.
        AVPixelFormat format = static_cast<AVPixelFormat>(frame->format);
        if (format == AV_PIX_FMT_YUVJ420P) format = AV_PIX_FMT_YUV420P;
        if (format == AV_PIX_FMT_YUVJ422P) format = AV_PIX_FMT_YUV422P;
        SwsContext* sws = sws_getContext(frame->width, frame->height, format,
                                         frame->width, frame->height, AV_PIX_FMT_GRAY8, SWS_POINT, nullptr, nullptr,
                                         nullptr);
        out.luma.resize(static_cast<std::size_t>(frame->width) * frame->height);
        std::uint8_t* dst[4] = {out.luma.data()};
        int dstStride[4] = {frame->width};
        sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, dstStride);
        sws_freeContext(sws);
      }
    }
    av_packet_unref(pkt);
  }
  av_frame_free(&frame);
  av_packet_free(&pkt);
  avcodec_free_context(&dec);
  avformat_close_input(&ctx);
  return out;
}

// Mean of rows [from, to) of a grey picture `width` wide.
double RowsMean(const std::vector<BYTE>& grey, int width, int from, int to) {
  double sum = 0;
  for (int y = from; y < to; ++y)
    for (int x = 0; x < width; ++x) sum += grey[static_cast<std::size_t>(y) * width + x];
  return sum / (static_cast<double>(to - from) * width);
}

class V4l2Seam : public ::testing::Test {
 protected:
  void SetUp() override { orv::test::FreshConfigDir(); }
  std::string File(const std::string& name) { return orv::test::ConfigDir() + "/" + name; }
};

TEST_F(V4l2Seam, WhatTheCardSendsIsStoredUnderItsOwnCodeAndShownTheRightWayUp) {
  struct Case {
    const char* what;
    std::uint32_t format;
    std::uint32_t tag;  // in the file; 0 for RGB
    const GUID* subtype;
    std::uint32_t padding;
  } cases[] = {
      {"UYVY, lines padded", V4L2_PIX_FMT_UYVY, Tag("UYVY"), &MEDIASUBTYPE_UYVY, 32},
      {"MJPEG", V4L2_PIX_FMT_MJPEG, Tag("MJPG"), &MEDIASUBTYPE_MJPG, 0},
      {"YU12", V4L2_PIX_FMT_YUV420, Tag("I420"), &MEDIASUBTYPE_I420, 0},
      {"YV12", V4L2_PIX_FMT_YVU420, Tag("YV12"), &MEDIASUBTYPE_YV12, 0},
      {"NV12", V4L2_PIX_FMT_NV12, Tag("NV12"), &MEDIASUBTYPE_NV12, 0},
      {"BGR24", V4L2_PIX_FMT_BGR24, 0, &MEDIASUBTYPE_RGB24, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeV4l2 fake;
    fake.formats = {c.format};
    fake.padding = c.padding;
    fake.frames = 6;
    const std::string path = File("format.avi");
    {
      SeamRig rig(fake);
      ASSERT_EQ(S_OK, rig.hr);
      rig.RecordTo(path);
      KeepSink* preview = rig.Keep(PIN_CATEGORY_PREVIEW);
      ASSERT_EQ(S_OK, rig.control->Run());
      ASSERT_TRUE(fake.WaitDrained());
      ASSERT_EQ(S_OK, rig.control->Stop());

      // The preview shows the mark on top.
      std::lock_guard lock(preview->mutex);
      ASSERT_FALSE(preview->frames.empty());
      EXPECT_EQ(*c.subtype, preview->subtype);
      EXPECT_EQ(640, preview->vih.bmiHeader.biWidth);
      EXPECT_EQ(480, preview->vih.bmiHeader.biHeight);
      FrameConverter conv;
      std::vector<std::uint32_t> rgb(64 * 48);
      ASSERT_TRUE(conv.Convert(preview->subtype, preview->frames.back().data(), preview->frames.back().size(), 640, 480,
                               reinterpret_cast<BYTE*>(rgb.data()), 64, 48, 64 * 4));
      std::vector<BYTE> green(rgb.size());
      for (std::size_t i = 0; i < rgb.size(); ++i) green[i] = static_cast<BYTE>(rgb[i] >> 8);
      EXPECT_GT(RowsMean(green, 64, 0, 5), 200);
      EXPECT_LT(RowsMean(green, 64, 24, 48), 80);
    }
    const ReadBack file = ReadAvi(path);
    EXPECT_EQ(c.tag, file.tag);
    EXPECT_EQ(640, file.width);
    EXPECT_EQ(480, file.height);
    EXPECT_EQ(6, file.pictures);
    ASSERT_EQ(640u * 480, file.luma.size()) << "the picture cannot be decoded";
    EXPECT_GT(RowsMean(file.luma, 640, 0, 50), 200) << "the mark is not on top";
    EXPECT_LT(RowsMean(file.luma, 640, 240, 480), 80);
  }
}

TEST_F(V4l2Seam, TheStandardFollowsTheInputAndChangesOnlyWhileNotStreaming) {
  FakeV4l2 fake;
  fake.scaler = false;  // the picture's size is the standard's
  fake.period = 0;      // and so is its rate
  fake.frames = 0;
  fake.detected = {{1, V4L2_STD_PAL_I}};  // a PAL source on Composite; nothing on S-Video
  SeamRig rig(fake);
  ASSERT_EQ(S_OK, rig.hr);
  // The card powers up in PAL and opens on its tuner: the channel plan's NTSC-M.
  EXPECT_EQ(V4L2_STD_NTSC_M, fake.Std());
  EXPECT_EQ(480, rig.Format().bmiHeader.biHeight);
  EXPECT_EQ(333667, rig.Format().AvgTimePerFrame);
  struct Step {
    LONG pin;
    bool running;
    bool queryStd;
    v4l2_std_id std;
    LONG lines;
    REFERENCE_TIME period;
  } steps[] = {
      {kXbarComposite, false, true, V4L2_STD_PAL_I, 576, 400000},  // detected
      {kXbarSVideo, false, true, V4L2_STD_PAL_I, 576, 400000},     // nothing detected: kept
      {kXbarTuner, true, true, V4L2_STD_NTSC_M, 480, 333667},      // while streaming
      {kXbarComposite, true, true, V4L2_STD_PAL_I, 576, 400000},
      {kXbarTuner, false, true, V4L2_STD_NTSC_M, 480, 333667},
      {kXbarSVideo, false, false, V4L2_STD_NTSC_M, 480, 333667},  // no detection: the driver's stays
  };
  for (const Step& s : steps) {
    SCOPED_TRACE("to input " + std::to_string(s.pin) + (s.running ? " while running" : ""));
    fake.queryStd = s.queryStd;
    if (s.running) {
      ASSERT_EQ(S_OK, rig.control->Run());
    }
    ASSERT_EQ(S_OK, rig.crossbar->Route(kXbarVideoOut, s.pin));
    EXPECT_EQ(s.std, fake.Std());
    EXPECT_EQ(s.lines, rig.Format().bmiHeader.biHeight);
    EXPECT_EQ(s.period, rig.Format().AvgTimePerFrame);
    EXPECT_EQ(s.running, fake.Streaming()) << "streaming resumes after the change";
    rig.control->Stop();
  }
  EXPECT_EQ(0, fake.stdSetWhileStreaming);

  // A rate the program asked for stays through a change of standard.
  fake.queryStd = true;
  rig.SetRate(667111);
  ASSERT_EQ(S_OK, rig.crossbar->Route(kXbarVideoOut, kXbarComposite));
  EXPECT_EQ(576, rig.Format().bmiHeader.biHeight);
  EXPECT_EQ(667111, rig.Format().AvgTimePerFrame);

  // An input without a standard (a camera) is left alone.
  FakeV4l2 camera;
  camera.inputs = {{"Camera", V4L2_INPUT_TYPE_CAMERA, false}};
  SeamRig cameraRig(camera);
  ASSERT_EQ(S_OK, cameraRig.hr);
  ASSERT_EQ(S_OK, cameraRig.crossbar->Route(kXbarVideoOut, kXbarComposite));
  EXPECT_EQ(std::vector<std::string>{"S_INPUT 0"}, camera.log);
  EXPECT_EQ(480, cameraRig.Format().bmiHeader.biHeight);
}

TEST_F(V4l2Seam, AStreamThatCannotStartFailsTheGraphsRunWithItsError) {
  struct Case {
    const char* what;
    unsigned long request;  // 0: the mapping fails
    int error;
    bool recovers;
  } cases[] = {
      {"another program streams", VIDIOC_REQBUFS, EBUSY, true},
      {"a busy USB bus", VIDIOC_STREAMON, ENOSPC, true},
      {"no memory to map", 0, ENOMEM, true},
      {"the card is gone", VIDIOC_QBUF, ENODEV, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeV4l2 fake;
    fake.frames = 3;
    if (c.request)
      fake.fail[c.request] = c.error;
    else
      fake.mmapErrno = c.error;
    SeamRig rig(fake);
    ASSERT_EQ(S_OK, rig.hr);
    KeepSink* sink = rig.Keep(PIN_CATEGORY_CAPTURE);
    EXPECT_EQ(Errno(c.error), rig.control->Run());
    OAFilterState state = -1;
    rig.control->GetState(0, &state);
    EXPECT_EQ(State_Stopped, state);
    EXPECT_FALSE(fake.Streaming());
    EXPECT_EQ(0, fake.mapped) << "mapped buffers are given back";
    // Once the cause is gone, the next start works (a card that is gone stays gone).
    fake.fail.clear();
    fake.mmapErrno = 0;
    if (c.recovers) {
      ASSERT_EQ(S_OK, rig.control->Run());
      EXPECT_TRUE(fake.WaitDrained());
      rig.control->Stop();
      std::lock_guard lock(sink->mutex);
      EXPECT_EQ(3u, sink->frames.size());
    } else {
      EXPECT_EQ(Errno(ENODEV), rig.control->Run());
    }
  }
}

TEST_F(V4l2Seam, FieldsSentOneByOneAreWovenIntoWholeFrames) {
  FakeV4l2 fake;
  fake.field = V4L2_FIELD_ALTERNATE;
  fake.fixedWidth = 64;
  fake.fixedHeight = 48;
  fake.frames = 8;  // fields
  {
    SeamRig rig(fake);
    ASSERT_EQ(S_OK, rig.hr);
    KeepSink* sink = rig.Keep(PIN_CATEGORY_CAPTURE);
    ASSERT_EQ(S_OK, rig.control->Run());
    ASSERT_TRUE(fake.WaitDrained());
    rig.control->Stop();
    std::lock_guard lock(sink->mutex);
    ASSERT_EQ(4u, sink->frames.size());
    EXPECT_EQ(48, sink->vih.bmiHeader.biHeight);
    for (const std::vector<BYTE>& f : sink->frames) {
      ASSERT_EQ(64u * 48 * 2, f.size());
      for (std::uint32_t y = 0; y < 48; ++y) ASSERT_EQ(FakeV4l2::Luma(y, 48), f[y * 64 * 2 + 10]) << "line " << y;
    }
    // A frame's time is its first field's.
    EXPECT_NEAR(333667, sink->starts[1] - sink->starts[0], 10);
  }
  // Compressed fields cannot be woven: the format is refused when the stream starts.
  FakeV4l2 jpeg;
  jpeg.formats = {V4L2_PIX_FMT_MJPEG};
  jpeg.field = V4L2_FIELD_ALTERNATE;
  SeamRig rig(jpeg);
  ASSERT_EQ(S_OK, rig.hr);
  EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, rig.control->Run());
  EXPECT_FALSE(jpeg.Streaming());
}

TEST_F(V4l2Seam, WithoutADriverPeriodFramesAreThinnedBeforeTheyAreCounted) {
  // A camera at 30 frames a second that says nothing of its rate, recorded at 14.99; it misses
  // frames 20 to 25.
  FakeV4l2 fake;
  fake.inputs = {{"Camera", V4L2_INPUT_TYPE_CAMERA, false}};
  fake.period = 0;
  fake.pace = 333667;
  fake.fixedWidth = 160;
  fake.fixedHeight = 120;
  fake.frames = 60;
  fake.lost = {20, 21, 22, 23, 24, 25};
  const std::string path = File("thinned.avi");
  LONG captured = -1, dropped = -1;
  {
    SeamRig rig(fake);
    ASSERT_EQ(S_OK, rig.hr);
    rig.SetRate(667111);
    rig.RecordTo(path);
    ASSERT_EQ(S_OK, rig.control->Run());
    ASSERT_TRUE(fake.WaitDrained());
    rig.control->Stop();
    rig.Counts(&captured, &dropped);
  }
  // Every other frame is kept; the lost ones leave three places of the file empty.
  EXPECT_EQ(30, captured);
  EXPECT_EQ(3, dropped);
  EXPECT_EQ(captured, ReadAvi(path).pictures);
}

TEST_F(V4l2Seam, PicturesTheWriterLeavesOutCountAsDropped) {
  // A driver that claims 14.99 frames a second but stamps its frames twice as fast: every other
  // picture finds its place in the file taken.
  FakeV4l2 fake;
  fake.inputs = {{"Camera", V4L2_INPUT_TYPE_CAMERA, false}};
  fake.period = 667111;
  fake.pace = 333556;
  fake.fixedWidth = 160;
  fake.fixedHeight = 120;
  fake.frames = 40;
  const std::string path = File("crowded.avi");
  LONG captured = -1, dropped = -1;
  {
    SeamRig rig(fake);
    ASSERT_EQ(S_OK, rig.hr);
    rig.SetRate(667111);
    rig.RecordTo(path);
    ASSERT_EQ(S_OK, rig.control->Run());
    ASSERT_TRUE(fake.WaitDrained());
    rig.control->Stop();
    rig.Counts(&captured, &dropped);
  }
  EXPECT_EQ(40, captured + dropped);
  EXPECT_GE(dropped, 15);
  EXPECT_EQ(captured, ReadAvi(path).pictures);
}

TEST_F(V4l2Seam, AChannelIsFoundOnlyWhenItsOwnLockHolds) {
  FakeV4l2 fake;
  auto units = [](LONG channel) { return KHzToTunerUnits(ChannelToKHz(TunerInputAntenna, channel), false); };
  fake.locked = {units(3), units(7)};
  fake.lingerMs = 40;  // the decoder keeps reporting the last lock for a moment after a retune
  SeamRig rig(fake);
  ASSERT_EQ(S_OK, rig.hr);
  ComPtr<IAMTVTuner> tuner;
  ASSERT_EQ(S_OK, rig.builder->FindInterface(&PIN_CATEGORY_CAPTURE, rig.capture, IID_PPV_ARGS(&tuner)));
  ASSERT_EQ(S_OK, tuner->put_InputType(0, TunerInputAntenna));
  std::vector<LONG> found;
  for (LONG channel = 2; channel <= 8; ++channel) {
    LONG signal = -5;
    ASSERT_EQ(S_OK, tuner->AutoTune(channel, &signal));
    if (signal == AMTUNER_SIGNALPRESENT) found.push_back(channel);
  }
  EXPECT_EQ((std::vector<LONG>{3, 7}), found);
}

}  // namespace
