#include "platform/media/devices/carddesc.h"

#include "platform/media/writer/captions.h"
#include "platform/media/writer/teletext.h"
#include "platform/media/writer/wss.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdlib>

namespace orv::media {

using nlohmann::json;

namespace {
// The pairs a caption may take: a second's frames at 25 a second, less one.
constexpr std::size_t kMaxCaptionPairs = 24;
}  // namespace

DeviceDesc DefaultDevice() {
  DeviceDesc d;
  d.name = "Orvane Virtual TV Card";
  d.audioName = "Orvane Virtual TV Card Audio";
  d.vbiName = "Orvane Virtual TV Card VBI";
  CrossbarDesc x;
  x.inputs = {{PhysConn_Video_SVideo, 4, ""},
              {PhysConn_Video_Tuner, 3, "tuner"},
              {PhysConn_Video_Composite, 4, ""},
              {PhysConn_Audio_Tuner, 1, "tuner-audio"},
              {PhysConn_Audio_Line, 0, ""}};
  x.outputs = {{PhysConn_Video_VideoDecoder, 1, ""}, {PhysConn_Audio_AudioDecoder, 0, ""}};
  d.crossbars.push_back(x);
  TunerDesc t;
  // Roughly what a city receives: a dozen broadcast channels, a few dozen on cable.
  t.antennaSignal = {6, 7, 9, 11, 13, 15, 17, 21, 23, 25, 27, 46, 51};
  t.cableSignal = {2, 3, 5, 6, 7, 9, 10, 11, 12, 13, 14, 18, 20, 22, 25, 27, 29, 33, 37, 42, 45, 48, 52, 60, 75, 96, 110};
  d.tuner = t;
  d.analogInFrom = "crossbar0";
  return d;
}

CardSet DefaultCardSet() {
  CardSet s;
  s.devices.push_back(DefaultDevice());
  return s;
}

namespace {

struct BadInput {
  std::string message;
};

[[noreturn]] void Fail(const std::string& where, const std::string& what) { throw BadInput{where + ": " + what}; }

void CheckKeys(const json& obj, const std::string& where, std::initializer_list<const char*> allowed) {
  if (!obj.is_object()) Fail(where, "expected an object");
  for (auto it = obj.begin(); it != obj.end(); ++it) {
    bool known = false;
    for (const char* k : allowed) known = known || it.key() == k;
    if (!known) Fail(where, "unknown key \"" + it.key() + "\"");
  }
}

long long Integer(const json& v, const std::string& where) {
  if (v.is_number_integer()) return v.get<long long>();
  if (v.is_string()) {
    const std::string s = v.get<std::string>();
    char* end = nullptr;
    const long long n = std::strtoll(s.c_str(), &end, 0);
    if (!s.empty() && end && *end == 0) return n;
  }
  Fail(where, "expected an integer");
}

LONG Long(const json& v, const std::string& where, long long lo = -2147483648LL, long long hi = 2147483647LL) {
  const long long n = Integer(v, where);
  if (n < lo || n > hi) Fail(where, "value " + std::to_string(n) + " out of range " + std::to_string(lo) + ".." + std::to_string(hi));
  return static_cast<LONG>(n);
}

// A time in seconds (a whole or a fractional number, 0..86400) in 100 ns units.
REFERENCE_TIME Seconds(const json& v, const std::string& where) {
  if (!v.is_number()) Fail(where, "expected a number of seconds");
  const double s = v.get<double>();
  if (!(s >= 0 && s <= 86400)) Fail(where, "seconds out of range 0..86400");
  return static_cast<REFERENCE_TIME>(s * 1e7);
}

bool Bool(const json& v, const std::string& where) {
  if (!v.is_boolean()) Fail(where, "expected true or false");
  return v.get<bool>();
}

std::string Text(const json& v, const std::string& where) {
  if (!v.is_string()) Fail(where, "expected a string");
  return v.get<std::string>();
}

// An array of strings.
std::vector<std::string> Texts(const json& v, const std::string& where) {
  if (!v.is_array()) Fail(where, "expected an array of texts");
  std::vector<std::string> out;
  for (std::size_t k = 0; k < v.size(); ++k) out.push_back(Text(v[k], where + "[" + std::to_string(k) + "]"));
  return out;
}

GUID Guid(const json& v, const std::string& where, std::initializer_list<std::pair<const char*, GUID>> shortNames) {
  const std::string s = Text(v, where);
  for (const auto& [name, g] : shortNames)
    if (s == name) return g;
  GUID g;
  if (ParseGuid(s, &g)) return g;
  Fail(where, "unknown GUID \"" + s + "\"");
}

HRESULT Result(const json& v, const std::string& where) {
  static const std::pair<const char*, HRESULT> kNames[] = {
      {"S_OK", S_OK},
      {"S_FALSE", S_FALSE},
      {"E_FAIL", E_FAIL},
      {"E_NOINTERFACE", E_NOINTERFACE},
      {"E_POINTER", E_POINTER},
      {"E_NOTIMPL", E_NOTIMPL},
      {"E_OUTOFMEMORY", E_OUTOFMEMORY},
      {"E_INVALIDARG", E_INVALIDARG},
      {"E_UNEXPECTED", E_UNEXPECTED},
      {"REGDB_E_CLASSNOTREG", REGDB_E_CLASSNOTREG},
      {"VFW_S_NOPREVIEWPIN", VFW_S_NOPREVIEWPIN},
      {"VFW_E_NOT_CONNECTED", VFW_E_NOT_CONNECTED},
      {"VFW_E_NOT_FOUND", VFW_E_NOT_FOUND},
      {"VFW_E_CANNOT_CONNECT", VFW_E_CANNOT_CONNECT},
      {"VFW_E_CANNOT_RENDER", VFW_E_CANNOT_RENDER},
      {"VFW_E_NOT_IN_GRAPH", VFW_E_NOT_IN_GRAPH},
  };
  if (v.is_string())
    for (const auto& [name, hr] : kNames)
      if (v.get<std::string>() == name) return hr;
  // Accepts 0x80004005 as well as -2147467259.
  const long long n = Integer(v, where);
  if (n < -2147483648LL || n > 0xFFFFFFFFLL) Fail(where, "not a 32-bit result code");
  return static_cast<HRESULT>(static_cast<std::uint32_t>(n));
}

bool ValidFrom(const std::string& from, long self, std::size_t crossbarCount) {
  if (from.empty() || from == "tuner" || from == "tuner-audio") return true;
  if (from.rfind("crossbar", 0) != 0) return false;
  char* end = nullptr;
  const long n = std::strtol(from.c_str() + 8, &end, 10);
  if (end == from.c_str() + 8 || (*end != 0 && *end != ':')) return false;
  if (*end == ':') {
    char* end2 = nullptr;
    std::strtol(end + 1, &end2, 10);
    if (end2 == end + 1 || *end2 != 0) return false;
  }
  // Only a crossbar further upstream can feed this one, so a description cannot loop.
  return n > self && n < static_cast<long>(crossbarCount);
}

std::vector<CrossbarPinDesc> Pins(const json& arr, const std::string& where, bool inputs) {
  if (!arr.is_array()) Fail(where, "expected an array");
  std::vector<CrossbarPinDesc> pins;
  for (std::size_t i = 0; i < arr.size(); ++i) {
    const std::string w = where + "[" + std::to_string(i) + "]";
    if (inputs)
      CheckKeys(arr[i], w, {"type", "related", "from"});
    else
      CheckKeys(arr[i], w, {"type", "related"});
    CrossbarPinDesc p;
    if (!arr[i].contains("type")) Fail(w, "missing \"type\"");
    p.type = Long(arr[i]["type"], w + ".type", 0);
    if (arr[i].contains("related")) p.related = Long(arr[i]["related"], w + ".related", -1);
    if (arr[i].contains("from")) p.from = Text(arr[i]["from"], w + ".from");
    pins.push_back(p);
  }
  for (std::size_t i = 0; i < pins.size(); ++i)
    if (pins[i].related >= static_cast<LONG>(pins.size()))
      Fail(where + "[" + std::to_string(i) + "].related", "no pin " + std::to_string(pins[i].related));
  return pins;
}

void Range(const json& v, const std::string& where, LONG* lo, LONG* hi) {
  if (!v.is_array() || v.size() != 2) Fail(where, "expected [first, last]");
  *lo = Long(v[0], where + "[0]", 0, 1000);
  *hi = Long(v[1], where + "[1]", 0, 1000);
  if (*lo > *hi) Fail(where, "first channel above last");
}

DeviceDesc Device(const json& j, const std::string& where, std::size_t index) {
  CheckKeys(j, where,
            {"name", "preview_pin", "analog_video_in", "stream_config", "dropped_frames", "crossbars", "tuner",
             "analog_in_from", "procamp", "format", "audio", "audio_name", "faults", "sync_marks",
             "audio_clock_ppm", "video_clock_ppm", "video_start_latency_ms", "clock_speed", "standards", "signal_off_after_s",
             "stall_at_s", "stall_ms", "streaming_error_at_s", "bad_buffer_at_s", "no_lock_at_s", "no_lock_ms",
             "unplug_at_s", "tone_dbfs", "luma_range", "vbi", "vbi_name", "captions", "aspect",
             "aspect_until_s", "teletext_page"});
  DeviceDesc d = DefaultDevice();
  d.name = index == 0 ? d.name : d.name + " " + std::to_string(index + 1);
  d.audioName = d.name + " Audio";
  d.vbiName = d.name + " VBI";
  if (j.contains("name")) {
    d.name = Text(j["name"], where + ".name");
    d.audioName = d.name + " Audio";
    d.vbiName = d.name + " VBI";
  }
  if (j.contains("audio_name")) d.audioName = Text(j["audio_name"], where + ".audio_name");
  if (j.contains("vbi")) d.vbi = Bool(j["vbi"], where + ".vbi");
  if (j.contains("vbi_name")) d.vbiName = Text(j["vbi_name"], where + ".vbi_name");
  if (j.contains("captions")) {
    d.captions = Texts(j["captions"], where + ".captions");
    // One pair goes out a frame: a caption must be whole within the second before the next one.
    for (std::size_t k = 0; k < d.captions.size(); ++k)
      if (cc::PopOnCaption(d.captions[k]).size() > kMaxCaptionPairs)
        Fail(where + ".captions[" + std::to_string(k) + "]", "too long to send within a second (at most one row of 32 characters)");
  }
  if (j.contains("aspect")) {
    d.wss = wss::ValueOfName(Text(j["aspect"], where + ".aspect"));
    if (!d.wss) Fail(where + ".aspect", "expected \"4:3\", \"14:9\", \"16:9 letterbox\" or \"16:9\"");
  }
  if (j.contains("teletext_page"))
    d.teletextPage = Long(j["teletext_page"], where + ".teletext_page", ttx::kFirstPage, ttx::kLastPage);
  if (j.contains("aspect_until_s")) d.wssUntil = Seconds(j["aspect_until_s"], where + ".aspect_until_s");
  if (j.contains("preview_pin")) d.previewPin = Bool(j["preview_pin"], where + ".preview_pin");
  if (j.contains("analog_video_in")) d.analogVideoIn = Bool(j["analog_video_in"], where + ".analog_video_in");
  if (j.contains("stream_config")) d.streamConfig = Bool(j["stream_config"], where + ".stream_config");
  if (j.contains("dropped_frames")) d.droppedFrames = Bool(j["dropped_frames"], where + ".dropped_frames");
  if (j.contains("audio")) d.audio = Bool(j["audio"], where + ".audio");
  if (j.contains("sync_marks")) d.syncMarks = Bool(j["sync_marks"], where + ".sync_marks");
  if (j.contains("audio_clock_ppm"))
    d.audioClockPpm = Long(j["audio_clock_ppm"], where + ".audio_clock_ppm", -100000, 100000);
  if (j.contains("video_clock_ppm"))
    d.videoClockPpm = Long(j["video_clock_ppm"], where + ".video_clock_ppm", -100000, 100000);
  if (j.contains("video_start_latency_ms"))
    d.videoStartLatencyMs = Long(j["video_start_latency_ms"], where + ".video_start_latency_ms", 0, 10000);
  if (j.contains("clock_speed")) d.clockSpeed = Long(j["clock_speed"], where + ".clock_speed", 1, 100);
  if (j.contains("signal_off_after_s"))
    d.signalOffAfterS = Long(j["signal_off_after_s"], where + ".signal_off_after_s", 0, 86400);
  auto at = [&](const char* key, REFERENCE_TIME* out) {
    if (j.contains(key)) *out = Seconds(j[key], where + "." + key);
  };
  auto lasting = [&](const char* key, REFERENCE_TIME* out) {
    if (j.contains(key)) *out = Long(j[key], where + "." + key, 0, 3600000) * 10000LL;
  };
  at("stall_at_s", &d.streamFaults.stallAt);
  lasting("stall_ms", &d.streamFaults.stallFor);
  at("streaming_error_at_s", &d.streamFaults.streamingErrorAt);
  at("bad_buffer_at_s", &d.streamFaults.badBufferAt);
  at("no_lock_at_s", &d.streamFaults.noLockAt);
  lasting("no_lock_ms", &d.streamFaults.noLockFor);
  at("unplug_at_s", &d.streamFaults.unplugAt);
  if (j.contains("luma_range")) {
    const json& r = j["luma_range"];
    const std::string w = where + ".luma_range";
    if (!r.is_array() || r.size() != 2) Fail(w, "expected [darkest, brightest]");
    d.lumaMin = Long(r[0], w + "[0]", 0, 255);
    d.lumaMax = Long(r[1], w + "[1]", 0, 255);
    if (d.lumaMin > d.lumaMax) Fail(w, "darkest above brightest");
  }
  if (j.contains("tone_dbfs")) {
    const json& t = j["tone_dbfs"];
    const std::string w = where + ".tone_dbfs";
    if (!t.is_array() || t.size() != 2) Fail(w, "expected [left, right]");
    for (int side = 0; side < 2; ++side) {
      if (!t[side].is_number() || !(t[side].get<double>() >= -120.0 && t[side].get<double>() <= 0.0))
        Fail(w + "[" + std::to_string(side) + "]", "expected a level in dBFS from -120 to 0");
      d.toneScale[side] = std::pow(10.0, t[side].get<double>() / 20.0);
    }
  }
  if (j.contains("standards")) d.standards = Texts(j["standards"], where + ".standards");

  if (j.contains("crossbars")) {
    const json& xs = j["crossbars"];
    if (!xs.is_array()) Fail(where + ".crossbars", "expected an array");
    d.crossbars.clear();
    for (std::size_t k = 0; k < xs.size(); ++k) {
      const std::string w = where + ".crossbars[" + std::to_string(k) + "]";
      CheckKeys(xs[k], w, {"inputs", "outputs", "refuse"});
      CrossbarDesc x;
      if (!xs[k].contains("inputs") || !xs[k].contains("outputs")) Fail(w, "needs \"inputs\" and \"outputs\"");
      x.inputs = Pins(xs[k]["inputs"], w + ".inputs", true);
      x.outputs = Pins(xs[k]["outputs"], w + ".outputs", false);
      if (x.outputs.empty()) Fail(w + ".outputs", "a crossbar needs an output");
      if (xs[k].contains("refuse")) {
        const json& r = xs[k]["refuse"];
        if (!r.is_array()) Fail(w + ".refuse", "expected [[output, input], ...]");
        for (std::size_t i = 0; i < r.size(); ++i) {
          const std::string wr = w + ".refuse[" + std::to_string(i) + "]";
          if (!r[i].is_array() || r[i].size() != 2) Fail(wr, "expected [output, input]");
          x.refused.emplace_back(Long(r[i][0], wr, 0), Long(r[i][1], wr, 0));
        }
      }
      d.crossbars.push_back(x);
    }
    for (std::size_t k = 0; k < d.crossbars.size(); ++k)
      for (std::size_t i = 0; i < d.crossbars[k].inputs.size(); ++i)
        if (!ValidFrom(d.crossbars[k].inputs[i].from, static_cast<long>(k), d.crossbars.size()))
          Fail(where + ".crossbars[" + std::to_string(k) + "].inputs[" + std::to_string(i) + "].from",
               "\"" + d.crossbars[k].inputs[i].from +
                   "\" is not \"tuner\", \"tuner-audio\" or an upstream \"crossbarN[:output]\"");
    d.analogInFrom = d.crossbars.empty() ? "" : "crossbar0";
  }

  if (j.contains("tuner")) {
    const json& t = j["tuner"];
    if (t.is_null() || (t.is_boolean() && !t.get<bool>())) {
      d.tuner.reset();
    } else if (!t.is_boolean()) {
      CheckKeys(t, where + ".tuner", {"antenna", "cable", "antenna_signal", "cable_signal"});
      TunerDesc ts = *DefaultDevice().tuner;
      if (t.contains("antenna")) Range(t["antenna"], where + ".tuner.antenna", &ts.antennaMin, &ts.antennaMax);
      if (t.contains("cable")) Range(t["cable"], where + ".tuner.cable", &ts.cableMin, &ts.cableMax);
      for (const char* key : {"antenna_signal", "cable_signal"}) {
        if (!t.contains(key)) continue;
        const std::string w = where + ".tuner." + key;
        if (!t[key].is_array()) Fail(w, "expected an array of channels");
        std::set<LONG>& set = std::string(key) == "antenna_signal" ? ts.antennaSignal : ts.cableSignal;
        set.clear();
        for (const json& c : t[key]) set.insert(Long(c, w, 0, 1000));
      }
      d.tuner = ts;
    }
  }

  if (j.contains("analog_in_from")) {
    d.analogInFrom = Text(j["analog_in_from"], where + ".analog_in_from");
    const bool ok = d.analogInFrom != "tuner-audio" && ValidFrom(d.analogInFrom, -1, d.crossbars.size());
    if (!ok) Fail(where + ".analog_in_from", "\"" + d.analogInFrom + "\" names no crossbar or tuner of this card");
    if (d.analogInFrom == "tuner" && !d.tuner) Fail(where + ".analog_in_from", "the card has no tuner");
  }

  if (j.contains("procamp")) {
    const json& p = j["procamp"];
    CheckKeys(p, where + ".procamp", {"brightness", "contrast", "hue", "saturation"});
    const char* names[4] = {"brightness", "contrast", "hue", "saturation"};
    for (int i = 0; i < 4; ++i) {
      if (!p.contains(names[i])) continue;
      const std::string w = where + ".procamp." + names[i];
      const json& r = p[names[i]];
      ProcAmpRange& pr = d.procAmp[i];
      if (r.is_null()) {
        pr.present = false;
        continue;
      }
      CheckKeys(r, w, {"min", "max", "step", "default", "caps"});
      if (r.contains("min")) pr.min = Long(r["min"], w + ".min");
      if (r.contains("max")) pr.max = Long(r["max"], w + ".max");
      if (r.contains("step")) pr.step = Long(r["step"], w + ".step", 1);
      // (in 64 bits: the width of a full 32-bit range does not fit in 32)
      pr.def = r.contains("default") ? Long(r["default"], w + ".default")
                                     : static_cast<LONG>(pr.min + (static_cast<long long>(pr.max) - pr.min) / 2);
      if (r.contains("caps")) pr.caps = Long(r["caps"], w + ".caps", 0, 3);
      if (pr.min > pr.max) Fail(w, "min above max");
      if (pr.def < pr.min || pr.def > pr.max) Fail(w + ".default", "outside min..max");
    }
  }

  if (j.contains("format")) {
    const json& f = j["format"];
    const std::string w = where + ".format";
    CheckKeys(f, w, {"major", "subtype", "format_type", "width", "height", "fps"});
    VideoFormatDesc& vf = d.format;
    if (f.contains("major"))
      vf.major = Guid(f["major"], w + ".major",
                      {{"video", MEDIATYPE_Video}, {"audio", MEDIATYPE_Audio}, {"interleaved", MEDIATYPE_Interleaved}});
    if (f.contains("subtype"))
      vf.subtype = Guid(f["subtype"], w + ".subtype",
                        {{"YUY2", MEDIASUBTYPE_YUY2}, {"RGB24", MEDIASUBTYPE_RGB24}, {"dvsd", MEDIASUBTYPE_dvsd}});
    if (f.contains("format_type"))
      vf.formatType = Guid(f["format_type"], w + ".format_type",
                           {{"VideoInfo", FORMAT_VideoInfo}, {"DvInfo", FORMAT_DvInfo}, {"None", FORMAT_None}});
    if (f.contains("width")) vf.width = Long(f["width"], w + ".width", 16, 4096);
    if (f.contains("height")) vf.height = Long(f["height"], w + ".height", 16, 4096);
    if (f.contains("fps")) {
      if (!f["fps"].is_number() || f["fps"].get<double>() <= 0.5 || f["fps"].get<double>() > 240)
        Fail(w + ".fps", "expected a number of frames per second between 0.5 and 240");
      vf.avgTimePerFrame = static_cast<REFERENCE_TIME>(10000000.0 / f["fps"].get<double>());
    }
  }
  return d;
}

std::vector<FaultDesc> Faults(const json& arr, const std::string& where) {
  if (!arr.is_array()) Fail(where, "expected an array");
  std::vector<FaultDesc> out;
  for (std::size_t i = 0; i < arr.size(); ++i) {
    const std::string w = where + "[" + std::to_string(i) + "]";
    CheckKeys(arr[i], w, {"op", "hr", "skip", "times"});
    FaultDesc f;
    if (!arr[i].contains("op")) Fail(w, "missing \"op\"");
    f.op = Text(arr[i]["op"], w + ".op");
    if (f.op.empty() || f.op.front() == ':') Fail(w + ".op", "empty operation name");
    if (arr[i].contains("hr")) f.hr = Result(arr[i]["hr"], w + ".hr");
    if (arr[i].contains("skip")) f.skip = Long(arr[i]["skip"], w + ".skip", 0);
    if (arr[i].contains("times")) f.times = Long(arr[i]["times"], w + ".times", -1);
    out.push_back(f);
  }
  return out;
}

}  // namespace

std::optional<CardSet> ParseCardSet(const std::string& text, std::string* error) {
  try {
    const json j = json::parse(text);
    CardSet set;
    if (j.is_object() && j.contains("devices")) {
      CheckKeys(j, "description", {"devices", "faults"});
      const json& devs = j["devices"];
      if (!devs.is_array()) Fail("devices", "expected an array");
      for (std::size_t i = 0; i < devs.size(); ++i)
        set.devices.push_back(Device(devs[i], "devices[" + std::to_string(i) + "]", i));
      if (j.contains("faults")) set.faults = Faults(j["faults"], "faults");
    } else {
      set.devices.push_back(Device(j, "description", 0));
      if (j.contains("faults")) set.faults = Faults(j["faults"], "faults");
    }
    return set;
  } catch (const BadInput& e) {
    if (error) *error = e.message;
  } catch (const json::exception& e) {
    if (error) *error = std::string("not valid JSON: ") + e.what();
  }
  return std::nullopt;
}

}  // namespace orv::media
