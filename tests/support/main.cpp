// Test entry: an offscreen Qt application so window code runs without a display.
#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

#include "res/resource.h"
#include "tests/support/testenv.h"

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("ORVANE_DEVICES", "virtual", 0);
  setenv("ORVANE_MIXER", "virtual", 0);
  QApplication app(argc, argv);
  AfxSetOwnResourceModule(OwnResources());
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new orv::test::ConfigDirEnvironment);
  return RUN_ALL_TESTS();
}
