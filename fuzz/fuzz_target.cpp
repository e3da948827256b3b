// libFuzzer entry for one tool, chosen at compile time by VEXLAN_FUZZ_RECORD
// (for instance DirtyDofRecord).
#include <cstddef>
#include <cstdint>

#include "frame/tools.h"
#include "testing/hostile.h"

#ifndef VEXLAN_FUZZ_RECORD
#error "VEXLAN_FUZZ_RECORD names the record of the tool to fuzz"
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzTool(VEXLAN_FUZZ_RECORD, data, size);
  return 0;
}
