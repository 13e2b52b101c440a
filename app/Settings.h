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
