// Fault injection and the call journal of the media layer.
//
// Every operation of the virtual card, the graph, the builder and the device enumerator passes
// through CheckFault with its operation name (the method's name, e.g. "Route") and qualifiers (the
// object's instance name, its kind, the IID or category involved). A fault "Route:Crossbar1" fails
// Route on the object named Crossbar1 only; "FindInterface:IID_IAMStreamConfig:AudioCapture" fails
// that look-up on the audio capture filter only. docs/virtual-card.md lists every name.
#pragma once

#include "platform/wintypes.h"

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace orv::media {

// op is "Name" or "Name:Qualifier[:Qualifier...]". The first `skip` matching calls pass; then
// `times` calls fail (-1: every later call). A success code can be injected too (e.g. S_FALSE).
void InjectFault(const std::string& op, HRESULT hr, int skip = 0, int times = -1);
void ClearFaults();

// Records "call" in the journal and returns the injected result, or S_OK when no fault matches.
HRESULT CheckFault(std::string_view op, const std::vector<std::string_view>& qualifiers, const std::string& call);

// Calls made since the last ClearJournal, oldest first, as "Object.Method(args)".
std::vector<std::string> Journal();
void ClearJournal();

}  // namespace orv::media
