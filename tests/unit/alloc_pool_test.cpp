// The allocator's small-block pool: contents survive every kind of resize (within a size
// class, between classes, between the pool and malloc), charges and cycles are billed as for
// any block, and a refused request leaves the old block intact.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "kernel/kernel.h"

namespace {

struct AllocPool : ::testing::Test {
  Process proc{};
  void SetUp() override {
    std::memset(&proc, 0, sizeof proc);
    cproc = &proc;
    cpu_cycles = 0;
    cpu_superyielding = 0;
  }
  void TearDown() override {
    cproc = nullptr;
    cpu_cycles = 0;
    cpu_superyielding = 0;
  }
  static void fill(void *p, size_t n, unsigned char seed) {
    for (size_t i = 0; i < n; i++) static_cast<unsigned char *>(p)[i] = (unsigned char)(seed + i);
  }
  static bool same(const void *p, size_t n, unsigned char seed) {
    for (size_t i = 0; i < n; i++)
      if (static_cast<const unsigned char *>(p)[i] != (unsigned char)(seed + i)) return false;
    return true;
  }
};

TEST_F(AllocPool, ResizesKeepContentsAcrossClassesAndMalloc) {
  // 1 -> 9 (same class) -> 100 -> 500 (largest pooled sizes) -> 4000 (malloc) -> 20 (pool)
  size_t sizes[] = {1, 9, 100, 500, 503, 4000, 70000, 20, 0};
  void *b = l_alloc(nullptr, nullptr, 0, sizes[0], 0, 7);
  ASSERT_NE(b, nullptr);
  fill(b, sizes[0], 3);
  size_t kept = sizes[0];
  int64_t cycles = 4;
  for (int k = 1; sizes[k] != 0; k++) {
    void *nb = l_alloc(nullptr, b, sizes[k - 1], sizes[k], 0, sizes[k] + 7);
    ASSERT_NE(nb, nullptr) << sizes[k];
    size_t check = kept < sizes[k] ? kept : sizes[k];
    EXPECT_TRUE(same(nb, check, 3)) << "resize to " << sizes[k];
    fill(nb, sizes[k], 3);
    kept = sizes[k];
    b = nb;
    cycles += (int64_t)(sizes[k] / 64) + 4;
    EXPECT_EQ(proc.mem_charged, (int64_t)sizes[k] + 7);
    EXPECT_EQ(cpu_cycles, cycles);
  }
  l_alloc(nullptr, b, kept, 0, 0, 0);
  EXPECT_EQ(proc.mem_charged, 0);
  EXPECT_EQ(cpu_cycles, cycles); // frees are free
}

TEST_F(AllocPool, ManyBlocksStayDistinctAndAreReused) {
  std::vector<void *> blocks;
  for (int i = 0; i < 5000; i++) {
    size_t n = 1 + (size_t)(i * 37) % 600; // pooled and not
    void *b = l_alloc(nullptr, nullptr, 0, n, 0, n + 32);
    ASSERT_NE(b, nullptr);
    fill(b, n, (unsigned char)i);
    blocks.push_back(b);
  }
  for (int i = 0; i < 5000; i++) {
    size_t n = 1 + (size_t)(i * 37) % 600;
    ASSERT_TRUE(same(blocks[i], n, (unsigned char)i)) << i;
  }
  int64_t charged = proc.mem_charged;
  for (int i = 0; i < 5000; i += 2) {
    size_t n = 1 + (size_t)(i * 37) % 600;
    charged -= (int64_t)(n + 32);
    l_alloc(nullptr, blocks[i], n, 0, 0, 0);
  }
  EXPECT_EQ(proc.mem_charged, charged);
  // freed blocks come back for requests of their size; the survivors are untouched
  for (int i = 0; i < 5000; i += 2) {
    size_t n = 1 + (size_t)(i * 37) % 600;
    blocks[i] = l_alloc(nullptr, nullptr, 0, n, 0, n + 32);
    ASSERT_NE(blocks[i], nullptr);
    fill(blocks[i], n, (unsigned char)(i + 1));
  }
  for (int i = 0; i < 5000; i++) {
    size_t n = 1 + (size_t)(i * 37) % 600;
    ASSERT_TRUE(same(blocks[i], n, (unsigned char)(i + (i % 2 == 0)))) << i;
    l_alloc(nullptr, blocks[i], n, 0, 0, 0);
  }
  EXPECT_EQ(proc.mem_charged, 0);
}

TEST_F(AllocPool, RefusedResizeKeepsTheOldBlock) {
  void *b = l_alloc(nullptr, nullptr, 0, 40, 0, 64);
  ASSERT_NE(b, nullptr);
  fill(b, 40, 9);
  proc.mem_charged = ALLOC_HARD_LIMIT - 10; // as if the process held nearly everything
  EXPECT_EQ(l_alloc(nullptr, b, 40, 300, 0, 400), nullptr);
  EXPECT_TRUE(same(b, 40, 9));
  EXPECT_EQ(proc.mem_charged, ALLOC_HARD_LIMIT - 10);
  EXPECT_EQ(proc.out_of_memory, 0);
  // a new small block is refused on the fast path too, and flagged on the final attempt
  EXPECT_EQ(l_alloc(nullptr, nullptr, 0, 40, 1, 64), nullptr);
  EXPECT_EQ(proc.out_of_memory, 1);
  EXPECT_EQ(cpu_superyielding, SUPERYIELD);
  proc.mem_charged = 64;
  l_alloc(nullptr, b, 40, 0, 0, 0);
  EXPECT_EQ(proc.mem_charged, 0);
}

TEST_F(AllocPool, NoProcessIsBilledWithoutOne) {
  cproc = nullptr;
  void *b = l_alloc(nullptr, nullptr, 0, 24, 0, 56);
  ASSERT_NE(b, nullptr);
  b = l_alloc(nullptr, b, 24, 1000, 0, 1032);
  ASSERT_NE(b, nullptr);
  l_alloc(nullptr, b, 1000, 0, 0, 0);
  EXPECT_EQ(proc.mem_charged, 0);
  EXPECT_EQ(cpu_cycles, 4 + 1000 / 64 + 4);
}

} // namespace
