// The libFuzzer entry of one target; ORV_FUZZ_ENTRY names its function.
#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, std::size_t lSize) {
  orvfuzz::ORV_FUZZ_ENTRY(pData, lSize);
  return 0;
}
