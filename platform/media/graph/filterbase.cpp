#include "platform/media/graph/filterbase.h"

#include "platform/media/com/faults.h"

#include <QString>
#include <ctime>

namespace orv::media {
namespace {
std::atomic<int> g_liveFilters{0};

// IEnumPins over a snapshot of the filter's pins; holds the filter alive.
class PinEnum : public ComObject, public IEnumPins {
 public:
  explicit PinEnum(FilterBase* filter) : m_filter(static_cast<IBaseFilter*>(filter)), m_owner(filter) {}
  ORV_UNKNOWN_IMPL

  HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) override {
    if (!pins) return E_POINTER;
    ULONG n = 0;
    while (n < count && m_pos < m_owner->PinCount()) {
      pins[n] = m_owner->PinAt(m_pos++);
      pins[n]->AddRef();
      ++n;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    m_pos += count;
    return m_pos <= m_owner->PinCount() ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    m_pos = 0;
    return S_OK;
  }

 protected:
  void* Lookup(REFIID riid) override {
    if (riid == IID_IUnknown || riid == IID_IEnumPins) return static_cast<IEnumPins*>(this);
    return nullptr;
  }

 private:
  ComPtr<IBaseFilter> m_filter;
  FilterBase* m_owner;
  std::size_t m_pos = 0;
};
}  // namespace

std::u16string Widen(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toStdU16String();
}

std::string Narrow(const WCHAR* text) {
  if (!text) return {};
  return QString::fromUtf16(text).toStdString();
}

void CopyName(WCHAR* dst, std::size_t capacity, const std::u16string& name) {
  if (!dst || capacity == 0) return;
  const std::size_t n = std::min(name.size(), capacity - 1);
  std::copy_n(name.data(), n, dst);
  dst[n] = 0;
}

// ---- StreamFormat -------------------------------------------------------------------------------

StreamFormat::StreamFormat(const AM_MEDIA_TYPE& initial) { CopyMediaType(&m_mt, &initial); }
StreamFormat::~StreamFormat() { FreeMediaType(m_mt); }

HRESULT StreamFormat::Copy(AM_MEDIA_TYPE* out) const {
  std::lock_guard lock(m_mutex);
  return CopyMediaType(out, &m_mt);
}

HRESULT StreamFormat::Replace(const AM_MEDIA_TYPE& mt) {
  AM_MEDIA_TYPE copy{};
  if (HRESULT hr = CopyMediaType(&copy, &mt); FAILED(hr)) return hr;
  std::lock_guard lock(m_mutex);
  FreeMediaType(m_mt);
  m_mt = copy;
  return S_OK;
}

GUID StreamFormat::MajorType() const {
  std::lock_guard lock(m_mutex);
  return m_mt.majortype;
}

// ---- PinBase ------------------------------------------------------------------------------------

PinBase::PinBase(FilterBase* filter, Options options) : m_filter(filter), m_opt(std::move(options)) {}

PinBase::~PinBase() { FreeMediaType(m_mt); }

HRESULT PinBase::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  void* p = nullptr;
  if (riid == IID_IUnknown || riid == IID_IPin)
    p = static_cast<IPin*>(this);
  else if (riid == IID_IKsPropertySet && m_opt.ksProperties)
    p = static_cast<IKsPropertySet*>(this);
  else if (riid == IID_IAMStreamControl && m_opt.streamControl)
    p = static_cast<IAMStreamControl*>(this);
  else if (riid == IID_IAMStreamConfig && m_opt.format)
    p = static_cast<IAMStreamConfig*>(this);
  *ppv = p;
  if (!p) return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

ULONG PinBase::AddRef() { return m_filter->AddRefImpl(); }
ULONG PinBase::Release() { return m_filter->ReleaseImpl(); }

HRESULT PinBase::Check(std::string_view op, const std::string& args, std::string_view iface) const {
  return m_filter->Check(op, args, {m_opt.name, iface});
}

HRESULT PinBase::OfferedType(AM_MEDIA_TYPE* mt) const {
  if (m_opt.format) return m_opt.format->Copy(mt);
  *mt = AM_MEDIA_TYPE{};
  mt->majortype = m_opt.major;
  mt->formattype = FORMAT_None;
  return S_OK;
}

bool PinBase::Accepts(const AM_MEDIA_TYPE& mt) const {
  if (m_opt.refuseAudio && mt.majortype == MEDIATYPE_Audio) return false;
  return m_opt.major == GUID_NULL || mt.majortype == m_opt.major;
}

HRESULT PinBase::Connect(IPin* receiver, const AM_MEDIA_TYPE* mt) {
  if (!receiver) return E_POINTER;
  if (m_opt.dir != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
  if (m_connected) return VFW_E_ALREADY_CONNECTED;
  AM_MEDIA_TYPE type{};
  HRESULT hr = mt ? CopyMediaType(&type, mt) : OfferedType(&type);
  if (FAILED(hr)) return hr;
  hr = receiver->ReceiveConnection(this, &type);
  if (SUCCEEDED(hr)) {
    {
      std::unique_lock lock(StreamMutex());
      m_connected = receiver;
    }
    FreeMediaType(m_mt);
    m_mt = type;
    return S_OK;
  }
  FreeMediaType(type);
  return hr;
}

HRESULT PinBase::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) {
  if (!connector || !mt) return E_POINTER;
  if (m_opt.dir != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
  if (m_connected) return VFW_E_ALREADY_CONNECTED;
  if (!Accepts(*mt)) return VFW_E_CANNOT_CONNECT;
  AM_MEDIA_TYPE copy{};
  if (HRESULT hr = CopyMediaType(&copy, mt); FAILED(hr)) return hr;
  {
    std::unique_lock lock(StreamMutex());
    m_connected = connector;
  }
  FreeMediaType(m_mt);
  m_mt = copy;
  m_filter->OnInputConnected(this);
  return S_OK;
}

HRESULT PinBase::Disconnect() {
  if (!m_connected) return S_FALSE;
  ComPtr<IPin> old;
  {
    std::unique_lock lock(StreamMutex());
    old = std::move(m_connected);
  }
  old.Reset();  // may end the peer's filter: outside the lock
  FreeMediaType(m_mt);
  m_mt = AM_MEDIA_TYPE{};
  return S_OK;
}

HRESULT PinBase::ConnectedTo(IPin** pin) {
  if (!pin) return E_POINTER;
  *pin = nullptr;
  if (HRESULT hr = Check("ConnectedTo", {}); hr != S_OK) return hr;
  if (!m_connected) return VFW_E_NOT_CONNECTED;
  *pin = m_connected.Get();
  (*pin)->AddRef();
  return S_OK;
}

Delivery PinBase::Send(const MediaSample& sample) {
  if (m_opt.dir != PINDIR_OUTPUT || !m_streamOn) return Delivery::None;
  PinBase* in = AsPinBase(m_connected.Get());
  if (!in) return Delivery::None;
  return in->Filter()->Take(in, sample);
}

HRESULT PinBase::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
  if (!mt) return E_POINTER;
  if (!m_connected) {
    *mt = AM_MEDIA_TYPE{};
    return VFW_E_NOT_CONNECTED;
  }
  return CopyMediaType(mt, &m_mt);
}

HRESULT PinBase::QueryPinInfo(PIN_INFO* info) {
  if (!info) return E_POINTER;
  if (HRESULT hr = Check("QueryPinInfo", {}); hr != S_OK) {
    info->pFilter = nullptr;
    return hr;
  }
  info->pFilter = static_cast<IBaseFilter*>(m_filter);
  info->pFilter->AddRef();
  info->dir = m_opt.dir;
  CopyName(info->achName, 128, Widen(m_opt.name));
  return S_OK;
}

HRESULT PinBase::QueryDirection(PIN_DIRECTION* dir) {
  if (!dir) return E_POINTER;
  *dir = m_opt.dir;
  return S_OK;
}

HRESULT PinBase::Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID propertyData, DWORD dataLength, DWORD* returned) {
  if (HRESULT hr = Check("Get", GuidName(set) + "," + std::to_string(id), "IKsPropertySet"); hr != S_OK) return hr;
  if (set != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
  if (id != AMPROPERTY_PIN_CATEGORY || m_opt.category == GUID_NULL) return E_PROP_ID_UNSUPPORTED;
  if (!propertyData) return E_POINTER;
  if (dataLength < sizeof(GUID)) return E_UNEXPECTED;
  std::memcpy(propertyData, &m_opt.category, sizeof(GUID));
  if (returned) *returned = sizeof(GUID);
  return S_OK;
}

namespace {
std::string TimeArg(const REFERENCE_TIME* t) {
  if (!t) return "null";
  if (*t == MAXLONGLONG) return "MAX";
  return std::to_string(*t);
}
}  // namespace

HRESULT PinBase::StartAt(const REFERENCE_TIME* start, DWORD cookie) {
  if (HRESULT hr = Check("StartAt", TimeArg(start), "IAMStreamControl"); hr != S_OK) return hr;
  // Times in the future behave as "when running" here: the virtual card has no clock yet.
  m_streamOn = !(start && *start == MAXLONGLONG);
  return S_OK;
}

HRESULT PinBase::StopAt(const REFERENCE_TIME* stop, BOOL, DWORD cookie) {
  if (HRESULT hr = Check("StopAt", TimeArg(stop), "IAMStreamControl"); hr != S_OK) return hr;
  if (!stop) m_streamOn = false;
  return S_OK;
}

HRESULT PinBase::GetFormat(AM_MEDIA_TYPE** mt) {
  if (!mt) return E_POINTER;
  *mt = nullptr;
  if (HRESULT hr = Check("GetFormat", {}, "IAMStreamConfig"); hr != S_OK) return hr;
  auto* out = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (!out) return E_OUTOFMEMORY;
  if (HRESULT hr = m_opt.format->Copy(out); FAILED(hr)) {
    CoTaskMemFree(out);
    return hr;
  }
  *mt = out;
  return S_OK;
}

HRESULT PinBase::SetFormat(AM_MEDIA_TYPE* mt) {
  if (!mt) return E_POINTER;
  std::string args;
  if (mt->formattype == FORMAT_VideoInfo && mt->pbFormat && mt->cbFormat >= sizeof(VIDEOINFOHEADER))
    args = "AvgTimePerFrame=" + std::to_string(reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat)->AvgTimePerFrame);
  if (HRESULT hr = Check("SetFormat", args, "IAMStreamConfig"); hr != S_OK) return hr;
  if (m_filter->State() != State_Stopped) return VFW_E_NOT_STOPPED;
  if (mt->majortype != m_opt.format->MajorType()) return VFW_E_INVALIDMEDIATYPE;
  if (mt->formattype == FORMAT_VideoInfo) {
    if (!mt->pbFormat || mt->cbFormat < sizeof(VIDEOINFOHEADER)) return VFW_E_INVALIDMEDIATYPE;
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat);
    if (vih->AvgTimePerFrame <= 0 || vih->bmiHeader.biWidth <= 0 || vih->bmiHeader.biHeight == 0)
      return VFW_E_INVALIDMEDIATYPE;
  } else if (mt->formattype == FORMAT_WaveFormatEx) {
    if (!mt->pbFormat || mt->cbFormat < sizeof(WAVEFORMATEX)) return VFW_E_INVALIDMEDIATYPE;
  }
  if (HRESULT hr = m_filter->OnSetFormat(this, *mt); hr != S_FALSE) return hr;
  return m_opt.format->Replace(*mt);
}

