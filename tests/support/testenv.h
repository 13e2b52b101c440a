// Every test program runs with its own config folder, so tests never touch the user's settings.
#pragma once

#include "common/Settings.h"

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

}  // namespace orv::test
