// Filters and pins shared by the devices and the graph's own filters.
#pragma once

#include "platform/media/com/dshow.h"
#include "platform/media/com/object.h"
#include "platform/media/com/sample.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

namespace orv::media {

std::u16string Widen(std::string_view text);
std::string Narrow(const WCHAR* text);
void CopyName(WCHAR* dst, std::size_t capacity, const std::u16string& name);

class FilterBase;

// Streaming threads hold this shared while they deliver a sample; changing a connection holds it
// exclusively, so a pin is never disconnected under a sample on its way.
std::shared_mutex& StreamMutex();

// The current format of a capture stream, shared by the pin's IAMStreamConfig and the device.
class StreamFormat {
 public:
  explicit StreamFormat(const AM_MEDIA_TYPE& initial);
  ~StreamFormat();
  HRESULT Copy(AM_MEDIA_TYPE* out) const;
  HRESULT Replace(const AM_MEDIA_TYPE& mt);
  GUID MajorType() const;

 private:
  mutable std::mutex m_mutex;
  AM_MEDIA_TYPE m_mt{};
};

// A pin lives inside its filter: its references are the filter's.
class PinBase : public IPin, public IKsPropertySet, public IAMStreamControl, public IAMStreamConfig {
 public:
  struct Options {
    std::string name;
    PIN_DIRECTION dir = PINDIR_INPUT;
    GUID category = GUID_NULL;   // read through IKsPropertySet; GUID_NULL: none
    GUID major = GUID_NULL;      // produced (output) or accepted (input); GUID_NULL: anything
    bool ksProperties = true;    // kernel-streaming pins answer IKsPropertySet
    bool streamControl = false;  // capture and preview pins
    std::shared_ptr<StreamFormat> format;  // exposes IAMStreamConfig when set
    bool refuseAudio = false;              // inputs: a picture sink
  };
  PinBase(FilterBase* filter, Options options);
  virtual ~PinBase();

  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT Connect(IPin* receiver, const AM_MEDIA_TYPE* mt) override;
  HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
  HRESULT Disconnect() override;
  HRESULT ConnectedTo(IPin** pin) override;
  HRESULT ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
  HRESULT QueryPinInfo(PIN_INFO* info) override;
  HRESULT QueryDirection(PIN_DIRECTION* dir) override;

  HRESULT Get(REFGUID set, DWORD id, LPVOID instanceData, DWORD instanceLength, LPVOID propertyData,
              DWORD dataLength, DWORD* returned) override;

  HRESULT StartAt(const REFERENCE_TIME* start, DWORD cookie) override;
  HRESULT StopAt(const REFERENCE_TIME* stop, BOOL sendExtra, DWORD cookie) override;

  HRESULT GetFormat(AM_MEDIA_TYPE** mt) override;
  HRESULT SetFormat(AM_MEDIA_TYPE* mt) override;

  const std::string& Name() const { return m_opt.name; }
  PIN_DIRECTION Direction() const { return m_opt.dir; }
  const GUID& Category() const { return m_opt.category; }
  bool IsConnected() const { return static_cast<bool>(m_connected); }
  IPin* Peer() const { return m_connected.Get(); }
  FilterBase* Filter() const { return m_filter; }
  // The type this output pin offers now.
  HRESULT OfferedType(AM_MEDIA_TYPE* mt) const;
  // Whether samples would flow on this pin now (stream control).
  bool StreamOn() const { return m_streamOn; }
  // Output pins: hands the sample to the connected input's filter when the stream is on. The caller
  // holds StreamMutex() shared.
  Delivery Send(const MediaSample& sample);
  // As Send; false when nothing took it.
  bool Deliver(const MediaSample& sample) { return Send(sample) == Delivery::Taken; }
  bool SupportsStreamControl() const { return m_opt.streamControl; }

 private:
  bool Accepts(const AM_MEDIA_TYPE& mt) const;
  HRESULT Check(std::string_view op, const std::string& args, std::string_view iface = {}) const;

  FilterBase* m_filter;
  Options m_opt;
  ComPtr<IPin> m_connected;
  AM_MEDIA_TYPE m_mt{};
  std::atomic<bool> m_streamOn{true};
};

class FilterBase : public ComObject, public IBaseFilter {
 public:
  // instance: name in the journal and for faults ("Crossbar0"); kind: the filter's class ("Crossbar").
  FilterBase(const CLSID& clsid, std::string instance, std::string kind);
  ~FilterBase() override;
  ORV_UNKNOWN_IMPL

