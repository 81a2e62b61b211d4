// A recording allocator for engine unit tests: it keeps every request, the live blocks with
// their charges, and can be told to refuse requests.
#pragma once

#include <cstdlib>
#include <map>
#include <vector>

#include "lua/lua.h"

struct AllocCall {
  bool fresh;      // no block given
  size_t osize;    // old size, or the object kind for a fresh block
  size_t nsize;
  int final_attempt;
  size_t charge;
  bool ok;
};

struct TestAlloc {
  std::map<void *, size_t> live;  // block -> charge
  std::vector<AllocCall> calls;
  long long charged = 0;
  // Refuse non-zero requests whose index (counting non-zero requests from 0) is in this
  // range; final attempts are refused too when fail_final is set.
  long long fail_from = -1, fail_to = -1;
  bool fail_final = false;
  long long requests = 0;
  // Refuse every fresh block of this object kind (first tries and final attempts alike).
  int refuse_kind = -1;

  void reset_log() { calls.clear(); }
  size_t live_blocks() const { return live.size(); }
};

inline void *test_alloc(void *ud, void *ptr, size_t osize, size_t nsize, int final_attempt,
                        size_t charge) {
  TestAlloc *a = static_cast<TestAlloc *>(ud);
  if (nsize == 0) {
    if (ptr != nullptr) {
      auto it = a->live.find(ptr);
      if (it != a->live.end()) {
        a->charged -= (long long)it->second;
        a->live.erase(it);
      }
      std::free(ptr);
    }
    a->calls.push_back({ptr == nullptr, osize, 0, final_attempt, charge, true});
    return nullptr;
  }
  long long idx = a->requests++;
  bool refuse = idx >= a->fail_from && idx < a->fail_to && (final_attempt == 0 || a->fail_final);
  if (ptr == nullptr && (long long)osize == a->refuse_kind) refuse = true;
  if (refuse) {
    a->calls.push_back({ptr == nullptr, osize, nsize, final_attempt, charge, false});
    return nullptr;
  }
  void *nb = std::realloc(ptr, nsize);
  if (nb == nullptr) return nullptr;
  long long old = 0;
  if (ptr != nullptr) {
    auto it = a->live.find(ptr);
    if (it != a->live.end()) {
      old = (long long)it->second;
      a->live.erase(it);
    }
  }
  a->live[nb] = charge;
  a->charged += (long long)charge - old;
  a->calls.push_back({ptr == nullptr, osize, nsize, final_attempt, charge, true});
  return nb;
}
