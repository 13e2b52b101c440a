// Sound through as the engine builds it: win.ini's choice and the card's sound decide whether the
// sound plays and where; a recording goes on playing it from the reader that records it.
#include "common/Commands.h"
#include "tests/capture/enginerig.h"

#include <gtest/gtest.h>

using orv::test::EngineRig;
using orv::test::FakeOutput;
using orv::test::PumpUntil;

namespace {

TEST(SoundThrough, TheChoiceAndTheCardsSoundDecide) {
  const char* two = R"({"devices": [{}, {}]})";
  struct Case {
    const char* card;
    const char* winIni;
    const char* output;  // the device opened; nullptr: the sound does not play
  };
  const Case cases[] = {
      {"", "", "default"},
      {"", "[orvane]\nSoundThrough=auto\nSoundThroughDevice=hw:Loopback,1\n", "hw:Loopback,1"},
      {"", "[orvane]\nSoundThrough=0\n", nullptr},
      {"", "[orvane]\nSoundThrough=yes\n", "default"},              // not understood: automatic
      {two, "[orvane]\nAudioDevice=1\n", nullptr},                   // another card's sound: not by itself
      {two, "[orvane]\nAudioDevice=1\nSoundThrough=1\n", "default"},  // unless asked
      {R"({"audio": false})", "[orvane]\nSoundThrough=1\n", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.card) + " " + c.winIni);
    FakeOutput out;
    EngineRig rig(c.card, c.winIni);
    CCaptureGraph& e = rig.Start();
    ASSERT_TRUE(e.m_bPreviewing);
    if (c.output) {
      EXPECT_TRUE(PumpUntil([&] { return out.Played() > 0; }, 5000));
      EXPECT_EQ(std::vector<std::string>{c.output}, out.opened);
    } else {
      PumpUntil([] { return false; }, 400);
      EXPECT_TRUE(out.opened.empty());
      EXPECT_FALSE(e.m_pSoundOutput);
    }
    EXPECT_TRUE(rig.Texts().empty());
  }
}

// The level set for the output scales what is played, also on the graphs built later, never what
// is recorded: the meters read the file's sound at the card's level.
TEST(SoundThrough, ARecordingPlaysTheSoundItRecordsAtTheLevelSet) {
  FakeOutput out;
  EngineRig rig(R"({"tone_dbfs": [-6, -6]})");
  CCaptureGraph& e = rig.Start();
  e.SelectSource(SOURCE_VIDEO);  // the tone of an external input (the first channel has no signal)
  ASSERT_TRUE(PumpUntil([&] { return out.Played() > 0; }, 5000));
  e.SetSoundThroughLevel(0x8000, FALSE);
  const std::string clip = orv::test::ConfigDir() + "/clip.avi";
  ASSERT_EQ(1, e.StartFileCapture(clip.c_str(), FALSE, 0));
  out.Clear();
  ASSERT_TRUE(PumpUntil([&] { return out.Played() >= 2 * 4410 * 2; }, 5000));
  EXPECT_NEAR(16422 * 0x8000 / 0xFFFF, out.Peak(), 2);
  orv::SoundLevels recorded;
  ASSERT_TRUE(PumpUntil([&] { return e.ReadSoundLevels(&recorded) && recorded.channels == 2; }, 5000));
  EXPECT_NEAR(-6.0, recorded.peakDb[0], 0.5);
  ASSERT_EQ(1, e.StopFileCapture());
  // The live picture's graph, the recording's, the live picture's again: one output at a time.
  EXPECT_TRUE(PumpUntil([&] { return out.Opened() == 3; }, 5000)) << out.Opened();
  EXPECT_TRUE(rig.Texts().empty());
}

}  // namespace
