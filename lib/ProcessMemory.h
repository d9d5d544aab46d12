#pragma once

// How the process's allocator keeps memory. A listing of tens of thousands
// of entries grows its buffers by doubling; with the allocator's defaults
// each step beyond 128 KiB is mapped anew and every page of it is touched
// for the first time (a page fault each), and what is freed goes back to
// the system at once, to be faulted in again by the next listing or
// transfer. Call once, first thing in main.
void ProcessMemory_KeepFreedMemory();
