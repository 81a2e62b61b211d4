// Kernel services: process table, cycle counters, charging allocator, paged memory, slices.
#include "kernel/kernel.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <malloc.h>

#include "lua/auxlib.h"
#include "lua/do.h"
#include "lua/libs.h"
#include "lua/state.h"
// Registered last in every process state (typed userdata).
void add_userdata_metatable_functions(lua_State *L);

Process processes[MAX_PROCESSES];
Process *cproc = nullptr;

int32_t cpu_cycles = 0;
int32_t cpu_cycles_max = 0;
int32_t cpu_superyielding = 0;
int32_t frame_cycles_left = FRAME_CYCLES;
int64_t native_work = 0;
int64_t native_work_limit = INT64_MAX;

void native_work_spent() {
  // Past a frame's worth: the slice ends at the next instruction that can yield. The meter
  // stops just above the limit, so that it cannot overflow however long non-yieldable code
  // runs.
  if (native_work > 2 * NATIVE_WORK_FRAME * 1024) native_work = 2 * NATIVE_WORK_FRAME * 1024;
  cpu_superyielding = SUPERYIELD;
}

void (*report_process_error)(Process *p, const char *msg, const char *traceback) = nullptr;

void spend_cpu(int32_t n) {
  if (n < 0) return;
  int32_t c = n < 2 ? 1 : n;
  cpu_add(c);
  if (cproc) cproc->spend_cycles += c;
}

int64_t hvx_intp(lua_State *L, int idx, int64_t def) {
  int t = lua_type(L, idx);
  if (t == LUA_TNUMBER && lua_isinteger(L, idx)) return lua_tointeger(L, idx);
  if (t != LUA_TNUMBER && t != LUA_TSTRING) return def;
  int isnum = 0;
  if (t == LUA_TSTRING) {
    // An integral numeral string converts exactly; otherwise go through the float.
    lua_Integer i = lua_tointegerx(L, idx, &isnum);
    if (isnum) return i;
  }
  lua_Number n = lua_tonumberx(L, idx, &isnum);
  if (!isnum) return def;
  if (std::isnan(n)) return def;
  n = std::floor(n);
  if (n >= 9223372036854775808.0) return INT64_MAX;
  if (n < -9223372036854775808.0) return INT64_MIN;
  return (int64_t)n;
}

// ---------------------------------------------------------------------------------------------
// Allocator. Every block carries its charge in an 8-byte header in front of it.
//
// Engine blocks are mostly small and short-lived (tables, strings, closures), and a sweep
// frees thousands at once, so blocks of up to POOL_MAX bytes (header included) come from
// per-size free lists carved out of large slabs: a push or pop instead of a trip through
// malloc, 8-byte granularity with no per-block malloc overhead, and freed memory reused
// hottest first. Larger blocks use malloc, whose free chunks coalesce: a pool class keeps its
// own peak for good, so pooling the middle sizes too (growing arrays, node vectors, strings
// of a few dozen bytes) made resident memory the sum of each size's peak. The header keeps
// the charge in its low 56 bits and the block's size class (0 for malloc) in its top byte.
// Sanitized builds use malloc for all, so that the sanitizer still sees every block.

