// Streaming: samples from the virtual card's pins and from a card's ALSA sound device (through the
// seam under its calls), their pace and timestamps, the card's picture and the preview's colour
// conversion.
#include "platform/media/devices/alsacapture.h"
#include "platform/media/devices/virtualsignal.h"
#include "platform/media/graph/frameconverter.h"
#include "platform/media/devices/realcards.h"
#include "tests/media/mediarig.h"
#include "tests/support/uitest.h"

#include <QThread>
#include <atomic>
#include <gtest/gtest.h>

using orv::media::FrameConverter;
using orv::media::MediaSample;
using orv::media::PictureGenerator;
using orv::media::PictureState;
using orv::test::FindPin;
using orv::test::GraphRig;
using orv::test::PumpUntil;
using orv::test::UseCard;

namespace {

// A sink that keeps what arrives: times, sizes and the format it came in.
class SinkFilter : public orv::media::FilterBase {
 public:
  SinkFilter() : FilterBase(GUID_NULL, "TestSink", "TestSink") {
    AddPin({"In", PINDIR_INPUT, GUID_NULL, GUID_NULL, false, false, nullptr});
  }
  void Receive(orv::media::PinBase*, const MediaSample& s) override {
    std::lock_guard lock(mutex);
    starts.push_back(s.start);
    stops.push_back(s.stop);
    sizes.push_back(s.size);
    if (keepSound) sound.insert(sound.end(), reinterpret_cast<const std::int16_t*>(s.data),
                                reinterpret_cast<const std::int16_t*>(s.data + s.size));
    if (s.type) major = s.type->majortype;
    if (s.type && s.type->formattype == FORMAT_VideoInfo)
      avgTimePerFrame = reinterpret_cast<const VIDEOINFOHEADER*>(s.type->pbFormat)->AvgTimePerFrame;
  }
  std::size_t Count() {
    std::lock_guard lock(mutex);
    return starts.size();
  }
  std::mutex mutex;
  std::vector<REFERENCE_TIME> starts, stops;
  std::vector<std::size_t> sizes;
  bool keepSound = false;
  std::vector<std::int16_t> sound;  // 16-bit samples, when kept
  GUID major = GUID_NULL;
  REFERENCE_TIME avgTimePerFrame = 0;
};

struct SinkRig : GraphRig {
  // Connects the sink to a pin of `from` and adds it to the graph.
  SinkFilter* Attach(IBaseFilter* from, const GUID& category) {
    ComPtr<IBaseFilter> f = static_cast<IBaseFilter*>(sink = new SinkFilter);
    EXPECT_EQ(S_OK, graph->AddFilter(f, u"sink"));
    EXPECT_EQ(S_OK, graph->ConnectDirect(FindPin(from, PINDIR_OUTPUT, category), sink->PinAt(0), nullptr));
    return sink;
  }
  HRESULT Run() {
    ComPtr<IMediaControl> mc;
    mc.QueryFrom(graph);
    return mc->Run();
  }
  HRESULT Stop() {
    ComPtr<IMediaControl> mc;
    mc.QueryFrom(graph);
    return mc->Stop();
  }
  SinkFilter* sink = nullptr;
};

TEST(Streaming, CapturePinSendsFramesAtTheConfiguredRateWithTimestamps) {
  UseCard("");
  SinkRig rig;
  ComPtr<IAMStreamConfig> config;
  ASSERT_EQ(S_OK, rig.builder->FindInterface(&PIN_CATEGORY_CAPTURE, rig.capture, IID_PPV_ARGS(&config)));
  AM_MEDIA_TYPE* mt = nullptr;
  ASSERT_EQ(S_OK, config->GetFormat(&mt));
  reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat)->AvgTimePerFrame = 667111;
  ASSERT_EQ(S_OK, config->SetFormat(mt));
  DeleteMediaType(mt);

