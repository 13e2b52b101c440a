// Implementation helper for the media layer's COM objects (not for subsystem code).
#pragma once

#include "platform/media/com/com.h"

#include <atomic>

namespace orv::media {

// Reference-counted object that answers QueryInterface from Lookup. Starts with no reference:
// the first ComPtr that takes it holds the first one.
class ComObject {
 public:
  ComObject();
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;
  virtual ~ComObject();

  ULONG AddRefImpl();
  ULONG ReleaseImpl();
  HRESULT QueryImpl(REFIID riid, void** ppv);

 protected:
  // The interface pointer for riid (already cast), or null when not offered.
  virtual void* Lookup(REFIID riid) = 0;

 private:
  std::atomic<ULONG> m_ref{0};
};

// Objects of the media layer alive now (filters, pins' enumerators, graphs, builders, monikers ...).
int LiveMediaObjects();

}  // namespace orv::media

#define ORV_UNKNOWN_IMPL                                                                         \
  HRESULT QueryInterface(REFIID riid, void** ppv) override { return QueryImpl(riid, ppv); } \
  ULONG AddRef() override { return AddRefImpl(); }                                           \
  ULONG Release() override { return ReleaseImpl(); }
