// The sound meters and the live picture's levels: the model, and what a graph measures on the
// virtual card's known tone and luma range.
#include "platform/media/graph/levels.h"
#include "tests/media/mediarig.h"
#include "tests/support/testenv.h"
#include "tests/support/uitest.h"

#include <QThread>
#include <cmath>
#include <gtest/gtest.h>

using orv::media::SoundMeter;
using orv::test::PumpUntil;
using orv::test::UseCard;

namespace {

constexpr REFERENCE_TIME kMs = 10000;

// A tenth of a second of 16-bit stereo, each side a square wave of this peak.
std::vector<BYTE> Block(int left, int right) {
  std::vector<std::int16_t> samples;
  for (int f = 0; f < 4410; ++f) {
    const int sign = f % 2 ? -1 : 1;
    samples.push_back(static_cast<std::int16_t>(std::clamp(sign * left, -32768, 32767)));
    samples.push_back(static_cast<std::int16_t>(std::clamp(sign * right, -32768, 32767)));
  }
  const auto* bytes = reinterpret_cast<const BYTE*>(samples.data());
  return {bytes, bytes + samples.size() * 2};
}

// The peak shows a quarter second, the hold two seconds; a sample at full scale latches the clip
// mark until it is cleared, however quiet the sound becomes.
TEST(SoundMeter, PeakHoldAndClipMarkFollowTheirTimes) {
  const WAVEFORMATEX stereo{WAVE_FORMAT_PCM, 2, 44100, 44100 * 4, 4, 16, 0};
  constexpr double kQuiet = -20.0, kFull = 0.0, kNone = orv::kSilenceDb;
  struct Step {
    REFERENCE_TIME at;
    int left;           // the block's left peak added at `at`; -1: none added
    bool clear;         // the clip mark cleared at `at`
    double peak, hold;  // left side read at `at`
    bool clipped;
  };
  const Step steps[] = {
      {0, 3277, false, kQuiet, kQuiet, false},
      {100 * kMs, 32768, false, kFull, kFull, true},  // the most negative code is full scale too
      {400 * kMs, 3277, false, kQuiet, kFull, true},
      {2000 * kMs, 3277, false, kQuiet, kFull, true},  // the loud block is 1.9 s old
      {2150 * kMs, -1, false, kQuiet, kQuiet, true},  // 2.05 s: the hold falls back
      {2200 * kMs, -1, true, kQuiet, kQuiet, false},
      {2300 * kMs, -1, false, kNone, kQuiet, false},  // the last block is past its quarter second
      {4500 * kMs, -1, false, kNone, kNone, false},
  };
  SoundMeter meter;
  for (const Step& s : steps) {
    SCOPED_TRACE(s.at / kMs);
    if (s.left >= 0) {
      const std::vector<BYTE> block = Block(s.left, 0);
      ASSERT_TRUE(meter.Add(stereo, block.data(), block.size(), s.at));
    }
    if (s.clear) meter.ClearClip();
    const orv::SoundLevels levels = meter.Read(s.at);
    ASSERT_EQ(2, levels.channels);
    EXPECT_NEAR(s.peak, levels.peakDb[0], 0.01);
    EXPECT_NEAR(s.hold, levels.holdDb[0], 0.01);
    EXPECT_EQ(s.clipped, levels.clipped[0]);
    EXPECT_EQ(kNone, levels.holdDb[1]);
    EXPECT_FALSE(levels.clipped[1]);
  }
  // Sound it cannot read is left alone.
  const WAVEFORMATEX eightBit{WAVE_FORMAT_PCM, 2, 44100, 44100 * 2, 2, 8, 0};
  const std::vector<BYTE> block = Block(100, 100);
  EXPECT_FALSE(meter.Add(eightBit, block.data(), block.size(), 0));
}

// The sound recorded through the mux, as the graph's meters read it: the card's tone at the
// levels its description gives, and a full-scale side marked as clipped until cleared.
TEST(SignalLevels, MetersReadTheSoundThatGoesIntoTheFile) {
  struct Case {
    const char* tone;
    double left, right;
    bool leftClipped;
  };
  const Case cases[] = {{"[-6, -20]", -6.0, -20.0, false}, {"[0, -45.5]", 0.0, -45.5, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tone);
    UseCard(std::string(R"({"tone_dbfs": )") + c.tone + "}");
    orv::test::FreshConfigDir();
    orv::test::EmptyGraph rig;
    ComPtr<IBaseFilter> audio = orv::test::BindDevice(CLSID_AudioInputDeviceCategory, 0);
    ASSERT_EQ(S_OK, rig.graph->AddFilter(audio, nullptr));
    ComPtr<IBaseFilter> mux;
    ComPtr<IFileSinkFilter> sink;
    const std::string path = orv::test::ConfigDir() + "/tone.avi";
    ASSERT_EQ(S_OK, rig.builder->SetOutputFileName(&MEDIASUBTYPE_Avi, orv::media::Widen(path).c_str(), &mux, &sink));
    ASSERT_EQ(S_OK, rig.builder->RenderStream(&PIN_CATEGORY_CAPTURE, audio, nullptr, mux));
    ComPtr<ISignalLevels> levels;
    ASSERT_EQ(S_OK, levels.QueryFrom(rig.graph));
    orv::SoundLevels read;
    ASSERT_EQ(S_OK, levels->GetSoundLevels(&read));
    EXPECT_EQ(0, read.channels) << "nothing recorded yet";

    ASSERT_EQ(S_OK, rig.control->Run());
    ASSERT_TRUE(PumpUntil([&] { return levels->GetSoundLevels(&read) == S_OK && read.channels == 2; }, 10000));
    ASSERT_EQ(S_OK, rig.control->Stop());
    EXPECT_NEAR(c.left, read.peakDb[0], 0.5);
    EXPECT_NEAR(c.right, read.peakDb[1], 0.5);
    EXPECT_EQ(std::pair(c.leftClipped, false), std::pair(read.clipped[0], read.clipped[1]));
    ASSERT_EQ(S_OK, levels->ClearClip());
    ASSERT_EQ(S_OK, levels->GetSoundLevels(&read));
    EXPECT_FALSE(read.clipped[0]);
  }
  UseCard("");
}

// Pictures of every layout the card may deliver give their luma, top row first.
TEST(SignalLevels, LumaOfEveryLayout) {
  struct Case {
    const char* name;
    GUID subtype;
    std::vector<BYTE> data;
    int width, height;
    std::vector<BYTE> luma;  // empty: refused
  };
  const Case cases[] = {
      {"YUY2", MEDIASUBTYPE_YUY2, {10, 128, 20, 128, 30, 128, 40, 128}, 2, 2, {10, 20, 30, 40}},
      {"UYVY", MEDIASUBTYPE_UYVY, {128, 10, 128, 20, 128, 30, 128, 40}, 2, 2, {10, 20, 30, 40}},
      {"NV12", MEDIASUBTYPE_NV12, {10, 20, 30, 40, 128, 128}, 2, 2, {10, 20, 30, 40}},
      // Bottom-up, rows padded to four bytes: the white row is the top one.
      {"RGB24", MEDIASUBTYPE_RGB24, {0, 0, 0, 0, 0, 0, 0, 0, 255, 255, 255, 255, 255, 255, 0, 0}, 2, 2, {235, 235, 16, 16}},
      {"short YUY2", MEDIASUBTYPE_YUY2, {10, 128, 20, 128}, 2, 2, {}},
      {"MJPG", MEDIASUBTYPE_MJPG, {0xFF, 0xD8}, 2, 2, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<BYTE> luma;
    const bool read = orv::media::ExtractLuma(c.subtype, c.data.data(), c.data.size(), c.width, c.height, &luma);
    EXPECT_EQ(!c.luma.empty(), read);
    if (read) EXPECT_EQ(c.luma, luma);
  }
}

// The live picture's levels on the card's luma range: the darkest and brightest codes, the share
// outside black..white, and a waveform and histogram holding exactly the picture's codes.
TEST(SignalLevels, PictureLevelsFollowTheCardsLumaRange) {
  struct Case {
    const char* card;
    int ymin, ymax;
    bool outside;
  };
  const Case cases[] = {{"{}", 16, 235, false}, {R"({"luma_range": [10, 240]})", 10, 240, true},
                        {R"({"luma_range": [40, 200]})", 40, 200, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.card);
    UseCard(c.card);
    orv::test::GraphRig rig;
    ASSERT_EQ(S_OK, rig.builder->RenderStream(&PIN_CATEGORY_PREVIEW, rig.capture, nullptr, nullptr));
    ComPtr<ISignalLevels> levels;
    ASSERT_EQ(S_OK, levels.QueryFrom(rig.graph));
    auto read = std::make_unique<orv::PictureLevels>();
    ASSERT_EQ(S_OK, rig.control->Run());
    // Unwatched, nothing is measured.
    QThread::msleep(300);
    EXPECT_EQ(S_FALSE, levels->GetPictureLevels(read.get()));
    ASSERT_EQ(S_OK, levels->put_Watch(TRUE));
    ASSERT_TRUE(PumpUntil([&] { return levels->GetPictureLevels(read.get()) == S_OK; }, 10000));
    rig.control->Stop();
    EXPECT_EQ(std::pair(c.ymin, c.ymax), std::pair(read->ymin, read->ymax));
    EXPECT_EQ(c.outside, read->brng > 0) << read->brng;
    EXPECT_EQ(std::pair(640, 480), std::pair(read->width, read->height));
    std::uint64_t pixels = 0;
    for (int code = 0; code < orv::kLumaCodes; ++code) {
      pixels += read->histogram[code];
      bool shown = false;
      for (int column = 0; column < orv::kWaveColumns; ++column) shown = shown || read->waveform[code][column] != 0;
      EXPECT_EQ(read->histogram[code] != 0, shown) << code;
    }
    EXPECT_EQ(640u * 480, pixels);
  }
  UseCard("");
}

}  // namespace
