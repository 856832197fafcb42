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

// Production code: counts one call at `site`; true (with errno set) when this call must fail.
bool InjectedFault(FaultSite site);

}  // namespace tomeva

#endif  // TOMEVA_BASE_FAULT_INJECTION_H_
