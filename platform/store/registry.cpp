// Registry keys in a REGEDIT4 text file. Key paths and value names match without regard to case
// and keep the case they were first written with.
#include "platform/store/registry.h"
#include "platform/store/filestore.h"
#include "platform/store/testing.h"

#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <vector>

namespace orv::store {
namespace {

struct Value {
  std::string name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct Key {
  std::string path;  // full path with the root's name, as first written
  std::vector<Value> values;
  Value* Find(const std::string& name) {
    for (auto& v : values)
      if (EqualsNoCase(v.name, name)) return &v;
    return nullptr;
  }
};

class Registry {
 public:
  std::mutex mu;

  Key* FindKey(const std::string& path) {
    for (auto& k : keys_)
      if (EqualsNoCase(k->path, path)) return k.get();
    return nullptr;
  }

  // Creates the key and the keys above it; true when something new was made.
  bool CreateKey(const std::string& path) {
    bool made = false;
    std::size_t pos = 0;
    while (true) {
      pos = path.find('\\', pos + 1);
      const std::string part = path.substr(0, pos);
      if (!FindKey(part)) {
        keys_.push_back(std::make_unique<Key>(Key{part, {}}));
        made = true;
      }
      if (pos == std::string::npos) break;
    }
    return made;
  }

  void EnsureLoaded() {
    const std::string path = File();
    const std::string stamp = FileStamp(path);
    if (loaded_ && stamp == stamp_ && path == path_) return;
    keys_.clear();
    loaded_ = true;
    path_ = path;
    stamp_ = stamp;
    std::string unreadable;
    auto text = ReadFile(path, &unreadable);
    // Not ours to read (left by a run with sudo): it must not be replaced by defaults either.
    keepOff_ = !unreadable.empty();
    if (keepOff_) WarnOnce(KeepOffMessage(path, unreadable));
    if (!text) return;
    std::string why;
    if (!Parse(*text, &why)) {
      keys_.clear();
      SetAside(path, why);
      stamp_ = FileStamp(path);
    }
  }

  LONG Save() {
    if (keepOff_) return ERROR_ACCESS_DENIED;
    std::string out = "REGEDIT4\n";
    for (auto& k : keys_) {
      out += "\n[" + k->path + "]\n";
      for (auto& v : k->values) out += Format(v) + "\n";
    }
    if (!ReplaceFileAtomically(path_, out)) {
      WarnOnce("cannot write " + path_ + ": settings of this run will not be kept");
      return ERROR_WRITE_FAULT;
    }
    stamp_ = FileStamp(path_);
    return ERROR_SUCCESS;
  }

  void Reset() {
    keys_.clear();
    loaded_ = false;
  }

 private:
  static std::string File() { return ConfigDir() + "/registry.reg"; }

  static std::string Quote(const std::string& s) {
    std::string q = "\"";
    for (char c : s) {
      if (c == '\\' || c == '"') q += '\\';
      q += c;
    }
    return q + "\"";
  }

  static bool PlainText(const Value& v) {
    if (v.data.empty() || v.data.back() != 0) return false;
    for (std::size_t i = 0; i + 1 < v.data.size(); ++i)
      if (v.data[i] < 0x20 || v.data[i] == 0x7F) return false;
    return true;
  }

  static std::string Format(const Value& v) {
    std::string line = v.name.empty() ? "@" : Quote(v.name);
    line += '=';
    if (v.type == REG_SZ && PlainText(v)) return line + Quote(std::string(v.data.begin(), v.data.end() - 1));
    if (v.type == REG_DWORD && v.data.size() == 4) {
      char buf[16];
      DWORD d;
      std::memcpy(&d, v.data.data(), 4);
      std::snprintf(buf, sizeof buf, "dword:%08x", d);
      return line + buf;
    }
    char buf[16];
    if (v.type == REG_BINARY)
      line += "hex:";
    else {
      std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
      line += buf;
    }
    for (std::size_t i = 0; i < v.data.size(); ++i) {
      std::snprintf(buf, sizeof buf, i ? ",%02x" : "%02x", v.data[i]);
      line += buf;
    }
    return line;
  }

