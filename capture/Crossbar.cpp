#include "capture/Crossbar.h"

#include <new>

// ---- CPathList ----------------------------------------------------------------------------------

CPathList::CPathList(const char* name) : m_pszName(name) {}

CPathList::~CPathList() {
  while (m_pHead) {
    Node* next = m_pHead->pNext;
    delete m_pHead;
    m_pHead = next;
  }
  while (m_pSpare) {
    Node* next = m_pSpare->pNext;
    delete m_pSpare;
    m_pSpare = next;
  }
}

CPathList::Node* CPathList::NewNode() {
  if (m_pSpare) {
    Node* node = m_pSpare;
    m_pSpare = node->pNext;
    --m_nSpare;
    return node;
  }
  return new (std::nothrow) Node;
}

void CPathList::FreeNode(Node* node) {
  if (m_nSpare < kMaxSpareNodes) {
    node->pNext = m_pSpare;
    m_pSpare = node;
    ++m_nSpare;
  } else {
    delete node;
  }
}

bool CPathList::AddTail(CrossbarHop* path) {
  Node* node = NewNode();
  if (!node) return false;
  node->pPrev = m_pTail;
  node->pNext = nullptr;
  node->pPath = path;
  if (m_pTail)
    m_pTail->pNext = node;
  else
    m_pHead = node;
  m_pTail = node;
  ++m_nCount;
  return true;
}

CrossbarHop* CPathList::RemoveHead() {
  Node* node = m_pHead;
  if (!node) return nullptr;
  m_pHead = node->pNext;
  if (m_pHead)
    m_pHead->pPrev = nullptr;
  else
    m_pTail = nullptr;
  --m_nCount;
  CrossbarHop* path = node->pPath;
  FreeNode(node);
  return path;
}

CrossbarHop* CPathList::GetAt(int index) const {
  if (index < 0) return nullptr;
  Node* node = m_pHead;
  while (node && index-- > 0) node = node->pNext;
  return node ? node->pPath : nullptr;
}

// ---- CCrossbar ----------------------------------------------------------------------------------

CCrossbar::CCrossbar(IPin* pStartingInputPin)
    : m_pStartingPin(pStartingInputPin), m_StartingHop(), m_CurrentRoutingIndex(0) {
  m_RoutingList = new CPathList("RoutingList");
  // A pin without crossbars leaves the list empty; the result says nothing more.
  if (m_pStartingPin) FindPaths(m_pStartingPin, &m_StartingHop, 0);
}

CCrossbar::~CCrossbar() {
  ClearPaths();
  delete m_RoutingList;
}

HRESULT CCrossbar::CountInputs(LONG* pCount) {
  if (pCount) *pCount = m_RoutingList->GetCount();
  return S_OK;
}

HRESULT CCrossbar::GetInputConnector(LONG index, LONG* pPhysicalType) {
  CrossbarHop* path = index < m_RoutingList->GetCount() ? m_RoutingList->GetAt(index) : nullptr;
  if (!path) return E_FAIL;
  if (pPhysicalType) *pPhysicalType = path[0].VideoInputPhysicalType;
  return S_OK;
}

HRESULT CCrossbar::GetInputLabel(LONG index, char* pszLabel, LONG size) {
  CrossbarHop* path = index < m_RoutingList->GetCount() ? m_RoutingList->GetAt(index) : nullptr;
  if (!path || !pszLabel) return E_FAIL;
  if (size <= 0) return S_OK;
  const char* name = ConnectorName(path[0].VideoInputPhysicalType);
  LONG n = 0;
  while (n < size - 1 && name[n]) {
    pszLabel[n] = name[n];
    ++n;
  }
  pszLabel[n] = 0;
  return S_OK;
}

HRESULT CCrossbar::RouteInput(LONG index) {
  if (index < 0 || index >= m_RoutingList->GetCount()) return E_FAIL;
  CrossbarHop* path = m_RoutingList->GetAt(index);
  HRESULT hr = E_FAIL;
  for (LONG k = 0; k <= path[0].Depth; ++k) {
    CrossbarHop& hop = path[k];
    hr = hop.pXbar->Route(hop.VideoOutputIndex, hop.VideoInputIndex);
    if (hop.AudioOutputIndex != -1 && hop.AudioInputIndex != -1)
      hop.pXbar->Route(hop.AudioOutputIndex, hop.AudioInputIndex);
  }
  m_CurrentRoutingIndex = index;
  return hr;
}

