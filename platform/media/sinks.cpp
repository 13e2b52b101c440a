// The graph's own filters: video renderer, smart tee, AVI mux and file writer.
#include "platform/media/faults.h"
#include "platform/media/graph.h"

#include <cstdio>

namespace orv::media {
namespace {

class VideoRenderer : public FilterBase, public IVideoWindow {
 public:
  VideoRenderer() : FilterBase(CLSID_VideoRenderer, "VideoRenderer", "VideoRenderer") {
    // Any picture type; sound has nothing to show.
    AddPin({"Input", PINDIR_INPUT, GUID_NULL, GUID_NULL, false, false, nullptr, true});
  }
  ORV_UNKNOWN_IMPL

  HRESULT put_Owner(OAHWND owner) override {
    if (HRESULT hr = Check("put_Owner", owner ? "window" : "0"); hr != S_OK) return hr;
    m_owner = owner;
    return S_OK;
  }
  HRESULT put_MessageDrain(OAHWND drain) override {
    if (HRESULT hr = Check("put_MessageDrain", drain ? "window" : "0"); hr != S_OK) return hr;
    m_drain = drain;
    return S_OK;
  }
  HRESULT put_WindowStyle(LONG style) override {
    if (HRESULT hr = Check("put_WindowStyle", std::to_string(style)); hr != S_OK) return hr;
    m_style = style;
    return S_OK;
  }
  HRESULT SetWindowPosition(LONG left, LONG top, LONG width, LONG height) override {
    if (HRESULT hr = Check("SetWindowPosition", std::to_string(left) + "," + std::to_string(top) + "," +
                                                    std::to_string(width) + "," + std::to_string(height));
        hr != S_OK)
      return hr;
    m_position = {left, top, left + width, top + height};
    return S_OK;
  }
  HRESULT put_Visible(LONG visible) override {
    if (HRESULT hr = Check("put_Visible", std::to_string(visible)); hr != S_OK) return hr;
    m_visible = visible;
    return S_OK;
  }

 protected:
  void* Lookup(REFIID riid) override {
    if (riid == IID_IVideoWindow) return static_cast<IVideoWindow*>(this);
    return FilterBase::Lookup(riid);
  }

 private:
  OAHWND m_owner = 0;
  OAHWND m_drain = 0;
  LONG m_style = 0;
  RECT m_position{};
  LONG m_visible = OAFALSE;
};

class SmartTee : public FilterBase {
 public:
  SmartTee() : FilterBase(CLSID_SmartTee, "SmartTee", "SmartTee") {
    AddPin({"Input", PINDIR_INPUT, GUID_NULL, GUID_NULL, false, false, nullptr});
    AddPin({"Capture", PINDIR_OUTPUT, PIN_CATEGORY_CAPTURE, GUID_NULL, false, false, nullptr});
    AddPin({"Preview", PINDIR_OUTPUT, PIN_CATEGORY_PREVIEW, GUID_NULL, false, false, nullptr});
  }
};

class AviMux : public FilterBase, public IConfigAviMux {
 public:
  AviMux() : FilterBase(CLSID_AviDest, "AviMux", "AviMux") {
    AddPin({"AVI Out", PINDIR_OUTPUT, GUID_NULL, MEDIATYPE_Stream, false, false, nullptr});
    AddInput();
  }
  ORV_UNKNOWN_IMPL

  // One free input at all times: each stream connected gets its own.
  void OnInputConnected(PinBase*) override { AddInput(); }

  HRESULT SetMasterStream(LONG stream) override {
    if (HRESULT hr = Check("SetMasterStream", std::to_string(stream)); hr != S_OK) return hr;
    m_master = stream;
    return S_OK;
  }
  HRESULT SetOutputCompatibilityIndex(BOOL oldIndex) override {
    if (HRESULT hr = Check("SetOutputCompatibilityIndex", std::to_string(oldIndex)); hr != S_OK) return hr;
    m_oldIndex = oldIndex;
    return S_OK;
  }

 protected:
  void* Lookup(REFIID riid) override {
    if (riid == IID_IConfigAviMux) return static_cast<IConfigAviMux*>(this);
    return FilterBase::Lookup(riid);
  }

 private:
  void AddInput() {
    char name[16];
    std::snprintf(name, sizeof name, "Input %02d", ++m_inputs);
    AddPin({name, PINDIR_INPUT, GUID_NULL, GUID_NULL, false, false, nullptr});
  }

  int m_inputs = 0;
  LONG m_master = -1;
  BOOL m_oldIndex = FALSE;
};

class FileWriter : public FilterBase, public IFileSinkFilter {
 public:
  FileWriter() : FilterBase(CLSID_FileWriter, "FileWriter", "FileWriter") {
    AddPin({"in", PINDIR_INPUT, GUID_NULL, MEDIATYPE_Stream, false, false, nullptr});
  }
  ORV_UNKNOWN_IMPL

  HRESULT SetFileName(LPCOLESTR fileName, const AM_MEDIA_TYPE*) override {
    if (!fileName) return E_POINTER;
    const std::string name = Narrow(fileName);
    if (HRESULT hr = Check("SetFileName", name); hr != S_OK) return hr;
    if (name.empty()) return E_INVALIDARG;
    m_fileName = name;
    return S_OK;
  }

 protected:
  void* Lookup(REFIID riid) override {
    if (riid == IID_IFileSinkFilter) return static_cast<IFileSinkFilter*>(this);
    return FilterBase::Lookup(riid);
  }

 private:
  std::string m_fileName;
};

}  // namespace

ComPtr<IBaseFilter> NewVideoRenderer() { return static_cast<IBaseFilter*>(new VideoRenderer); }
ComPtr<IBaseFilter> NewSmartTee() { return static_cast<IBaseFilter*>(new SmartTee); }
ComPtr<IBaseFilter> NewAviMux() { return static_cast<IBaseFilter*>(new AviMux); }
ComPtr<IBaseFilter> NewFileWriter() { return static_cast<IBaseFilter*>(new FileWriter); }

}  // namespace orv::media
