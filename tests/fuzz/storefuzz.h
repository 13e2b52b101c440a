// What the settings fuzzers share: a settings folder of their own (in memory where /dev/shm is),
// the input put there as the file, and whether the store set the file aside.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <string>
#include <unistd.h>

namespace orv::fuzz {

[[noreturn]] inline void Fail(const char* file, const char* why) {
  std::fprintf(stderr, "%s: %s\n", file, why);
  std::abort();
}

class SettingsDir {
 public:
  explicit SettingsDir(const char* file) : m_file(file) {
    for (std::string pattern : {"/dev/shm/orvane-fuzz-XXXXXX", "/tmp/orvane-fuzz-XXXXXX"})
      if (mkdtemp(pattern.data())) {
        m_dir = pattern;
        break;
      }
    if (m_dir.empty()) Fail(file, "no folder for the settings");
    setenv("ORVANE_CONFIG_DIR", m_dir.c_str(), 1);
  }
  ~SettingsDir() { Clear(), rmdir(m_dir.c_str()); }

  void Put(const std::uint8_t* data, std::size_t size) const {
    FILE* f = std::fopen((m_dir + "/" + m_file).c_str(), "wb");
    if (!f || (size && std::fwrite(data, 1, size, f) != size)) Fail(m_file.c_str(), "cannot write the input");
    std::fclose(f);
  }
  // Whether the store moved the file aside as malformed (<file>.bad-<time>).
  bool SetAside() const {
    bool aside = false;
    DIR* d = opendir(m_dir.c_str());
    while (dirent* e = readdir(d)) aside = aside || std::string(e->d_name).rfind(m_file + ".bad-", 0) == 0;
    closedir(d);
    return aside;
  }
  void Clear() const {
    DIR* d = opendir(m_dir.c_str());
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') unlink((m_dir + "/" + e->d_name).c_str());
    closedir(d);
  }

 private:
  std::string m_file, m_dir;
};

}  // namespace orv::fuzz
