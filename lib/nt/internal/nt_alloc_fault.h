// Allocation failures on demand, for the tests' out-of-memory paths.
//
// A build configured with ORVEX_ALLOC_FAULTS (the test configuration)
// compiles a per-thread countdown: nt_alloc_fault_arm(n) makes the n-th
// allocation that the calling thread makes through the two libraries'
// nt_malloc, nt_calloc and nt_realloc fail as malloc fails (null, errno
// ENOMEM); a test program's replacement operator new may consult the same
// countdown for the C++ containers. Every other build compiles the check to
// a constant false, so the shipped libraries carry no trace of it.
#pragma once

#include <cerrno>
#include <cstdlib>

#ifdef ORVEX_ALLOC_FAULTS
// Arms the countdown of the calling thread: the n-th allocation from now
// fails (and only that one); 0 disarms.
extern "C" void nt_alloc_fault_arm(unsigned n);
// True once the armed allocation has failed; arming clears it.
extern "C" bool nt_alloc_fault_fired(void);
// Counts one allocation of the calling thread: true when it must fail.
// Referenced weakly: the shared libraries export nothing of the hook, so in
// liborvexks.so it resolves to null and stays off; a test program linked
// with the static archives that arms the hook links its definition.
extern "C" bool nt_alloc_fault_hit(void) __attribute__((weak));
#define NT_ALLOC_FAILS() (nt_alloc_fault_hit != nullptr && nt_alloc_fault_hit())
#else
#define NT_ALLOC_FAILS() false
#endif

// The C heap with the failure hook in front.
inline void *nt_malloc(size_t size) {
  if (NT_ALLOC_FAILS()) {
    errno = ENOMEM;
    return nullptr;
  }
  return std::malloc(size);
}

inline void *nt_calloc(size_t count, size_t size) {
  if (NT_ALLOC_FAILS()) {
    errno = ENOMEM;
    return nullptr;
  }
  return std::calloc(count, size);
}

inline void *nt_realloc(void *block, size_t size) {
  if (NT_ALLOC_FAILS()) {
    errno = ENOMEM;
    return nullptr;
  }
  return std::realloc(block, size);
}
