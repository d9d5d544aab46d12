#include "ProcessMemory.h"

#include <malloc.h>

namespace {

// Blocks below this come from the heap, where freed ones are used again;
// 32 MiB is the most the allocator would raise its own threshold to.
constexpr int kMapThreshold = 32 << 20;
// Free memory at the heap's top that is kept rather than given back.
constexpr int kTrimThreshold = 64 << 20;

}  // namespace

void ProcessMemory_KeepFreedMemory() {
  // Either may be refused (another allocator in the process); then the
  // defaults stay, which work as well, only slower.
  (void)mallopt(M_MMAP_THRESHOLD, kMapThreshold);
  (void)mallopt(M_TRIM_THRESHOLD, kTrimThreshold);
}