HRESULT CCrossbar::FindPaths(IPin* pStartingInputPin, CrossbarHop* pHop, LONG depth) {
  IPin* pOutput = nullptr;
  if (FAILED(pStartingInputPin->ConnectedTo(&pOutput)) || !pOutput) return depth > 0 ? S_FALSE : E_FAIL;

  PIN_INFO info{};
  if (FAILED(pOutput->QueryPinInfo(&info)) || !info.pFilter) {
    pOutput->Release();
    return S_OK;
  }

  IAMCrossbar* pXbar = nullptr;
  if (FAILED(info.pFilter->QueryInterface(IID_IAMCrossbar, reinterpret_cast<void**>(&pXbar))) || !pXbar) {
    info.pFilter->Release();
    pOutput->Release();
    return depth > 0 ? S_FALSE : E_FAIL;
  }

  LONG outputs = 0, inputs = 0;
  LONG videoOut = 0;
  // A crossbar that cannot say where its own output is offers no way through.
  if (SUCCEEDED(pXbar->get_PinCounts(&outputs, &inputs)) &&
      SUCCEEDED(IndexOfPin(pXbar, pOutput, FALSE, &videoOut))) {
    LONG audioOut = -1, outType = 0;
    if (FAILED(pXbar->get_CrossbarPinInfo(FALSE, videoOut, &audioOut, &outType))) {
      audioOut = -1;
      outType = 0;
    }
    for (LONG i = 0; i < inputs; ++i) {
      LONG audioIn = -1, inType = 0;
      if (FAILED(pXbar->get_CrossbarPinInfo(TRUE, i, &audioIn, &inType))) continue;
      if (inType >= PhysConn_Audio_Tuner) continue;  // sound inputs only follow their picture
      if (pXbar->CanRoute(videoOut, i) != S_OK) continue;
      IPin* pInput = nullptr;
      if (FAILED(PinAtIndex(pXbar, i, TRUE, &pInput)) || !pInput) continue;

      CrossbarHop next{};
      pHop->pUpstream = &next;
      pHop->VideoInputIndex = i;
      pHop->VideoOutputIndex = videoOut;
      pHop->AudioInputIndex = audioIn;
      pHop->AudioOutputIndex = audioOut;
      pHop->pXbar = pXbar;
      pHop->VideoInputPhysicalType = inType;
      pHop->VideoOutputPhysicalType = outType;
      pHop->Depth = depth;
      next.pDownstream = pHop;

      // S_FALSE: nothing further upstream is a crossbar, so the path starts at this input.
      if (FindPaths(pInput, &next, depth + 1) == S_FALSE) {
        pHop->pUpstream = nullptr;
        StorePath(pHop);
      }
    }
  }

  pXbar->Release();
  info.pFilter->Release();
  pOutput->Release();
  return S_OK;
}

HRESULT CCrossbar::StorePath(CrossbarHop* pHop) {
  const LONG depth = pHop->Depth;
  CrossbarHop* path = new (std::nothrow) CrossbarHop[depth + 1];
  if (!path) return E_OUTOFMEMORY;
  if (!m_RoutingList->AddTail(path)) {
    delete[] path;
    return E_OUTOFMEMORY;
  }
  // The search record is refilled for the next input, so the path is a copy.
  CrossbarHop* hop = pHop;
  for (LONG k = 0; k <= depth; ++k) {
    path[k] = *hop;
    path[k].pXbar->AddRef();
    path[k].pUpstream = k > 0 ? &path[k - 1] : nullptr;
    path[k].pDownstream = k < depth ? &path[k + 1] : nullptr;
    hop = hop->pDownstream;
  }
  return S_OK;
}