namespace {
constexpr size_t HEADER = 8;
constexpr size_t GRAIN = 8;
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HALVORAN_NO_POOL 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define HALVORAN_NO_POOL 1
#endif
#ifdef HALVORAN_NO_POOL
constexpr bool USE_POOL = false;
#else
constexpr bool USE_POOL = true;
#endif
constexpr size_t POOL_MAX = 128;
constexpr size_t NCLASSES = POOL_MAX / GRAIN + 1;
constexpr size_t SLAB = 64 * 1024;
constexpr int CLASS_SHIFT = 56;
constexpr int64_t CHARGE_MASK = ((int64_t)1 << CLASS_SHIFT) - 1;

struct FreeBlock {
  FreeBlock *next;
};
FreeBlock *free_blocks[NCLASSES];
char *slab_next = nullptr;
char *slab_end = nullptr;

inline int64_t &header(void *base) { return *static_cast<int64_t *>(base); }
inline int64_t stored_charge(void *base) { return header(base) & CHARGE_MASK; }
inline size_t stored_class(void *base) { return (size_t)((uint64_t)header(base) >> CLASS_SHIFT); }

// Size class of a block of n bytes plus header; 0 when it is too big for the pool.
inline size_t class_of(size_t nsize) {
  return USE_POOL && nsize <= POOL_MAX - HEADER ? (nsize + HEADER + GRAIN - 1) / GRAIN : 0;
}

void *pool_get(size_t cls) {
  FreeBlock *b = free_blocks[cls];
  if (b) {
    free_blocks[cls] = b->next;
    __builtin_prefetch(b->next, 1); // the next pop reads it: a block freed long ago is cold
    return b;
  }
  size_t bytes = cls * GRAIN;
  if ((size_t)(slab_end - slab_next) < bytes) {
    // The slab's tail is too short for this class: hand it to the smaller classes.
    while (slab_end - slab_next >= (ptrdiff_t)GRAIN) {
      size_t c = (size_t)(slab_end - slab_next) / GRAIN;
      if (c >= NCLASSES) c = NCLASSES - 1;
      FreeBlock *t = reinterpret_cast<FreeBlock *>(slab_next);
      t->next = free_blocks[c];
      free_blocks[c] = t;
      slab_next += c * GRAIN;
    }
    char *slab = static_cast<char *>(std::malloc(SLAB));
    if (!slab) return nullptr;
    slab_next = slab;
    slab_end = slab + SLAB;
  }
  void *r = slab_next;
  slab_next += bytes;
  return r;
}

inline void pool_put(void *base, size_t cls) {
  FreeBlock *b = static_cast<FreeBlock *>(base);
  b->next = free_blocks[cls];
  free_blocks[cls] = b;
}

inline void block_free(void *base) {
  size_t cls = stored_class(base);
  if (cls)
    pool_put(base, cls);
  else
    std::free(base);
}

// Bytes of the block after its header.
inline size_t block_payload(void *base) {
  size_t cls = stored_class(base);
  return cls ? cls * GRAIN - HEADER : malloc_usable_size(base) - HEADER;
}
} // namespace

// Everything but a pool block served from a free list: new slabs, resizes, malloc blocks and
// refusals. The cycles are already charged.
[[gnu::noinline]] static void *alloc_slow(Process *p, void *ptr, size_t nsize, int final_attempt,
                                          size_t charge) {
  void *oldbase = ptr ? static_cast<char *>(ptr) - HEADER : nullptr;
  int64_t oldcharge = oldbase ? stored_charge(oldbase) : 0;
  void *base = nullptr;
  // One slice must not exhaust the host before the end-of-slice memory check.
  bool over = p && (p->mem_charged - oldcharge + (int64_t)charge > ALLOC_HARD_LIMIT);
  size_t cls = class_of(nsize);
  if (over) {
    // refused
  } else if (oldbase && cls && stored_class(oldbase) == cls) {
    base = oldbase; // same size class: the block already fits
  } else if (!oldbase || (cls == 0 && stored_class(oldbase) == 0)) {
    if (cls)
      base = pool_get(cls);
    else if (nsize <= SIZE_MAX - HEADER)
      base = std::realloc(oldbase, nsize + HEADER);
  } else { // moving between the pool and malloc, or between classes
    base = cls ? pool_get(cls) : (nsize <= SIZE_MAX - HEADER ? std::malloc(nsize + HEADER) : nullptr);
    if (base) {
      size_t keep = block_payload(oldbase);
      if (keep > nsize) keep = nsize;
      std::memcpy(static_cast<char *>(base) + HEADER, ptr, keep);
      block_free(oldbase);
    }
  }
  if (!base) {
    if (final_attempt && p) {
      p->out_of_memory = 1;
      cpu_superyielding = SUPERYIELD;
    }
    return nullptr;
  }
  header(base) = ((int64_t)charge & CHARGE_MASK) | (int64_t)((uint64_t)cls << CLASS_SHIFT);
  if (p) p->mem_charged += (int64_t)charge - oldcharge;
  return static_cast<char *>(base) + HEADER;
}

