#include "platform/media/com/faults.h"

#include <deque>
#include <mutex>

namespace orv::media {
namespace {

struct Fault {
  std::string name;
  std::vector<std::string> qualifiers;
  HRESULT hr;
  int skip;
  int times;
};

// The scan worker calls the tuner while the UI thread may call other operations.
std::mutex g_mutex;
std::vector<Fault> g_faults;
std::deque<std::string> g_journal;
constexpr std::size_t kJournalLimit = 20000;

std::vector<std::string> Split(const std::string& op) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t colon = op.find(':', start);
    parts.push_back(op.substr(start, colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return parts;
}

}  // namespace

void InjectFault(const std::string& op, HRESULT hr, int skip, int times) {
  std::vector<std::string> parts = Split(op);
  Fault f{parts.front(), {parts.begin() + 1, parts.end()}, hr, skip < 0 ? 0 : skip, times};
  std::lock_guard lock(g_mutex);
  g_faults.push_back(std::move(f));
}

void ClearFaults() {
  std::lock_guard lock(g_mutex);
  g_faults.clear();
}

HRESULT CheckFault(std::string_view op, const std::vector<std::string_view>& qualifiers, const std::string& call) {
  std::lock_guard lock(g_mutex);
  g_journal.push_back(call);
  if (g_journal.size() > kJournalLimit) g_journal.pop_front();
  for (Fault& f : g_faults) {
    if (f.name != op || f.times == 0) continue;
    bool all = true;
    for (const std::string& q : f.qualifiers) {
      bool found = false;
      for (std::string_view have : qualifiers) found = found || have == q;
      all = all && found;
    }
    if (!all) continue;
    if (f.skip > 0) {
      --f.skip;
      continue;
    }
    if (f.times > 0) --f.times;
    return f.hr;
  }
  return S_OK;
}

std::vector<std::string> Journal() {
  std::lock_guard lock(g_mutex);
  return {g_journal.begin(), g_journal.end()};
}

void ClearJournal() {
  std::lock_guard lock(g_mutex);
  g_journal.clear();
}

}  // namespace orv::media
