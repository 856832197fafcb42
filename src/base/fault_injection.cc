#include "base/fault_injection.h"

#include <atomic>
#include <cerrno>
#include <mutex>
#include <utility>

namespace tomeva {
namespace {

struct Site {
  std::atomic<int> calls{0};
  std::atomic<int> nth{0};
  std::atomic<int> error{0};
  std::atomic<bool> sticky{false};
  std::atomic<bool> has_action{false};
  std::function<void(std::string_view)> action;  // guarded by g_action_mutex
};

constexpr int kSites = static_cast<int>(FaultSite::kCount);
Site g_sites[kSites];
// Any site armed or counting: until then the checks skip the counting entirely.
std::atomic<bool> g_armed{false};
std::mutex g_action_mutex;

}  // namespace

void ArmFault(FaultSite site, int nth, int error, bool sticky) {
  Site& s = g_sites[static_cast<int>(site)];
  s.calls = 0;
  s.error = error;
  s.sticky = sticky;
  s.nth = nth;
  g_armed = true;
}

void SetFaultAction(FaultSite site, std::function<void(std::string_view what)> action) {
  Site& s = g_sites[static_cast<int>(site)];
  std::lock_guard<std::mutex> lock(g_action_mutex);
  s.has_action = static_cast<bool>(action);
  s.action = std::move(action);
  if (s.has_action) g_armed = true;
}

void ClearFaults() {
  std::lock_guard<std::mutex> lock(g_action_mutex);
  for (Site& s : g_sites) {
    s.nth = 0;
    s.calls = 0;
    s.sticky = false;
    s.has_action = false;
    s.action = nullptr;
  }
  g_armed = false;
}

int FaultSiteCalls(FaultSite site) { return g_sites[static_cast<int>(site)].calls; }

bool InjectedFault(FaultSite site) { return InjectedFault(site, {}); }

bool InjectedFault(FaultSite site, std::string_view what) {
  if (!g_armed.load(std::memory_order_relaxed)) return false;
  Site& s = g_sites[static_cast<int>(site)];
  // An action that uses the file helpers itself does not run again inside its own calls.
  thread_local bool in_action = false;
  if (s.has_action && !in_action) {
    // A copy runs, outside the lock.
    std::function<void(std::string_view)> action;
    {
      std::lock_guard<std::mutex> lock(g_action_mutex);
      action = s.action;
    }
    if (action) {
      in_action = true;
      action(what);
      in_action = false;
    }
  }
  const int call = ++s.calls;
  const int nth = s.nth;
  if (nth <= 0 || call < nth || (call > nth && !s.sticky)) return false;
  errno = s.error;
  return true;
}

}  // namespace tomeva
