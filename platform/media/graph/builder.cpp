// The capture graph builder (first version of the interface).
#include "platform/media/com/faults.h"
#include "platform/media/graph/graph.h"

#include <set>

namespace orv::media {
namespace {

std::string TimeArg(const REFERENCE_TIME* t) {
  if (!t) return "null";
  if (*t == MAXLONGLONG) return "MAX";
  return std::to_string(*t);
}

std::string CategoryName(const GUID* category) { return category ? GuidName(*category) : "null"; }

class CaptureGraphBuilder : public ComObject, public ICaptureGraphBuilder {
 public:
  ORV_UNKNOWN_IMPL

  HRESULT SetFiltergraph(IGraphBuilder* graph) override {
    if (HRESULT hr = CheckFault("SetFiltergraph", {"Builder"}, "Builder.SetFiltergraph()"); hr != S_OK) return hr;
    if (!graph) return E_POINTER;
    if (m_graph) return E_UNEXPECTED;
    m_graph = graph;
    return S_OK;
  }

  HRESULT GetFiltergraph(IGraphBuilder** graph) override {
    if (!graph) return E_POINTER;
    *graph = m_graph.Get();
    if (!*graph) return E_UNEXPECTED;
    (*graph)->AddRef();
    return S_OK;
  }

  HRESULT FindInterface(const GUID* category, IBaseFilter* filter, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!filter) return E_POINTER;
    FilterBase* fb = AsFilterBase(filter);
    const std::string iid = GuidName(riid), cat = CategoryName(category), kind = fb ? fb->Kind() : "Filter";
    if (HRESULT hr = CheckFault("FindInterface", {"Builder", iid, cat, kind},
                                "Builder.FindInterface(" + cat + "," + kind + "," + iid + ")");
        hr != S_OK)
      return hr;
    // As a capture driver's description does: the card's upstream filters join on first use.
    if (category && *category == PIN_CATEGORY_CAPTURE && fb && m_graph &&
        fb->Graph() == static_cast<IFilterGraph*>(m_graph.Get()))
      fb->ConnectUpstream(m_graph);

    if (SUCCEEDED(filter->QueryInterface(riid, ppv))) return S_OK;
    if (!fb) return E_NOINTERFACE;
    std::set<FilterBase*> seen{fb};
    for (std::size_t i = 0; i < fb->PinCount(); ++i) {
      PinBase* pin = fb->PinAt(i);
      if (pin->Direction() != PINDIR_OUTPUT || (category && pin->Category() != *category)) continue;
      if (SUCCEEDED(pin->QueryInterface(riid, ppv)) || Downstream(pin, riid, ppv, seen)) return S_OK;
    }
    if (Upstream(fb, riid, ppv, seen)) return S_OK;
    return E_NOINTERFACE;
  }

  HRESULT RenderStream(const GUID* category, IUnknown* source, IBaseFilter* compressor,
                       IBaseFilter* renderer) override {
    ComPtr<IBaseFilter> src;
    if (source) src.QueryFrom(source);
    FilterBase* fb = AsFilterBase(src);
    const std::string cat = CategoryName(category), kind = fb ? fb->Kind() : "Filter";
    const std::string sink = renderer && AsFilterBase(renderer) ? AsFilterBase(renderer)->Kind() : "null";
    if (HRESULT hr = CheckFault("RenderStream", {"Builder", cat, kind},
                                "Builder.RenderStream(" + cat + "," + kind + "," + sink + ")");
        hr != S_OK)
      return hr;
    if (!source) return E_POINTER;
    if (!m_graph) return E_UNEXPECTED;
    if (!fb) return E_INVALIDARG;
    if (compressor) return E_NOTIMPL;  // nothing in this program renders through a compressor
    if (fb->Graph() != static_cast<IFilterGraph*>(m_graph.Get())) return VFW_E_NOT_IN_GRAPH;

    PinBase* out = nullptr;
    PinBase* sourcePin = nullptr;  // the source's own pin, whose type a tee's outputs carry
    bool noPreviewPin = false;
    if (category) {
      out = fb->FindPin(PINDIR_OUTPUT, *category);
      PinBase* capture = fb->FindPin(PINDIR_OUTPUT, PIN_CATEGORY_CAPTURE);
      sourcePin = out ? out : capture;
      if (!out && *category == PIN_CATEGORY_PREVIEW && capture) {
        // Preview from the capture pin through a tee, as the platform does.
        HRESULT hr = TeeFor(capture, &out);
        if (FAILED(hr)) return hr;
        out = TeeOutput(out, PIN_CATEGORY_PREVIEW);
        noPreviewPin = true;
      } else if (out && *category == PIN_CATEGORY_CAPTURE && TeeBehind(out)) {
        out = TeeOutput(TeeBehind(out), PIN_CATEGORY_CAPTURE);
      }
    } else {
      for (std::size_t i = 0; i < fb->PinCount() && !out; ++i)
        if (fb->PinAt(i)->Direction() == PINDIR_OUTPUT && !fb->PinAt(i)->IsConnected()) out = fb->PinAt(i);
    }
    if (!out) return VFW_E_NOT_FOUND;
    if (out->IsConnected()) return VFW_E_ALREADY_CONNECTED;

    AM_MEDIA_TYPE offered{};
    (sourcePin ? sourcePin : out)->OfferedType(&offered);
    const GUID major = offered.majortype;
    FreeMediaType(offered);

    ComPtr<IBaseFilter> created;
    FilterBase* sinkFilter = AsFilterBase(renderer);
    if (renderer && !sinkFilter) return E_INVALIDARG;
    if (!renderer) {
      const bool sound = major == MEDIATYPE_Audio;
      created = sound ? NewSoundRenderer() : NewVideoRenderer();
      if (HRESULT hr = m_graph->AddFilter(created, sound ? u"Sound Renderer" : u"Video Renderer"); FAILED(hr)) return hr;
      sinkFilter = AsFilterBase(created);
    }
    PinBase* in = nullptr;
    for (std::size_t i = 0; i < sinkFilter->PinCount() && !in; ++i)
      if (sinkFilter->PinAt(i)->Direction() == PINDIR_INPUT && !sinkFilter->PinAt(i)->IsConnected())
        in = sinkFilter->PinAt(i);
    HRESULT hr = in ? m_graph->ConnectDirect(out, in, nullptr) : VFW_E_CANNOT_CONNECT;
    if (FAILED(hr)) {
      if (created) m_graph->RemoveFilter(created);
      return hr;
    }
    return noPreviewPin ? VFW_S_NOPREVIEWPIN : S_OK;
  }