  SinkFilter* sink = rig.Attach(rig.capture, PIN_CATEGORY_CAPTURE);
  EXPECT_EQ(0u, sink->Count());  // nothing flows before the graph runs
  ASSERT_EQ(S_OK, rig.Run());
  ASSERT_TRUE(PumpUntil([&] { return sink->Count() >= 4; }, 10000));
  ASSERT_EQ(S_OK, rig.Stop());
  const std::size_t n = sink->Count();
  QThread::msleep(200);
  EXPECT_EQ(n, sink->Count());  // and nothing after it stopped

  EXPECT_EQ(667111, sink->avgTimePerFrame);
  EXPECT_EQ(MEDIATYPE_Video, sink->major);
  for (std::size_t i = 0; i < n; ++i) {
    EXPECT_EQ(640u * 480 * 2, sink->sizes[i]);
    EXPECT_EQ(0, sink->starts[i] % 667111) << i;  // frame slots of the forced rate
    EXPECT_EQ(sink->starts[i] + 667111, sink->stops[i]);
    if (i) EXPECT_GT(sink->starts[i], sink->starts[i - 1]);
  }
  // Every frame delivered on the capture pin is counted, and the slots left out are the drops.
  ComPtr<IAMDroppedFrames> dropped;
  ASSERT_EQ(S_OK, dropped.QueryFrom(rig.capture));
  LONG notDropped = -1, lost = -1;
  dropped->GetNumNotDropped(&notDropped);
  dropped->GetNumDropped(&lost);
  EXPECT_EQ(static_cast<LONG>(n), notDropped);
  EXPECT_EQ(sink->starts.back() / 667111 + 1, notDropped + lost);
}

TEST(Streaming, StreamControlHoldsThePinBack) {
  UseCard("");
  SinkRig rig;
  SinkFilter* sink = rig.Attach(rig.capture, PIN_CATEGORY_CAPTURE);
  REFERENCE_TIME never = MAXLONGLONG;
  ASSERT_EQ(S_OK, rig.builder->ControlStream(&PIN_CATEGORY_CAPTURE, nullptr, &never, nullptr, 0, 0));
  ASSERT_EQ(S_OK, rig.Run());
  QThread::msleep(300);
  EXPECT_EQ(0u, sink->Count());
  ASSERT_EQ(S_OK, rig.builder->ControlStream(&PIN_CATEGORY_CAPTURE, nullptr, nullptr, &never, 0, 0));
  EXPECT_TRUE(PumpUntil([&] { return sink->Count() >= 1; }, 10000));
  rig.Stop();
}

TEST(Streaming, AudioCapturePinSendsPcmInTenthsOfASecond) {
  UseCard("");
  SinkRig rig;
  ComPtr<IBaseFilter> audio = orv::test::BindDevice(CLSID_AudioInputDeviceCategory, 0);
  ASSERT_TRUE(audio);
  ASSERT_EQ(S_OK, rig.graph->AddFilter(audio, nullptr));
  SinkFilter* sink = rig.Attach(audio, PIN_CATEGORY_CAPTURE);
  ASSERT_EQ(S_OK, rig.Run());
  ASSERT_TRUE(PumpUntil([&] { return sink->Count() >= 2; }, 10000));
  rig.Stop();
  EXPECT_EQ(MEDIATYPE_Audio, sink->major);
  EXPECT_EQ(4410u * 4, sink->sizes[0]);  // 44.1 kHz, 16-bit stereo
  EXPECT_EQ(1000000, sink->stops[0] - sink->starts[0]);
  EXPECT_EQ(0, sink->starts[1] % 1000000);
}

