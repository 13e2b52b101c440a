// The win.ini reader: the input is win.ini as found on disk. Besides crashes it checks what the
// profile promises: a value the program writes leaves every other value as it read, a short
// buffer gets the start of a value, and a file it cannot read is set aside.
#include "platform/store/registry.h"
#include "platform/store/testing.h"
#include "storefuzz.h"

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

const orv::fuzz::SettingsDir g_dir("win.ini");
[[noreturn]] void Fail(const char* why) { orv::fuzz::Fail("win.ini", why); }
constexpr const char* kProbe = "orvane fuzz probe";
constexpr const char* kAbsent = "\x01(absent)";

std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

// Sections and keys as a reader would pick them out of the text, to ask the profile for. Rough on
// purpose: a name misread here is simply not found, before and after alike.
std::vector<std::pair<std::string, std::string>> Names(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> out;
  std::string section;
  bool inSection = false;
  std::size_t pos = 0;
  while (pos < text.size() && out.size() < 64) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      section = Trim(line.substr(1, line.size() - 2));
      inSection = true;
    } else if (inSection && line.find('=') != std::string::npos) {
      out.emplace_back(section, Trim(line.substr(0, line.find('='))));
    }
  }
  return out;
}

bool IsProbe(const std::string& key) {
  if (key.size() != std::strlen(kProbe)) return false;
  for (std::size_t i = 0; i < key.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(key[i])) != kProbe[i]) return false;
  return true;
}

struct Read {
  std::string text;
  UINT number;
  bool operator==(const Read&) const = default;
};

Read Get(const std::string& section, const std::string& key, std::size_t room) {
  std::vector<char> buf(room + 1, '\x7f');
  const DWORD n = GetProfileStringA(section.c_str(), key.c_str(), kAbsent, buf.data(), static_cast<DWORD>(room + 1));
  if (n > room || buf[n] != '\0') Fail("a value overran its buffer or was left unterminated");
  Read r{std::string(buf.data(), n), GetProfileIntA(section.c_str(), key.c_str(), -7)};
  // A short buffer gets the start of the same value.
  char small[4];
  const DWORD m = GetProfileStringA(section.c_str(), key.c_str(), kAbsent, small, sizeof small);
  if (m >= sizeof small || small[m] != '\0' || r.text.compare(0, m, small, m) != 0)
    Fail("a short buffer got something else than the value's start");
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  g_dir.Put(data, size);
  orv::store::ResetForTests();

  const auto names = Names(text);
  std::vector<Read> before;  // (room for the whole value, or the default)
  for (const auto& [section, key] : names) before.push_back(Get(section, key, size + 16));
  const std::string section = names.empty() ? std::string("orvane fuzz") : names.front().first;
  if (!WriteProfileStringA(section.c_str(), kProbe, "42")) Fail("a value could not be written");
  if (g_dir.SetAside()) {
    for (const Read& r : before)
      if (r.text != kAbsent || r.number != static_cast<UINT>(-7)) Fail("a value was read from a file set aside");
  } else {
    // Read again from what was saved: every other value as before, the new one as written.
    orv::store::ResetForTests();
    for (std::size_t i = 0; i < names.size(); ++i)
      if (!IsProbe(names[i].second) && !(Get(names[i].first, names[i].second, size + 16) == before[i]))
        Fail("a value reads otherwise once another was written");
    if (Get(section, kProbe, 8).number != 42) Fail("the value written does not read back");
    if (g_dir.SetAside()) Fail("the saved file was set aside");
  }
  g_dir.Clear();
  orv::store::ResetForTests();
  return 0;
}
