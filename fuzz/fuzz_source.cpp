// Fuzz target: source text compiled and run as a process with a small cycle budget and the
// memory limit. Nothing may crash, leak or run away.
#include <cstdint>
#include <cstring>
#include <string>

#include "kernel/kernel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string src(reinterpret_cast<const char *>(data), size);
  Process *p = &processes[0];
  if (init_process(p, 1, src.c_str(), "fuzz", "fuzz") != 0) return 0;
  // A few small slices: enough to run loops, coroutines and errors, bounded in time.
  for (int frame = 0; frame < 8 && p->state == ProcState::Running; frame++) {
    frame_cycles_left = 20000;
    run_process_slice(p, 1e9);
  }
  free_process(p);
  return 0;
}
