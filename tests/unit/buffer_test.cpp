// Buffer growth and the fixed-width hex readers.
#include <gtest/gtest.h>

#include <cstring>

#include "storage/buffer.h"

TEST(Buffer, CreateZeroedWithTerminator) {
  int64_t count0 = buffer_stat_count, bytes0 = buffer_stat_bytes;
  Buffer *b = create_buffer_2(1024, 115);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->capacity, 1025);
  EXPECT_EQ(b->group, 115);
  EXPECT_EQ(b->length, 0);
  EXPECT_EQ(b->cursor, 0);
  for (int i = 0; i < 1025; i++) ASSERT_EQ(b->data[i], 0) << i;
  EXPECT_EQ(buffer_stat_count, count0 + 1);
  EXPECT_GT(buffer_stat_bytes, bytes0 + 1024);
  free_buffer(b);
  EXPECT_EQ(buffer_stat_count, count0);
  EXPECT_EQ(buffer_stat_bytes, bytes0);
}

TEST(Buffer, NegativeSizeGivesOneByte) {
  Buffer *b = create_buffer_2(-5, 1);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->capacity, 1);
  EXPECT_EQ(b->data[0], 0);
  free_buffer(b);
}

TEST(Buffer, BallocateGrowsToTwiceTheNeedAndZeroes) {
  Buffer *b = create_buffer_2(1024, 115);
  memset(b->data, 0xAB, (size_t)b->capacity);
  EXPECT_EQ(ballocate(b, 1024), 0); // capacity 1025 already holds 1024 + 1
  EXPECT_EQ(b->capacity, 1025);
  EXPECT_EQ(ballocate(b, 8000), 0);
  EXPECT_EQ(b->capacity, 16002);
  EXPECT_EQ(b->data[1024], 0xAB); // old bytes kept
  for (int64_t i = 1025; i < 16002; i++) ASSERT_EQ(b->data[i], 0) << i;
  EXPECT_EQ(ballocate(b, 800), 0); // never shrinks
  EXPECT_EQ(b->capacity, 16002);
  EXPECT_EQ(ballocate(b, 16001), 0);
  EXPECT_EQ(b->capacity, 16002);
  EXPECT_EQ(ballocate(b, 16002), 0);
  EXPECT_EQ(b->capacity, 32006);
  EXPECT_EQ(ballocate(b, INT64_MAX / 2), -1); // refused, buffer unchanged
  EXPECT_EQ(b->capacity, 32006);
  free_buffer(b);
}

TEST(HexDigits, Table) {
  EXPECT_EQ(hex_digit_to_int[(unsigned char)'0'], 0);
  EXPECT_EQ(hex_digit_to_int[(unsigned char)'9'], 9);
  EXPECT_EQ(hex_digit_to_int[(unsigned char)'a'], 10);
  EXPECT_EQ(hex_digit_to_int[(unsigned char)'F'], 15);
  EXPECT_EQ(hex_digit_to_int[(unsigned char)'g'], 0);
  EXPECT_EQ(hex_digit_to_int[(unsigned char)' '], 0);
  EXPECT_EQ(hex_digit_to_int[0xff], 0);
}

TEST(HexReaders, GroupsMostSignificantFirst) {
  const char *s = "01ffA0";
  const char *p = s;
  EXPECT_EQ(read_u8_from_hex_str(&p), 0x01);
  EXPECT_EQ(p, s + 2);
  EXPECT_EQ(read_u8_from_hex_str(&p), 0xff);
  EXPECT_EQ(read_u8_from_hex_str(&p), 0xa0);
  EXPECT_EQ(*p, 0);
  // At the end every read gives 0 and the cursor stays on the NUL.
  EXPECT_EQ(read_u8_from_hex_str(&p), 0);
  EXPECT_EQ(p, s + 6);
}

TEST(HexReaders, NonHexCountsZero) {
  const char *p = "zz1g";
  EXPECT_EQ(read_u8_from_hex_str(&p), 0);
  EXPECT_EQ(read_u8_from_hex_str(&p), 0x10);
}

TEST(HexReaders, ShortGroupIsZeroAndStopsOnNul) {
  const char *s = "fff";
  const char *p = s;
  EXPECT_EQ(read_i16_from_hex_str(&p), 0);
  EXPECT_EQ(p, s + 3);
  EXPECT_EQ(*p, 0);
  EXPECT_EQ(read_i16_from_hex_str(&p), 0);
  EXPECT_EQ(p, s + 3);
}

TEST(HexReaders, SignedWidths) {
  const char *p = "fffe0003";
  EXPECT_EQ(read_i16_from_hex_str(&p), -2);
  EXPECT_EQ(read_i16_from_hex_str(&p), 3);
  p = "80000000ffffffff";
  EXPECT_EQ(read_i32_from_hex_str(&p), INT32_MIN);
  EXPECT_EQ(read_i32_from_hex_str(&p), -1);
  p = "8000000000000001" "00000000000000ff";
  EXPECT_EQ(read_i64_from_hex_str(&p), (int64_t)(UINT64_C(1) << 63 | 1));
  EXPECT_EQ(read_i64_from_hex_str(&p), 255);
  p = "123456789abcdef"; // 15 digits: short
  EXPECT_EQ(read_i64_from_hex_str(&p), 0);
  EXPECT_EQ(*p, 0);
}
