// Fault injection: tests tell the file helpers to fail their Nth call, so that every failure
// point of a multi-step operation (the import, the migration, a chapter.xml rewrite) can be
// driven in turn, not only the ones a test can provoke for real. The engine's writes fail
// through the engine a test hands the operation instead (tests/support/fake_engine.h).
// Until a test arms a site, every check is one relaxed atomic load and never fails.
//
// Each site counts its calls from the last ArmFault or ClearFaults; the armed call fails with the
// armed errno (left in errno for the caller's message) and, when `sticky`, so does every later
// call at that site, as on a full disk. Thread-safe; meant for one test at a time per process.
#ifndef TOMEVA_BASE_FAULT_INJECTION_H_
#define TOMEVA_BASE_FAULT_INJECTION_H_

#include <functional>
#include <string_view>

namespace tomeva {

enum class FaultSite : int {
  kFileWrite,    // creating, replacing, copying, renaming files and folders; flushing
  kFileRead,     // reading a whole file
  kLock,         // taking a file lock (refused as if another process held it)
  kCount
};

// Tests: the `nth` call (1-based) at `site` from now on fails with `error`; nth = 0 only counts
// the calls (to learn how many failure points an operation has).
void ArmFault(FaultSite site, int nth, int error, bool sticky = false);
// Tests: disarms every site and restarts the counts.
void ClearFaults();
// Tests: calls seen at `site` since the last ArmFault of that site or ClearFaults.
int FaultSiteCalls(FaultSite site);

// Tests: `action` runs at every later call at `site`, first thing in the call (before an armed
// failure of it), with what the call is about where the caller names it (the file name of a read
// below a folder, of a copy; "" otherwise). A test puts the file system into the state another
// process racing the caller could leave, at the very point it chooses: a book's record file
// swapped for a link between the import's look at it and its read. One action per site; an
// empty one, or ClearFaults, removes it. It runs on the calling thread.
void SetFaultAction(FaultSite site, std::function<void(std::string_view what)> action);

// Production code: counts one call at `site`; true (with errno set) when this call must fail.
bool InjectedFault(FaultSite site);
// The same, naming what the call is about for a test's action.
bool InjectedFault(FaultSite site, std::string_view what);

}  // namespace tomeva

#endif  // TOMEVA_BASE_FAULT_INJECTION_H_
