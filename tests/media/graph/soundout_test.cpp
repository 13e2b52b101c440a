// Sound through: the card's sound played on an ALSA output (a fake one here) from the reader that
// records it.
#include "tests/media/mediarig.h"
#include "tests/support/uitest.h"

#include <QThread>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

using orv::test::PumpUntil;
using orv::test::FakeOutput;
using orv::test::UseCard;

namespace {

// The video capture filter and the sound of the card in one graph, the picture kept by a sink.
struct ThroughRig : orv::test::GraphRig {
  ThroughRig() {
    audio = orv::test::BindDevice(CLSID_AudioInputDeviceCategory, 0);
    EXPECT_EQ(S_OK, graph->AddFilter(audio, nullptr));
    picture = orv::test::AttachSink(graph, capture, PIN_CATEGORY_CAPTURE);
  }
  // The sound's preview: through a tee (the card has no preview pin for it) to a sound renderer.
  ComPtr<ISoundOutput> PlayThrough() {
    EXPECT_EQ(VFW_S_NOPREVIEWPIN, builder->RenderStream(&PIN_CATEGORY_PREVIEW, audio, nullptr, nullptr));
    ComPtr<ISoundOutput> output;
    // Found from the capture pin, which feeds the tee.
    EXPECT_EQ(S_OK, builder->FindInterface(&PIN_CATEGORY_CAPTURE, audio, IID_PPV_ARGS(&output)));
    return output;
  }
  ComPtr<IBaseFilter> audio;
  ComPtr<orv::test::KeepSink> picture;
};

// The card's tone (-6 dBFS: a peak of 16422) reaches the output at the level set on it; an output
// that cannot be opened is reported in one line, and the picture goes on.
TEST(SoundThrough, PlaysAtItsLevelOrLeavesTheSoundOutWithOneLine) {
  struct Case {
    const char* what;
    int open;
    LONG volume;
    BOOL mute;
    int peak;  // -1: nothing played
  };
  const Case cases[] = {
      {"as it comes", 0, 0xFFFF, FALSE, 16422}, {"half", 0, 0x8000, FALSE, 16422 * 0x8000 / 0xFFFF},
      {"muted", 0, 0xFFFF, TRUE, 0},             {"busy", -EBUSY, 0xFFFF, FALSE, -1},
      {"missing", -ENOENT, 0xFFFF, FALSE, -1},
  };
  UseCard(R"({"tone_dbfs": [-6, -6]})");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeOutput out(c.open);
    ThroughRig rig;
    ComPtr<ISoundOutput> output = rig.PlayThrough();
    ASSERT_TRUE(output);
    // A device of its own a case: a failing output is told once a run of the program.
    const std::string device = "hw:Loopback," + std::to_string(&c - cases);
    ASSERT_EQ(S_OK, output->put_Device(device.c_str()));
    ASSERT_EQ(S_OK, output->put_Level(c.volume, c.mute));
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(S_OK, rig.control->Run());
    if (c.peak >= 0) ASSERT_TRUE(PumpUntil([&] { return out.Played() >= 3 * 4410 * 2; }, 10000));
    const std::size_t pictures = rig.picture->Count();
    EXPECT_TRUE(PumpUntil([&] { return rig.picture->Count() >= pictures + 5; }, 10000)) << "the picture stopped";
    rig.control->Stop();
    if (c.peak < 0) {
      // The graph started again finds the output failing again, and says nothing more.
      ASSERT_EQ(S_OK, rig.control->Run());
      PumpUntil([&] { return out.Opened() == 2; }, 5000);
      rig.control->Stop();
    }
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::vector<std::string>(c.peak < 0 ? 2 : 1, device), out.opened);
    if (c.peak < 0) {
      EXPECT_EQ(0u, out.Played());
      EXPECT_NE(std::string::npos, said.find("sound through: cannot play on " + device)) << said;
      EXPECT_EQ(said.find('\n'), said.rfind('\n')) << "one line: " << said;
    } else {
      EXPECT_NEAR(c.peak, out.Peak(), 2);
    }
  }
  UseCard("");
}

// One reader, two consumers: the sound the file gets is the sound played, and while the capture
// stream is held back (as it is while a recording starts) the sound still plays. The card's sync
// marks make each second's beep land in its buffers at a place of its own.
TEST(SoundThrough, TheRecordingAndTheOutputGetTheSameSound) {
  UseCard(R"({"sync_marks": true})");
  FakeOutput out;
  ThroughRig rig;
  auto recorded = orv::test::AttachSink(rig.graph, rig.audio, PIN_CATEGORY_CAPTURE);
  ASSERT_TRUE(rig.PlayThrough());
  REFERENCE_TIME never = MAXLONGLONG;
  ASSERT_EQ(S_OK, rig.builder->ControlStream(&PIN_CATEGORY_CAPTURE, nullptr, &never, nullptr, 0, 0));
  ASSERT_EQ(S_OK, rig.control->Run());
  ASSERT_TRUE(PumpUntil([&] { return out.Played() >= 2 * 4410 * 2; }, 10000));
  EXPECT_EQ(0u, recorded->Count()) << "held back";
  ASSERT_EQ(S_OK, rig.builder->ControlStream(&PIN_CATEGORY_CAPTURE, nullptr, nullptr, &never, 0, 0));
  // The recorded buffers that hold the start of a beep (silence, then sound); one of them is played
  // as it was recorded. Not every one need be: a machine too busy to keep up leaves sound out.
  auto beeps = [&] {
    std::vector<std::vector<std::int16_t>> found;
    std::lock_guard lock(recorded->mutex);
    for (const auto& data : recorded->data) {
      std::vector<std::int16_t> s(data.size() / 2);
      std::memcpy(s.data(), data.data(), data.size());
      if (s.front() == 0 && std::any_of(s.begin(), s.end(), [](std::int16_t v) { return v != 0; })) found.push_back(s);
    }
    return found;
  };
  ASSERT_TRUE(PumpUntil([&] { return !beeps().empty(); }, 10000));
  auto played = [&] {
    const auto candidates = beeps();
    std::lock_guard lock(out.mutex);
    return std::any_of(candidates.begin(), candidates.end(), [&](const auto& beep) {
      return std::search(out.played.begin(), out.played.end(), beep.begin(), beep.end()) != out.played.end();
    });
  };
  EXPECT_TRUE(PumpUntil(played, 10000)) << "no recorded beep was played as it was recorded";
  rig.control->Stop();
  EXPECT_EQ(1u, out.opened.size());
  UseCard("");
}

}  // namespace