// Both streams on the graph's clock: the picture from its start latency on the frame slots, the
// sound from the start with buffers as long as the fast sound clock makes them; the marks' white
// picture and beep start on the same slot.
TEST(Streaming, CardClocksFollowTheDescription) {
  UseCard(R"({"video_start_latency_ms": 150, "audio_clock_ppm": 20000, "sync_marks": true, "clock_speed": 4})");
  SinkRig rig;
  ComPtr<IBaseFilter> audio = orv::test::BindDevice(CLSID_AudioInputDeviceCategory, 0);
  ASSERT_TRUE(audio);
  ASSERT_EQ(S_OK, rig.graph->AddFilter(audio, nullptr));
  SinkFilter* sound = rig.Attach(audio, PIN_CATEGORY_CAPTURE);
  SinkFilter* picture = rig.Attach(rig.capture, PIN_CATEGORY_CAPTURE);
  ASSERT_EQ(S_OK, rig.Run());
  ASSERT_TRUE(PumpUntil([&] { return sound->Count() >= 12 && picture->Count() >= 40; }, 10000));
  rig.Stop();
  constexpr REFERENCE_TIME kSlot = 333667;  // 29.97 frames per second
  EXPECT_GE(picture->starts[0], 1500000);  // from 150 ms (slot 5, unless the machine was too busy for it)
  EXPECT_LT(picture->starts[0], 8 * kSlot);
  for (std::size_t i = 0; i < picture->starts.size(); ++i) EXPECT_EQ(0, picture->starts[i] % kSlot) << i;
  EXPECT_EQ(0, sound->starts[0]);
  for (std::size_t i = 0; i < sound->starts.size(); ++i) {
    EXPECT_NEAR(i * 1000000 / 1.02, sound->starts[i], 1) << i;
    EXPECT_EQ(4410u * 4, sound->sizes[i]);
  }
  // Second 1's mark: slot 30, the first at or after 1 s; its beep starts on the same instant.
  orv::media::SyncMarks marks(kSlot);
  EXPECT_TRUE(marks.IsMarkFrame(30 * kSlot));
  EXPECT_FALSE(marks.IsMarkFrame(29 * kSlot));
  EXPECT_EQ(0, marks.Beep(30 * kSlot - 1));
  EXPECT_GT(marks.Beep(30 * kSlot + 2500), 8000);  // a quarter period of 1 kHz in
  EXPECT_EQ(0, marks.Beep(30 * kSlot + 1000000));
}

TEST(Streaming, DisconnectingWhileRunningIsSafe) {
  UseCard("");
  SinkRig rig;
  SinkFilter* sink = rig.Attach(rig.capture, PIN_CATEGORY_CAPTURE);
  ASSERT_EQ(S_OK, rig.Run());
  ASSERT_TRUE(PumpUntil([&] { return sink->Count() >= 1; }, 10000));
  ComPtr<IBaseFilter> keep = static_cast<IBaseFilter*>(sink);
  EXPECT_EQ(S_OK, rig.graph->RemoveFilter(keep));
  const std::size_t n = sink->Count();
  QThread::msleep(200);
  EXPECT_EQ(n, sink->Count());
}

// ---- A card's ALSA sound device -------------------------------------------------------------------

// A capture device as the ALSA calls see it: 48 kHz stereo; its frame k was captured at
// `firstFrame` after the start plus k / 48000 s; every read gets what it asks for, one period
// apart. Read number `overrunAt` fails with an overrun that loses `lost` frames.
struct FakePcm {
  static constexpr unsigned kRate = 48000, kPeriod = 4800;
  int openError = 0;
  REFERENCE_TIME firstFrame = 0;
  int overrunAt = -1;
  std::int64_t lost = 0;

  std::atomic<int> opens{0};
  REFERENCE_TIME origin = 0;
  std::int64_t next = 0;  // the next frame a read gets
  int reads = 0;
  orv::media::AlsaCalls calls;

