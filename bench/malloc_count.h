// Counts calls into the allocator from anywhere in the process (operator new
// included, which ends in malloc), so a benchmark can show that a frame
// allocates nothing.
#pragma once

// Allocation calls (malloc, calloc, realloc, aligned forms) so far.
unsigned long allocationCalls();
