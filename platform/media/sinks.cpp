// The graph's own filters: smart tee, AVI mux and file writer (the renderer is in renderer.cpp).
#include "platform/media/faults.h"
#include "platform/media/graph.h"

#include <cstdio>

namespace orv::media {
namespace {

class SmartTee : public FilterBase {
 public:
  SmartTee() : FilterBase(CLSID_SmartTee, "SmartTee", "SmartTee") {
    AddPin({"Input", PINDIR_INPUT, GUID_NULL, GUID_NULL, false, false, nullptr});
    AddPin({"Capture", PINDIR_OUTPUT, PIN_CATEGORY_CAPTURE, GUID_NULL, false, false, nullptr});
    AddPin({"Preview", PINDIR_OUTPUT, PIN_CATEGORY_PREVIEW, GUID_NULL, false, false, nullptr});
  }
  // The same sample to both branches; the renderer copies what it keeps.
  void Receive(PinBase*, const MediaSample& sample) override {
    PinAt(1)->Deliver(sample);
    PinAt(2)->Deliver(sample);
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

ComPtr<IBaseFilter> NewSmartTee() { return static_cast<IBaseFilter*>(new SmartTee); }
ComPtr<IBaseFilter> NewAviMux() { return static_cast<IBaseFilter*>(new AviMux); }
ComPtr<IBaseFilter> NewFileWriter() { return static_cast<IBaseFilter*>(new FileWriter); }

}  // namespace orv::media
