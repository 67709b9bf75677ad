#pragma once

// The process's heap as the system sees it.
namespace ProcessMemory {

// Gives the memory the allocator holds free back to the system (glibc's malloc_trim). After a
// burst has filled the list and the log and their oldest entries have left, that memory is free
// inside the process but still counted as its resident memory; elsewhere this does nothing.
void returnFreed();

} // namespace ProcessMemory
