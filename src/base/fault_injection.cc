#include "base/fault_injection.h"

#include <atomic>
#include <cerrno>

namespace tomeva {
namespace {

struct Site {
  std::atomic<int> calls{0};
  std::atomic<int> nth{0};
  std::atomic<int> error{0};
  std::atomic<bool> sticky{false};
};

constexpr int kSites = static_cast<int>(FaultSite::kCount);
Site g_sites[kSites];
// Any site armed or counting: until then the checks skip the counting entirely.
std::atomic<bool> g_armed{false};

}  // namespace

void ArmFault(FaultSite site, int nth, int error, bool sticky) {
  Site& s = g_sites[static_cast<int>(site)];
  s.calls = 0;
  s.error = error;
  s.sticky = sticky;
  s.nth = nth;
  g_armed = true;
}

void ClearFaults() {
  for (Site& s : g_sites) {
    s.nth = 0;
    s.calls = 0;
    s.sticky = false;
  }
  g_armed = false;
}

int FaultSiteCalls(FaultSite site) { return g_sites[static_cast<int>(site)].calls; }

bool InjectedFault(FaultSite site) {
  if (!g_armed.load(std::memory_order_relaxed)) return false;
  Site& s = g_sites[static_cast<int>(site)];
  const int call = ++s.calls;
  const int nth = s.nth;
  if (nth <= 0 || call < nth || (call > nth && !s.sticky)) return false;
  errno = s.error;
  return true;
}

}  // namespace tomeva
