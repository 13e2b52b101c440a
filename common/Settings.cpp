#include "common/Settings.h"

#include "common/Commands.h"
#include "common/Recording.h"

#include <cstdlib>
#include <cstring>

HKEY OpenSettingsKey(const char* path) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return nullptr;
  return key;
}

void CloseSettingsKey(HKEY key) {
  if (key) RegCloseKey(key);
}

int ReadSettingWord(HKEY key, const char* name, int def) {
  DWORD value = 0;
  DWORD size = 4;
  if (!key || RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
    return def;
  // A value shorter than 4 bytes fills only the low bytes of the buffer.
  return static_cast<int>(value & 0xFFFF);
}

void WriteSettingDword(HKEY key, const char* name, DWORD value) {
  if (key) RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
}

void ReadSettingString(HKEY key, const char* name, char* buf, DWORD size, const char* def) {
  DWORD got = size;
  if (!key || RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &got) != ERROR_SUCCESS) {
    std::strncpy(buf, def, size);
    buf[size - 1] = '\0';
    return;
  }
  // A stored string without its terminator still ends inside the buffer.
  buf[got < size ? got : size - 1] = '\0';
}

void WriteSettingString(HKEY key, const char* name, const char* value) {
  if (key)
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>(std::strlen(value) + 1));
}

std::string DefaultCaptureFile() {
  const char* home = std::getenv("HOME");
  return std::string(home && *home == '/' ? home : "/tmp") + "/Capture" + orv::record::ExtensionOf(orv::record::StoredFormat());
}

std::string FolderOfPath(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

const ChannelBand* BandOfSource(int source) {
  if (source == SOURCE_TV) return &kTVBand;
  if (source == SOURCE_CATV) return &kCATVBand;
  return nullptr;
}

void ReadChannelList(HKEY key, const ChannelBand& band, char* list) {
  ReadSettingString(key, band.valueName, list, static_cast<DWORD>(band.chars + 1), band.defaults);
  const int len = static_cast<int>(strnlen(list, static_cast<size_t>(band.chars)));
  std::memset(list + len, '0', static_cast<size_t>(band.chars - len));
  list[band.chars] = '\0';
}

StoredChannels ReadStoredChannels(HKEY key) {
  StoredChannels c{ReadSettingWord(key, "Source", SOURCE_TV), ReadSettingWord(key, "TVChannel", kDefaultChannel),
                   ReadSettingWord(key, "CATVChannel", kDefaultChannel)};
  if (c.source > SOURCE_SVIDEO) c.source = SOURCE_TV;
  if (c.tvChannel >= kTVBand.chars) c.tvChannel = kDefaultChannel;
  if (c.catvChannel >= kCATVBand.chars) c.catvChannel = kDefaultChannel;
  return c;
}
