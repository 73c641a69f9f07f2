// Allocation checking for leak hunts. With the environment variable
// "DV_CHECK_ALLOC" set, every block the program takes through operator new is
// recorded with a serial number; freeing an unknown block is reported, and
// print_allocation_report() lists the blocks still live. The recording hooks
// (core/alloc_hooks.cpp) are linked into the dirtvane executable only; in
// sanitizer builds they are left out, because the sanitizer owns operator
// new and already reports leaks and bad frees.
#pragma once

#include <cstddef>

// Called by the hooks after a successful allocation.
void alloc_check_record(void* block);
// Called by the hooks before freeing; false when the block is unknown (it is
// reported as "Allocation not found for %p!" and must not be freed).
bool alloc_check_release(void* block);

// True while blocks are being recorded.
bool allocation_checking_active();
// Number of recorded live blocks.
size_t allocation_check_live_count();

// Lists the live blocks as "%p:%d\n" (address, serial) on standard error,
// oldest first. Start-up calls it at shutdown; it does nothing unless
// checking is active.
void print_allocation_report();
