// Kernel services the engine stands on: the process table, cycle counters, the charging
// allocator, paged process memory and the slice runner.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lua/lua.h"

// One frame of CPU time, in cycles.
constexpr int32_t FRAME_CYCLES = 279620;
// The most carried debt one slice may start with.
constexpr int32_t MAX_DEBT_PER_SLICE = 2796200;
// Forces a yield at the next instruction of yieldable Lua code.
constexpr int32_t SUPERYIELD = 0x40000000;
// Past the slice's budget by this much, non-yieldable code is stopped with an error.
constexpr int32_t NONYIELD_CEILING = 27962000;
// Memory: a process is killed above this (figure + 0x80000), and l_alloc refuses any request
// that would take its charged memory above four times the limit.
constexpr int64_t PROCESS_MEMORY_LIMIT = 0x2000000;
constexpr int64_t PROCESS_MEMORY_BASE = 0x80000;
constexpr int64_t ALLOC_HARD_LIMIT = 0x8000000;

constexpr int MAX_PROCESSES = 512;
constexpr int PAGE_SIZE = 4096;
constexpr int PAGE_COUNT = 4096; // 16 MB address space

// Run states of a process slot.
enum class ProcState : int32_t { Free = 0, Running, Halted, Ended, Error };

// The paged 16 MB address space of a process.
struct ProcessMemory {
  uint8_t *page[PAGE_COUNT]; // NULL until first touch
  uint8_t dirty[PAGE_COUNT];
  int64_t page_bytes;        // bytes of attached pages
};

struct Process {
  int32_t id;
  int32_t parent_id;
  ProcState state;
  char name[256];
  char path[256];
  lua_State *L;
  char *source;             // private copy of the program text
  int64_t mem_charged;      // sum of the charges of the live blocks of the process
  int64_t out_of_memory;    // set to 1 by a failed final allocation attempt
  int64_t debt;             // cycles carried into later slices
  int64_t cycles_this_frame;
  int64_t cycles_last_frame;
  int32_t load_nesting;     // depth of the kernel's global load
  int32_t frame_ended;      // the process ended its frame (flip)
  int32_t error;            // the last slice ended in an error
  ProcessMemory *memory;    // allocated on first touch
  // Tallies for the runner's cycle trace.
  int64_t alloc_cycles;
  int64_t spend_cycles;
  int64_t last_slice_start; // counter at the start of the last slice (the debt carried in)
  int64_t last_slice_end;   // counter at its end
};

extern Process processes[MAX_PROCESSES];
extern Process *cproc;

extern int32_t cpu_cycles;
extern int32_t cpu_cycles_max;
extern int32_t cpu_superyielding;

// Cycles left in the current frame for slices of other processes.
extern int32_t frame_cycles_left;

// The native work meter. Work done inside native functions (bytes compared, scanned, copied or
// hashed, matcher steps, the collector's work) is not charged, but a loop of cheap instructions
// that each start much of it would hold the machine. The meter counts that work in units of
// roughly a sixty-fourth of a nanosecond on the reference machine; a slice whose work passes
// what a whole frame of cycles would take ends at the next instruction that can yield (the
// same forced yield as a failed final allocation, so no charge moves), and code that cannot
// yield counts the work past that point toward its cycle ceiling. A slice run from inside
// another one continues the outer slice's count, up to its own budget's share of the frame,
// and the outer slice keeps what it adds. The per-kind weights are calibrated by
// bench/native_work.lua.
constexpr int64_t NATIVE_WORK_FRAME = (int64_t)1 << 30;
// Units of one cycle of the frame, for the ceiling of non-yieldable code.
constexpr int64_t NATIVE_WORK_PER_CYCLE = NATIVE_WORK_FRAME / FRAME_CYCLES;
// Weights (units per byte, step, call or collector unit).
constexpr int64_t WORK_BYTE_COMPARED = 3;  // memcmp, memchr and memcpy over a block
constexpr int64_t WORK_BYTE_HASHED = 80;   // hashing a long string
constexpr int64_t WORK_BYTE_SCANNED = 24;  // a loop that tests each byte or table slot, numerals
constexpr int64_t WORK_BYTE_DECODED = 80;  // decoding UTF-8
constexpr int64_t WORK_BYTE_WRITTEN = 64;  // written to the host's output
constexpr int64_t WORK_MATCH_STEP = 96;    // one step of the pattern matcher
constexpr int64_t WORK_GC_UNIT = 24;       // one unit of the collector's step accounting
constexpr int64_t WORK_GC_OBJECT = 320;    // an object the collector traverses or sweeps
constexpr int64_t WORK_PIECE = 384;        // one piece of a comparison across zero bytes
constexpr int64_t WORK_NATIVE_CALL = 4096; // a native function called from native code

extern int64_t native_work;       // units of the running slice
extern int64_t native_work_limit; // NATIVE_WORK_FRAME while a slice runs, else unreachable
[[gnu::cold]] void native_work_spent();
inline void native_work_add(int64_t units) {
  native_work += units;
  if (__builtin_expect(native_work > native_work_limit, 0)) native_work_spent();
}
// The meter's excess over its limit in cycles, for the ceiling of non-yieldable code: only
// work past the point where it would have ended a yieldable slice, so that code that never
// gets there runs exactly as without the meter (0 outside a slice).
inline int64_t native_work_cycles() {
  return native_work > native_work_limit ? (native_work - native_work_limit) / NATIVE_WORK_PER_CYCLE
                                         : 0;
}

// Adds n cycles (saturating at INT32_MAX).
inline void cpu_add(int64_t n) {
  int64_t v = (int64_t)cpu_cycles + n;
  cpu_cycles = v > INT32_MAX ? INT32_MAX : (v < INT32_MIN ? INT32_MIN : (int32_t)v);
}

// n < 0: nothing; 0 or 1: one cycle; else n.
void spend_cpu(int32_t n);
// An integer argument as it is; another number or numeric string floored; else the default.
int64_t hvx_intp(lua_State *L, int idx, int64_t def);

// The allocator of every process state: bills cproc (8-byte charge header before each block).
void *l_alloc(void *ud, void *ptr, size_t osize, size_t nsize, int final_attempt, size_t charge);

int peek(int64_t addr);
int peek2(int64_t addr);
int32_t peek4(int64_t addr);
int64_t peek8(int64_t addr);
void poke(int64_t addr, int64_t v);
void poke2(int64_t addr, int64_t v);
void poke4(int64_t addr, int64_t v);
void poke8(int64_t addr, int64_t v);
// Releases a process's pages.
void free_process_memory(Process *p);

// Creates a process in slot p: 0 on success, 1 when its program did not compile (the
// message is written to *err when err is not NULL, up to errlen bytes).
// chunkname overrides the default "@" + name.
int init_process(Process *p, int id, const char *program, const char *name, const char *path,
                 char *err = nullptr, size_t errlen = 0, const char *chunkname = nullptr);
// Runs one slice; returns the cycles booked. status receives the lua_resume status.
int64_t run_process_slice(Process *p, double fraction, int *status = nullptr);
void free_process(Process *p);
Process *find_process(int id);

// Registers the kernel's Lua globals (stat, _signal, _run_process_slice,
// _yielded_to_escape_slice, load, add, del, deli, count).
void api_add_c_functions(lua_State *L);

// Hook for reports of a process's runtime error (message, traceback); the runner sets it.
extern void (*report_process_error)(Process *p, const char *msg, const char *traceback);
