// Every test program runs with its own config folder, so tests never touch the user's settings.
#pragma once

#include <gtest/gtest.h>
#include <string>

namespace orv::test {

class ConfigDirEnvironment : public ::testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;
};

// A fresh, empty config folder for one test; the store forgets what it had read.
std::string FreshConfigDir();

// The current test's config folder.
std::string ConfigDir();

// Whole contents of a file in the config folder ("" when missing).
std::string ReadConfigFile(const std::string& name);
void WriteConfigFile(const std::string& name, const std::string& text);

// While it lives, this thread obeys file modes as a user without privileges does: root's
// override of them is dropped from the thread's capabilities, and raised again at the end.
// Active() is false when that cannot be done (the test then skips).
class ObeyFileModes {
 public:
  ObeyFileModes();
  ~ObeyFileModes();
  ObeyFileModes(const ObeyFileModes&) = delete;
  ObeyFileModes& operator=(const ObeyFileModes&) = delete;
  bool Active() const { return active_; }

 private:
  bool active_ = false;
  bool dropped_ = false;
};

}  // namespace orv::test
