// The real-card code on a driver the test plays (fakev4l2.h).
#include "platform/media/graph/frameconverter.h"
#include "tests/media/avicheck.h"
#include "tests/media/devices/fakev4l2.h"
#include "tests/media/mediarig.h"
#include "tests/support/testenv.h"

#include <thread>
#include <chrono>
#include <algorithm>
#include <gtest/gtest.h>
#include <numeric>

using namespace orv::media;
using orv::test::FakeV4l2;
using orv::test::KeepSink;

namespace {

constexpr HRESULT Errno(int e) { return static_cast<HRESULT>(0x80070000u | static_cast<unsigned>(e)); }

// The capture filter of the played card in a graph, its crossbar and tuner brought upstream.
struct SeamRig : orv::test::EmptyGraph {
  explicit SeamRig(FakeV4l2& fake) {
    EXPECT_EQ(S_OK, CreateV4l2Capture({"/dev/video9", 9, "fake:9", "Played card"}, fake.Calls(), &capture));
    graph->AddFilter(capture, nullptr);
    builder->FindInterface(&PIN_CATEGORY_CAPTURE, capture, IID_PPV_ARGS(&config));
    builder->FindInterface(&PIN_CATEGORY_CAPTURE, capture, IID_PPV_ARGS(&crossbar));
  }
  ~SeamRig() { control->Stop(); }
  KeepSink* Keep(const GUID& category) { return sinks.emplace_back(orv::test::AttachSink(graph, capture, category)).Get(); }
  // Runs until the driver's frames are all taken back, then stops.
  void RunDrained(FakeV4l2& fake) {
    ASSERT_EQ(S_OK, control->Run());
    ASSERT_TRUE(fake.WaitDrained());
    ASSERT_EQ(S_OK, control->Stop());
  }
  void RecordTo(const std::string& path) {
    ComPtr<IFileSinkFilter> file;
    ASSERT_EQ(S_OK, builder->SetOutputFileName(&MEDIASUBTYPE_Avi, Widen(path).c_str(), &mux, &file));
    ASSERT_EQ(S_OK, builder->RenderStream(&PIN_CATEGORY_CAPTURE, capture, nullptr, mux));
  }
  // Lines and frame period of the capture format.
  std::pair<long, long> Shape() {
    AM_MEDIA_TYPE* mt = nullptr;
    EXPECT_EQ(S_OK, config->GetFormat(&mt));
    const auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
    const std::pair<long, long> shape{vih->bmiHeader.biHeight, vih->AvgTimePerFrame};
    return DeleteMediaType(mt), shape;
  }