  FakePcm() {
    auto* h = reinterpret_cast<snd_pcm_t*>(this);
    calls.open = [this, h](snd_pcm_t** out, const char*) {
      ++opens;
      if (openError) return openError;
      *out = h;
      return 0;
    };
    calls.configure = [](snd_pcm_t*, unsigned* rate, unsigned* channels, snd_pcm_uframes_t* period) {
      *rate = kRate;
      *channels = 2;
      *period = kPeriod;
      return 0;
    };
    calls.start = [this](snd_pcm_t*) {
      if (!origin) origin = orv::media::MonotonicNow() + firstFrame;
      return 0;
    };
    calls.wait = [](snd_pcm_t*, int) {
      QThread::msleep(2);
      return 1;
    };
    calls.status = [this](snd_pcm_t*, orv::media::AlsaStatus* st) {
      // A period is waiting: the newest frame came just now.
      st->state = SND_PCM_STATE_RUNNING;
      st->delay = kPeriod;
      st->stamp = origin + (next + kPeriod) * 10000000 / kRate;
      return 0;
    };
    calls.readi = [this](snd_pcm_t*, void* buf, snd_pcm_uframes_t frames) -> snd_pcm_sframes_t {
      if (reads++ == overrunAt) {
        next += lost;
        return -EPIPE;
      }
      std::fill_n(static_cast<std::int16_t*>(buf), frames * 2, std::int16_t{1000});
      next += static_cast<std::int64_t>(frames);
      return static_cast<snd_pcm_sframes_t>(frames);
    };
    calls.recover = [](snd_pcm_t*, int) { return 0; };
    calls.close = [](snd_pcm_t*) { return 0; };
    orv::media::SetAlsaCallsForTests(&calls);
  }
  ~FakePcm() { orv::media::SetAlsaCallsForTests(nullptr); }
};

// The sound device is opened only while the capture takes its sound, so a busy one never stops the
// preview; when the capture needs it, Run fails with the status and the user learns which device.
TEST(AlsaSound, BusyDeviceFailsTheRunAndIsNamed) {
  UseCard("");
  FakePcm pcm;
  pcm.openError = -EBUSY;
  orv::test::MessageBoxAnswerer boxes;
  SinkRig rig;
  ComPtr<IBaseFilter> audio;
  ASSERT_EQ(S_OK, orv::media::CreateAlsaCaptureFilter("plughw:CARD=Fake,DEV=0", "AudioCapture", &audio));
  ASSERT_EQ(S_OK, rig.graph->AddFilter(audio, nullptr));
  ASSERT_EQ(S_OK, rig.Run());  // nothing takes the sound: the device stays closed
  ASSERT_EQ(S_OK, rig.Stop());
  EXPECT_EQ(1, pcm.opens.load());  // only to learn its format

  rig.Attach(audio, PIN_CATEGORY_CAPTURE);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(static_cast<HRESULT>(0x80070000 | EBUSY), rig.Run());
  const std::string log = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, log.find("plughw:CARD=Fake,DEV=0 is busy")) << log;
  OAFilterState state = -1;
  ComPtr<IMediaControl> control;
  control.QueryFrom(rig.graph);
  control->GetState(0, &state);
  EXPECT_EQ(State_Stopped, state);
  ASSERT_TRUE(PumpUntil([&] { return !boxes.calls.empty(); }));
  EXPECT_NE(std::string::npos, boxes.calls[0].text.find("plughw:CARD=Fake,DEV=0")) << boxes.calls[0].text;
  EXPECT_NE(std::string::npos, boxes.calls[0].text.find("다른 프로그램이 사용하고 있습니다")) << boxes.calls[0].text;
}

