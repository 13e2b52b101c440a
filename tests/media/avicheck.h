// Test helpers: AVI files as an outside reader sees them, through ffprobe and ffmpeg.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace orv::test {

// Output of a shell command (stdout, and stderr too when asked); *status gets its exit status.
inline std::string Shell(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  char buf[65536];
  for (std::size_t n; p && (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  const int rc = p ? ::pclose(p) : -1;
  if (status) *status = rc;
  return out;
}

inline std::string Quoted(const std::string& path) {
  std::string q = "'";
  for (char c : path) c == '\'' ? q += "'\\''" : q += c;
  return q + "'";
}

// ffprobe's view of a file: "streams" (with packets counted) and "format"; null when unreadable.
inline nlohmann::json Probe(const std::string& path) {
  int status = 0;
  const std::string out =
      Shell("ffprobe -v error -count_packets -show_streams -show_format -of json " + Quoted(path) + " 2>/dev/null", &status);
  return status != 0 ? nlohmann::json(nullptr) : nlohmann::json::parse(out, nullptr, false);
}

// The streams of one type ("video", "audio").
inline std::vector<nlohmann::json> StreamsOf(const nlohmann::json& probe, const std::string& type) {
  std::vector<nlohmann::json> out;
  if (probe.is_object() && probe.contains("streams"))
    for (const auto& s : probe["streams"])
      if (s.value("codec_type", "") == type) out.push_back(s);
  return out;
}

inline long long Number(const nlohmann::json& stream, const char* key) {
  if (!stream.contains(key)) return -1;
  const auto& v = stream[key];
  return v.is_string() ? std::stoll(v.get<std::string>()) : v.get<long long>();
}

// Packets of the file's picture stream an outside reader finds (empty chunks are not packets); -1
// when it cannot read the file.
inline long long PicturesIn(const std::string& path) {
  const auto video = StreamsOf(Probe(path), "video");
  return video.size() == 1 ? Number(video[0], "nb_read_packets") : -1;
}

// Decodes every packet of the file; what ffmpeg complained about ("" when nothing).
inline std::string DecodeErrors(const std::string& path) {
  int status = 0;
  std::string out = Shell("ffmpeg -nostdin -v error -i " + Quoted(path) + " -f null - 2>&1", &status);
  if (status != 0 && out.empty()) out = "ffmpeg failed";
  return out;
}

// One checksum per decoded picture, in order.
inline std::vector<std::string> PictureChecksums(const std::string& path) {
  std::vector<std::string> out;
  const std::string text =
      Shell("ffmpeg -nostdin -v error -i " + Quoted(path) + " -map 0:v -f framemd5 - 2>/dev/null");
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    if (!line.empty() && line[0] != '#') out.push_back(line.substr(line.rfind(',') + 1));
  return out;
}

// The sound as 16-bit samples (all channels interleaved).
inline std::vector<std::int16_t> SoundSamples(const std::string& path) {
  const std::string raw =
      Shell("ffmpeg -nostdin -v error -i " + Quoted(path) + " -map 0:a -f s16le -acodec pcm_s16le - 2>/dev/null");
  std::vector<std::int16_t> out(raw.size() / 2);  // little-endian, as this machine
  std::memcpy(out.data(), raw.data(), out.size() * 2);
  return out;
}

}  // namespace orv::test
