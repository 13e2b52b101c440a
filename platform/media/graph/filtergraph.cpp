// The filter graph manager: IGraphBuilder, IMediaControl, IMediaEventEx and IMediaEventSink.
#include "platform/media/com/faults.h"
#include "platform/media/graph/graph.h"
#include "platform/media/graph/levels.h"
#include "platform/ui/winuser.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace orv::media {
namespace {

class FilterGraph : public ComObject,
                    public IGraphBuilder,
                    public IMediaControl,
                    public IMediaEventEx,
                    public IMediaEventSink,
                    public ISignalLevels {
 public:
  ~FilterGraph() override {
    // The graph owns the connections: break them all so filters can go. Filters leave the graph
    // first, so that nothing they do while stopping reaches a graph that is going away.
    for (auto& f : m_filters) f->JoinFilterGraph(nullptr, nullptr);
    for (auto& f : m_filters) f->Stop();
    for (auto& f : m_filters) DisconnectAll(f);
  }
  ORV_UNKNOWN_IMPL

  // ---- IFilterGraph / IGraphBuilder
  HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) override {
    if (!filter) return E_POINTER;
    if (HRESULT hr = Check("AddFilter", filter); hr != S_OK) return hr;
    if (Find(filter) != m_filters.end()) return E_INVALIDARG;
    std::u16string n = name && *name ? std::u16string(name) : DefaultName(filter);
    if (HRESULT hr = filter->JoinFilterGraph(this, n.c_str()); FAILED(hr)) return hr;
    m_filters.emplace_back(filter);
    return S_OK;
  }

  HRESULT RemoveFilter(IBaseFilter* filter) override {
    if (!filter) return E_POINTER;
    if (HRESULT hr = Check("RemoveFilter", filter); hr != S_OK) return hr;
    auto it = Find(filter);
    if (it == m_filters.end()) return VFW_E_NOT_FOUND;
    ComPtr<IBaseFilter> hold = *it;
    m_filters.erase(it);
    hold->Stop();
    DisconnectAll(hold);
    hold->JoinFilterGraph(nullptr, nullptr);
    return S_OK;
  }

