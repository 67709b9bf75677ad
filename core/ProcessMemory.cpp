#include "core/ProcessMemory.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace ProcessMemory {

void returnFreed()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

} // namespace ProcessMemory
