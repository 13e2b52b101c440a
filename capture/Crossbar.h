// Input routing: every way from a physical video input through the card's crossbars to the capture
// filter's analogue video input, and routing by path.
#pragma once

#include "platform/media/com/dshow.h"

// One crossbar on a path.
struct CrossbarHop {
  CrossbarHop* pUpstream;    // next crossbar away from the capture filter, or none
  CrossbarHop* pDownstream;  // next crossbar toward the capture filter, or none
  LONG VideoInputIndex;
  LONG VideoOutputIndex;
  LONG AudioInputIndex;   // pin related to the video input, -1 for none
  LONG AudioOutputIndex;  // pin related to the video output, -1 for none
  IAMCrossbar* pXbar;     // a stored path holds one reference
  LONG VideoInputPhysicalType;
  LONG VideoOutputPhysicalType;
  LONG Depth;  // 0 next to the capture filter
};

// Ordered list of paths (arrays of hops, element 0 the most upstream crossbar).
class CPathList {
 public:
  explicit CPathList(const char* name);
  ~CPathList();
  CPathList(const CPathList&) = delete;
  CPathList& operator=(const CPathList&) = delete;

  // False when no list node could be allocated; the path is then not in the list.
  bool AddTail(CrossbarHop* path);
  // The path at the head, taken out of the list; null when empty.
  CrossbarHop* RemoveHead();
  int GetCount() const { return m_nCount; }
  // The path at 0-based index from the head, or null.
  CrossbarHop* GetAt(int index) const;
  const char* GetName() const { return m_pszName; }

 private:
  struct Node {
    Node* pPrev;
    Node* pNext;
    CrossbarHop* pPath;
  };
  static constexpr int kMaxSpareNodes = 5;

  Node* NewNode();
  void FreeNode(Node* node);

  const char* m_pszName;
  Node* m_pHead = nullptr;
  Node* m_pTail = nullptr;
  int m_nCount = 0;
  Node* m_pSpare = nullptr;  // freed nodes kept for reuse, linked through pNext
  int m_nSpare = 0;
};

class CCrossbar {
 public:
  // pStartingInputPin: the capture filter's analogue video input pin; no reference is taken.
  explicit CCrossbar(IPin* pStartingInputPin);
  ~CCrossbar();
  CCrossbar(const CCrossbar&) = delete;
  CCrossbar& operator=(const CCrossbar&) = delete;

  HRESULT CountInputs(LONG* pCount);
  HRESULT GetInputConnector(LONG index, LONG* pPhysicalType);
  // Copies the path's connector name as lstrcpyn does: at most size - 1 characters and a NUL.
  HRESULT GetInputLabel(LONG index, char* pszLabel, LONG size);
  // Routes video and its sound through every crossbar of the path, upstream first; the result is
  // that of the last video route.
  HRESULT RouteInput(LONG index);

  static const char* ConnectorName(LONG physicalType);
  // Index of pin on X among its inputs or outputs, from the filter's pin order (inputs first).
  static HRESULT IndexOfPin(IAMCrossbar* pXbar, IPin* pPin, BOOL bInput, LONG* pIndex);
  // The pin at index among X's inputs or outputs; handed back without a reference of its own.
  static HRESULT PinAtIndex(IAMCrossbar* pXbar, LONG index, BOOL bInput, IPin** ppPin);

 private:
  HRESULT FindPaths(IPin* pStartingInputPin, CrossbarHop* pHop, LONG depth);
  HRESULT StorePath(CrossbarHop* pHop);
  HRESULT ClearPaths();

  IPin* m_pStartingPin;
  CrossbarHop m_StartingHop;
  CPathList* m_RoutingList;
  LONG m_CurrentRoutingIndex;
};
