// Small helpers for the persisted settings: every reader and writer opens its key, works, closes it.
#pragma once

#include "platform/store/registry.h"

#include <string>

// Key paths under HKEY_LOCAL_MACHINE.
constexpr const char* kKeyAudio = "SoftWare\\Dorvend\\OrvaneTuner\\Audio";
constexpr const char* kKeyChannel = "SoftWare\\Dorvend\\OrvaneTuner\\Channel";
constexpr const char* kKeyVideo = "SoftWare\\Dorvend\\OrvaneTuner\\Video";
constexpr const char* kKeyPosition = "SoftWare\\Dorvend\\OrvaneTuner\\Position";
constexpr const char* kProfileSection = "orvane";

// Opens (creating if missing) a key with full access; nullptr when that fails.
HKEY OpenSettingsKey(const char* path);

// Closes a key opened by OpenSettingsKey, closing also when it was not opened (nothing happens).
void CloseSettingsKey(HKEY key);

// Reads a number as every reader does: 4 bytes, then its low 16 bits, unsigned.
// A read that fails (missing, wrong size, no key) gives def.
int ReadSettingWord(HKEY key, const char* name, int def);

// Writes a REG_DWORD of 4 bytes.
void WriteSettingDword(HKEY key, const char* name, DWORD value);

// Reads a REG_SZ into buf of size bytes; on failure copies the whole default, terminator included.
void ReadSettingString(HKEY key, const char* name, char* buf, DWORD size, const char* def);

// Writes a REG_SZ with its terminating NUL.
void WriteSettingString(HKEY key, const char* name, const char* value);

// The capture file used when none is stored: Capture.avi in the user's home folder.
std::string DefaultCaptureFile();

// The folder that holds a file path ("." for a bare name), where its free space is measured.
std::string FolderOfPath(const std::string& path);

// Registered-channel lists: one '0'/'1' per channel number, "TV" and "CATV" in the Channel key.
constexpr int kTVChars = 70;    // terrestrial: channels 0..69, of which 2..69 are used
constexpr int kCATVChars = 126; // cable: channels 0..125, of which 1..125 are used
constexpr int kTVFirst = 2, kTVLast = 69;
constexpr int kCATVFirst = 1, kCATVLast = 125;
// Both lists register channels 2, 6, 7, 9, 11 and 13 when nothing usable is stored.
extern const char kDefaultTVChannels[kTVChars + 1];
extern const char kDefaultCATVChannels[kCATVChars + 1];

// Reads a list into `list` (chars + 1 bytes): the default when unreadable, and a stored list
// shorter than the band padded with unregistered channels.
void ReadChannelList(HKEY key, const char* name, char* list, int chars);

// The current channel of a band when nothing usable is stored.
constexpr int kDefaultChannel = 11;

// "Source", "TVChannel" and "CATVChannel" as both windows take them, so that the panel shows what
// the video window tunes: a source outside 0..3 is terrestrial TV and a channel outside its list
// (0..69, 0..125) is channel 11. Channels below a band's first, which number entry can store,
// stay as they are.
struct StoredChannels {
  int source;
  int tvChannel;
  int catvChannel;
};
StoredChannels ReadStoredChannels(HKEY key);