void *l_alloc(void *ud, void *ptr, size_t osize, size_t nsize, int final_attempt, size_t charge) {
  (void)ud;
  (void)osize;
  Process *p = cproc;
  if (nsize == 0) {
    if (ptr) {
      void *base = static_cast<char *>(ptr) - HEADER;
      if (p) p->mem_charged -= stored_charge(base);
      block_free(base);
    }
    return nullptr;
  }
  int64_t cycles = (int64_t)(nsize / 64) + 4;
  if (cycles < 1) cycles = 1;
  cpu_add(cycles);
  if (p) p->alloc_cycles += cycles;
  // The common case inline: a new small block from its free list.
  size_t cls = class_of(nsize);
  if (ptr == nullptr && cls != 0 && free_blocks[cls] != nullptr &&
      !(p && p->mem_charged + (int64_t)charge > ALLOC_HARD_LIMIT)) {
    FreeBlock *b = free_blocks[cls];
    free_blocks[cls] = b->next;
    __builtin_prefetch(b->next, 1); // the next pop reads it: a block freed long ago is cold
    header(b) = ((int64_t)charge & CHARGE_MASK) | (int64_t)((uint64_t)cls << CLASS_SHIFT);
    if (p) p->mem_charged += (int64_t)charge;
    return reinterpret_cast<char *>(b) + HEADER;
  }
  return alloc_slow(p, ptr, nsize, final_attempt, charge);
}

// ---------------------------------------------------------------------------------------------
// Paged memory: only the low 24 bits of an address count; a zeroed page is attached on first
// touch, reads included; multi-byte access is little-endian and bytewise across pages.

static uint8_t *page_for(int64_t addr) {
  Process *p = cproc;
  if (!p) return nullptr;
  if (!p->memory) {
    p->memory = static_cast<ProcessMemory *>(std::calloc(1, sizeof(ProcessMemory)));
    if (!p->memory) return nullptr;
  }
  uint32_t a = (uint32_t)((uint64_t)addr & 0xFFFFFF);
  uint32_t pg = a >> 12;
  uint8_t *&slot = p->memory->page[pg];
  if (!slot) {
    slot = static_cast<uint8_t *>(std::calloc(1, PAGE_SIZE));
    if (!slot) return nullptr;
    p->memory->page_bytes += PAGE_SIZE;
  }
  return slot;
}

static inline uint8_t read_byte(int64_t addr) {
  uint8_t *pg = page_for(addr);
  return pg ? pg[(uint64_t)addr & 0xFFF] : 0;
}

static inline void write_byte(int64_t addr, uint8_t v) {
  uint8_t *pg = page_for(addr);
  if (!pg) return;
  pg[(uint64_t)addr & 0xFFF] = v;
  cproc->memory->dirty[((uint64_t)addr >> 12) & 0xFFF] = 1;
}

static uint64_t read_le(int64_t addr, int n) {
  uint64_t v = 0;
  for (int i = 0; i < n; i++)
    v |= (uint64_t)read_byte((int64_t)((uint64_t)addr + (uint64_t)i)) << (8 * i);
  return v;
}

static void write_le(int64_t addr, uint64_t v, int n) {
  for (int i = 0; i < n; i++) write_byte((int64_t)((uint64_t)addr + (uint64_t)i), (uint8_t)(v >> (8 * i)));
}

int peek(int64_t addr) { return read_byte(addr); }
int peek2(int64_t addr) { return (int16_t)(uint16_t)read_le(addr, 2); }
int32_t peek4(int64_t addr) { return (int32_t)(uint32_t)read_le(addr, 4); }
int64_t peek8(int64_t addr) { return (int64_t)read_le(addr, 8); }
void poke(int64_t addr, int64_t v) { write_le(addr, (uint64_t)v, 1); }
void poke2(int64_t addr, int64_t v) { write_le(addr, (uint64_t)v, 2); }
void poke4(int64_t addr, int64_t v) { write_le(addr, (uint64_t)v, 4); }
void poke8(int64_t addr, int64_t v) { write_le(addr, (uint64_t)v, 8); }

