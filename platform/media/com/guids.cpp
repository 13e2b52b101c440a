#include "platform/media/com/guids.h"

#include <cstdio>

#define ORV_DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  const GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}};
ORV_GUID_LIST(ORV_DEFINE_GUID)
#undef ORV_DEFINE_GUID

namespace orv::media {
namespace {
struct Named {
  const GUID* guid;
  const char* name;
};
#define ORV_NAME_GUID(name, ...) {&name, #name},
const Named kNames[] = {ORV_GUID_LIST(ORV_NAME_GUID)};
#undef ORV_NAME_GUID

std::string RegistryForm(REFGUID g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}
}  // namespace

std::string GuidName(REFGUID g) {
  for (const auto& n : kNames)
    if (*n.guid == g) return n.name;
  return RegistryForm(g);
}

bool ParseGuid(const std::string& text, GUID* out) {
  for (const auto& n : kNames)
    if (text == n.name) {
      *out = *n.guid;
      return true;
    }
  unsigned l, w1, w2, b[8];
  int used = 0;
  if (std::sscanf(text.c_str(), "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}%n", &l, &w1, &w2, &b[0], &b[1], &b[2], &b[3],
                  &b[4], &b[5], &b[6], &b[7], &used) != 11 ||
      used != static_cast<int>(text.size()))
    return false;
  out->Data1 = l;
  out->Data2 = static_cast<WORD>(w1);
  out->Data3 = static_cast<WORD>(w2);
  for (int i = 0; i < 8; ++i) out->Data4[i] = static_cast<BYTE>(b[i]);
  return true;
}

}  // namespace orv::media
