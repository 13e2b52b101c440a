#include "platform/media/com/com.h"

#include "platform/media/com/dshow.h"
#include "platform/media/com/object.h"

#include <QString>
#include <algorithm>
#include <cstdlib>

namespace orv::media {
namespace {
std::atomic<int> g_liveObjects{0};
}  // namespace

ComObject::ComObject() { ++g_liveObjects; }
ComObject::~ComObject() { --g_liveObjects; }

ULONG ComObject::AddRefImpl() { return ++m_ref; }

ULONG ComObject::ReleaseImpl() {
  const ULONG left = --m_ref;
  if (left == 0) delete this;
  return left;
}

HRESULT ComObject::QueryImpl(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  void* p = Lookup(riid);
  *ppv = p;
  if (!p) return E_NOINTERFACE;
  static_cast<IUnknown*>(p)->AddRef();
  return S_OK;
}

int LiveMediaObjects() { return g_liveObjects; }

}  // namespace orv::media

LPVOID CoTaskMemAlloc(std::size_t size) { return std::malloc(size ? size : 1); }
void CoTaskMemFree(LPVOID p) { std::free(p); }

void FreeMediaType(AM_MEDIA_TYPE& mt) {
  if (mt.cbFormat != 0 || mt.pbFormat) CoTaskMemFree(mt.pbFormat);
  mt.cbFormat = 0;
  mt.pbFormat = nullptr;
  if (mt.pUnk) {
    mt.pUnk->Release();
    mt.pUnk = nullptr;
  }
}

void DeleteMediaType(AM_MEDIA_TYPE* pmt) {
  if (!pmt) return;
  FreeMediaType(*pmt);
  CoTaskMemFree(pmt);
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* dst, const AM_MEDIA_TYPE* src) {
  if (!dst || !src) return E_POINTER;
  *dst = *src;
  dst->pbFormat = nullptr;
  if (src->cbFormat) {
    dst->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(src->cbFormat));
    if (!dst->pbFormat) {
      dst->cbFormat = 0;
      return E_OUTOFMEMORY;
    }
    std::memcpy(dst->pbFormat, src->pbFormat, src->cbFormat);
  }
  if (dst->pUnk) dst->pUnk->AddRef();
  return S_OK;
}

void VariantInit(VARIANT* v) {
  v->vt = VT_EMPTY;
  v->bstrVal = nullptr;
}

HRESULT VariantClear(VARIANT* v) {
  if (!v) return E_POINTER;
  if (v->vt == VT_BSTR) SysFreeString(v->bstrVal);
  VariantInit(v);
  return S_OK;
}

BSTR SysAllocString(const WCHAR* s) {
  if (!s) return nullptr;
  std::size_t n = 0;
  while (s[n]) ++n;
  auto* out = static_cast<BSTR>(std::malloc((n + 1) * sizeof(WCHAR)));
  if (out) std::memcpy(out, s, (n + 1) * sizeof(WCHAR));
  return out;
}

void SysFreeString(BSTR s) { std::free(s); }

int MultiByteToWideChar(UINT, DWORD, LPCSTR src, int srcLen, LPWSTR dst, int dstLen) {
  if (!src || dstLen < 0) return 0;
  const std::size_t n = srcLen < 0 ? std::strlen(src) + 1 : static_cast<std::size_t>(srcLen);
  const std::u16string wide = QString::fromUtf8(src, static_cast<qsizetype>(n)).toStdU16String();
  if (dstLen == 0) return static_cast<int>(wide.size());
  if (!dst || wide.size() > static_cast<std::size_t>(dstLen)) return 0;
  std::copy(wide.begin(), wide.end(), dst);
  return static_cast<int>(wide.size());
}
