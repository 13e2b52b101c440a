// Small helpers for the persisted settings: every reader and writer opens its key, works, closes it.
#pragma once

#include "platform/store/registry.h"

#include <string>
#include <string_view>

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

// The capture file used when none is stored: Capture.avi (Capture.mkv when the stored recording
// format writes Matroska) in the user's home folder.
std::string DefaultCaptureFile();

// The folder that holds a file path ("." for a bare name), where its free space is measured.
std::string FolderOfPath(const std::string& path);

// A tuner band's registered-channel list: one '0'/'1' per channel number from 0 ("TV" and "CATV" in
// the Channel key), the channels up and down walk, and how many digits a typed number takes.
struct ChannelBand {
  int chars;
  int first, last;
  int digits;
  const char* defaults;  // the list when nothing usable is stored: channels 2, 6, 7, 9, 11 and 13
  const char* valueName;
};
inline constexpr ChannelBand kTVBand{
    70, 2, 69, 2, "0010001101010100000000000000000000000000000000000000000000000000000000", "TV"};
inline constexpr ChannelBand kCATVBand{
    126, 1, 125, 3,
    "001000110101010000000000000000000000000000000000000000000000000000000000000000000000000000000000"
    "000000000000000000000000000000",
    "CATV"};
// The band of a source, or null for the external inputs.
const ChannelBand* BandOfSource(int source);
static_assert(std::string_view(kTVBand.defaults).size() == kTVBand.chars);
static_assert(std::string_view(kCATVBand.defaults).size() == kCATVBand.chars);

// Reads a band's list into `list` (chars + 1 bytes): the default when unreadable, and a stored list
// shorter than the band padded with unregistered channels.
void ReadChannelList(HKEY key, const ChannelBand& band, char* list);

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

// The picture values in the Video key, by picture-adjust target, on the 0..255 level scale.
inline constexpr const char* kPictureValueNames[] = {"Bright", "Contrast", "Hue", "Saturation"};
constexpr int kPictureLevelMax = 255;
constexpr int kDefaultPictureLevel = 127;  // when nothing is stored

// The volume scale of the panel and the audio page (the mixers' scale top).
constexpr int kVolumeMax = 20;
