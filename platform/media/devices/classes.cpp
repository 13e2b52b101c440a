// The classes the capture code creates: the filter graph, the capture graph builder and the system
// device enumerator. They live here, at the top of the media layer, because the enumerator needs
// the devices and every device needs the graph.
#include "platform/media/com/faults.h"
#include "platform/media/com/guids.h"

namespace orv::media {
// The factories (graph/filtergraph.cpp, graph/builder.cpp, devices/enumerator.cpp).
HRESULT CreateFilterGraph(REFIID riid, void** ppv);
HRESULT CreateCaptureGraphBuilder(REFIID riid, void** ppv);
HRESULT CreateSystemDeviceEnum(REFIID riid, void** ppv);

namespace {
thread_local int t_comInit = 0;
}  // namespace
}  // namespace orv::media

using namespace orv::media;

HRESULT CoInitialize(LPVOID) { return t_comInit++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
  if (t_comInit > 0) --t_comInit;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  const std::string name = GuidName(clsid);
  if (HRESULT hr = CheckFault("CoCreateInstance", {name}, "CoCreateInstance(" + name + ")"); hr != S_OK) return hr;
  if (t_comInit == 0) return CO_E_NOTINITIALIZED;
  if (outer) return CLASS_E_NOAGGREGATION;
  if (!(context & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
  if (clsid == CLSID_FilterGraph) return CreateFilterGraph(riid, ppv);
  if (clsid == CLSID_CaptureGraphBuilder) return CreateCaptureGraphBuilder(riid, ppv);
  if (clsid == CLSID_SystemDeviceEnum) return CreateSystemDeviceEnum(riid, ppv);
  return REGDB_E_CLASSNOTREG;
}