// ---- FilterBase ---------------------------------------------------------------------------------

FilterBase::FilterBase(const CLSID& clsid, std::string instance, std::string kind)
    : m_clsid(clsid), m_instance(std::move(instance)), m_kind(std::move(kind)) {
  ++g_liveFilters;
}

FilterBase::~FilterBase() {
  // A graph disconnects its filters before releasing them; this covers filters used without one.
  for (auto& pin : m_pins) pin->Disconnect();
  --g_liveFilters;
}

void* FilterBase::Lookup(REFIID riid) {
  if (riid == IID_IUnknown || riid == IID_IBaseFilter) return static_cast<IBaseFilter*>(this);
  return nullptr;
}

PinBase* FilterBase::AddPin(PinBase::Options options) {
  m_pins.push_back(std::make_unique<PinBase>(this, std::move(options)));
  return m_pins.back().get();
}

PinBase* FilterBase::FindPin(PIN_DIRECTION dir, const GUID& category) const {
  for (const auto& pin : m_pins)
    if (pin->Direction() == dir && pin->Category() == category) return pin.get();
  return nullptr;
}

HRESULT FilterBase::Check(std::string_view op, const std::string& args,
                          std::initializer_list<std::string_view> extra) const {
  std::string call = m_instance + "." + std::string(op) + "(" + args + ")";
  std::vector<std::string_view> qualifiers{m_instance, m_kind};
  qualifiers.insert(qualifiers.end(), extra.begin(), extra.end());
  return CheckFault(op, qualifiers, call);
}

