// copy (the element-wise convention with x ∘ y = y), take, clear and the f64 scratch copies
// of the matrix operations.
#include <algorithm>

#include "storage/buffer.h"
#include "userdata/ud_internal.h"
#include "userdata/ud_ops.h"

int lua54_ud_copy(lua_State *L) {
  UdView ib;
  // An i32 second argument makes the call a gather through an index list.
  if (ud_view(L, 2, &ib) && ib.type == UT_I32) return lua54_ud_take(L);
  return ud_op(L, UdOp::Copy);
}

// Rounds up; both arguments positive.
static int64_t ceil_div(int64_t a, int64_t b) { return (a + b - 1) / b; }

int lua54_ud_take(lua_State *L) {
  UdView src, idx, dv;
  if (!ud_view(L, 2, &idx) || idx.type != UT_I32 || !ud_view(L, 1, &src)) return 0;
  int64_t ioff = ud_arg(L, 4, 0), doff = ud_arg(L, 5, 0), span = ud_arg(L, 6, 1);
  int64_t istride = ud_arg(L, 7, 1), dstride = ud_arg(L, 8, span);
  int64_t defcount = span == 1 ? (int64_t)idx.h->width * idx.h->height : (int64_t)idx.h->width;
  int64_t count = ud_arg(L, 9, defcount);

  if (lua_type(L, 3) == LUA_TUSERDATA) {
    if (!ud_view(L, 3, &dv)) return 0;
    lua_pushvalue(L, 3);
  } else if (lua_toboolean(L, 3)) {
    dv = src;
    lua_pushvalue(L, 1);
  } else {
    const char *tn = get_utype_string(src.type);
    UserdataHeader *h =
        span == 1 ? create_userdata(L, tn, idx.h->dims, (int32_t)idx.h->width,
                                    (int32_t)idx.h->height, 1, nullptr)
                  : create_userdata(L, tn, 2, (int32_t)span, (int32_t)count, 1, nullptr);
    if (!h) return 0;
    ud_view(L, -1, &dv);
  }

  // Index elements the walk can reach, rounded up; a stride of 0 repeats one index element.
  int64_t icount = idx.count, usable;
  if (istride > 0) {
    int64_t avail = icount - ioff;
    usable = avail <= 0 ? 0 : (avail + istride - 1) / istride;
  } else if (istride < 0) {
    usable = ioff < 0 ? 0 : ioff / -istride + 1;
  } else {
    usable = ioff >= 0 && ioff < icount ? INT64_MAX : 0;
  }
  uint64_t limit = (uint32_t)(int32_t)count; // a negative count sets no limit
  uint64_t n64 = (uint64_t)usable < limit ? (uint64_t)usable : limit;
  int32_t n = (int32_t)(uint32_t)n64;
  if (n < 1) {
    spend_cpu(n / 2);
    return 1;
  }

  const int es = src.esize;
  // The destination counted in source elements, whatever its own type.
  int64_t scount = src.count, dcount = dv.count * dv.esize / es;
  bool same = dv.data == src.data;
  int64_t copied = 0, work = 0;
  for (int64_t i = 0; i < n && work < UD_WORK_MAX && span > 0; i++) {
    int64_t j = ioff + i * istride;
    // Once the index walk or the destination walk has left its range for good, no later
    // run can copy anything.
    if ((istride > 0 && j >= icount) || (istride < 0 && j < 0)) break;
    int64_t p = doff + i * dstride;
    if ((dstride >= 0 && p >= dcount) || (dstride <= 0 && p <= -span)) break;
    // Runs wholly before the index elements or the destination are passed over at once.
    int64_t next = i;
    if (istride > 0 && j < 0) next = std::max(next, i + ceil_div(-j, istride));
    if (istride < 0 && j >= icount) next = std::max(next, i + ceil_div(j - icount + 1, -istride));
    if (dstride > 0 && p <= -span) next = std::max(next, i + ceil_div(-span - p + 1, dstride));
    if (dstride < 0 && p >= dcount) next = std::max(next, i + ceil_div(p - dcount + 1, -dstride));
    if (next > i) {
      i = next - 1;
      continue;
    }
    if (j < 0 || j >= icount) {
      work++;
      continue;
    }
    int32_t k32;
    memcpy(&k32, idx.data + j * 4, 4);
    int64_t k = k32;
    int64_t len = span;
    if (scount - k < len) len = scount - k;
    if (dcount - p < len) len = dcount - p;
    len += (p < 0 ? p : 0) + (k < 0 ? k : 0);
    if (len > 0) {
      if (len > UD_WORK_MAX - work) len = UD_WORK_MAX - work;
      uint8_t *d = dv.data + (p < 0 ? 0 : p) * es;
      const uint8_t *s = src.data + (k < 0 ? 0 : k) * es;
      // In place, one element after another, so a run may read what it just wrote.
      if (!same) memcpy(d, s, (size_t)(len * es));
      else
        for (int64_t t = 0; t < len; t++) memmove(d + t * es, s + t * es, es);
      copied += len;
    }
    work += len > 0 ? len : 1;
    // Repeating one index element into one place repeats the same run: nothing more to
    // copy when it is empty, or between two userdata (where a copy is idempotent) beyond
    // counting the runs as done.
    if (istride == 0 && dstride == 0) {
      if (len > 0 && !same) {
        int64_t more = std::min((n - 1 - i) * len, UD_WORK_MAX - work);
        copied += more;
        work += more;
      }
      if (len <= 0 || !same) break;
    }
  }
  int64_t k = src.type == UT_I64 || src.type == UT_F64 ? 12 : 24;
  ud_charge(copied / k + n / 2);
  return 1;
}

int lua54_ud_clear(lua_State *L) {
  UdView v;
  if (!ud_view(L, 1, &v)) return 0;
  memset(v.data, 0, (size_t)(v.count * v.esize));
  ud_charge(v.count * v.esize * 8 / 512);
  return 0;
}

static Buffer *dat_storage[2];
static bool temp_dat_inited = false;

double *copy_dat(int slot, const double *src, int64_t n) {
  if (!temp_dat_inited) {
    dat_storage[0] = create_buffer_2(1024, 115);
    dat_storage[1] = create_buffer_2(1024, 115);
    temp_dat_inited = true;
  }
  if (slot < 0 || slot > 1 || n < 0 || !dat_storage[slot]) return nullptr;
  Buffer *b = dat_storage[slot];
  if (ballocate(b, n * 8) != 0) return nullptr;
  memcpy(b->data, src, (size_t)(n * 8));
  ud_charge(n >> 8);
  return (double *)b->data;
}