// The first sample is where the device's status puts it on the graph's clock, not at the start;
// an overrun's lost frames come back as silence of their length, so later sound keeps its time.
TEST(AlsaSound, StatusPlacesTheSoundAndOverrunsBecomeSilence) {
  UseCard("");
  FakePcm pcm;
  pcm.firstFrame = 3000000;  // 300 ms after the start
  pcm.overrunAt = 3;
  pcm.lost = 6000;
  SinkRig rig;
  ComPtr<IBaseFilter> audio;
  ASSERT_EQ(S_OK, orv::media::CreateAlsaCaptureFilter("plughw:CARD=Fake,DEV=0", "AudioCapture", &audio));
  ASSERT_EQ(S_OK, rig.graph->AddFilter(audio, nullptr));
  SinkFilter* sink = rig.Attach(audio, PIN_CATEGORY_CAPTURE);
  sink->keepSound = true;
  ASSERT_EQ(S_OK, rig.Run());
  ASSERT_TRUE(PumpUntil([&] { return sink->Count() >= 6; }, 10000));
  rig.Stop();

  constexpr std::int64_t kBuffer = 1000000;  // 4800 frames
  EXPECT_GE(sink->starts[0], 3000000);
  EXPECT_LT(sink->starts[0], 3000000 + 1000000);  // the moments between the graph's start and the device's
  for (std::size_t i = 1; i < sink->starts.size(); ++i) {
    EXPECT_EQ(sink->starts[0] + static_cast<std::int64_t>(i) * kBuffer, sink->starts[i]) << i;
    EXPECT_EQ(sink->starts[i] + kBuffer, sink->stops[i]) << i;
  }
  // Three periods of sound, the 6000 lost frames as silence, then sound again.
  const auto& s = sink->sound;
  ASSERT_GE(s.size(), (3 * 4800 + 6000 + 100) * 2u);
  auto frameValue = [&](std::size_t f) { return s[2 * f]; };
  EXPECT_EQ(1000, frameValue(3 * 4800 - 1));
  EXPECT_EQ(0, frameValue(3 * 4800));
  EXPECT_EQ(0, frameValue(3 * 4800 + 5999));
  EXPECT_EQ(1000, frameValue(3 * 4800 + 6000));
  EXPECT_EQ(std::count(s.begin(), s.end(), 0), 6000 * 2);
}

TEST(Pacer, SkipsAndCountsTicksItCouldNotKeep) {
  orv::media::Pacer pacer;
  std::atomic<int> ticks{0}, missed{0};
  std::atomic<std::int64_t> lastIndex{-1};
  pacer.Start(100000 /* 10 ms */, [&](std::int64_t index, REFERENCE_TIME time, int skipped) {
    EXPECT_EQ(index * 100000, time);
    EXPECT_GT(index, lastIndex.load());
    lastIndex = index;
    missed += skipped;
    if (++ticks == 2) QThread::msleep(60);  // falls at least five slots behind
  });
  ASSERT_TRUE(PumpUntil([&] { return ticks >= 4; }, 10000));
  pacer.Stop();
  const int after = ticks;
  QThread::msleep(50);
  EXPECT_EQ(after, ticks.load());
  EXPECT_GE(missed.load(), 4);
  EXPECT_EQ(lastIndex.load() + 1, ticks.load() + missed.load());
}

// ---- The card's picture -----------------------------------------------------------------------------

struct Frame {
  std::vector<BYTE> data = std::vector<BYTE>(64 * 48 * 2);
  BYTE Y(int x, int y) const { return data[(y * 64 + x) * 2]; }
  BYTE U(int x, int y) const { return data[(y * 64 + (x & ~1)) * 2 + 1]; }
  BYTE V(int x, int y) const { return data[(y * 64 + (x & ~1)) * 2 + 3]; }
  double Roughness() const {
    double sum = 0;
    for (int y = 0; y < 48; ++y)
      for (int x = 1; x < 64; ++x) sum += std::abs(Y(x, y) - Y(x - 1, y));
    return sum / (48 * 63);
  }
  double MeanY() const {
    double sum = 0;
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) sum += Y(x, y);
    return sum / (48 * 64);
  }
};

Frame Draw(PictureGenerator& g, const PictureState& s, std::int64_t index = 0) {
  Frame f;
  g.DrawYUY2(s, index, f.data.data(), 64, 48);
  return f;
}

PictureState Tuned(LONG channel, bool signal) {
  PictureState s;
  s.input = PictureState::Input::Tuner;
  s.channel = channel;
  s.signal = signal;
  return s;
}

