#include "common/Recording.h"

#include "common/Settings.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <string>

namespace orv::record {
namespace {

constexpr FormatInfo kFormats[] = {
    {Format::Spec, "spec", false, false},
    {Format::Full, "full", false, true},
    {Format::Lossless, "lossless", true, true},
    {Format::Compact, "compact", true, true},
    {Format::LosslessAndCompact, "lossless+compact", true, true},
};

std::string ReadProfile(const char* name) {
  char value[64] = {};
  GetProfileStringA(kProfileSection, name, "", value, sizeof value);
  return value;
}

// Room for one more byte than a note may have, so that a longer one is seen as such.
std::string ReadNote(const char* name) {
  char value[kMaxNoteBytes + 2] = {};
  GetProfileStringA(kProfileSection, name, "", value, sizeof value);
  return IsStorableNote(value) ? value : "";
}

// A whole non-negative number (one too large for a long counts as the largest), else -1.
long ParseCount(const std::string& text) {
  long n = -1;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (end != text.data() + text.size() || text.empty() || text[0] == '-') return -1;
  return ec == std::errc::result_out_of_range ? LONG_MAX : n;
}

}  // namespace

std::span<const FormatInfo> Formats() { return kFormats; }

const FormatInfo& InfoOf(Format format) {
  for (const FormatInfo& f : kFormats)
    if (f.format == format) return f;
  return kFormats[0];
}

Format FormatOfKey(std::string_view key) {
  for (const FormatInfo& f : kFormats)
    if (key == f.key) return f.format;
  return Format::Spec;
}

const char* ExtensionOf(Format format) { return InfoOf(format).matroska ? ".mkv" : ".avi"; }

Format StoredFormat() { return FormatOfKey(ReadProfile("RecordFormat")); }

int StoredStopOnNoSignal() {
  const long n = ParseCount(ReadProfile("StopOnNoSignal"));
  return n < 0 ? 0 : static_cast<int>(std::min<long>(n, kMaxStopOnNoSignal));
}

bool StoredDeinterlacePreview() { return ParseCount(ReadProfile("DeinterlacePreview")) == 1; }

std::optional<int> TeletextPageOfText(std::string_view text, std::string_view autoWord) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text == "auto" || text == autoWord) return kAutoTeletextPage;
  const long n = ParseCount(std::string(text));
  if (n < kFirstTeletextPage || n > kLastTeletextPage) return std::nullopt;
  return static_cast<int>(n);
}

int StoredTeletextPage() { return TeletextPageOfText(ReadProfile("TeletextPage")).value_or(kAutoTeletextPage); }

void StoreTeletextPage(int page) {
  const bool number = page >= kFirstTeletextPage && page <= kLastTeletextPage;
  WriteProfileStringA(kProfileSection, "TeletextPage", number ? std::to_string(page).c_str() : "auto");
}

bool StoredShowCaptions() { return ParseCount(ReadProfile("ShowCaptions")) == 1; }

void StoreShowCaptions(bool show) { WriteProfileStringA(kProfileSection, "ShowCaptions", show ? "1" : "0"); }

void StoreRecording(Format format, int stopOnNoSignal, bool deinterlacePreview) {
  WriteProfileStringA(kProfileSection, "RecordFormat", InfoOf(format).key);
  const int seconds = std::clamp(stopOnNoSignal, 0, kMaxStopOnNoSignal);
  WriteProfileStringA(kProfileSection, "StopOnNoSignal", std::to_string(seconds).c_str());
  WriteProfileStringA(kProfileSection, "DeinterlacePreview", deinterlacePreview ? "1" : "0");
}

bool IsStorableNote(std::string_view text) {
  if (text.size() > kMaxNoteBytes) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) return false;
    // U+0080..U+009F in UTF-8.
    if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9F) return false;
  }
  return true;
}

CaptureNotes StoredCaptureNotes() {
  const long log = ParseCount(ReadProfile("WriteLog"));
  return {ReadNote("Operator"), ReadNote("Notes"), log != 0};
}

void StoreCaptureNotes(const CaptureNotes& notes) {
  WriteProfileStringA(kProfileSection, "Operator", IsStorableNote(notes.operatorName) ? notes.operatorName.c_str() : "");
  WriteProfileStringA(kProfileSection, "Notes", IsStorableNote(notes.notes) ? notes.notes.c_str() : "");
  WriteProfileStringA(kProfileSection, "WriteLog", notes.writeLog ? "1" : "0");
}

}  // namespace orv::record