  HRESULT ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) override {
    if (!out || !in) return E_POINTER;
    if (HRESULT hr = CheckFault("ConnectDirect", {"Graph", PinFilterKind(out), PinFilterKind(in)},
                                "Graph.ConnectDirect(" + PinLabel(out) + "," + PinLabel(in) + ")");
        hr != S_OK)
      return hr;
    if (!InThisGraph(out) || !InThisGraph(in)) return VFW_E_NOT_IN_GRAPH;
    return out->Connect(in, mt);
  }

  HRESULT Disconnect(IPin* pin) override {
    if (!pin) return E_POINTER;
    if (HRESULT hr = CheckFault("Disconnect", {"Graph", PinFilterKind(pin)}, "Graph.Disconnect(" + PinLabel(pin) + ")");
        hr != S_OK)
      return hr;
    return pin->Disconnect();
  }

  // ---- IMediaControl
  // Downstream filters first, so that a writer is ready before its sources send; a filter that
  // cannot start (a file that cannot be opened, a busy device) stops the whole graph again. Every
  // filter gets the same start on the monotonic clock, so all streams share one zero.
  HRESULT Run() override {
    if (HRESULT hr = CheckFault("Run", {"Graph"}, "Graph.Run()"); hr != S_OK) return hr;
    const REFERENCE_TIME start = MonotonicNow();
    for (auto it = m_filters.rbegin(); it != m_filters.rend(); ++it)
      if (HRESULT hr = (*it)->Run(start); FAILED(hr)) return StopAfterFailure(hr);
    m_state = State_Running;
    return S_OK;
  }

  HRESULT Pause() override {
    if (HRESULT hr = CheckFault("Pause", {"Graph"}, "Graph.Pause()"); hr != S_OK) return hr;
    for (auto it = m_filters.rbegin(); it != m_filters.rend(); ++it)
      if (HRESULT hr = (*it)->Pause(); FAILED(hr)) return StopAfterFailure(hr);
    m_state = State_Paused;
    return S_OK;
  }

  HRESULT Stop() override {
    if (HRESULT hr = CheckFault("Stop", {"Graph"}, "Graph.Stop()"); hr != S_OK) return hr;
    for (auto& f : m_filters) f->Stop();
    m_state = State_Stopped;
    return S_OK;
  }

  HRESULT GetState(LONG, OAFilterState* state) override {
    if (!state) return E_POINTER;
    *state = m_state;
    return S_OK;
  }

  // ---- IMediaEventEx
  HRESULT GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG timeoutMs) override {
    if (!code || !param1 || !param2) return E_POINTER;
    std::unique_lock lock(m_eventMutex);
    if (!m_eventReady.wait_for(lock, std::chrono::milliseconds(std::max<LONG>(0, timeoutMs)),
                               [this] { return !m_events.empty(); }))
      return E_ABORT;
    const Event e = m_events.front();
    m_events.pop_front();
    *code = e.code;
    *param1 = e.param1;
    *param2 = e.param2;
    return S_OK;
  }

  HRESULT FreeEventParams(LONG, LONG_PTR, LONG_PTR) override { return S_OK; }  // no event carries memory

  HRESULT SetNotifyWindow(OAHWND hwnd, LONG msg, LONG_PTR instance) override {
    if (HRESULT hr = CheckFault("SetNotifyWindow", {"Graph"},
                                "Graph.SetNotifyWindow(" + std::to_string(msg) + "," + std::to_string(instance) + ")");
        hr != S_OK)
      return hr;
    std::lock_guard lock(m_eventMutex);
    m_notifyWindow = hwnd;
    m_notifyMessage = msg;
    m_notifyInstance = instance;
    return S_OK;
  }

  // ---- IMediaEventSink: filters report from their own threads.
  HRESULT Notify(LONG code, LONG_PTR param1, LONG_PTR param2) override {
    OAHWND window;
    LONG message;
    LONG_PTR instance;
    {
      std::lock_guard lock(m_eventMutex);
      m_events.push_back({code, param1, param2});
      window = m_notifyWindow;
      message = m_notifyMessage;
      instance = m_notifyInstance;
    }
    m_eventReady.notify_all();
    if (window) ::PostMessageA(reinterpret_cast<HWND>(window), static_cast<UINT>(message), 0, instance);
    return S_OK;
  }

  // ---- ISignalLevels
  HRESULT put_Watch(BOOL on) override {
    m_levels->Watch(on != FALSE);
    return S_OK;
  }
  HRESULT GetPictureLevels(orv::PictureLevels* levels) override {
    if (!levels) return E_POINTER;
    return m_levels->ReadPicture(levels) ? S_OK : S_FALSE;
  }
  HRESULT GetSoundLevels(orv::SoundLevels* levels) override {
    if (!levels) return E_POINTER;
    *levels = m_levels->ReadSound();
    return S_OK;
  }
  HRESULT ClearClip() override {
    m_levels->ClearClip();
    return S_OK;
  }

  const std::vector<ComPtr<IBaseFilter>>& Filters() const { return m_filters; }
  const std::shared_ptr<LevelsTap>& Levels() const { return m_levels; }

 protected:
  void* Lookup(REFIID riid) override {
    if (riid == IID_IUnknown || riid == IID_IFilterGraph || riid == IID_IGraphBuilder)
      return static_cast<IGraphBuilder*>(this);
    if (riid == IID_IMediaControl) return static_cast<IMediaControl*>(this);
    if (riid == IID_IMediaEventEx || riid == IID_IMediaEvent) return static_cast<IMediaEventEx*>(this);
    if (riid == IID_IMediaEventSink) return static_cast<IMediaEventSink*>(this);
    if (riid == IID_ISignalLevels) return static_cast<ISignalLevels*>(this);
    return nullptr;
  }

 private:
  static std::string KindOf(IBaseFilter* f) {
    FilterBase* b = AsFilterBase(f);
    return b ? b->Kind() : "Filter";
  }
  static std::string InstanceOf(IBaseFilter* f) {
    FilterBase* b = AsFilterBase(f);
    return b ? b->Instance() : "Filter";
  }
  static std::string PinFilterKind(IPin* p) {
    PinBase* b = AsPinBase(p);
    return b ? b->Filter()->Kind() : "Filter";
  }
  static std::string PinLabel(IPin* p) {
    PinBase* b = AsPinBase(p);
    return b ? b->Filter()->Instance() + "/" + b->Name() : "pin";
  }
  static std::u16string DefaultName(IBaseFilter* f) { return Widen(InstanceOf(f)); }

  HRESULT Check(const char* op, IBaseFilter* f) const {
    const std::string kind = KindOf(f), instance = InstanceOf(f);
    return CheckFault(op, {"Graph", kind, instance}, std::string("Graph.") + op + "(" + instance + ")");
  }

  std::vector<ComPtr<IBaseFilter>>::iterator Find(IBaseFilter* f) {
    return std::find_if(m_filters.begin(), m_filters.end(), [f](const ComPtr<IBaseFilter>& p) { return p.Get() == f; });
  }

  // Internal walks skip the journal and injected faults: teardown must never be refused.
  bool InThisGraph(IPin* pin) {
    PinBase* p = AsPinBase(pin);
    return p && Find(static_cast<IBaseFilter*>(p->Filter())) != m_filters.end();
  }

  static void DisconnectAll(IBaseFilter* f) {
    FilterBase* b = AsFilterBase(f);
    if (!b) return;
    for (std::size_t i = 0; i < b->PinCount(); ++i) {
      PinBase* pin = b->PinAt(i);
      if (IPin* peer = pin->Peer()) peer->Disconnect();
      pin->Disconnect();
    }
  }

  HRESULT StopAfterFailure(HRESULT hr) {
    for (auto& f : m_filters) f->Stop();
    m_state = State_Stopped;
    return hr;
  }

  struct Event {
    LONG code;
    LONG_PTR param1, param2;
  };
  std::vector<ComPtr<IBaseFilter>> m_filters;
  OAFilterState m_state = State_Stopped;
  std::mutex m_eventMutex;
  std::condition_variable m_eventReady;
  std::deque<Event> m_events;
  OAHWND m_notifyWindow = 0;
  LONG m_notifyMessage = 0;
  LONG_PTR m_notifyInstance = 0;
  // Shared with the filters that feed it, which may outlive the graph by a moment.
  std::shared_ptr<LevelsTap> m_levels = std::make_shared<LevelsTap>();
};

}  // namespace

HRESULT CreateFilterGraph(REFIID riid, void** ppv) {
  ComPtr<IGraphBuilder> g = new FilterGraph;
  return g->QueryInterface(riid, ppv);
}

std::vector<ComPtr<IBaseFilter>> GraphFilters(IFilterGraph* graph) {
  auto* g = dynamic_cast<FilterGraph*>(graph);
  if (!g) return {};
  return g->Filters();
}

std::shared_ptr<LevelsTap> LevelsTapOf(IFilterGraph* graph) {
  auto* g = dynamic_cast<FilterGraph*>(graph);
  return g ? g->Levels() : nullptr;
}

}  // namespace orv::media
