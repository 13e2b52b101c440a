// The system device enumerator: real devices first, then the virtual cards.
#include "platform/media/com/faults.h"
#include "platform/log.h"
#include "platform/media/devices/realcards.h"
#include "platform/media/devices/testing.h"
#include "platform/media/devices/virtualdevice.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

namespace orv::media {
namespace {

// What a capture's log names as the virtual card's driver.
constexpr const char* kVirtualDriver = "orvane-virtual";

struct DeviceEntry {
  std::string friendlyName;
  std::string devicePath;
  std::function<HRESULT(IBaseFilter**)> create;
  std::string driver, bus;
};

// Real capture devices (V4L2 with their ALSA sound), listed before the virtual cards.
std::vector<DeviceEntry> RealDevices(const GUID& category) {
  std::vector<DeviceEntry> out;
  for (RealDeviceEntry& e : ListRealDevices(category))
    out.push_back({std::move(e.friendlyName), std::move(e.devicePath), std::move(e.create), std::move(e.driver), std::move(e.bus)});
  return out;
}

struct Registry {
  std::mutex mutex;
  bool loaded = false;
  std::string devicesEnv;
  std::string cardEnv;
  std::string error;
  bool useReal = true;
  bool useVirtual = true;
  std::vector<std::shared_ptr<VirtualDevice>> cards;
};

Registry& Reg() {
  static Registry r;
  return r;
}

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string ReadDescription(const std::string& value, std::string* error) {
  if (!value.empty() && (value.front() == '{' || value.front() == '[')) return value;
  std::ifstream in(value, std::ios::binary);
  if (!in) {
    *error = "cannot read " + value;
    return {};
  }
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Caller holds the registry lock.
void LoadLocked(Registry& r) {
  r.loaded = true;
  r.devicesEnv = Env("ORVANE_DEVICES");
  r.cardEnv = Env("ORVANE_VIRTUAL_CARD");
  r.error.clear();
  r.useReal = r.devicesEnv != "virtual";
  r.useVirtual = r.devicesEnv != "real";
  if (!r.devicesEnv.empty() && r.devicesEnv != "virtual" && r.devicesEnv != "real" && r.devicesEnv != "all")
    LogError("devices", "ORVANE_DEVICES=%s is not virtual, real or all; listing all devices", r.devicesEnv.c_str());

  CardSet set = DefaultCardSet();
  if (!r.cardEnv.empty()) {
    std::string error;
    const std::string text = ReadDescription(r.cardEnv, &error);
    std::optional<CardSet> parsed;
    if (error.empty()) parsed = ParseCardSet(text, &error);
    if (parsed) {
      set = std::move(*parsed);
    } else {
      r.error = error;
      LogError("devices", "virtual card description refused (%s); using the default card", error.c_str());
    }
  }
  r.cards.clear();
  for (std::size_t i = 0; i < set.devices.size(); ++i)
    r.cards.push_back(std::make_shared<VirtualDevice>(set.devices[i], static_cast<int>(i)));
  ClearFaults();
  for (const FaultDesc& f : set.faults) InjectFault(f.op, f.hr, f.skip, f.times);
}

Registry& Loaded() {
  Registry& r = Reg();
  std::lock_guard lock(r.mutex);
  if (!r.loaded || r.devicesEnv != Env("ORVANE_DEVICES") || r.cardEnv != Env("ORVANE_VIRTUAL_CARD")) LoadLocked(r);
  return r;
}

std::vector<DeviceEntry> ListDevices(const GUID& category) {
  Registry& r = Loaded();
  std::lock_guard lock(r.mutex);
  std::vector<DeviceEntry> out;
  if (r.useReal) out = RealDevices(category);
  if (!r.useVirtual) return out;
  const bool video = category == CLSID_VideoInputDeviceCategory;
  const bool audio = category == CLSID_AudioInputDeviceCategory;
  const bool vbi = category == CLSID_VbiInputDeviceCategory;
  for (std::size_t i = 0; i < r.cards.size(); ++i) {
    std::shared_ptr<VirtualDevice> card = r.cards[i];
    const std::string path = "virtual:" + std::to_string(i);
    if (video)
      out.push_back({card->Desc().name, path, [card](IBaseFilter** f) { return card->CreateVideoFilter(f); }, kVirtualDriver, path});
    if (audio && card->Desc().audio)
      out.push_back({card->Desc().audioName, path + ":audio", [card](IBaseFilter** f) { return card->CreateAudioFilter(f); }});
    if (vbi && card->Desc().vbi)
      out.push_back({card->Desc().vbiName, path + ":vbi", [card](IBaseFilter** f) { return card->CreateVbiFilter(f); }});
  }
  return out;
}

// ---- Property bag, moniker, enumerator ----------------------------------------------------------

class DevicePropertyBag : public ComObject, public IPropertyBag {
 public:
  explicit DevicePropertyBag(DeviceEntry entry) : m_entry(std::move(entry)) {}
  ORV_UNKNOWN_IMPL

  HRESULT Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
    if (!name || !value) return E_POINTER;
    const std::string key = Narrow(name);
    const std::string* text = key == "FriendlyName" ? &m_entry.friendlyName
                              : key == "DevicePath" ? &m_entry.devicePath
                              : key == "Driver"     ? &m_entry.driver
                              : key == "BusInfo"    ? &m_entry.bus
                                                    : nullptr;
    if (!text) return E_INVALIDARG;
    value->vt = VT_BSTR;
    value->bstrVal = SysAllocString(Widen(*text).c_str());
    return value->bstrVal ? S_OK : E_OUTOFMEMORY;
  }

 protected:
  void* Lookup(REFIID riid) override {
    if (riid == IID_IUnknown || riid == IID_IPropertyBag) return static_cast<IPropertyBag*>(this);
    return nullptr;
  }

 private:
  DeviceEntry m_entry;
};

class DeviceMoniker : public ComObject, public IMoniker {
 public:
  DeviceMoniker(DeviceEntry entry, std::string category) : m_entry(std::move(entry)), m_category(std::move(category)) {}
  ORV_UNKNOWN_IMPL

