// Test entry: an offscreen Qt application so window code runs without a display.
#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

#include "platform/media/graph/soundout.h"
#include "res/resource.h"
#include "tests/support/testenv.h"
#include "tests/support/uitest.h"

#include <filesystem>

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("ORVANE_DEVICES", "virtual", 0);
  setenv("ORVANE_MIXER", "virtual", 0);
  setenv("LANG", "ko_KR.UTF-8", 0);
  // Its own session, so other test programs' windows never look like a running copy.
  char runtime[] = "/tmp/orvane-run-XXXXXX";
  if (mkdtemp(runtime)) setenv("XDG_RUNTIME_DIR", runtime, 1);
  QApplication app(argc, argv);
  AfxSetOwnResourceModule(OwnResources());
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new orv::test::ConfigDirEnvironment);
  orv::test::FailOnUnexpectedMessageBoxes();
  // The sound played through goes nowhere: tests never sound on the machine's speakers.
  orv::media::AlsaPlaybackCalls silent{
      [](snd_pcm_t** h, const char*) { return *h = nullptr, 0; },
      [](snd_pcm_t*, unsigned rate, unsigned, unsigned, snd_pcm_uframes_t* period) { return *period = rate / 100, 0; },
      [](snd_pcm_t*, int) { return 1; },
      [](snd_pcm_t*, const void*, snd_pcm_uframes_t frames) { return static_cast<snd_pcm_sframes_t>(frames); },
      [](snd_pcm_t*, int err) { return err; },
      [](snd_pcm_t*) { return 0; }};
  orv::media::SetAlsaPlaybackCallsForTests(&silent);
  const int result = RUN_ALL_TESTS();
  std::error_code ec;
  std::filesystem::remove_all(runtime, ec);
  return result;
}