  // Reads a quoted string at s[pos] (which is '"'); pos ends after the closing quote.
  static bool ReadQuoted(const std::string& s, std::size_t& pos, std::string* out) {
    if (pos >= s.size() || s[pos] != '"') return false;
    ++pos;
    out->clear();
    while (pos < s.size()) {
      char c = s[pos++];
      if (c == '"') return true;
      if (c == '\\') {
        if (pos >= s.size()) return false;
        c = s[pos++];
      }
      *out += c;
    }
    return false;
  }

  static bool ParseHexList(const std::string& s, std::vector<BYTE>* out) {
    out->clear();
    std::size_t i = 0;
    while (i < s.size()) {
      while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
      if (i >= s.size()) break;
      if (i + 1 >= s.size() || !std::isxdigit(static_cast<unsigned char>(s[i])) ||
          !std::isxdigit(static_cast<unsigned char>(s[i + 1])))
        return false;
      out->push_back(static_cast<BYTE>(std::stoi(s.substr(i, 2), nullptr, 16)));
      i += 2;
      while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
      if (i < s.size()) {
        if (s[i] != ',') return false;
        ++i;
      }
    }
    return true;
  }

  static bool ParseValue(const std::string& line, Value* v) {
    std::size_t pos = 0;
    if (line[0] == '@') {
      v->name.clear();
      pos = 1;
    } else if (!ReadQuoted(line, pos, &v->name)) {
      return false;
    }
    if (pos >= line.size() || line[pos] != '=') return false;
    ++pos;
    const std::string rest = line.substr(pos);
    if (!rest.empty() && rest[0] == '"') {
      std::string text;
      std::size_t p = 0;
      if (!ReadQuoted(rest, p, &text) || p != rest.size()) return false;
      v->type = REG_SZ;
      v->data.assign(text.begin(), text.end());
      v->data.push_back(0);
      return true;
    }
    if (rest.rfind("dword:", 0) == 0) {
      const std::string hex = rest.substr(6);
      if (hex.empty() || hex.size() > 8) return false;
      for (char c : hex)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
      const DWORD d = static_cast<DWORD>(std::stoul(hex, nullptr, 16));
      v->type = REG_DWORD;
      v->data.resize(4);
      std::memcpy(v->data.data(), &d, 4);
      return true;
    }
    if (rest.rfind("hex:", 0) == 0) {
      v->type = REG_BINARY;
      return ParseHexList(rest.substr(4), &v->data);
    }
    if (rest.rfind("hex(", 0) == 0) {
      const auto close = rest.find("):");
      if (close == std::string::npos || close == 4 || close > 12) return false;
      const std::string t = rest.substr(4, close - 4);
      for (char c : t)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
      v->type = static_cast<DWORD>(std::stoul(t, nullptr, 16));
      return ParseHexList(rest.substr(close + 2), &v->data);
    }
    return false;
  }

  bool Parse(const std::string& text, std::string* why) {
    if (text.find('\0') != std::string::npos) {
      *why = "it holds NUL bytes";
      return false;
    }
    std::vector<std::string> lines;
    {
      std::istringstream in(text);
      std::string line, joined;
      while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // A trailing backslash continues a hex list on the next line.
        if (!line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos) {
          joined += line.substr(0, line.size() - 1);
          continue;
        }
        if (!joined.empty()) {
          std::size_t s = 0;
          while (s < line.size() && std::isspace(static_cast<unsigned char>(line[s]))) ++s;
          line = joined + line.substr(s);
          joined.clear();
        }
        lines.push_back(line);
      }
      if (!joined.empty()) lines.push_back(joined);
    }
    std::size_t i = 0;
    while (i < lines.size() && lines[i].empty()) ++i;
    if (i == lines.size() || lines[i] != "REGEDIT4") {
      *why = "the first line is not REGEDIT4";
      return false;
    }
    Key* current = nullptr;
    for (++i; i < lines.size(); ++i) {
      const std::string& line = lines[i];
      if (line.empty() || line[0] == ';') continue;
      if (line[0] == '[') {
        if (line.back() != ']' || line.size() < 3) {
          *why = "line " + std::to_string(i + 1) + " is not a key";
          return false;
        }
        const std::string path = line.substr(1, line.size() - 2);
        CreateKey(path);
        current = FindKey(path);
        continue;
      }
      Value v;
      if (!current || !ParseValue(line, &v)) {
        *why = "line " + std::to_string(i + 1) + " is not a value";
        return false;
      }
      if (Value* old = current->Find(v.name))
        *old = std::move(v);
      else
        current->values.push_back(std::move(v));
    }
    return true;
  }

