// Every test program runs with its own config folder, so tests never touch the user's settings.
#pragma once

#include "common/Settings.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

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

// A settings key, open for the life of the object, and stored values read and written through it.
struct Key {
  explicit Key(const char* path) : h(OpenSettingsKey(path)) {}
  ~Key() { CloseSettingsKey(h); }
  operator HKEY() const { return h; }
  HKEY h;
};
inline void StoreDword(const char* key, const char* name, DWORD v) { WriteSettingDword(Key(key), name, v); }
inline void StoreString(const char* key, const char* name, const std::string& v) {
  WriteSettingString(Key(key), name, v.c_str());
}
inline int StoredWord(const char* key, const char* name) { return ReadSettingWord(Key(key), name, -1); }
inline std::string StoredString(const char* key, const char* name) {
  char buf[512];
  ReadSettingString(Key(key), name, buf, sizeof buf, "<missing>");
  return buf;
}

// While it lives, this thread obeys file modes as a user without privileges does (root's override is
// dropped from its capabilities, then raised again); Active() is false when that cannot be done.
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

// The capture events named in the program's log output (each "capture event at S s: NAME (N)"), in
// order.
struct LoggedEvent {
  std::string name;
  long count;
  double seconds;
};
inline std::vector<LoggedEvent> LoggedEvents(const std::string& log) {
  std::vector<LoggedEvent> out;
  for (std::size_t at = 0; (at = log.find("capture event at ", at)) != std::string::npos; ++at) {
    double seconds = 0;
    char name[32] = {};
    long count = 0;
    if (std::sscanf(log.c_str() + at, "capture event at %lf s: %31s (%ld)", &seconds, name, &count) != 3) continue;
    out.push_back({name, count, seconds});
  }
  return out;
}

}  // namespace orv::test