HRESULT CCrossbar::ClearPaths() {
  while (CrossbarHop* path = m_RoutingList->RemoveHead()) {
    for (LONG k = 0; k <= path[0].Depth; ++k) path[k].pXbar->Release();
    delete[] path;
  }
  return S_OK;
}

const char* CCrossbar::ConnectorName(LONG physicalType) {
  switch (physicalType) {
    case PhysConn_Video_Tuner: return "Video Tuner";
    case PhysConn_Video_Composite: return "Video Composite";
    case PhysConn_Video_SVideo: return "Video SVideo";
    case PhysConn_Video_RGB: return "Video RGB";
    case PhysConn_Video_YRYBY: return "Video YRYBY";
    case PhysConn_Video_SerialDigital: return "Video SerialDigital";
    case PhysConn_Video_ParallelDigital: return "Video ParallelDigital";
    case PhysConn_Video_SCSI: return "Video SCSI";
    case PhysConn_Video_AUX: return "Video AUX";
    case PhysConn_Video_1394: return "Video 1394";
    case PhysConn_Video_USB: return "Video USB";
    case PhysConn_Video_VideoDecoder: return "Video Decoder";
    case PhysConn_Video_VideoEncoder: return "Video Encoder";
    case PhysConn_Audio_Tuner: return "Audio Tuner";
    case PhysConn_Audio_Line: return "Audio Line";
    case PhysConn_Audio_Mic: return "Audio Mic";
    case PhysConn_Audio_AESDigital: return "Audio AESDigital";
    case PhysConn_Audio_SPDIFDigital: return "Audio SPDIFDigital";
    case PhysConn_Audio_SCSI: return "Audio SCSI";
    case PhysConn_Audio_AUX: return "Audio AUX";
    case PhysConn_Audio_1394: return "Audio 1394";
    case PhysConn_Audio_USB: return "Audio USB";
    case PhysConn_Audio_AudioDecoder: return "Audio Decoder";
    default: return "Unknown";
  }
}

namespace {
// Walks X's pins in the filter's order; position -1 looks for pPin instead.
HRESULT WalkPins(IAMCrossbar* pXbar, LONG position, IPin* pPin, LONG* pFound, IPin** ppAt) {
  IBaseFilter* pFilter = nullptr;
  if (FAILED(pXbar->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&pFilter))) || !pFilter) return E_FAIL;
  IEnumPins* pEnum = nullptr;
  HRESULT hr = pFilter->EnumPins(&pEnum);
  if (FAILED(hr) || !pEnum) {
    pFilter->Release();
    return E_FAIL;
  }
  hr = E_FAIL;
  IPin* pin = nullptr;
  for (LONG p = 0; pEnum->Next(1, &pin, nullptr) == S_OK; ++p) {
    const bool match = pPin ? pin == pPin : p == position;
    pin->Release();  // the filter keeps its pins alive
    if (match) {
      if (pFound) *pFound = p;
      if (ppAt) *ppAt = pin;
      hr = S_OK;
      break;
    }
  }
  pEnum->Release();
  pFilter->Release();
  return hr;
}
}  // namespace

HRESULT CCrossbar::IndexOfPin(IAMCrossbar* pXbar, IPin* pPin, BOOL bInput, LONG* pIndex) {
  LONG outputs = 0, inputs = 0;
  if (!pXbar || !pPin || !pIndex || FAILED(pXbar->get_PinCounts(&outputs, &inputs))) return E_FAIL;
  LONG position = 0;
  if (FAILED(WalkPins(pXbar, -1, pPin, &position, nullptr))) return E_FAIL;
  *pIndex = bInput ? position : position - inputs;
  return S_OK;
}

HRESULT CCrossbar::PinAtIndex(IAMCrossbar* pXbar, LONG index, BOOL bInput, IPin** ppPin) {
  if (!ppPin) return E_FAIL;
  *ppPin = nullptr;
  LONG outputs = 0, inputs = 0;
  if (!pXbar || index < 0 || FAILED(pXbar->get_PinCounts(&outputs, &inputs))) return E_FAIL;
  return WalkPins(pXbar, bInput ? index : index + inputs, nullptr, nullptr, ppPin);
}