  std::vector<std::unique_ptr<Key>> keys_;
  bool loaded_ = false;
  bool keepOff_ = false;  // the file is there but unreadable: this run keeps its values in memory
  std::string path_, stamp_;
};

Registry& Reg() {
  static Registry r;
  return r;
}

// Open keys: handle value → full path. Handles start above the predefined roots' range.
std::map<std::uintptr_t, std::string>& Handles() {
  static std::map<std::uintptr_t, std::string> h;
  return h;
}
std::uintptr_t g_nextHandle = 0x1000;

std::optional<std::string> PathOf(HKEY key) {
  const auto v = reinterpret_cast<std::uintptr_t>(key);
  switch (v) {
    case 0x80000000u: return std::string("HKEY_CLASSES_ROOT");
    case 0x80000001u: return std::string("HKEY_CURRENT_USER");
    case 0x80000002u: return std::string("HKEY_LOCAL_MACHINE");
    default: break;
  }
  auto it = Handles().find(v);
  if (it == Handles().end()) return std::nullopt;
  return it->second;
}

}  // namespace

void ResetForTests() {
  {
    std::lock_guard lock(Reg().mu);
    Reg().Reset();
  }
  ResetProfileForTests();
}

}  // namespace orv::store

using namespace orv::store;

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM, void*, PHKEY phkResult,
                     DWORD* lpdwDisposition) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  std::lock_guard lock(Reg().mu);
  auto base = PathOf(hKey);
  if (!base) return ERROR_INVALID_HANDLE;
  std::string path = *base;
  if (lpSubKey && *lpSubKey) {
    std::string sub = lpSubKey;
    while (!sub.empty() && sub.back() == '\\') sub.pop_back();
    if (sub.empty() || sub[0] == '\\') return ERROR_INVALID_PARAMETER;
    path += "\\" + sub;
  }
  Reg().EnsureLoaded();
  const bool made = Reg().CreateKey(path);
  if (made) Reg().Save();  // a failed write still leaves the key usable for this run
  if (lpdwDisposition) *lpdwDisposition = made ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  const auto h = g_nextHandle++;
  Handles()[h] = path;
  *phkResult = reinterpret_cast<HKEY>(h);
  return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, DWORD*, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
  std::lock_guard lock(Reg().mu);
  auto path = PathOf(hKey);
  if (!path) return ERROR_INVALID_HANDLE;
  if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
  Reg().EnsureLoaded();
  Key* key = Reg().FindKey(*path);
  Value* v = key ? key->Find(lpValueName ? lpValueName : "") : nullptr;
  if (!v) return ERROR_FILE_NOT_FOUND;
  if (lpType) *lpType = v->type;
  const DWORD need = static_cast<DWORD>(v->data.size());
  if (!lpcbData) return ERROR_SUCCESS;
  if (lpData && *lpcbData < need) {
    *lpcbData = need;
    return ERROR_MORE_DATA;
  }
  if (lpData && need) std::memcpy(lpData, v->data.data(), need);
  *lpcbData = need;
  return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
  std::lock_guard lock(Reg().mu);
  auto path = PathOf(hKey);
  if (!path) return ERROR_INVALID_HANDLE;
  if (!lpData && cbData) return ERROR_INVALID_PARAMETER;
  Reg().EnsureLoaded();
  Reg().CreateKey(*path);  // the key may have been removed from the file by hand meanwhile
  Key* key = Reg().FindKey(*path);
  const std::string name = lpValueName ? lpValueName : "";
  Value* v = key->Find(name);
  if (!v) {
    key->values.push_back(Value{name, REG_NONE, {}});
    v = &key->values.back();
  }
  v->type = dwType;
  v->data.assign(lpData, lpData + cbData);
  return Reg().Save();
}

LONG RegCloseKey(HKEY hKey) {
  std::lock_guard lock(Reg().mu);
  const auto v = reinterpret_cast<std::uintptr_t>(hKey);
  if (v >= 0x80000000u && v <= 0x80000002u) return ERROR_SUCCESS;
  return Handles().erase(v) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