  ComPtr<IBaseFilter> capture, mux;
  ComPtr<IAMStreamConfig> config;
  ComPtr<IAMCrossbar> crossbar;
  std::vector<ComPtr<KeepSink>> sinks;
};

// An AVI file's picture stream as an outside reader sees it (empty chunks are not pictures).
std::string Summary(const std::string& path) {
  const auto video = orv::test::StreamsOf(orv::test::Probe(path), "video");
  if (video.size() != 1) return "no picture stream";
  const auto n = [&](const char* key) { return std::to_string(orv::test::Number(video[0], key)); };
  return video[0].value("codec_tag_string", "") + " " + n("width") + "x" + n("height") + ", " + n("nb_read_packets") + " pictures";
}

// Whether a grey picture shows the driver's mark on top: bright top rows, a dark lower half.
bool MarkOnTop(const std::vector<BYTE>& grey, int w, int h) {
  if (grey.size() != static_cast<std::size_t>(w) * h) return false;
  auto mean = [&](int from, int to) { return std::accumulate(grey.begin() + from * w, grey.begin() + to * w, 0.0) / ((to - from) * w); };
  return mean(0, h / 10) > 200 && mean(h / 2, h) < 80;
}

class V4l2Seam : public ::testing::Test {
 protected:
  void SetUp() override { orv::test::FreshConfigDir(); }
  std::string File(const std::string& name) { return orv::test::ConfigDir() + "/" + name; }
};

TEST_F(V4l2Seam, WhatTheCardSendsIsStoredUnderItsOwnCodeAndShownTheRightWayUp) {
  struct Case { std::uint32_t format; const char* tag; const GUID* subtype; std::uint32_t padding; } cases[] = {  // tag: in the file
      {V4L2_PIX_FMT_UYVY, "UYVY", &MEDIASUBTYPE_UYVY, 32}, {V4L2_PIX_FMT_MJPEG, "MJPG", &MEDIASUBTYPE_MJPG, 0},
      {V4L2_PIX_FMT_YUV420, "I420", &MEDIASUBTYPE_I420, 0}, {V4L2_PIX_FMT_YVU420, "YV12", &MEDIASUBTYPE_YV12, 0},
      {V4L2_PIX_FMT_NV12, "NV12", &MEDIASUBTYPE_NV12, 0}, {V4L2_PIX_FMT_BGR24, "[0][0][0][0]", &MEDIASUBTYPE_RGB24, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tag);
    FakeV4l2 fake;
    fake.formats = {c.format}, fake.padding = c.padding, fake.frames = 6;
    const std::string path = File("format.avi");
    {
      SeamRig rig(fake);
      rig.RecordTo(path);
      KeepSink* preview = rig.Keep(PIN_CATEGORY_PREVIEW);
      rig.RunDrained(fake);
      std::lock_guard lock(preview->mutex);
      ASSERT_FALSE(preview->data.empty());
      EXPECT_EQ(*c.subtype, preview->subtype);
      EXPECT_EQ(std::pair(640, 480), std::pair(preview->vih.bmiHeader.biWidth, preview->vih.bmiHeader.biHeight));
      std::vector<std::uint32_t> rgb(64 * 48);
      orv::media::PicturePool pool;
      orv::media::PreviewPicture picture;
      ASSERT_TRUE(pool.Copy(preview->subtype, preview->data.back().data(), preview->data.back().size(), 640, 480, &picture));
      ASSERT_TRUE(FrameConverter().Convert(picture, reinterpret_cast<BYTE*>(rgb.data()), 64, 48, 64 * 4));
      std::vector<BYTE> green(rgb.size());
      std::transform(rgb.begin(), rgb.end(), green.begin(), [](std::uint32_t p) { return static_cast<BYTE>(p >> 8); });
      EXPECT_TRUE(MarkOnTop(green, 64, 48)) << "the preview";
    }
    EXPECT_EQ(std::string(c.tag) + " 640x480, 6 pictures", Summary(path));
    const std::string grey = orv::test::Shell("ffmpeg -nostdin -v error -i " + orv::test::Quoted(path) +
                                              " -frames:v 1 -f rawvideo -pix_fmt gray - 2>/dev/null");
    EXPECT_TRUE(MarkOnTop({grey.begin(), grey.end()}, 640, 480)) << "the file";
  }
}

TEST_F(V4l2Seam, TheStandardFollowsTheInputAndChangesOnlyWhileNotStreaming) {
  FakeV4l2 fake;
  fake.scaler = false;  // the picture's size is the standard's
  fake.period = 0, fake.frames = 0;  // and so is its rate
  fake.detected = {{1, V4L2_STD_PAL_I}};  // a PAL source on Composite; nothing on S-Video
  SeamRig rig(fake);
  // The card powers up in PAL and opens on its tuner: the channel plan's NTSC-M.
  EXPECT_EQ(V4L2_STD_NTSC_M, fake.Std());
  EXPECT_EQ(std::pair(480L, 333667L), rig.Shape());
  // Composite: detected; S-Video: nothing detected, kept; then while streaming; last, without detection.
  struct Step { LONG pin; bool running, queryStd; v4l2_std_id std; LONG lines; REFERENCE_TIME period; } steps[] = {
      {kXbarComposite, false, true, V4L2_STD_PAL_I, 576, 400000}, {kXbarSVideo, false, true, V4L2_STD_PAL_I, 576, 400000},
      {kXbarTuner, true, true, V4L2_STD_NTSC_M, 480, 333667},     {kXbarComposite, true, true, V4L2_STD_PAL_I, 576, 400000},
      {kXbarTuner, false, true, V4L2_STD_NTSC_M, 480, 333667},    {kXbarSVideo, false, false, V4L2_STD_NTSC_M, 480, 333667}};
  for (const Step& s : steps) {
    SCOPED_TRACE("to input " + std::to_string(s.pin) + (s.running ? " while running" : ""));
    fake.queryStd = s.queryStd;
    if (s.running) ASSERT_EQ(S_OK, rig.control->Run());
    ASSERT_EQ(S_OK, rig.crossbar->Route(kXbarVideoOut, s.pin));
    EXPECT_EQ(s.std, fake.Std());
    EXPECT_EQ((std::pair<long, long>(s.lines, s.period)), rig.Shape());
    EXPECT_EQ(s.running, fake.Streaming()) << "streaming resumes after the change";
    rig.control->Stop();
  }
  EXPECT_EQ(0, fake.stdSetWhileStreaming);

  // A rate the program asked for stays through a change of standard.
  fake.queryStd = true;
  orv::test::SetRate(rig.config, 667111);
  ASSERT_EQ(S_OK, rig.crossbar->Route(kXbarVideoOut, kXbarComposite));
  EXPECT_EQ(std::pair(576L, 667111L), rig.Shape());

  // An input without a standard (a camera) is left alone.
  FakeV4l2 camera;
  camera.inputs = {{"Camera", V4L2_INPUT_TYPE_CAMERA, false}};
  SeamRig cameraRig(camera);
  ASSERT_EQ(S_OK, cameraRig.crossbar->Route(kXbarVideoOut, kXbarComposite));
  EXPECT_EQ(std::vector<std::string>{"S_INPUT 0"}, camera.log);
  EXPECT_EQ(480, cameraRig.Shape().first);
}

TEST_F(V4l2Seam, TheDecoderTellsTheLinesTheSignalAndTheFieldOrder) {
  struct Case { const char* what; bool standards; v4l2_std_id std; std::uint32_t status, field; HRESULT linesResult; LONG lines, locked;
                AM_FIELD_ORDER order; } cases[] = {
      {"NTSC", true, V4L2_STD_NTSC_M, 0, V4L2_FIELD_INTERLACED, S_OK, 525, 1, AM_FIELDS_BOTTOM_FIRST},
      {"PAL", true, V4L2_STD_PAL_BG, 0, V4L2_FIELD_INTERLACED, S_OK, 625, 1, AM_FIELDS_TOP_FIRST},
      {"PAL-M", true, V4L2_STD_PAL_M, 0, V4L2_FIELD_INTERLACED, S_OK, 525, 1, AM_FIELDS_BOTTOM_FIRST},
      {"no signal", true, V4L2_STD_SECAM_L, V4L2_IN_ST_NO_SIGNAL, V4L2_FIELD_INTERLACED_BT, S_OK, 625, 0, AM_FIELDS_BOTTOM_FIRST},
      {"no line lock", true, V4L2_STD_NTSC_M, V4L2_IN_ST_NO_H_LOCK, V4L2_FIELD_INTERLACED_TB, S_OK, 525, 0, AM_FIELDS_TOP_FIRST},
      {"no colour only", true, V4L2_STD_PAL_BG, V4L2_IN_ST_NO_COLOR, V4L2_FIELD_NONE, S_OK, 625, 1, AM_FIELDS_PROGRESSIVE},
      {"one field", true, V4L2_STD_NTSC_M, 0, V4L2_FIELD_BOTTOM, S_OK, 525, 1, AM_FIELDS_PROGRESSIVE},
      {"a camera", false, 0, 0, V4L2_FIELD_NONE, E_NOTIMPL, -1, 1, AM_FIELDS_PROGRESSIVE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeV4l2 fake;
    fake.field = c.field;
    if (!c.standards) fake.inputs = {{"Camera", V4L2_INPUT_TYPE_CAMERA, false}};
    SeamRig rig(fake);
    fake.std = c.std, fake.inputs[0].status = c.status;
    ComPtr<IAMAnalogVideoDecoder> decoder;
    ASSERT_EQ(S_OK, decoder.QueryFrom(rig.capture));
    LONG lines = -1, locked = -1;
    AM_FIELD_ORDER order = AM_FIELDS_UNKNOWN;
    const std::tuple got{decoder->get_NumberOfLines(&lines), decoder->get_HorizontalLocked(&locked), decoder->get_FieldOrder(&order)};
    EXPECT_EQ(std::tuple(c.linesResult, S_OK, S_OK), got);
    EXPECT_EQ(std::tuple(c.lines, c.locked, c.order), std::tuple(lines, locked, order));
  }
}

TEST_F(V4l2Seam, TheStandardsFullSizeAndRateAreSetOnTheCard) {
  struct Case { v4l2_std_id std; LONG height; REFERENCE_TIME period; } cases[] = {{V4L2_STD_NTSC_M, 480, 333667}, {V4L2_STD_PAL_BG, 576, 400000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.height);
    FakeV4l2 fake;
    fake.period = 667111, fake.rateSettable = true, fake.frames = 4;
    SeamRig rig(fake);
    fake.std = c.std;
    orv::test::SetFullSize(rig.config, c.height, c.period);
    KeepSink* sink = rig.Keep(PIN_CATEGORY_CAPTURE);
    rig.RunDrained(fake);
    EXPECT_EQ(std::pair(720u, static_cast<std::uint32_t>(c.height)), std::pair(fake.Pix().width, fake.Pix().height));
    EXPECT_EQ(c.period, fake.period) << "the rate set on the card";
    std::lock_guard lock(sink->mutex);
    ASSERT_EQ(4u, sink->data.size()) << "no frame thinned out";
    EXPECT_EQ(720u * c.height * 2, sink->data[0].size());
    EXPECT_NEAR(c.period, sink->starts[1] - sink->starts[0], 10);
  }
  // On a card that could scale to any size, the full size follows a change of standard.
  FakeV4l2 fake;
  fake.period = 0, fake.detected = {{1, V4L2_STD_PAL_I}};
  SeamRig rig(fake);
  orv::test::SetFullSize(rig.config, 480, 333667);
  ASSERT_EQ(S_OK, rig.crossbar->Route(kXbarVideoOut, kXbarComposite));
  EXPECT_EQ(std::pair(576L, 400000L), rig.Shape());
  // A card that adjusts what it is asked (no scaler: the standard's frame) keeps it, the rate asked
  // stays, and the file is made from what it sends.
  FakeV4l2 fixed;
  fixed.scaler = false, fixed.frames = 4;
  SeamRig adjusting(fixed);
  ASSERT_EQ(V4L2_STD_NTSC_M, fixed.Std());  // the antenna's standard, set when the card opens
  orv::test::SetFullSize(adjusting.config, 576, 333667);
  EXPECT_EQ(std::pair(480L, 333667L), adjusting.Shape());
  adjusting.RecordTo(File("adjusted.avi"));
  adjusting.RunDrained(fixed);
  EXPECT_EQ("YUY2 720x480, 4 pictures", Summary(File("adjusted.avi")));
}

TEST_F(V4l2Seam, AStreamThatCannotStartFailsTheGraphsRunWithItsError) {
  // Another program streaming, a busy USB bus, no memory to map (request 0), the card gone.
  struct Case { unsigned long request; int error; bool recovers; } cases[] = {
      {VIDIOC_REQBUFS, EBUSY, true}, {VIDIOC_STREAMON, ENOSPC, true}, {0, ENOMEM, true}, {VIDIOC_QBUF, ENODEV, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    FakeV4l2 fake;
    fake.frames = 3;
    (c.request ? fake.fail[c.request] : fake.mmapErrno) = c.error;
    SeamRig rig(fake);
    KeepSink* sink = rig.Keep(PIN_CATEGORY_CAPTURE);
    EXPECT_EQ(Errno(c.error), rig.control->Run());
    EXPECT_EQ(State_Stopped, AsFilterBase(rig.capture)->State());
    EXPECT_FALSE(fake.Streaming());
    EXPECT_EQ(0, fake.mapped) << "mapped buffers are given back";
    // Once the cause is gone, the next start works (a card that is gone stays gone).
    fake.fail.clear(), fake.mmapErrno = 0;
    if (!c.recovers) {
      EXPECT_EQ(Errno(ENODEV), rig.control->Run());
      continue;
    }
    rig.RunDrained(fake);
    EXPECT_EQ(3u, sink->Count());
  }
}

// Each frame is woven from its own two fields, the standard's first (the bottom on 525 lines) on top
// of the order the file is told; a field lost leaves its partner out.
TEST_F(V4l2Seam, FieldsSentOneByOneAreWovenIntoTheFramesTheyBelongTo) {
  // lose: the fields the driver misses (numbered from 0); frames: the numbers of the frames woven.
  struct Case { const char* what; v4l2_std_id std; std::vector<int> lose; std::vector<int> frames; AM_FIELD_ORDER order; } cases[] = {
      {"525 lines", V4L2_STD_NTSC_M, {}, {0, 1, 2, 3}, AM_FIELDS_BOTTOM_FIRST},
      {"525 lines, the first field missed", V4L2_STD_NTSC_M, {0}, {1, 2, 3}, AM_FIELDS_BOTTOM_FIRST},
      {"625 lines, a second field missed", V4L2_STD_PAL_BG, {3}, {0, 2, 3}, AM_FIELDS_TOP_FIRST},
      {"625 lines, a first field missed", V4L2_STD_PAL_BG, {2}, {0, 2, 3}, AM_FIELDS_TOP_FIRST},
      {"625 lines, a second and a first field missed", V4L2_STD_PAL_BG, {3, 4}, {0, 3, 4}, AM_FIELDS_TOP_FIRST}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeV4l2 fake;
    fake.field = V4L2_FIELD_ALTERNATE;
    fake.fixedWidth = 64, fake.fixedHeight = 48;
    fake.detected = {{1, c.std}}, fake.lose = c.lose;
    SeamRig rig(fake);
    ASSERT_EQ(S_OK, rig.crossbar->Route(kXbarVideoOut, kXbarComposite));
    ASSERT_EQ(c.std, fake.Std());
    KeepSink* sink = rig.Keep(PIN_CATEGORY_CAPTURE);
    rig.RunDrained(fake);
    std::lock_guard lock(sink->mutex);
    EXPECT_EQ(48, sink->vih.bmiHeader.biHeight);
    std::vector<int> frames;  // -1: a frame of two fields that do not belong together
    for (const std::vector<BYTE>& f : sink->data) {
      ASSERT_EQ(64u * 48 * 2, f.size());
      for (std::uint32_t y = 0; y < 48; ++y) ASSERT_EQ(FakeV4l2::Luma(y, 48), f[y * 64 * 2 + 10]) << "line " << y;
      bool own = true;
      for (std::uint32_t y = 1; y < 48; ++y) own = own && f[y * 64 * 2 + 1] == f[1];
      frames.push_back(own ? f[1] : -1);
    }
    EXPECT_EQ(c.frames, frames);
    ComPtr<IAMAnalogVideoDecoder> decoder;
    AM_FIELD_ORDER order = AM_FIELDS_UNKNOWN;
    ASSERT_EQ(S_OK, decoder.QueryFrom(rig.capture));
    EXPECT_EQ(S_OK, decoder->get_FieldOrder(&order));
    EXPECT_EQ(c.order, order);
  }
  // Compressed fields cannot be woven: the format is refused when the stream starts.
  FakeV4l2 jpeg;
  jpeg.formats = {V4L2_PIX_FMT_MJPEG}, jpeg.field = V4L2_FIELD_ALTERNATE;
  EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, SeamRig(jpeg).control->Run());
  EXPECT_FALSE(jpeg.Streaming());
}

// Pictures are placed where their capture began: a stamp of the end (the drivers' default) or, without
// stamps, the moment the picture was taken from the driver lies one picture (one field) later.
TEST_F(V4l2Seam, PicturesArePlacedWhereTheirCaptureBegan) {
  struct Case { const char* what; std::uint32_t field, source; bool stamped; } cases[] = {
      {"frames stamped at their end", V4L2_FIELD_INTERLACED, V4L2_BUF_FLAG_TSTAMP_SRC_EOF, true},
      {"frames stamped at their start", V4L2_FIELD_INTERLACED, V4L2_BUF_FLAG_TSTAMP_SRC_SOE, true},
      {"frames without stamps", V4L2_FIELD_INTERLACED, V4L2_BUF_FLAG_TSTAMP_SRC_EOF, false},
      {"fields stamped at their end", V4L2_FIELD_ALTERNATE, V4L2_BUF_FLAG_TSTAMP_SRC_EOF, true},
      {"fields stamped at their start", V4L2_FIELD_ALTERNATE, V4L2_BUF_FLAG_TSTAMP_SRC_SOE, true},
      {"fields without stamps", V4L2_FIELD_ALTERNATE, V4L2_BUF_FLAG_TSTAMP_SRC_EOF, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeV4l2 fake;
    fake.fixedWidth = 64, fake.fixedHeight = 48;
    fake.field = c.field, fake.stampSource = c.source, fake.stamped = c.stamped;
    const bool fields = c.field == V4L2_FIELD_ALTERNATE;
    SeamRig rig(fake);
    KeepSink* sink = rig.Keep(PIN_CATEGORY_CAPTURE);
    rig.RunDrained(fake);
    const REFERENCE_TIME graphStart = AsFilterBase(rig.capture)->StreamStart();
    std::lock_guard lock(sink->mutex);
    ASSERT_EQ(fields ? 4u : 8u, sink->data.size());
    // How long after its capture began each picture is placed (a frame's number is in its lines).
    std::vector<REFERENCE_TIME> late;
    for (std::size_t i = 0; i < sink->data.size(); ++i)
      late.push_back(graphStart + sink->starts[i] - fake.Began((fields ? 2 : 1) * sink->data[i][1]));
    if (c.stamped) {
      for (REFERENCE_TIME l : late) EXPECT_NEAR(0, l, 10);
    } else {
      // Taken from the driver after it ended: never early, and soon for some pictures.
      EXPECT_GE(*std::min_element(late.begin(), late.end()), 0);
      EXPECT_LT(*std::min_element(late.begin(), late.end()), 333667 / 4);
    }
  }
}

// A driver that claims 14.99 frames a second but stamps its frames twice as fast: every other
// picture finds its place in the file taken.
TEST_F(V4l2Seam, PicturesTheWriterLeavesOutCountAsDropped) {
  FakeV4l2 fake;
  fake.inputs = {{"Camera", V4L2_INPUT_TYPE_CAMERA, false}};
  fake.fixedWidth = 160, fake.fixedHeight = 120;
  fake.period = 667111, fake.pace = 333556;
  fake.frames = 40;
  LONG captured = -1, dropped = -1;
  {
    SeamRig rig(fake);
    orv::test::SetRate(rig.config, 667111);
    rig.RecordTo(File("crowded.avi"));
    rig.RunDrained(fake);
    ComPtr<IAMDroppedFrames> counts;
    ASSERT_EQ(S_OK, counts.QueryFrom(rig.capture));
    counts->GetNumNotDropped(&captured), counts->GetNumDropped(&dropped);
  }
  EXPECT_EQ(40, captured + dropped);
  EXPECT_GE(dropped, 15);
  EXPECT_EQ("YUY2 160x120, " + std::to_string(captured) + " pictures", Summary(File("crowded.avi")));
}

// A card that stops sending (a stall), whose dequeue fails with EIO, or that flags a buffer as bad:
// the stream is started again with the input and standard applied again, the capture goes on, the
// flagged picture is kept, and each is noted with its time.
TEST_F(V4l2Seam, StallsAndStreamingErrorsRestartTheStreamAndFlaggedBuffersAreKept) {
  enum Fault { kStall, kError, kFlag };
  const struct {
    Fault fault;
    const char* events;
  } cases[] = {{kStall, "restart stall"}, {kError, "restart"}, {kFlag, "flagged_buffer"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.events);
    FakeV4l2 fake;
    fake.frames = c.fault == kStall ? 4 : 8;
    if (c.fault == kError) fake.eioAfter = 4;
    if (c.fault == kFlag) fake.flag = {3};
    SeamRig rig(fake);
    KeepSink* kept = rig.Keep(PIN_CATEGORY_CAPTURE);
    testing::internal::CaptureStderr();
    ASSERT_EQ(S_OK, rig.control->Run());
    if (c.fault == kStall) {
      // Within 2 s of the last picture the stream starts again; the card sends again.
      auto streamOns = [&] { return std::lock_guard(fake.mutex), std::count(fake.log.begin(), fake.log.end(), "STREAMON"); };
      for (int i = 0; i < 400 && streamOns() < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      std::lock_guard(fake.mutex), fake.frames = 8;
    }
    EXPECT_TRUE(fake.WaitDrained());
    ASSERT_EQ(S_OK, rig.control->Stop());
    std::string events;
    for (const auto& e : orv::test::LoggedEvents(testing::internal::GetCapturedStderr())) events += (events.empty() ? "" : " ") + e.name;
    EXPECT_EQ(c.events, events);
    EXPECT_EQ(8u, kept->Count());
    // Started again: the input and standard applied again between the stream going off and on.
    const std::vector<std::string> again{"STREAMOFF", "S_INPUT 0", "S_STD", "STREAMON"};
    EXPECT_EQ(c.fault != kFlag, std::search(fake.log.begin(), fake.log.end(), again.begin(), again.end()) != fake.log.end());
  }
}

}  // namespace
