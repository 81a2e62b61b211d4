// Kernel services: the charging allocator, cycle counters and paged process memory.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "kernel/kernel.h"
#include "lua/auxlib.h"
#include "lua/libs.h"

namespace {

struct KernelFixture : ::testing::Test {
  Process proc{};
  void SetUp() override {
    std::memset(&proc, 0, sizeof proc);
    cproc = &proc;
    cpu_cycles = 0;
    cpu_superyielding = 0;
  }
  void TearDown() override {
    free_process_memory(&proc);
    cproc = nullptr;
    cpu_cycles = 0;
    cpu_superyielding = 0;
  }
};

TEST_F(KernelFixture, AllocChargesHeaderAndCycles) {
  void *b = l_alloc(nullptr, nullptr, 5, 100, 0, 120);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(proc.mem_charged, 120);
  EXPECT_EQ(cpu_cycles, 100 / 64 + 4);
  // A reallocation bills the new charge minus the stored one, and costs cycles again.
  b = l_alloc(nullptr, b, 100, 640, 0, 700);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(proc.mem_charged, 700);
  EXPECT_EQ(cpu_cycles, 5 + 640 / 64 + 4);
  // Shrinks cost cycles too.
  b = l_alloc(nullptr, b, 640, 8, 0, 16);
  EXPECT_EQ(proc.mem_charged, 16);
  EXPECT_EQ(cpu_cycles, 5 + 14 + 4);
  // Frees cost nothing and return the stored charge.
  EXPECT_EQ(l_alloc(nullptr, b, 8, 0, 0, 0), nullptr);
  EXPECT_EQ(proc.mem_charged, 0);
  EXPECT_EQ(cpu_cycles, 23);
  EXPECT_EQ(l_alloc(nullptr, nullptr, 0, 0, 0, 0), nullptr);
  EXPECT_EQ(cpu_cycles, 23);
  EXPECT_EQ(proc.alloc_cycles, 23);
}

TEST_F(KernelFixture, AllocFailurePaths) {
  // A request that would take the process far past its limit is refused.
  proc.mem_charged = ALLOC_HARD_LIMIT - 10;
  EXPECT_EQ(l_alloc(nullptr, nullptr, 0, 64, 0, 64), nullptr);
  EXPECT_EQ(proc.out_of_memory, 0); // not the final attempt: nothing else changes
  EXPECT_EQ(cpu_superyielding, 0);
  EXPECT_EQ(l_alloc(nullptr, nullptr, 0, 64, 1, 64), nullptr);
  EXPECT_EQ(proc.out_of_memory, 1);
  EXPECT_EQ(cpu_superyielding, SUPERYIELD);
  EXPECT_EQ(proc.mem_charged, ALLOC_HARD_LIMIT - 10);
}

TEST_F(KernelFixture, CycleCounterSaturates) {
  cpu_cycles = INT32_MAX - 3;
  spend_cpu(100);
  EXPECT_EQ(cpu_cycles, INT32_MAX);
  void *b = l_alloc(nullptr, nullptr, 0, 1 << 20, 0, 1 << 20);
  EXPECT_EQ(cpu_cycles, INT32_MAX);
  l_alloc(nullptr, b, 0, 0, 0, 0);
}

TEST_F(KernelFixture, SpendCpu) {
  spend_cpu(-5);
  EXPECT_EQ(cpu_cycles, 0);
  spend_cpu(0);
  EXPECT_EQ(cpu_cycles, 1);
  spend_cpu(1);
  EXPECT_EQ(cpu_cycles, 2);
  spend_cpu(7);
  EXPECT_EQ(cpu_cycles, 9);
  EXPECT_EQ(proc.spend_cycles, 9);
}

TEST_F(KernelFixture, PeekPokeAcrossPagesAndHighBits) {
  EXPECT_EQ(peek(0x1234), 0); // first touch attaches a zeroed page, reads included
  EXPECT_EQ(proc.memory->page_bytes, PAGE_SIZE);
  poke(0x0FFF, 0x1AB); // low byte only
  EXPECT_EQ(peek(0x0FFF), 0xAB);
  poke2(0x1FFF, 0x8001); // straddles two pages, little-endian
  EXPECT_EQ(peek(0x1FFF), 0x01);
  EXPECT_EQ(peek(0x2000), 0x80);
  EXPECT_EQ(peek2(0x1FFF), -32767); // sign-extended
  poke4(0x2FFE, 0xDEADBEEF);
  EXPECT_EQ((uint32_t)peek4(0x2FFE), 0xDEADBEEFu);
  EXPECT_EQ(peek(0x3001), 0xDE);
  poke8(0x3FFC, (int64_t)0x0123456789ABCDEFull);
  EXPECT_EQ(peek8(0x3FFC), (int64_t)0x0123456789ABCDEFull);
  // Only the low 24 bits of an address count.
  EXPECT_EQ(peek(0x1000FFF), 0xAB);
  EXPECT_EQ(peek(-1), peek(0xFFFFFF));
  poke(0x7F000010, 9);
  EXPECT_EQ(peek(0x10), 9);
  // An access wrapping past the top of the address space continues at 0.
  poke2(0xFFFFFF, 0x0102);
  EXPECT_EQ(peek(0xFFFFFF), 2);
  EXPECT_EQ(peek(0), 1);
}

TEST(KernelState, HvxIntp) {
  Process p{};
  cproc = &p;
  lua_State *L = lua_newstate(l_alloc, &p);
  ASSERT_NE(L, nullptr);
  lua_pushinteger(L, -7);
  lua_pushnumber(L, -2.5);
  lua_pushstring(L, "3.9");
  lua_pushstring(L, "0x10");
  lua_pushstring(L, "zz");
  lua_pushboolean(L, 1);
  lua_pushnumber(L, NAN);
  lua_pushnumber(L, INFINITY);
  lua_pushnumber(L, -1e300);
  EXPECT_EQ(hvx_intp(L, 1, 99), -7);
  EXPECT_EQ(hvx_intp(L, 2, 99), -3);
  EXPECT_EQ(hvx_intp(L, 3, 99), 3);
  EXPECT_EQ(hvx_intp(L, 4, 99), 16);
  EXPECT_EQ(hvx_intp(L, 5, 99), 99);
  EXPECT_EQ(hvx_intp(L, 6, 99), 99);
  EXPECT_EQ(hvx_intp(L, 7, 99), 99);       // NaN gives the default
  EXPECT_EQ(hvx_intp(L, 8, 99), INT64_MAX); // infinities saturate
  EXPECT_EQ(hvx_intp(L, 9, 99), INT64_MIN);
  EXPECT_EQ(hvx_intp(L, 10, 99), 99);       // absent
  lua_close(L);
  EXPECT_EQ(p.mem_charged, 0);
  cproc = nullptr;
}

TEST(KernelProcess, SliceBudgetAndDebt) {
  Process *p = &processes[5];
  ASSERT_EQ(init_process(p, 77, "local x = 0 while true do x = x + 1 end", "spin", "spin"), 0);
  frame_cycles_left = FRAME_CYCLES;
  int status = -1;
  int64_t booked = run_process_slice(p, 0.001, &status);
  EXPECT_EQ(status, LUA_YIELD);
  int64_t budget = (int64_t)(0.001 * FRAME_CYCLES);
  EXPECT_EQ(booked, budget + 1); // over the budget by the last instruction
  EXPECT_GT(p->last_slice_end, budget);
  EXPECT_EQ(p->debt, p->last_slice_end - budget);
  // The debt is carried into the next slice's starting count.
  int64_t debt = p->debt;
  run_process_slice(p, 0.001, &status);
  EXPECT_EQ(p->last_slice_start, debt);
  // Nothing runs when the budget is below one cycle.
  EXPECT_EQ(run_process_slice(p, 0.0, &status), 0);
  free_process(p);
  EXPECT_EQ(p->state, ProcState::Free);
}

// A slice run from inside another continues the outer slice's native work meter but may take
// only its budget's share: a child that trips it leaves the other children their shares, and
// once the frame's worth is spent the parent's slice ends too, instead of running the child
// again and again for a few cycles each while the parent's own budget lasts.
TEST(KernelProcess, NestedSlicesShareTheNativeWorkMeter) {
  Process *child = &processes[7], *parent = &processes[8], *quiet = &processes[9];
  ASSERT_EQ(init_process(child, 90,
                         "local s = string.rep('\\u{20AC}', 1 << 18) "
                         "while true do utf8.len(s) end",
                         "child", "child"),
            0);
  ASSERT_EQ(init_process(quiet, 92, "local x = 0 while true do x = x + 1 end", "quiet", "quiet"),
            0);
  ASSERT_EQ(init_process(parent, 91,
                         "_run_process_slice(90, 0.25) _run_process_slice(92, 0.25) "
                         "while true do _run_process_slice(90, 0.25) end",
                         "parent", "parent"),
            0);
  frame_cycles_left = FRAME_CYCLES;
  int status = -1;
  run_process_slice(parent, 1.0, &status);
  EXPECT_EQ(status, LUA_YIELD);
  EXPECT_LT(parent->last_slice_end, 1000); // a few child slices, then the parent's own yield
  EXPECT_EQ(child->state, ProcState::Running);
  EXPECT_LT(child->cycles_this_frame, FRAME_CYCLES / 8); // its slices ended on the meter
  EXPECT_EQ(quiet->cycles_this_frame, FRAME_CYCLES / 4 + 1); // a whole slice of its own
  EXPECT_EQ(native_work_limit, INT64_MAX); // outside any slice again
  free_process(parent);
  free_process(child);
  free_process(quiet);
}

TEST(KernelProcess, CompileErrorReported) {
  Process *p = &processes[6];
  char err[256] = {0};
  EXPECT_EQ(init_process(p, 78, "x = = 1", "bad", "bad", err, sizeof err), 1);
  EXPECT_NE(std::strstr(err, "bad:1:"), nullptr) << err;
  EXPECT_EQ(p->state, ProcState::Free);
}

// What a script cannot see: the report a dead process leaves, and the kernel going on after it.
const char *report_msg;
std::string report_tb;
void capture_report(Process *, const char *msg, const char *tb) {
  report_msg = msg;
  report_tb = tb ? tb : "(null)";
}

TEST(KernelProcess, DeadProcessReportRaisesNothing) {
  auto saved = report_process_error;
  report_process_error = capture_report;
  Process *bad = &processes[7], *good = &processes[8];
  ASSERT_EQ(init_process(bad, 79, R"(
    debug.getregistry()._LOADED = nil
    setmetatable(debug.getregistry(), {__index = function() while true do end end})
    error(setmetatable({}, {__tostring = function() error("x") end}))
  )", "bad", "bad"), 0);
  ASSERT_EQ(init_process(good, 80, "local n = 0 for i = 1, 1000 do n = n + i end x = n", "good",
                         "good"), 0);
  frame_cycles_left = FRAME_CYCLES;
  int status = -1;
  run_process_slice(bad, 0.5, &status);
  EXPECT_EQ(status, LUA_ERRRUN);
  EXPECT_EQ(bad->state, ProcState::Error);
  EXPECT_EQ(report_msg, nullptr); // a table is not a string: its __tostring is never called
  EXPECT_EQ(report_tb, "stack traceback:\n\t(unavailable)");
  run_process_slice(good, 0.5, &status);
  EXPECT_EQ(status, LUA_OK);
  lua_getglobal(good->L, "x");
  EXPECT_EQ(lua_tointeger(good->L, -1), 500500);
  free_process(bad);
  free_process(good);
  report_process_error = saved;
}

} // namespace