  HRESULT SetOutputFileName(const GUID* type, LPCOLESTR fileName, IBaseFilter** mux,
                            IFileSinkFilter** sink) override {
    if (mux) *mux = nullptr;
    if (sink) *sink = nullptr;
    const std::string name = Narrow(fileName), t = CategoryName(type);
    if (HRESULT hr = CheckFault("SetOutputFileName", {"Builder", t}, "Builder.SetOutputFileName(" + t + "," + name + ")");
        hr != S_OK)
      return hr;
    if (!type || !fileName || !mux) return E_POINTER;
    const bool matroska = *type == MEDIASUBTYPE_Matroska;
    if (*type != MEDIASUBTYPE_Avi && !matroska) return E_INVALIDARG;
    if (!m_graph) return E_UNEXPECTED;

    ComPtr<IBaseFilter> m = NewAviMux(matroska), w = NewFileWriter();
    HRESULT hr = m_graph->AddFilter(m, matroska ? u"Matroska Mux" : u"AVI Mux");
    if (FAILED(hr)) return hr;
    ComPtr<IFileSinkFilter> fs;
    fs.QueryFrom(w);
    if (SUCCEEDED(hr = m_graph->AddFilter(w, fileName)) && SUCCEEDED(hr = fs->SetFileName(fileName, nullptr)))
      hr = m_graph->ConnectDirect(AsFilterBase(m)->FindPin(PINDIR_OUTPUT, GUID_NULL),
                                  AsFilterBase(w)->FindPin(PINDIR_INPUT, GUID_NULL), nullptr);
    if (FAILED(hr)) {
      m_graph->RemoveFilter(w);
      m_graph->RemoveFilter(m);
      return hr;
    }
    *mux = m.Detach();
    if (sink) *sink = fs.Detach();
    return S_OK;
  }

  HRESULT ControlStream(const GUID* category, IBaseFilter* filter, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                        WORD startCookie, WORD stopCookie) override {
    const std::string cat = CategoryName(category);
    if (HRESULT hr = CheckFault("ControlStream", {"Builder", cat},
                                "Builder.ControlStream(" + cat + "," + (filter ? "filter" : "all") + "," +
                                    TimeArg(start) + "," + TimeArg(stop) + ")");
        hr != S_OK)
      return hr;
    if (!category) return E_POINTER;
    std::vector<ComPtr<IBaseFilter>> filters;
    if (filter)
      filters.emplace_back(filter);
    else if (m_graph)
      filters = GraphFilters(m_graph);
    int controlled = 0;
    for (auto& f : filters) {
      FilterBase* fb = AsFilterBase(f);
      if (!fb) continue;
      for (std::size_t i = 0; i < fb->PinCount(); ++i) {
        PinBase* pin = fb->PinAt(i);
        if (pin->Direction() != PINDIR_OUTPUT || pin->Category() != *category || !pin->SupportsStreamControl())
          continue;
        // A pin that feeds a tee carries the preview as well: the tee's outputs take the control.
        if (TeeBehind(pin)) continue;
        HRESULT hr = pin->StartAt(start, startCookie);
        if (SUCCEEDED(hr)) hr = pin->StopAt(stop, FALSE, stopCookie);
        if (FAILED(hr)) return hr;
        ++controlled;
      }
    }
    return controlled ? S_OK : E_FAIL;
  }