HRESULT FilterBase::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = m_clsid;
  return S_OK;
}

HRESULT FilterBase::Stop() {
  if (m_state == State_Running) OnStop();
  m_state = State_Stopped;
  return S_OK;
}

HRESULT FilterBase::Pause() {
  // A live source sends nothing while paused.
  if (m_state == State_Running) OnStop();
  m_state = State_Paused;
  return S_OK;
}

HRESULT FilterBase::Run(REFERENCE_TIME start) {
  if (m_state == State_Running) return S_OK;
  m_streamStart = start;
  if (HRESULT hr = OnRun(); FAILED(hr)) return hr;
  m_state = State_Running;
  return S_OK;
}

HRESULT FilterBase::GetState(DWORD, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  *state = m_state;
  return S_OK;
}

HRESULT FilterBase::EnumPins(IEnumPins** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (HRESULT hr = Check("EnumPins"); hr != S_OK) return hr;
  ComPtr<IEnumPins> e = new PinEnum(this);
  *out = e.Detach();
  return S_OK;
}

HRESULT FilterBase::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  CopyName(info->achName, 128, m_graphName.empty() ? Widen(m_instance) : m_graphName);
  info->pGraph = m_graph;
  if (info->pGraph) info->pGraph->AddRef();
  return S_OK;
}