  HRESULT GetClassID(CLSID* clsid) override;
  HRESULT Stop() override;
  HRESULT Pause() override;
  HRESULT Run(REFERENCE_TIME start) override;
  HRESULT GetState(DWORD timeoutMs, FILTER_STATE* state) override;
  HRESULT EnumPins(IEnumPins** out) override;
  HRESULT QueryFilterInfo(FILTER_INFO* info) override;
  HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;

  const std::string& Instance() const { return m_instance; }
  const std::string& Kind() const { return m_kind; }
  IFilterGraph* Graph() const { return m_graph; }
  FILTER_STATE State() const { return m_state; }
  // The graph's start on the monotonic clock (MonotonicNow()), as the last Run from a stopped or
  // paused state gave it.
  REFERENCE_TIME StreamStart() const { return m_streamStart; }
  std::size_t PinCount() const { return m_pins.size(); }
  PinBase* PinAt(std::size_t i) const { return m_pins[i].get(); }
  PinBase* FindPin(PIN_DIRECTION dir, const GUID& category) const;
  // Hook for filters that grow pins as they get connected (the AVI mux).
  virtual void OnInputConnected(PinBase*) {}
  // Capture devices bring the filters that feed them (crossbars, tuner) into the graph and connect
  // them, as a capture driver's description of its card would. S_FALSE: nothing to bring.
  virtual HRESULT ConnectUpstream(IFilterGraph*) { return S_FALSE; }
  // A pin's format set through IAMStreamConfig (checked, the filter stopped): a device filter
  // stores what the device took. S_FALSE: the pin stores it as given.
  virtual HRESULT OnSetFormat(PinBase*, const AM_MEDIA_TYPE&) { return S_FALSE; }
  // A sample arrived on one of this filter's input pins (on the streaming thread).
  virtual void Receive(PinBase* input, const MediaSample& sample) {}
  // As Receive, for filters that can refuse a sample (a full write queue) or pass one on.
  virtual Delivery Take(PinBase* input, const MediaSample& sample) {
    Receive(input, sample);
    return Delivery::Taken;
  }

  // Tells the graph that this filter's stream cannot go on (EC_ERRORABORT with hr), from any thread;
  // a graph that is going away has already let go of its filters.
  void AbortGraph(HRESULT hr) const;

  // Journal entry "Instance.op(args)" and the fault injected into op for this filter, if any.
  HRESULT Check(std::string_view op, const std::string& args = {},
                std::initializer_list<std::string_view> extra = {}) const;

 protected:
  void* Lookup(REFIID riid) override;
  PinBase* AddPin(PinBase::Options options);
  // Running begins (from stopped or paused; State() still tells which) and ends (stopped or paused):
  // sources start and stop streaming here. A failure from OnRun fails the graph's Run with it.
  virtual HRESULT OnRun() { return S_OK; }
  virtual void OnStop() {}

 private:
  CLSID m_clsid;
  std::string m_instance;
  std::string m_kind;
  std::vector<std::unique_ptr<PinBase>> m_pins;
  std::atomic<IFilterGraph*> m_graph{nullptr};  // read from streaming threads too
  std::u16string m_graphName;
  FILTER_STATE m_state = State_Stopped;
  std::atomic<REFERENCE_TIME> m_streamStart{0};
};

// CLOCK_MONOTONIC now, in 100 ns units: the one clock of every stream. A sample's start time is its
// capture instant on this clock less the graph's start (FilterBase::StreamStart()).
REFERENCE_TIME MonotonicNow();

// Filters of the media layer alive now (virtual devices and the graph's own filters).
int LiveFilters();

// Our filter behind an interface pointer, or null for a foreign one.
FilterBase* AsFilterBase(IBaseFilter* filter);
PinBase* AsPinBase(IPin* pin);

// How the nearest decoder upstream of an input pin (through a tee, say) interlaces its pictures;
// AM_FIELDS_UNKNOWN when there is none or it cannot tell.
AM_FIELD_ORDER UpstreamFieldOrder(PinBase* input);

}  // namespace orv::media
