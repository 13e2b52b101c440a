// The recording choices of the recording page, kept in win.ini's [orvane] section: "RecordFormat",
// "StopOnNoSignal" and "DeinterlacePreview". Missing or unusable values mean the original
// recording (raw AVI at 14.99 frames per second), no stop on a lost signal and no deinterlacing.
#pragma once

#include <span>
#include <string_view>

namespace orv::record {

enum class Format { Spec, Full, Lossless, Compact };

struct FormatInfo {
  Format format;
  const char* key;        // as win.ini stores it
  bool matroska;          // written as Matroska (".mkv"), else AVI (".avi")
  bool standardFrame;     // the standard's own size and full rate, else the original 640x480 at 14.99
};
// In the order the recording page lists them.
std::span<const FormatInfo> Formats();
const FormatInfo& InfoOf(Format format);
// The format of a stored key: Spec for a missing or unknown one.
Format FormatOfKey(std::string_view key);
// The file name extension of a format's files, with its dot.
const char* ExtensionOf(Format format);

// The longest wait for a signal that can be stored (a day); longer values are cut to it.
constexpr int kMaxStopOnNoSignal = 86400;

Format StoredFormat();
// Seconds without signal after which a capture ends, 0 for never (negative or unreadable: 0).
int StoredStopOnNoSignal();
bool StoredDeinterlacePreview();
void StoreRecording(Format format, int stopOnNoSignal, bool deinterlacePreview);

}  // namespace orv::record
