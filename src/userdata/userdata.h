// Typed userdata: a dense array of u8, i16, i32, i64 or f64 elements behind a 16-byte header,
// the one numeric container of the workstation (vectors, matrices, bitmaps, maps).
#pragma once

#include <cstdint>

#include "lua/lua.h"

struct UserdataHeader {
  uint8_t type;        // element type code; readers use type & 31
  uint8_t dims;        // dimension count: 1 or 2
  uint8_t reserved[2]; // zero
  uint32_t width;
  uint32_t height;     // 1 when one-dimensional
  uint32_t depth;      // 1 as created
};
static_assert(sizeof(UserdataHeader) == 16, "the header is 16 bytes");

// Element type codes: bits 0-2 log2 of the element bits, 8 signed integer, 16 float.
enum : int {
  UT_U8 = 3,
  UT_I16 = 12,
  UT_I32 = 13,
  UT_I64 = 14,
  UT_F64 = 22,
};

// Largest data area of one typed userdata.
constexpr int64_t UD_MAX_DATA = 16777216;

inline uint8_t *ud_data(UserdataHeader *h) { return (uint8_t *)(h + 1); }
// Bytes per element of a type code.
inline int ud_esize(int code) { return (1 << (code & 7)) >> 3; }

extern const char *const utype_string[23];
const char *get_utype_string(int code);
int str_to_utype(const char *name);

// Creates and pushes a typed userdata; NULL with nothing pushed when refused.
UserdataHeader *create_userdata(lua_State *L, const char *type, int dims, int32_t width,
                                int32_t height, int32_t depth, const char *text);
// Pushes a byte copy (header and data) of a typed userdata.
UserdataHeader *push_duplicate_userdata(lua_State *L, UserdataHeader *ud);
// Span length of a two-operand operation: min(a count - aoff, b count - boff, len), signed
// 32-bit; an absent operand drops its term.
int32_t get_userdata_len2(UserdataHeader *a, UserdataHeader *b, int32_t aoff, int32_t len,
                          int32_t boff);

// True when the payload of a full userdata of size bytes is a typed userdata's: a header that
// describes one of the five element types and elements inside the block. Every typed userdata's
// is; a header is written only by creation and mutate, which keep it so.
bool is_typed_payload(const void *payload, size_t size);

// Registers the globals userdata, vec, get, set and the metatable USERDATA. The kernel calls
// it last when it creates a process state.
void add_userdata_metatable_functions(lua_State *L);

// Scratch copy of n f64 elements in slot 0 or 1 (valid until the next call on that slot);
// NULL when the scratch buffer cannot grow.
double *copy_dat(int slot, const double *src, int64_t n);

// Sort comparators and the state that sort hands them.
extern int64_t score_index;
extern int score_val1;  // descending: non-zero turns "greater" (1) into -1
extern int score_valm1; // descending: non-zero turns "smaller" (-1) into 1
extern int64_t num_compares;
int compare_u8(const void *a, const void *b);
int compare_i16(const void *a, const void *b);
int compare_i32(const void *a, const void *b);
int compare_i64(const void *a, const void *b);
int compare_f64(const void *a, const void *b);

// Lua globals.
int lua54_userdata(lua_State *L);
int lua54_vec(lua_State *L);
int lua54_get(lua_State *L);
int lua54_set(lua_State *L);
int lua54_get_0(lua_State *L);
int lua54_set_0(lua_State *L);

// The USERDATA functions.
int lua54_ud_sort(lua_State *L);
int lua54_ud_convert(lua_State *L);
int lua54_ud_copy(lua_State *L);
int lua54_ud_take(lua_State *L);
int lua54_ud_clear(lua_State *L);
int lua54_ud_add(lua_State *L);
int lua54_ud_sub(lua_State *L);
int lua54_ud_mul(lua_State *L);
int lua54_ud_div(lua_State *L);
int lua54_ud_idiv(lua_State *L);
int lua54_ud_mod(lua_State *L);
int lua54_ud_pow(lua_State *L);
int lua54_ud_band(lua_State *L);
int lua54_ud_bor(lua_State *L);
int lua54_ud_bxor(lua_State *L);
int lua54_ud_shl(lua_State *L);
int lua54_ud_shr(lua_State *L);
int lua54_ud_max(lua_State *L);
int lua54_ud_min(lua_State *L);
int lua54_ud_abs(lua_State *L);
int lua54_ud_sgn(lua_State *L);
int lua54_ud_sgn0(lua_State *L);
int lua54_ud_len(lua_State *L);
int lua54_ud_tostring(lua_State *L);
int lua54_ud_index(lua_State *L);
int lua54_ud_newindex(lua_State *L);
int lua54_ud_set(lua_State *L);
int lua54_ud_get(lua_State *L);
int lua54_ud_blit(lua_State *L);
int lua54_ud_peek(lua_State *L);
int lua54_ud_poke(lua_State *L);
int lua54_ud_width(lua_State *L);
int lua54_ud_height(lua_State *L);
int lua54_ud_attribs(lua_State *L);
int lua54_ud_mutate(lua_State *L);
int lua54_ud_lerp(lua_State *L);
int lua54_ud_magnitude(lua_State *L);
int lua54_ud_distance(lua_State *L);
int lua54_ud_dot(lua_State *L);
int lua54_ud_cross(lua_State *L);
int lua54_ud_matmul(lua_State *L);
int lua54_ud_matmul3d(lua_State *L);
int lua54_ud_matmul2d(lua_State *L);
int lua54_ud_transpose(lua_State *L);
int lua54_ud_row(lua_State *L);
int lua54_ud_column(lua_State *L);