 protected:
  void* Lookup(REFIID riid) override {
    if (riid == IID_IUnknown || riid == IID_ICaptureGraphBuilder) return static_cast<ICaptureGraphBuilder*>(this);
    return nullptr;
  }

 private:
  static bool Query(IUnknown* on, REFIID riid, void** ppv) { return SUCCEEDED(on->QueryInterface(riid, ppv)); }

  // From an output pin through everything it feeds.
  static bool Downstream(PinBase* out, REFIID riid, void** ppv, std::set<FilterBase*>& seen) {
    PinBase* in = AsPinBase(out->Peer());
    if (!in) return false;
    FilterBase* f = in->Filter();
    if (!seen.insert(f).second) return false;
    if (Query(static_cast<IPin*>(in), riid, ppv) || Query(static_cast<IBaseFilter*>(f), riid, ppv)) return true;
    for (std::size_t i = 0; i < f->PinCount(); ++i) {
      PinBase* p = f->PinAt(i);
      if (p->Direction() != PINDIR_OUTPUT) continue;
      if (Query(static_cast<IPin*>(p), riid, ppv) || Downstream(p, riid, ppv, seen)) return true;
    }
    return false;
  }

  // From a filter's inputs through everything that feeds them, nearest first.
  static bool Upstream(FilterBase* f, REFIID riid, void** ppv, std::set<FilterBase*>& seen) {
    std::vector<FilterBase*> next;
    for (std::size_t i = 0; i < f->PinCount(); ++i) {
      PinBase* in = f->PinAt(i);
      if (in->Direction() != PINDIR_INPUT) continue;
      PinBase* out = AsPinBase(in->Peer());
      if (!out) continue;
      if (Query(static_cast<IPin*>(out), riid, ppv)) return true;
      FilterBase* up = out->Filter();
      if (!seen.insert(up).second) continue;
      if (Query(static_cast<IBaseFilter*>(up), riid, ppv)) return true;
      next.push_back(up);
    }
    for (FilterBase* up : next)
      if (Upstream(up, riid, ppv, seen)) return true;
    return false;
  }

  static FilterBase* TeeBehind(PinBase* out) {
    PinBase* in = AsPinBase(out->Peer());
    return in && in->Filter()->Kind() == "SmartTee" ? in->Filter() : nullptr;
  }

  static PinBase* TeeOutput(FilterBase* tee, const GUID& category) { return tee->FindPin(PINDIR_OUTPUT, category); }
  static PinBase* TeeOutput(PinBase* teeInput, const GUID& category) {
    return TeeOutput(teeInput->Filter(), category);
  }

  // The tee behind the capture pin, inserted between the pin and what it fed when missing.
  // *teeInput receives the tee's input pin.
  HRESULT TeeFor(PinBase* capture, PinBase** teeInput) {
    if (FilterBase* tee = TeeBehind(capture)) {
      *teeInput = tee->FindPin(PINDIR_INPUT, GUID_NULL);
      return S_OK;
    }
    ComPtr<IPin> fed = capture->Peer();
    if (fed) {
      m_graph->Disconnect(fed);
      m_graph->Disconnect(static_cast<IPin*>(capture));
    }
    ComPtr<IBaseFilter> teeFilter = NewSmartTee();
    FilterBase* tee = AsFilterBase(teeFilter);
    HRESULT hr = m_graph->AddFilter(teeFilter, u"Smart Tee");
    if (SUCCEEDED(hr)) hr = m_graph->ConnectDirect(capture, tee->FindPin(PINDIR_INPUT, GUID_NULL), nullptr);
    if (SUCCEEDED(hr) && fed) hr = m_graph->ConnectDirect(TeeOutput(tee, PIN_CATEGORY_CAPTURE), fed, nullptr);
    if (FAILED(hr)) {
      m_graph->RemoveFilter(teeFilter);
      if (fed) m_graph->ConnectDirect(capture, fed, nullptr);
      return hr;
    }
    *teeInput = tee->FindPin(PINDIR_INPUT, GUID_NULL);
    return S_OK;
  }

  ComPtr<IGraphBuilder> m_graph;
};

}  // namespace

HRESULT CreateCaptureGraphBuilder(REFIID riid, void** ppv) {
  ComPtr<ICaptureGraphBuilder> b = new CaptureGraphBuilder;
  return b->QueryInterface(riid, ppv);
}

}  // namespace orv::media