TEST(CardPicture, ChannelsDifferSnowIsGreyNoiseAndNoInputIsBlack) {
  PictureGenerator g;
  const Frame seven = Draw(g, Tuned(7, true)), nine = Draw(g, Tuned(9, true));
  EXPECT_NE(seven.U(2, 24), nine.U(2, 24));
  EXPECT_LT(seven.Roughness(), 10);
  const Frame snow = Draw(g, Tuned(8, false)), snow2 = Draw(g, Tuned(8, false), 1);
  EXPECT_GT(snow.Roughness(), 40);
  EXPECT_NE(snow.data, snow2.data);
  EXPECT_EQ(128, snow.U(10, 10));
  EXPECT_EQ(128, snow.V(30, 40));
  PictureState none;
  const Frame black = Draw(g, none);
  EXPECT_EQ(16, black.Y(0, 0));
  EXPECT_EQ(0.0, black.Roughness());
}

TEST(CardPicture, TheBoxMovesFromFrameToFrame) {
  PictureGenerator g;
  PictureState composite;
  composite.input = PictureState::Input::External;
  composite.connector = PhysConn_Video_Composite;
  EXPECT_NE(Draw(g, composite, 0).data, Draw(g, composite, 1).data);
  EXPECT_NE(Draw(g, Tuned(7, true), 3).data, Draw(g, Tuned(7, true), 4).data);
}

TEST(CardPicture, ExternalInputsHaveTheirOwnPatterns) {
  PictureGenerator g;
  PictureState composite, svideo;
  composite.input = svideo.input = PictureState::Input::External;
  composite.connector = PhysConn_Video_Composite;
  svideo.connector = PhysConn_Video_SVideo;
  const Frame c = Draw(g, composite), s = Draw(g, svideo);
  EXPECT_GT(c.Y(2, 40) - c.Y(62, 40), 100);   // white bar left, black bar right
  EXPECT_EQ(c.Y(30, 30), c.Y(30, 45));
  EXPECT_GT(s.Y(40, 2) - s.Y(40, 46), 100);   // white bar on top, black at the bottom
  EXPECT_EQ(s.Y(20, 46), s.Y(60, 46));
}

TEST(CardPicture, PictureControlsActOnLumaAndChroma) {
  PictureGenerator g;
  PictureState s = Tuned(7, true);
  const Frame normal = Draw(g, s);
  s.brightness = 0.9;
  EXPECT_GT(Draw(g, s).MeanY(), normal.MeanY() + 50);
  s.brightness = 0.5;
  s.contrast = 0.0;
  const Frame flat = Draw(g, s);
  EXPECT_EQ(0.0, flat.Roughness());
  s.contrast = 0.5;
  s.saturation = 0.0;
  const Frame grey = Draw(g, s);
  EXPECT_EQ(128, grey.U(2, 24));
  EXPECT_EQ(128, grey.V(2, 24));
  s.saturation = 0.5;
  s.hue = 0.0;  // half a turn: chroma inverted
  const Frame turned = Draw(g, s);
  EXPECT_NEAR(256 - normal.U(2, 24), turned.U(2, 24), 2);
  EXPECT_NEAR(256 - normal.V(2, 24), turned.V(2, 24), 2);
  EXPECT_EQ(normal.Y(2, 24), turned.Y(2, 24));
}

// ---- Conversion -------------------------------------------------------------------------------------

