// Test entry: an offscreen Qt application so window code runs without a display.
#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

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
  const int result = RUN_ALL_TESTS();
  std::error_code ec;
  std::filesystem::remove_all(runtime, ec);
  return result;
}
