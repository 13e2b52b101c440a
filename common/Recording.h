// The recording choices of the recording page, kept in win.ini's [orvane] section: "RecordFormat",
// "StopOnNoSignal" and "DeinterlacePreview"; "Operator", "Notes" and "WriteLog" for the capture log
// and checksums beside the newer formats' files. Missing or unusable values mean the original
// recording (raw AVI at 14.99 frames per second), no stop on a lost signal, no deinterlacing, no
// operator or notes, and the log written.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace orv::record {

// LosslessAndCompact: the lossless master and a compact access copy beside it, from the same pictures.
enum class Format { Spec, Full, Lossless, Compact, LosslessAndCompact };

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
// "TeletextPage": the teletext page whose subtitles a 625-line recording keeps as text, "auto" (the
// first page flagged as subtitles, also for a missing or unusable value) or a page number.
constexpr int kAutoTeletextPage = 0;
constexpr int kFirstTeletextPage = 100, kLastTeletextPage = 899;  // teletext's page numbers
// A page as typed or stored: `autoWord` (the page's own word for auto) or "auto", or a number in range.
std::optional<int> TeletextPageOfText(std::string_view text, std::string_view autoWord = "auto");
int StoredTeletextPage();
void StoreTeletextPage(int page);
// "ShowCaptions": the card's captions drawn over the live picture (the video page's box), off unless 1.
bool StoredShowCaptions();
void StoreShowCaptions(bool show);

// Who records and what, for the capture log and the file's tags, and whether the log and checksums
// are written at all.
struct CaptureNotes {
  std::string operatorName;
  std::string notes;
  bool writeLog = true;
  bool operator==(const CaptureNotes&) const = default;
};
// The longest operator or notes that can be stored, in bytes.
constexpr std::size_t kMaxNoteBytes = 1000;
// Whether a text can be stored as an operator or notes: one line without control characters (C0,
// DEL, C1), of at most kMaxNoteBytes.
bool IsStorableNote(std::string_view text);
// A stored text that is not storable (edited by hand) counts as none.
CaptureNotes StoredCaptureNotes();
void StoreCaptureNotes(const CaptureNotes& notes);

}  // namespace orv::record
