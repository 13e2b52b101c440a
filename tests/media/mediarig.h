// Test helpers: a virtual card from a JSON description, the device part of a graph on it, and a
// sink that keeps what reaches it.
#pragma once

#include "platform/media/com/dshow.h"
#include "platform/media/com/faults.h"
#include "platform/media/graph/filterbase.h"
#include "platform/media/devices/testing.h"
#include "platform/media/graph/soundout.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <vector>

namespace orv::test {

// COM for the lifetime of a rig: declared first, it goes last, after every object of the rig.
struct ComScope {
  ComScope() { CoInitialize(nullptr); }
  ~ComScope() { CoUninitialize(); }
};

// Loads a card description ("" for the built-in card) and clears faults and the journal.
inline void UseCard(const std::string& json) {
  json.empty() ? unsetenv("ORVANE_VIRTUAL_CARD") : setenv("ORVANE_VIRTUAL_CARD", json.c_str(), 1);
  setenv("ORVANE_DEVICES", "virtual", 1);
  orv::media::ReloadDevices();
  orv::media::ClearJournal();
}

// Journal entries that start with prefix, in order.
inline std::vector<std::string> Calls(const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& c : orv::media::Journal())
    if (c.rfind(prefix, 0) == 0) out.push_back(c);
  return out;
}

inline ComPtr<IBaseFilter> BindDevice(const GUID& category, int index) {
  ComPtr<ICreateDevEnum> devEnum;
  EXPECT_EQ(S_OK, CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&devEnum)));
  ComPtr<IEnumMoniker> monikers;
  if (!devEnum || devEnum->CreateClassEnumerator(category, &monikers, 0) != S_OK) return nullptr;
  ComPtr<IMoniker> m;
  ComPtr<IBaseFilter> f;
  if (monikers->Skip(index) == S_OK && monikers->Next(1, &m, nullptr) == S_OK) m->BindToObject(nullptr, nullptr, IID_PPV_ARGS(&f));
  return f;
}

// Sets the frame period of a capture pin's format.
inline void SetRate(IAMStreamConfig* config, REFERENCE_TIME period) {
  AM_MEDIA_TYPE* mt = nullptr;
  ASSERT_EQ(S_OK, config->GetFormat(&mt));
  reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat)->AvgTimePerFrame = period;
  EXPECT_EQ(S_OK, config->SetFormat(mt));
  DeleteMediaType(mt);
}

// Sets a capture pin's format to the standard's width, with these lines and frame period.
inline void SetFullSize(IAMStreamConfig* config, LONG lines, REFERENCE_TIME period) {
  AM_MEDIA_TYPE* mt = nullptr;
  ASSERT_EQ(S_OK, config->GetFormat(&mt));
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
  vih->bmiHeader.biWidth = 720, vih->bmiHeader.biHeight = lines, vih->AvgTimePerFrame = period;
  EXPECT_EQ(S_OK, config->SetFormat(mt));
  DeleteMediaType(mt);
}

// Keeps every sample that reaches its input, with the format it came in. Hold it in a ComPtr.
class KeepSink : public orv::media::FilterBase {
 public:
  KeepSink() : FilterBase(GUID_NULL, "Keep", "Keep") {
    AddPin({"In", PINDIR_INPUT, GUID_NULL, GUID_NULL, false, false, nullptr});
  }
  void Receive(orv::media::PinBase*, const orv::media::MediaSample& s) override {
    std::lock_guard lock(mutex);
    data.emplace_back(s.data, s.data + s.size);
    starts.push_back(s.start);
    stops.push_back(s.stop);
    if (!s.type) return;
    major = s.type->majortype;
    subtype = s.type->subtype;
    if (s.type->formattype == FORMAT_VideoInfo) vih = *reinterpret_cast<const VIDEOINFOHEADER*>(s.type->pbFormat);
  }
  std::size_t Count() { return std::lock_guard(mutex), data.size(); }
  std::mutex mutex;
  std::vector<std::vector<BYTE>> data;
  std::vector<REFERENCE_TIME> starts, stops;
  GUID major = GUID_NULL, subtype = GUID_NULL;
  VIDEOINFOHEADER vih{};
};

