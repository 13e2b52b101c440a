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
};

std::string ReadProfile(const char* name) {
  char value[64] = {};
  GetProfileStringA(kProfileSection, name, "", value, sizeof value);
  return value;
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

void StoreRecording(Format format, int stopOnNoSignal, bool deinterlacePreview) {
  WriteProfileStringA(kProfileSection, "RecordFormat", InfoOf(format).key);
  const int seconds = std::clamp(stopOnNoSignal, 0, kMaxStopOnNoSignal);
  WriteProfileStringA(kProfileSection, "StopOnNoSignal", std::to_string(seconds).c_str());
  WriteProfileStringA(kProfileSection, "DeinterlacePreview", deinterlacePreview ? "1" : "0");
}

}  // namespace orv::record
