// COM-style core: GUIDs, IUnknown, a smart pointer and the Co* functions the capture code calls.
#pragma once

#include "platform/wintypes.h"

#include <cstring>
#include <type_traits>
#include <utility>

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using OLECHAR = WCHAR;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;

inline bool IsEqualGUID(REFGUID a, REFGUID b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool operator==(const GUID& a, const GUID& b) { return IsEqualGUID(a, b); }
inline bool operator!=(const GUID& a, const GUID& b) { return !IsEqualGUID(a, b); }

extern const GUID GUID_NULL;
extern const IID IID_IUnknown;

struct IUnknown {
  virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
  static const IID& iid() { return IID_IUnknown; }

 protected:
  ~IUnknown() = default;
};

// The IID of an interface type, as __uuidof gives it on the original platform.
template <class T>
const IID& uuidof() {
  return T::iid();
}
#define IID_PPV_ARGS(pp) uuidof<std::remove_pointer_t<std::remove_pointer_t<decltype(pp)>>>(), reinterpret_cast<void**>(pp)

// Status codes of the COM runtime.
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0u);

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;

// Per-thread initialisation: S_OK the first time on a thread, S_FALSE when already initialised.
// These two and CoCreateInstance are defined with the creatable classes, in devices/classes.cpp.
HRESULT CoInitialize(LPVOID reserved);
void CoUninitialize();
// Creates the capture graph builder, the filter graph or the system device enumerator.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, LPVOID* ppv);
LPVOID CoTaskMemAlloc(std::size_t size);
void CoTaskMemFree(LPVOID p);

// Counted reference to an interface; releases what it holds.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  ComPtr(T* p) : m_p(p) {
    if (m_p) m_p->AddRef();
  }
  ComPtr(const ComPtr& o) : ComPtr(o.m_p) {}
  ComPtr(ComPtr&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
  ~ComPtr() { Reset(); }
  ComPtr& operator=(const ComPtr& o) {
    ComPtr(o).Swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& o) noexcept {
    ComPtr(std::move(o)).Swap(*this);
    return *this;
  }
  ComPtr& operator=(T* p) {
    ComPtr(p).Swap(*this);
    return *this;
  }

  T* Get() const { return m_p; }
  T* operator->() const { return m_p; }
  operator T*() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }
  // For out parameters: releases what is held first.
  T** operator&() {
    Reset();
    return &m_p;
  }
  void Reset() {
    if (T* p = std::exchange(m_p, nullptr)) p->Release();
  }
  void Attach(T* p) {
    Reset();
    m_p = p;
  }
  T* Detach() { return std::exchange(m_p, nullptr); }
  void Swap(ComPtr& o) noexcept { std::swap(m_p, o.m_p); }
  // QueryInterface from any interface into this pointer.
  HRESULT QueryFrom(IUnknown* from) {
    Reset();
    if (!from) return E_POINTER;
    return from->QueryInterface(uuidof<T>(), reinterpret_cast<void**>(&m_p));
  }
  template <class U>
  HRESULT As(ComPtr<U>* out) const {
    return out->QueryFrom(m_p);
  }

 private:
  T* m_p = nullptr;
};

// ---- Text conversion ------------------------------------------------------------------------------
// The "ANSI" code page of this platform is UTF-8.
constexpr UINT CP_ACP = 0;
constexpr DWORD MB_PRECOMPOSED = 0x00000001;
// srcLen -1: up to and including the terminator. dstLen 0: returns the length needed. Returns the
// number of UTF-16 units written (terminator included when it was converted), 0 on failure.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLen, LPWSTR dst, int dstLen);