void free_process_memory(Process *p) {
  if (!p->memory) return;
  for (int i = 0; i < PAGE_COUNT; i++) std::free(p->memory->page[i]);
  std::free(p->memory);
  p->memory = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Processes.

Process *find_process(int id) {
  for (auto &p : processes)
    if (p.state != ProcState::Free && p.id == id) return &p;
  return nullptr;
}

static void open_process_state(lua_State *L, void *) {
  luaL_openlibs(L);
  api_add_c_functions(L);
  add_userdata_metatable_functions(L);
}

int init_process(Process *p, int id, const char *program, const char *name, const char *path,
                 char *err, size_t errlen, const char *chunkname) {
  Process *saved = cproc;
  std::memset(p, 0, sizeof(*p));
  p->id = id;
  std::snprintf(p->name, sizeof p->name, "%s", name ? name : "");
  std::snprintf(p->path, sizeof p->path, "%s", path ? path : "");
  p->state = ProcState::Running;
  cproc = p;
  lua_State *L = lua_newstate(l_alloc, p);
  if (!L) {
    if (err && errlen) std::snprintf(err, errlen, "not enough memory");
    p->state = ProcState::Free;
    cproc = saved;
    return 1;
  }
  p->L = L;
  size_t len = std::strlen(program); // text after a NUL is dropped
  p->source = static_cast<char *>(std::malloc(len + 1));
  int st = LUA_ERRMEM;
  // Only the host running out of memory can make the set-up fail; it must not end the host.
  if (p->source && luaD_rawrunprotected(L, open_process_state, nullptr) == LUA_OK) {
    std::memcpy(p->source, program, len + 1);
    char chunk[260];
    if (chunkname)
      std::snprintf(chunk, sizeof chunk, "%s", chunkname);
    else
      std::snprintf(chunk, sizeof chunk, "@%.255s", p->name);
    st = luaL_loadbufferx(L, p->source, len, chunk, nullptr);
  }
  if (st != LUA_OK) {
    const char *msg = st == LUA_ERRMEM ? "not enough memory" : lua_tostring(L, -1);
    if (err && errlen) std::snprintf(err, errlen, "%s", msg ? msg : "(error object is not a string)");
    lua_close(L);
    p->L = nullptr;
    std::free(p->source);
    p->source = nullptr;
    free_process_memory(p);
    p->state = ProcState::Free;
    cproc = saved;
    return 1;
  }
  cproc = saved;
  return 0;
}

void free_process(Process *p) {
  if (p->state == ProcState::Free) return;
  Process *saved = cproc;
  cproc = p;
  if (p->L) lua_close(p->L);
  p->L = nullptr;
  cproc = saved;
  std::free(p->source);
  p->source = nullptr;
  free_process_memory(p);
  p->state = ProcState::Free;
}

static void report_error(Process *p, const char *msg, const char *tb) {
  if (report_process_error)
    report_process_error(p, msg, tb);
  else
    std::fprintf(stderr, "%s\n%s\n", msg ? msg : "", tb ? tb : "");
}

struct ErrorReport {
  const char *msg; // the error object when it is a string or a number, else NULL
  const char *tb;  // NULL when the traceback could not be made
};

static void make_error_report(lua_State *L, void *ud) {
  ErrorReport *r = static_cast<ErrorReport *>(ud);
  // The thread died where the error struck: make room above the error object.
  if (!lua_checkstack(L, 2 * LUA_MINSTACK)) luaD_throw(L, LUA_ERRMEM);
  r->msg = lua_tostring(L, -1); // no metamethod: a number converts, anything else is NULL
  luaL_traceback(L, L, nullptr, 0);
  r->tb = lua_tostring(L, -1);
}

// Reads the error object and builds the traceback of a thread that died, leaving its stack as
// it was. The program can reach what the traceback reads (a field of the registry may be a
// metamethod's business) and memory may be exhausted, so nothing here may raise out: the work
// runs protected and unable to yield, where code of the program meets the cycle ceiling.
static void build_error_report(lua_State *L, ErrorReport *r) {
  r->msg = r->tb = nullptr;
  ptrdiff_t top = savestack(L, L->top);
  incnny(L);
  if (luaD_pcall(L, make_error_report, r, top, 0) != LUA_OK) { // no message handler
    r->tb = nullptr;
    L->top = restorestack(L, top);
  }
  decnny(L);
}

int64_t run_process_slice(Process *p, double fraction, int *status_out) {
  if (status_out) *status_out = -1;
  if (!p || p->state != ProcState::Running || !p->L) return 0;
  double want = fraction * FRAME_CYCLES;
  int64_t budget = frame_cycles_left;
  if (!(want >= (double)budget)) budget = (int64_t)want; // NaN runs nothing
  if (budget < 1) return 0;

  Process *saved = cproc;
  int32_t s_cycles = cpu_cycles, s_max = cpu_cycles_max, s_super = cpu_superyielding;
  int64_t s_work = native_work, s_work_limit = native_work_limit;
  cproc = p;
  cpu_cycles_max = (int32_t)budget;
  int64_t start = 0;
  if (p->debt > 0) {
    start = p->debt;
    if (start > budget) start = budget;
    if (start > MAX_DEBT_PER_SLICE) start = MAX_DEBT_PER_SLICE;
    p->debt -= start;
  }
  cpu_cycles = (int32_t)start;
  cpu_superyielding = 0;
  // A slice run from inside another one continues the outer count, so that the frame's native
  // work stays bounded however often the outer slice runs it, but it may take only its own
  // budget's share: one process that trips the meter leaves the others their shares.
  bool nested = s_work_limit != INT64_MAX;
  if (!nested) {
    native_work = 0;
    native_work_limit = NATIVE_WORK_FRAME;
  } else {
    int64_t share = native_work + budget * NATIVE_WORK_PER_CYCLE;
    native_work_limit = share < s_work_limit ? share : s_work_limit;
  }
  p->frame_ended = 0;

  lua_State *L = p->L;
  int nres = 0;
  int status = lua_resume(L, L, 0, &nres);

  int64_t booked = cpu_cycles;
  if (cpu_cycles > cpu_cycles_max) {
    p->debt += (int64_t)cpu_cycles - cpu_cycles_max;
    booked = (int64_t)cpu_cycles_max + 1;
  }
  p->cycles_this_frame += booked;
  p->last_slice_start = start;
  p->last_slice_end = cpu_cycles;

  if (status == LUA_YIELD) {
    // stays runnable
  } else if (status == LUA_OK) {
    p->state = ProcState::Ended;
  } else {
    // The report is built after the slice, so its allocations are no part of the slice's
    // tallies.
    int64_t alloc_tally = p->alloc_cycles, spend_tally = p->spend_cycles;
    ErrorReport r;
    build_error_report(L, &r);
    p->error = 1;
    report_error(p, r.msg, r.tb ? r.tb : "stack traceback:\n\t(unavailable)");
    p->alloc_cycles = alloc_tally;
    p->spend_cycles = spend_tally;
    p->state = ProcState::Error;
  }
  if (p->state == ProcState::Running || status == LUA_YIELD) {
    if (p->mem_charged + PROCESS_MEMORY_BASE > PROCESS_MEMORY_LIMIT) {
      lua_gc(L, LUA_GCCOLLECT);
      if (p->mem_charged + PROCESS_MEMORY_BASE > PROCESS_MEMORY_LIMIT) {
        report_error(p, "*runtime error: out of memory", nullptr);
        p->error = 1;
        p->out_of_memory = 1;
        p->state = ProcState::Error;
        status = LUA_ERRMEM;
      }
    }
  }
  cpu_cycles = s_cycles;
  cpu_cycles_max = s_max;
  cpu_superyielding = s_super;
  if (!nested) native_work = s_work;
  native_work_limit = s_work_limit;
  if (native_work > native_work_limit) native_work_spent(); // the outer slice ends too
  cproc = saved;
  if (status_out) *status_out = status;
  return booked;
}

// ---------------------------------------------------------------------------------------------
// The kernel's Lua globals.

static int k_stat(lua_State *L) {
  int64_t q = hvx_intp(L, 1, 0);
  if (q == 0) {
    lua_gc(L, LUA_GCCOLLECT);
    lua_pushinteger(L, cproc ? cproc->mem_charged + PROCESS_MEMORY_BASE : 0);
    return 1;
  }
  if (q == 3) {
    lua_gc(L, LUA_GCCOLLECT);
    lua_pushinteger(L, (lua_Integer)lua_gc(L, LUA_GCCOUNT) * 1024 + lua_gc(L, LUA_GCCOUNTB));
    return 1;
  }
  return 0;
}

static int k_signal(lua_State *L) {
  if (hvx_intp(L, 1, 0) == 38) lua_gc(L, LUA_GCCOLLECT);
  return 0;
}

static int k_run_process_slice(lua_State *L) {
  Process *p = find_process((int)hvx_intp(L, 1, 0));
  double fraction = lua_isnumber(L, 2) ? lua_tonumber(L, 2) : 1.0;
  if (!p || p == cproc || !p->L) {
    lua_pushboolean(L, 1);
    return 1;
  }
  int64_t booked = run_process_slice(p, fraction);
  frame_cycles_left -= (int32_t)(booked > frame_cycles_left ? frame_cycles_left : booked);
  bool suspended = p->state == ProcState::Running && p->L && lua_status(p->L) == LUA_YIELD;
  lua_pushboolean(L, !(suspended && !p->frame_ended));
  lua_pushinteger(L, booked);
  return 2;
}

static int k_yielded_to_escape_slice(lua_State *L) {
  if (lua_gettop(L) == 1 && lua_type(L, 1) == LUA_TNUMBER) {
    int isint = 0;
    lua_Integer v = lua_tointegerx(L, 1, &isint);
    L->slice_escape = (isint && v != 0) ? SUPERYIELD : 0;
    return 0;
  }
  lua_pushboolean(L, L->slice_escape != 0);
  return 1;
}

static int k_load(lua_State *L) {
  Process *p = cproc;
  if (p) p->load_nesting++;
  int n;
  try {
    n = luaB_load(L);
  } catch (...) {
    if (p && p->load_nesting > 0) p->load_nesting--;
    throw;
  }
  if (p && p->load_nesting > 0) p->load_nesting--;
  return n;
}

// A table, or a value whose metatable provides the three table events.
static void checktab7(lua_State *L, int arg) {
  if (lua_type(L, arg) == LUA_TTABLE) return;
  if (lua_getmetatable(L, arg)) {
    bool ok = true;
    for (const char *e : {"__index", "__newindex", "__len"}) {
      lua_pushstring(L, e);
      if (lua_rawget(L, -2) == LUA_TNIL) ok = false;
      lua_pop(L, 1);
    }
    lua_pop(L, 1);
    if (ok) return;
  }
  luaL_checktype(L, arg, LUA_TTABLE);
}

// A helper's loop runs inside one native call, out of reach of the cycle budget, while the
// length comes from "__len" and may be anything. One call visits at most MAX_VISITS elements,
// more than any table a process can hold, and then raises its argument error.
constexpr lua_Unsigned MAX_VISITS = lua_Unsigned(1) << 26;

// Of n elements, the number one call may visit.
static inline lua_Integer visitable(lua_Unsigned n) {
  return (lua_Integer)(n < MAX_VISITS ? n : MAX_VISITS);
}

static int k_add(lua_State *L) {
  checktab7(L, 1);
  lua_Integer e = luaL_intop(+, luaL_len(L, 1), 1); // first empty slot
  lua_Integer pos = e;
  if (lua_gettop(L) >= 3 && !lua_isnil(L, 3)) {
    pos = luaL_checkinteger(L, 3);
    // 1 <= pos <= e, in one unsigned comparison
    luaL_argcheck(L, (lua_Unsigned)pos - 1u < (lua_Unsigned)e, 3, "position out of bounds");
  }
  lua_Unsigned n = e > pos ? (lua_Unsigned)e - (lua_Unsigned)pos : 0; // elements to move up
  lua_Integer i = e;
  for (lua_Integer k = visitable(n); k > 0; k--, i--) {
    lua_geti(L, 1, i - 1);
    lua_seti(L, 1, i);
  }
  luaL_argcheck(L, n <= MAX_VISITS, 3, "position out of bounds");
  lua_pushvalue(L, 2);
  lua_seti(L, 1, pos);
  lua_pushvalue(L, 2);
  return 1;
}

// Removes element pos of 1..n (1 <= pos <= n), moving at most 'moves' elements down, and leaves
// it on the stack; false when more would have to move.
static bool remove_at(lua_State *L, lua_Integer pos, lua_Integer n, lua_Integer moves) {
  lua_geti(L, 1, pos); // result
  if (n - pos > moves) {
    for (; moves > 0; moves--, pos++) {
      lua_geti(L, 1, pos + 1);
      lua_seti(L, 1, pos);
    }
    return false;
  }
  for (; pos < n; pos++) {
    lua_geti(L, 1, pos + 1);
    lua_seti(L, 1, pos);
  }
  lua_pushnil(L);
  lua_seti(L, 1, pos);
  return true;
}

static int k_del(lua_State *L) {
  checktab7(L, 1);
  lua_Integer n = luaL_len(L, 1);
  lua_Integer m = n > 0 ? visitable((lua_Unsigned)n) : 0;
  for (lua_Integer i = 1; i <= m; i++) {
    lua_geti(L, 1, i);
    bool eq = lua_compare(L, -1, 2, LUA_OPEQ);
    lua_pop(L, 1);
    if (eq) {
      if (!remove_at(L, i, n, m - i)) break; // the search and the moves share the limit
      return 1;
    }
  }
  luaL_argcheck(L, n == m || n < 0, 1, "too many elements");
  return 0;
}

static int k_deli(lua_State *L) {
  checktab7(L, 1);
  lua_Integer n = luaL_len(L, 1);
  lua_Integer pos = luaL_optinteger(L, 2, n);
  if (n < 1 || pos < 1 || pos > n) return 0;
  luaL_argcheck(L, remove_at(L, pos, n, visitable((lua_Unsigned)(n - pos))), 2,
                "position out of bounds");
  return 1;
}

static int k_count(lua_State *L) {
  checktab7(L, 1);
  lua_Integer n = luaL_len(L, 1);
  if (lua_gettop(L) < 2) {
    lua_pushinteger(L, n);
    return 1;
  }
  lua_Integer m = n > 0 ? visitable((lua_Unsigned)n) : 0;
  lua_Integer c = 0;
  for (lua_Integer i = 1; i <= m; i++) {
    lua_geti(L, 1, i);
    if (lua_compare(L, -1, 2, LUA_OPEQ)) c++;
    lua_pop(L, 1);
  }
  luaL_argcheck(L, n == m || n < 0, 1, "too many elements");
  lua_pushinteger(L, c);
  return 1;
}

void api_add_c_functions(lua_State *L) {
  static const luaL_Reg funcs[] = {
      {"stat", k_stat},
      {"_signal", k_signal},
      {"_run_process_slice", k_run_process_slice},
      {"_yielded_to_escape_slice", k_yielded_to_escape_slice},
      {"load", k_load},
      {"add", k_add},
      {"del", k_del},
      {"deli", k_deli},
      {"count", k_count},
      {nullptr, nullptr},
  };
  lua_pushglobaltable(L);
  luaL_setfuncs(L, funcs, 0);
  lua_pop(L, 1);
}
