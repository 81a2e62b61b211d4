// The growable byte buffer under the storage formats, and the fixed-width hex readers that
// the typed userdata initialisers use.
#pragma once

#include <cstdint>

struct Buffer {
  int64_t capacity; // bytes allocated for data, the terminating zero byte included
  uint8_t *data;    // always zero past length
  int32_t group;    // statistics group tag
  int64_t length;
  int64_t cursor;
};

// Process-wide buffer statistics: live buffers and the bytes they hold.
extern int64_t buffer_stat_count;
extern int64_t buffer_stat_bytes;

// A new buffer of capacity max(size, 0) + 1 zeroed bytes; NULL when memory runs out.
Buffer *create_buffer_2(int64_t size, int32_t group);
// Ensures room for n bytes plus a terminating zero: below that the capacity becomes
// (n + 1) * 2 with the new bytes zeroed. 0 on success, -1 when memory runs out (the buffer
// is left as it was).
int ballocate(Buffer *b, int64_t n);
void free_buffer(Buffer *b);

// Digit values of '0'-'9', 'a'-'f', 'A'-'F'; every other character counts 0.
extern const uint8_t hex_digit_to_int[256];

// Each reads a fixed group of hex digits, most significant first, and moves the cursor past
// it. A text that ends before the group is complete gives 0 and leaves the cursor on the
// terminating zero byte, so every later read gives 0 too.
uint8_t read_u8_from_hex_str(const char **cursor);
int16_t read_i16_from_hex_str(const char **cursor);
int32_t read_i32_from_hex_str(const char **cursor);
int64_t read_i64_from_hex_str(const char **cursor);
