// Growable byte buffers and hex group readers.
#include "storage/buffer.h"

#include <cstdlib>
#include <cstring>

int64_t buffer_stat_count = 0;
int64_t buffer_stat_bytes = 0;

// Larger requests are refused rather than risking size arithmetic overflow.
static constexpr int64_t BUFFER_MAX = INT64_C(1) << 40;

Buffer *create_buffer_2(int64_t size, int32_t group) {
  if (size < 0) size = 0;
  if (size > BUFFER_MAX) return nullptr;
  Buffer *b = (Buffer *)calloc(1, sizeof(Buffer));
  if (!b) return nullptr;
  b->data = (uint8_t *)calloc((size_t)size + 1, 1);
  if (!b->data) {
    free(b);
    return nullptr;
  }
  b->capacity = size + 1;
  b->group = group;
  buffer_stat_count++;
  buffer_stat_bytes += b->capacity + (int64_t)sizeof(Buffer);
  return b;
}

int ballocate(Buffer *b, int64_t n) {
  if (n < 0) n = 0;
  if (b->capacity >= n + 1) return 0;
  if (n > BUFFER_MAX) return -1;
  int64_t ncap = (n + 1) * 2;
  uint8_t *nd = (uint8_t *)realloc(b->data, (size_t)ncap);
  if (!nd) return -1;
  memset(nd + b->capacity, 0, (size_t)(ncap - b->capacity));
  buffer_stat_bytes += ncap - b->capacity;
  b->data = nd;
  b->capacity = ncap;
  return 0;
}

void free_buffer(Buffer *b) {
  if (!b) return;
  buffer_stat_count--;
  buffer_stat_bytes -= b->capacity + (int64_t)sizeof(Buffer);
  free(b->data);
  free(b);
}

static constexpr uint8_t hex_value(int c) {
  return (c >= '0' && c <= '9')   ? (uint8_t)(c - '0')
         : (c >= 'a' && c <= 'f') ? (uint8_t)(c - 'a' + 10)
         : (c >= 'A' && c <= 'F') ? (uint8_t)(c - 'A' + 10)
                                  : 0;
}

struct HexTable {
  uint8_t v[256];
  constexpr HexTable() : v() {
    for (int i = 0; i < 256; i++) v[i] = hex_value(i);
  }
};
static constexpr HexTable hex_table{};
const uint8_t hex_digit_to_int[256] = {
#define H16(b)                                                                            \
  hex_table.v[b + 0], hex_table.v[b + 1], hex_table.v[b + 2], hex_table.v[b + 3],         \
      hex_table.v[b + 4], hex_table.v[b + 5], hex_table.v[b + 6], hex_table.v[b + 7],     \
      hex_table.v[b + 8], hex_table.v[b + 9], hex_table.v[b + 10], hex_table.v[b + 11],   \
      hex_table.v[b + 12], hex_table.v[b + 13], hex_table.v[b + 14], hex_table.v[b + 15]
    H16(0),   H16(16),  H16(32),  H16(48),  H16(64),  H16(80),  H16(96),  H16(112),
    H16(128), H16(144), H16(160), H16(176), H16(192), H16(208), H16(224), H16(240),
#undef H16
};

// Reads `digits` hex digits into an unsigned value; 0 with the cursor on the NUL when the
// text ends first.
static uint64_t read_hex_group(const char **cursor, int digits) {
  const char *p = *cursor;
  uint64_t v = 0;
  for (int i = 0; i < digits; i++) {
    unsigned char c = (unsigned char)p[i];
    if (c == 0) {
      *cursor = p + i;
      return 0;
    }
    v = (v << 4) | hex_digit_to_int[c];
  }
  *cursor = p + digits;
  return v;
}

uint8_t read_u8_from_hex_str(const char **cursor) { return (uint8_t)read_hex_group(cursor, 2); }

int16_t read_i16_from_hex_str(const char **cursor) {
  return (int16_t)(uint16_t)read_hex_group(cursor, 4);
}

int32_t read_i32_from_hex_str(const char **cursor) {
  return (int32_t)(uint32_t)read_hex_group(cursor, 8);
}

int64_t read_i64_from_hex_str(const char **cursor) {
  return (int64_t)read_hex_group(cursor, 16);
}