  HRESULT BindToObject(IBindCtx*, IMoniker*, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (HRESULT hr = CheckFault("BindToObject", {m_category, m_entry.friendlyName},
                                "Moniker.BindToObject(" + m_entry.friendlyName + ")");
        hr != S_OK)
      return hr;
    ComPtr<IBaseFilter> filter;
    if (HRESULT hr = m_entry.create(&filter); FAILED(hr)) return hr;
    return filter->QueryInterface(riid, ppv);
  }

  HRESULT BindToStorage(IBindCtx*, IMoniker*, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (HRESULT hr = CheckFault("BindToStorage", {m_category, m_entry.friendlyName},
                                "Moniker.BindToStorage(" + m_entry.friendlyName + ")");
        hr != S_OK)
      return hr;
    ComPtr<IPropertyBag> bag = new DevicePropertyBag(m_entry);
    return bag->QueryInterface(riid, ppv);
  }

 protected:
  void* Lookup(REFIID riid) override {
    if (riid == IID_IUnknown || riid == IID_IMoniker) return static_cast<IMoniker*>(this);
    return nullptr;
  }

 private:
  DeviceEntry m_entry;
  std::string m_category;
};

class MonikerEnum : public ComObject, public IEnumMoniker {
 public:
  explicit MonikerEnum(std::vector<ComPtr<IMoniker>> items) : m_items(std::move(items)) {}
  ORV_UNKNOWN_IMPL

  HRESULT Next(ULONG count, IMoniker** out, ULONG* fetched) override {
    if (!out) return E_POINTER;
    ULONG n = 0;
    while (n < count && m_pos < m_items.size()) {
      out[n] = m_items[m_pos++].Get();
      out[n]->AddRef();
      ++n;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    m_pos += count;
    return m_pos <= m_items.size() ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    m_pos = 0;
    return S_OK;
  }

 protected:
  void* Lookup(REFIID riid) override {
    if (riid == IID_IUnknown || riid == IID_IEnumMoniker) return static_cast<IEnumMoniker*>(this);
    return nullptr;
  }

 private:
  std::vector<ComPtr<IMoniker>> m_items;
  std::size_t m_pos = 0;
};

class SystemDeviceEnum : public ComObject, public ICreateDevEnum {
 public:
  ORV_UNKNOWN_IMPL

  HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** out, DWORD) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    const std::string cat = GuidName(category);
    if (HRESULT hr = CheckFault("CreateClassEnumerator", {cat}, "DevEnum.CreateClassEnumerator(" + cat + ")");
        hr != S_OK)
      return hr;
    std::vector<ComPtr<IMoniker>> items;
    for (DeviceEntry& e : ListDevices(category)) items.push_back(new DeviceMoniker(std::move(e), cat));
    if (items.empty()) return S_FALSE;
    ComPtr<IEnumMoniker> e = new MonikerEnum(std::move(items));
    *out = e.Detach();
    return S_OK;
  }

 protected:
  void* Lookup(REFIID riid) override {
    if (riid == IID_IUnknown || riid == IID_ICreateDevEnum) return static_cast<ICreateDevEnum*>(this);
    return nullptr;
  }
};

}  // namespace

HRESULT CreateSystemDeviceEnum(REFIID riid, void** ppv) {
  ComPtr<ICreateDevEnum> e = new SystemDeviceEnum;
  return e->QueryInterface(riid, ppv);
}

void ReloadDevices() {
  Registry& r = Reg();
  std::lock_guard lock(r.mutex);
  LoadLocked(r);
}

std::string DeviceLoadError() {
  Registry& r = Loaded();
  std::lock_guard lock(r.mutex);
  return r.error;
}

int VirtualDeviceCount() {
  Registry& r = Loaded();
  std::lock_guard lock(r.mutex);
  return static_cast<int>(r.cards.size());
}

bool GetVirtualCardState(int device, VirtualCardState* out) {
  Registry& r = Loaded();
  std::shared_ptr<VirtualDevice> card;
  {
    std::lock_guard lock(r.mutex);
    if (device < 0 || device >= static_cast<int>(r.cards.size())) return false;
    card = r.cards[device];
  }
  std::lock_guard lock(card->mutex);
  out->routes = card->routes;
  out->tunerChannel = card->tunerChannel;
  out->tunerInputType = card->tunerInputType;
  for (int i = 0; i < 4; ++i) out->procAmp[i] = card->procAmp[i];
  out->tunerKHz = card->TunedKHz();
  out->standard = card->standard;
  return true;
}

}  // namespace orv::media
