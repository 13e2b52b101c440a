// A card's ALSA sound device played through the seam under its calls.
#include "platform/media/devices/alsacapture.h"
#include "platform/media/devices/realcards.h"
#include "tests/media/mediarig.h"
#include "tests/support/uitest.h"

#include <QThread>
#include <atomic>
#include <utility>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using orv::test::GraphRig;
using orv::test::PumpUntil;

namespace {

// A capture device as the ALSA calls see it: 48 kHz stereo; its frame k was captured at
// `firstFrame` after the start plus k / 48000 s; every read gets what it asks for, one period
// apart. Read number `overrunAt` fails with an overrun that loses `lost` frames; the status right
// after it reads `lateAfterOverrun` late, as a pointer that moves in steps does.
struct FakePcm {
  static constexpr unsigned kRate = 48000, kPeriod = 4800;
  int openError = 0, overrunAt = -1, reads = 0;
  REFERENCE_TIME firstFrame = 0, origin = 0, lateAfterOverrun = 0, late = 0;
  std::int64_t lost = 0, next = 0;  // next: the next frame a read gets
  std::atomic<int> opens{0};
  orv::media::AlsaCalls calls;

  FakePcm() {
    calls.open = [this](snd_pcm_t** out, const char*) { return ++opens, *out = reinterpret_cast<snd_pcm_t*>(this), openError; };
    calls.configure = [](snd_pcm_t*, unsigned* rate, unsigned* channels, snd_pcm_uframes_t* period) {
      return *rate = kRate, *channels = 2, *period = kPeriod, 0;
    };
    calls.start = [this](snd_pcm_t*) { return origin = origin ? origin : orv::media::MonotonicNow() + firstFrame, 0; };
    calls.wait = [](snd_pcm_t*, int) { return QThread::msleep(2), 1; };
    calls.status = [this](snd_pcm_t*, orv::media::AlsaStatus* st) {  // a period waits; its newest frame came now
      return st->state = SND_PCM_STATE_RUNNING, st->delay = kPeriod, st->stamp = origin + (next + kPeriod) * 10000000 / kRate + std::exchange(late, 0), 0;
    };
    calls.readi = [this](snd_pcm_t*, void* buf, snd_pcm_uframes_t frames) -> snd_pcm_sframes_t {
      if (reads++ == overrunAt) return next += lost, late = lateAfterOverrun, -EPIPE;
      std::fill_n(static_cast<std::int16_t*>(buf), frames * 2, std::int16_t{1000});
      return next += static_cast<std::int64_t>(frames), static_cast<snd_pcm_sframes_t>(frames);
    };
    calls.recover = [](snd_pcm_t*, int) { return 0; };
    calls.close = [](snd_pcm_t*) { return 0; };
    orv::media::SetAlsaCallsForTests(&calls);
  }
  ~FakePcm() { orv::media::SetAlsaCallsForTests(nullptr); }
};

// The played device in the virtual card's graph.
struct AlsaRig : GraphRig {
  AlsaRig() {
    EXPECT_EQ(S_OK, orv::media::CreateAlsaCaptureFilter("plughw:CARD=Fake,DEV=0", "AudioCapture", &audio));
    EXPECT_EQ(S_OK, graph->AddFilter(audio, nullptr));
  }
  ComPtr<IBaseFilter> audio;
};

// The sound device is opened only while the capture takes its sound, so a busy one never stops the
// preview; when the capture needs it, Run fails with the status and the user learns which device.
TEST(AlsaSound, BusyDeviceFailsTheRunAndIsNamed) {
  orv::test::UseCard("");
  FakePcm pcm;
  pcm.openError = -EBUSY;
  orv::test::MessageBoxAnswerer boxes;
  AlsaRig rig;
  ASSERT_EQ(S_OK, rig.control->Run());  // nothing takes the sound: the device stays closed
  ASSERT_EQ(S_OK, rig.control->Stop());
  EXPECT_EQ(1, pcm.opens.load());  // only to learn its format

  orv::test::AttachSink(rig.graph, rig.audio, PIN_CATEGORY_CAPTURE);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(static_cast<HRESULT>(0x80070000 | EBUSY), rig.control->Run());
  EXPECT_THAT(::testing::internal::GetCapturedStderr(), ::testing::HasSubstr("plughw:CARD=Fake,DEV=0 is busy"));
  ASSERT_TRUE(PumpUntil([&] { return !boxes.calls.empty(); }));
  EXPECT_THAT(boxes.calls[0].text, ::testing::AllOf(::testing::HasSubstr("plughw:CARD=Fake,DEV=0"),
                                                   ::testing::HasSubstr("다른 프로그램이 사용하고 있습니다")));
}

// The first sample is where the device's status puts it on the graph's clock, not at the start;
// an overrun's lost frames come back as silence of their length, measured against the fit made
// before it, so a late reading after the restart adds no silence and later sound keeps its time.
TEST(AlsaSound, StatusPlacesTheSoundAndOverrunsBecomeSilence) {
  orv::test::UseCard("");
  FakePcm pcm;
  pcm.firstFrame = 3000000;  // 300 ms after the start
  pcm.overrunAt = 3, pcm.lost = 6000, pcm.lateAfterOverrun = 200000;  // 20 ms: 960 frames
  AlsaRig rig;
  auto sink = orv::test::AttachSink(rig.graph, rig.audio, PIN_CATEGORY_CAPTURE);
  ASSERT_EQ(S_OK, rig.control->Run());
  ASSERT_TRUE(PumpUntil([&] { return sink->Count() >= 6; }, 10000));
  rig.control->Stop();

  constexpr std::int64_t kBuffer = 1000000;  // 4800 frames
  // Between the device's first frame and its first period's end.
  EXPECT_THAT(sink->starts[0], ::testing::AllOf(::testing::Ge(3000000), ::testing::Lt(4000000)));
  std::vector<std::int16_t> s;
  for (std::size_t i = 0; i < sink->starts.size(); ++i) {
    EXPECT_EQ(sink->starts[0] + static_cast<std::int64_t>(i) * kBuffer, sink->starts[i]) << i;
    EXPECT_EQ(sink->starts[i] + kBuffer, sink->stops[i]) << i;
    const auto* p = reinterpret_cast<const std::int16_t*>(sink->data[i].data());
    s.insert(s.end(), p, p + sink->data[i].size() / 2);
  }
  // Three periods of sound, the 6000 lost frames as silence, then sound again.
  ASSERT_GE(s.size(), (3 * 4800 + 6000 + 100) * 2u);
  std::vector<std::int16_t> expected(s.size(), 1000);
  std::fill_n(expected.begin() + 2 * 3 * 4800, 2 * 6000, 0);
  EXPECT_EQ(expected, s);
}

}  // namespace
