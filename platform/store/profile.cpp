// The profile (win.ini) functions over a text file in the config folder.
// Lines the program does not understand are kept as they are, so nothing of a hand-edited file is lost.
#include "platform/store/filestore.h"
#include "platform/store/registry.h"
#include "platform/store/testing.h"

#include <climits>
#include <cstring>
#include <mutex>
#include <sstream>
#include <vector>

namespace orv::store {
namespace {

std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

class Profile {
 public:
  std::mutex mu;

  void EnsureLoaded() {
    const std::string path = ConfigDir() + "/win.ini";
    const std::string stamp = FileStamp(path);
    if (loaded_ && path == path_ && stamp == stamp_) return;
    lines_.clear();
    loaded_ = true;
    path_ = path;
    stamp_ = stamp;
    std::string unreadable;
    auto text = ReadFile(path, &unreadable);
    keepOff_ = !unreadable.empty();  // as for registry.reg
    if (keepOff_) WarnOnce(KeepOffMessage(path, unreadable));
    if (!text) return;
    if (text->find('\0') != std::string::npos) {
      SetAside(path, "it holds NUL bytes");
      stamp_ = FileStamp(path);
      return;
    }
    std::istringstream in(*text);
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines_.push_back(line);
    }
  }

  // Index of the section header line, or -1.
  int FindSection(const std::string& section) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      const std::string t = Trim(lines_[i]);
      if (t.size() >= 2 && t.front() == '[' && t.back() == ']' && EqualsNoCase(Trim(t.substr(1, t.size() - 2)), section))
        return static_cast<int>(i);
    }
    return -1;
  }

  // End (exclusive) of the section starting at header line s.
  int SectionEnd(int s) const {
    int i = s + 1;
    for (; i < static_cast<int>(lines_.size()); ++i) {
      const std::string t = Trim(lines_[i]);
      if (!t.empty() && t.front() == '[') break;
    }
    return i;
  }

  int FindKey(int s, const std::string& key) const {
    const int e = SectionEnd(s);
    for (int i = s + 1; i < e; ++i) {
      const auto eq = lines_[i].find('=');
      if (eq == std::string::npos) continue;
      if (EqualsNoCase(Trim(lines_[i].substr(0, eq)), key)) return i;
    }
    return -1;
  }

  std::optional<std::string> Get(const std::string& section, const std::string& key) {
    EnsureLoaded();
    const int s = FindSection(section);
    if (s < 0) return std::nullopt;
    const int k = FindKey(s, key);
    if (k < 0) return std::nullopt;
    std::string v = Trim(lines_[k].substr(lines_[k].find('=') + 1));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) v = v.substr(1, v.size() - 2);
    return v;
  }

  bool Write(const char* section, const char* key, const char* value) {
    EnsureLoaded();
    if (!section) return false;
    int s = FindSection(section);
    if (!key) {  // remove the whole section
      if (s >= 0) lines_.erase(lines_.begin() + s, lines_.begin() + SectionEnd(s));
      return Save();
    }
    if (s < 0) {
      if (!value) return true;
      if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.push_back("");
      lines_.push_back(std::string("[") + section + "]");
      s = static_cast<int>(lines_.size()) - 1;
    }
    const int k = FindKey(s, key);
    if (!value) {
      if (k >= 0) lines_.erase(lines_.begin() + k);
      return Save();
    }
    // A line break in a value would make a second key: keep only the first line.
    std::string v = value;
    v = v.substr(0, v.find_first_of("\r\n"));
    const std::string line = std::string(key) + "=" + v;
    if (k >= 0) {
      lines_[k] = line;
    } else {
      int at = SectionEnd(s);
      while (at > s + 1 && Trim(lines_[at - 1]).empty()) --at;  // keep blank separators after the keys
      lines_.insert(lines_.begin() + at, line);
    }
    return Save();
  }

  void Reset() {
    lines_.clear();
    loaded_ = false;
  }

 private:
  bool Save() {
    if (keepOff_) return false;
    std::string out;
    for (auto& l : lines_) out += l + "\n";
    if (!ReplaceFileAtomically(path_, out)) {
      WarnOnce("cannot write " + path_ + ": settings of this run will not be kept");
      return false;
    }
    stamp_ = FileStamp(path_);
    return true;
  }

  std::vector<std::string> lines_;
  bool loaded_ = false;
  bool keepOff_ = false;
  std::string path_, stamp_;
};

Profile& Prof() {
  static Profile p;
  return p;
}

}  // namespace

void ResetProfileForTests() {
  std::lock_guard lock(Prof().mu);
  Prof().Reset();
}

}  // namespace orv::store

using namespace orv::store;

DWORD GetProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault, LPSTR lpReturnedString, DWORD nSize) {
  if (!lpReturnedString || nSize == 0) return 0;
  std::string value;
  {
    std::lock_guard lock(Prof().mu);
    auto v = (lpAppName && lpKeyName) ? Prof().Get(lpAppName, lpKeyName) : std::nullopt;
    value = v ? *v : Trim(lpDefault ? lpDefault : "");
  }
  const std::size_t n = std::min<std::size_t>(value.size(), nSize - 1);
  std::memcpy(lpReturnedString, value.data(), n);
  lpReturnedString[n] = '\0';
  return static_cast<DWORD>(n);
}

UINT GetProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault) {
  std::optional<std::string> v;
  {
    std::lock_guard lock(Prof().mu);
    if (lpAppName && lpKeyName) v = Prof().Get(lpAppName, lpKeyName);
  }
  if (!v) return static_cast<UINT>(nDefault);
  // Leading decimal digits; text that is no number reads as 0, a negative number as 0,
  // and a number too large for an int as the largest int.
  const std::string& s = *v;
  std::size_t i = 0;
  bool neg = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-';
  long long n = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    n = n * 10 + (s[i] - '0');
    if (n > INT_MAX) {
      n = INT_MAX;
      break;
    }
  }
  if (neg) return 0;
  return static_cast<UINT>(n);
}

BOOL WriteProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString) {
  std::lock_guard lock(Prof().mu);
  return Prof().Write(lpAppName, lpKeyName, lpString) ? TRUE : FALSE;
}