TEST(FrameConversion, YuvColoursScaleIntoRgb32InEveryLayout) {
  // Left half 75% white, right half 75% red, in each layout a card may send.
  const int w = 16, h = 8;
  auto y = [&](int x) { return static_cast<BYTE>(x < w / 2 ? 180 : 65); };
  auto u = [&](int x) { return static_cast<BYTE>(x < w / 2 ? 128 : 100); };
  auto v = [&](int x) { return static_cast<BYTE>(x < w / 2 ? 128 : 212); };
  struct Layout {
    const char* name;
    const GUID* subtype;
    std::vector<BYTE> data;
  } layouts[] = {{"YUY2", &MEDIASUBTYPE_YUY2, {}}, {"UYVY", &MEDIASUBTYPE_UYVY, {}}, {"I420", &MEDIASUBTYPE_I420, {}},
                 {"YV12", &MEDIASUBTYPE_YV12, {}}, {"NV12", &MEDIASUBTYPE_NV12, {}}};
  for (int row = 0; row < h; ++row)
    for (int x = 0; x < w; x += 2) {
      for (BYTE b : {y(x), u(x), y(x), v(x)}) layouts[0].data.push_back(b);
      for (BYTE b : {u(x), y(x), v(x), y(x)}) layouts[1].data.push_back(b);
    }
  for (int k = 2; k < 5; ++k) layouts[k].data.assign(w * h, 0);
  for (int k = 2; k < 5; ++k)
    for (int i = 0; i < w * h; ++i) layouts[k].data[i] = y(i % w);
  for (int row = 0; row < h / 2; ++row) {
    for (int x = 0; x < w; x += 2) layouts[2].data.push_back(u(x));  // I420: U plane, then V
    for (int x = 0; x < w; x += 2) layouts[3].data.push_back(v(x));  // YV12: V plane, then U
    for (int x = 0; x < w; x += 2) layouts[4].data.push_back(u(x)), layouts[4].data.push_back(v(x));  // NV12
  }
  for (int row = 0; row < h / 2; ++row) {
    for (int x = 0; x < w; x += 2) layouts[2].data.push_back(v(x));
    for (int x = 0; x < w; x += 2) layouts[3].data.push_back(u(x));
  }
  for (const Layout& l : layouts) {
    SCOPED_TRACE(l.name);
    FrameConverter conv;
    std::vector<std::uint32_t> out(64 * 32, 0);
    ASSERT_TRUE(conv.Convert(*l.subtype, l.data.data(), l.data.size(), w, h, reinterpret_cast<BYTE*>(out.data()), 64,
                             32, 64 * 4));
    const std::uint32_t white = out[16 * 64 + 5], red = out[16 * 64 + 60];
    EXPECT_NEAR(191, (white >> 16) & 0xFF, 4);
    EXPECT_NEAR(191, (white >> 8) & 0xFF, 4);
    EXPECT_NEAR(191, white & 0xFF, 4);
    EXPECT_NEAR(191, (red >> 16) & 0xFF, 6);
    EXPECT_NEAR(0, (red >> 8) & 0xFF, 6);
    EXPECT_NEAR(0, red & 0xFF, 6);
    // A frame too short for its size is refused.
    EXPECT_FALSE(conv.Convert(*l.subtype, l.data.data(), l.data.size() - 1, w, h, reinterpret_cast<BYTE*>(out.data()),
                              64, 32, 64 * 4));
  }
}

TEST(FrameConversion, Rgb24IsBottomUpAndBadInputIsRefused) {
  const int w = 4, h = 2, stride = 12;
  std::vector<BYTE> dib(stride * h, 0);
  for (int x = 0; x < w; ++x) dib[x * 3 + 2] = 255;  // first row in memory (the bottom): red
  FrameConverter conv;
  std::vector<std::uint32_t> out(w * h, 0);
  ASSERT_TRUE(conv.Convert(MEDIASUBTYPE_RGB24, dib.data(), dib.size(), w, h, reinterpret_cast<BYTE*>(out.data()), w, h,
                           w * 4));
  EXPECT_EQ(0x000000u, out[0] & 0xFFFFFF);       // top row black
  EXPECT_EQ(0xFF0000u, out[w] & 0xFFFFFF);       // bottom row red
  EXPECT_FALSE(conv.Convert(MEDIASUBTYPE_dvsd, dib.data(), dib.size(), w, h, reinterpret_cast<BYTE*>(out.data()), w,
                            h, w * 4));
  EXPECT_FALSE(conv.Convert(MEDIASUBTYPE_YUY2, dib.data(), 3, w, h, reinterpret_cast<BYTE*>(out.data()), w, h, w * 4));
  EXPECT_FALSE(conv.Convert(MEDIASUBTYPE_YUY2, dib.data(), dib.size(), w, h, reinterpret_cast<BYTE*>(out.data()), w,
                            h, 2));
}

}  // namespace