// A new sink in the graph, connected to the output pin of `from` with this category.
inline ComPtr<KeepSink> AttachSink(IGraphBuilder* graph, IBaseFilter* from, const GUID& category) {
  ComPtr<KeepSink> sink = new KeepSink;
  EXPECT_EQ(S_OK, graph->AddFilter(static_cast<IBaseFilter*>(sink.Get()), u"Keep"));
  orv::media::PinBase* out = orv::media::AsFilterBase(from)->FindPin(PINDIR_OUTPUT, category);
  EXPECT_EQ(S_OK, graph->ConnectDirect(out, sink->PinAt(0), nullptr));
  return sink;
}

// An empty filter graph with its capture graph builder and control, COM held for their lifetime.
struct EmptyGraph {
  EmptyGraph() {
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_CaptureGraphBuilder, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&builder)));
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph)));
    EXPECT_EQ(S_OK, builder->SetFiltergraph(graph));
    EXPECT_EQ(S_OK, control.QueryFrom(graph));
  }
  ComScope com;
  ComPtr<ICaptureGraphBuilder> builder;
  ComPtr<IGraphBuilder> graph;
  ComPtr<IMediaControl> control;
};

// The video capture filter of device 0 in an empty graph, with the card's upstream filters brought in.
struct GraphRig : EmptyGraph {
  GraphRig() {
    capture = BindDevice(CLSID_VideoInputDeviceCategory, 0);
    EXPECT_TRUE(capture);
    if (!capture) return;
    EXPECT_EQ(S_OK, graph->AddFilter(capture, nullptr));
    builder->FindInterface(&PIN_CATEGORY_CAPTURE, capture, IID_PPV_ARGS(&config));  // brings the upstream filters in
    analogIn = orv::media::AsFilterBase(capture)->FindPin(PINDIR_INPUT, PIN_CATEGORY_ANALOGVIDEOIN);
  }
  ComPtr<IBaseFilter> capture;
  ComPtr<IAMStreamConfig> config;
  IPin* analogIn = nullptr;
};

// Sound through: an output that takes every sample at once and keeps it, or one that cannot be opened.
struct FakeOutput {
  explicit FakeOutput(int openResult = 0) : openResult(openResult) {
    calls.open = [this](snd_pcm_t** h, const char* name) {
      std::lock_guard lock(mutex);
      opened.push_back(name);
      *h = reinterpret_cast<snd_pcm_t*>(this);
      return this->openResult;
    };
    calls.configure = [](snd_pcm_t*, unsigned, unsigned, unsigned, snd_pcm_uframes_t* period) { return *period = 441, 0; };
    calls.wait = [](snd_pcm_t*, int) { return 1; };
    calls.writei = [this](snd_pcm_t*, const void* buf, snd_pcm_uframes_t frames) {
      std::lock_guard lock(mutex);
      const auto* s = static_cast<const std::int16_t*>(buf);
      played.insert(played.end(), s, s + frames * 2);
      return static_cast<snd_pcm_sframes_t>(frames);
    };
    calls.recover = [](snd_pcm_t*, int err) { return err; };
    calls.close = [](snd_pcm_t*) { return 0; };
    before = orv::media::SetAlsaPlaybackCallsForTests(&calls);
  }
  ~FakeOutput() { orv::media::SetAlsaPlaybackCallsForTests(before); }
  std::size_t Played() { return std::lock_guard(mutex), played.size(); }
  std::size_t Opened() { return std::lock_guard(mutex), opened.size(); }
  void Clear() {
    std::lock_guard lock(mutex);
    played.clear();
  }
  int Peak() {
    std::lock_guard lock(mutex);
    int peak = 0;
    for (std::int16_t s : played) peak = std::max(peak, std::abs(static_cast<int>(s)));
    return peak;
  }
  int openResult;
  orv::media::AlsaPlaybackCalls calls;
  const orv::media::AlsaPlaybackCalls* before = nullptr;
  std::mutex mutex;
  std::vector<std::string> opened;
  std::vector<std::int16_t> played;  // stereo
};

}  // namespace orv::test