HRESULT FilterBase::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  m_graph = graph;
  m_graphName = name ? std::u16string(name) : std::u16string();
  return S_OK;
}

void FilterBase::AbortGraph(HRESULT hr) const {
  ComPtr<IMediaEventSink> events;
  if (IFilterGraph* graph = m_graph; graph && SUCCEEDED(events.QueryFrom(graph))) events->Notify(EC_ERRORABORT, hr, 0);
}

REFERENCE_TIME MonotonicNow() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<REFERENCE_TIME>(ts.tv_sec) * 10000000 + ts.tv_nsec / 100;
}

int LiveFilters() { return g_liveFilters; }

std::shared_mutex& StreamMutex() {
  static std::shared_mutex m;
  return m;
}

FilterBase* AsFilterBase(IBaseFilter* filter) { return dynamic_cast<FilterBase*>(filter); }
PinBase* AsPinBase(IPin* pin) { return dynamic_cast<PinBase*>(pin); }

AM_FIELD_ORDER UpstreamFieldOrder(PinBase* input) {
  for (int hop = 0; hop < 8 && input; ++hop) {
    PinBase* out = AsPinBase(input->Peer());
    if (!out) break;
    FilterBase* filter = out->Filter();
    ComPtr<IAMAnalogVideoDecoder> decoder;
    AM_FIELD_ORDER order = AM_FIELDS_UNKNOWN;
    if (SUCCEEDED(decoder.QueryFrom(static_cast<IBaseFilter*>(filter))))
      return decoder->get_FieldOrder(&order) == S_OK ? order : AM_FIELDS_UNKNOWN;
    input = nullptr;
    for (std::size_t i = 0; i < filter->PinCount() && !input; ++i)
      if (filter->PinAt(i)->Direction() == PINDIR_INPUT && filter->PinAt(i)->IsConnected()) input = filter->PinAt(i);
  }
  return AM_FIELDS_UNKNOWN;
}

}  // namespace orv::media
