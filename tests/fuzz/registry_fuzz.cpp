// The REGEDIT4 reader: the input is registry.reg as found on disk. Besides crashes it checks what
// the store promises: a file it reads is written back so that every value reads the same again,
// and a file it cannot read is set aside, never half read.
#include "platform/store/registry.h"
#include "platform/store/testing.h"
#include "storefuzz.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace {

const orv::fuzz::SettingsDir g_dir("registry.reg");
[[noreturn]] void Fail(const char* why) { orv::fuzz::Fail("registry.reg", why); }

// Key paths and value names as a reader would pick them out of the text, to ask the store for.
// Rough on purpose: a name misread here is simply not found, before and after alike.
std::vector<std::pair<std::string, std::string>> Names(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> out;
  std::string key;
  std::size_t pos = 0;
  while (pos < text.size() && out.size() < 64) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
      key = line.substr(1, line.size() - 2);
    } else if (!key.empty() && !line.empty() && (line[0] == '"' || line[0] == '@')) {
      std::string name;
      for (std::size_t i = 1; line[0] == '"' && i < line.size() && line[i] != '"'; ++i)
        name += line[i] == '\\' && i + 1 < line.size() ? line[++i] : line[i];
      out.emplace_back(key, name);
    }
  }
  return out;
}

struct Read {
  LONG result;
  DWORD type;
  std::vector<BYTE> data;
  bool operator==(const Read&) const = default;
};

HKEY Root(std::string* path) {
  static const std::pair<const char*, HKEY> kRoots[] = {{"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
                                                         {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
                                                         {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT}};
  for (const auto& [name, key] : kRoots) {
    const std::string n = name;
    if (path->size() > n.size() && path->compare(0, n.size(), n) == 0 && (*path)[n.size()] == '\\') {
      *path = path->substr(n.size() + 1);
      return key;
    }
  }
  return nullptr;
}

Read Query(std::string path, const std::string& name) {
  Read r{ERROR_FILE_NOT_FOUND, REG_NONE, {}};
  HKEY root = Root(&path);
  if (!root || path.empty() || path[0] == '\\') return r;
  HKEY key = nullptr;
  if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr) != ERROR_SUCCESS) return r;
  DWORD size = 0;
  r.result = RegQueryValueExA(key, name.c_str(), nullptr, &r.type, nullptr, &size);
  if (r.result == ERROR_SUCCESS) {
    r.data.resize(size);
    r.result = RegQueryValueExA(key, name.c_str(), nullptr, &r.type, r.data.data(), &size);
    if (size != r.data.size()) Fail("a value's size changed between two reads");
  }
  RegCloseKey(key);
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  g_dir.Put(data, size);
  orv::store::ResetForTests();

  const auto names = Names(text);
  std::vector<Read> before;
  for (const auto& [key, name] : names) before.push_back(Query(key, name));
  // A write makes the store save everything it read.
  static const BYTE kProbe[4] = {1, 2, 3, 4};
  if (RegSetValueExA(HKEY_CURRENT_USER, "orvane fuzz probe", 0, REG_BINARY, kProbe, 4) != ERROR_SUCCESS)
    Fail("a value could not be written");
  if (g_dir.SetAside()) {
    // Refused as a whole: nothing may have been taken from it.
    for (const Read& r : before)
      if (r.result != ERROR_FILE_NOT_FOUND) Fail("a value was read from a file set aside");
  } else {
    // Read again from what was saved: the same values, and the saved file is taken whole.
    orv::store::ResetForTests();
    for (std::size_t i = 0; i < names.size(); ++i)
      if (!(Query(names[i].first, names[i].second) == before[i])) Fail("a value reads otherwise once saved");
    if (g_dir.SetAside()) Fail("the saved file was set aside");
  }
  g_dir.Clear();
  orv::store::ResetForTests();
  return 0;
}
