// Allocation failures on demand in test builds: the library's own C heap
// calls go through nt_malloc, nt_calloc and nt_realloc, which the
// companion library defines (see its nt_alloc_fault.h).
#pragma once

#include "../../nt/internal/nt_alloc_fault.h"
