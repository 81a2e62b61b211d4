// Tagged values and the collectable object records.
#pragma once

#include <cstdarg>

#include "lua/common.h"

// Extra (internal) basic types.
#define LUA_TUPVAL LUA_NUMTYPES        // 9
#define LUA_TPROTO (LUA_NUMTYPES + 1)  // 10
#define LUA_TDEADKEY (LUA_NUMTYPES + 2) // 11
#define LUA_TOTALTYPES (LUA_TPROTO + 2)

// Tag layout: bits 0-3 basic type, bits 4-5 variant, bit 6 collectable.
#define makevariant(t, v) ((t) | ((v) << 4))

union Value {
  struct GCObject *gc;
  void *p;
  lua_CFunction f;
  lua_Integer i;
  lua_Number n;
};

#define TValuefields \
  Value value_;      \
  lu_byte tt_

struct TValue {
  TValuefields;
};

#define val_(o) ((o)->value_)
#define valraw(o) (&val_(o))
#define rawtt(o) ((o)->tt_)
#define novariant(t) ((t)&0x0F)
#define withvariant(t) ((t)&0x3F)
#define ttypetag(o) withvariant(rawtt(o))
#define ttype(o) (novariant(rawtt(o)))
#define checktag(o, t) (rawtt(o) == (t))
#define checktype(o, t) (ttype(o) == (t))

#define BIT_ISCOLLECTABLE (1 << 6)
#define iscollectable(o) (rawtt(o) & BIT_ISCOLLECTABLE)
#define ctb(t) ((t) | BIT_ISCOLLECTABLE)
#define gcvalue(o) check_exp(iscollectable(o), val_(o).gc)
#define gcvalueraw(v) ((v).gc)
#define setgcovalue(L, obj, x) \
  { TValue *io = (obj); GCObject *i_g = (x); val_(io).gc = i_g; settt_(io, ctb(i_g->tt)); }

#define settt_(o, t) ((o)->tt_ = (t))

// Copying values (the variants name the direction for readability only).
#define setobj(L, obj1, obj2) \
  { TValue *io1 = (obj1); const TValue *io2 = (obj2); io1->value_ = io2->value_; settt_(io1, io2->tt_); (void)L; }
#define setobjs2s(L, o1, o2) setobj(L, o1, o2)
#define setobj2s(L, o1, o2) setobj(L, o1, o2)
#define setobjt2t setobj
#define setobj2n setobj
#define setobj2t setobj

// Nil and its internal variants.
#define LUA_VNIL makevariant(LUA_TNIL, 0)
#define LUA_VEMPTY makevariant(LUA_TNIL, 1)
#define LUA_VABSTKEY makevariant(LUA_TNIL, 2)
#define ttisnil(v) checktype((v), LUA_TNIL)
#define ttisstrictnil(o) checktag((o), LUA_VNIL)
#define setnilvalue(obj) settt_(obj, LUA_VNIL)
#define isabstkey(v) checktag((v), LUA_VABSTKEY)
#define isempty(v) ttisnil(v)
#define ABSTKEYCONSTANT {NULL}, LUA_VABSTKEY
#define setempty(v) settt_(v, LUA_VEMPTY)

// Booleans.
#define LUA_VFALSE makevariant(LUA_TBOOLEAN, 0)
#define LUA_VTRUE makevariant(LUA_TBOOLEAN, 1)
#define ttisboolean(o) checktype((o), LUA_TBOOLEAN)
#define ttisfalse(o) checktag((o), LUA_VFALSE)
#define ttistrue(o) checktag((o), LUA_VTRUE)
#define l_isfalse(o) (ttisfalse(o) || ttisnil(o))
#define setbfvalue(obj) settt_(obj, LUA_VFALSE)
#define setbtvalue(obj) settt_(obj, LUA_VTRUE)

// Threads.
#define LUA_VTHREAD makevariant(LUA_TTHREAD, 0)
#define ttisthread(o) checktag((o), ctb(LUA_VTHREAD))
#define thvalue(o) check_exp(ttisthread(o), gco2th(val_(o).gc))
#define setthvalue(L, obj, x) \
  { TValue *io = (obj); lua_State *x_ = (x); val_(io).gc = obj2gco(x_); settt_(io, ctb(LUA_VTHREAD)); (void)L; }
#define setthvalue2s setthvalue

// Collectable objects: common header.
#define CommonHeader \
  struct GCObject *next; \
  lu_byte tt;            \
  lu_byte marked

struct GCObject {
  CommonHeader;
};

// Numbers.
#define LUA_VNUMINT makevariant(LUA_TNUMBER, 0)
#define LUA_VNUMFLT makevariant(LUA_TNUMBER, 1)
#define ttisnumber(o) checktype((o), LUA_TNUMBER)
#define ttisfloat(o) checktag((o), LUA_VNUMFLT)
#define ttisinteger(o) checktag((o), LUA_VNUMINT)
#define nvalue(o) check_exp(ttisnumber(o), (ttisinteger(o) ? cast_num(ivalue(o)) : fltvalue(o)))
#define fltvalue(o) check_exp(ttisfloat(o), val_(o).n)
#define ivalue(o) check_exp(ttisinteger(o), val_(o).i)
#define fltvalueraw(v) ((v).n)
#define ivalueraw(v) ((v).i)
#define setfltvalue(obj, x) \
  { TValue *io = (obj); val_(io).n = (x); settt_(io, LUA_VNUMFLT); }
#define chgfltvalue(obj, x) \
  { TValue *io = (obj); val_(io).n = (x); }
#define setivalue(obj, x) \
  { TValue *io = (obj); val_(io).i = (x); settt_(io, LUA_VNUMINT); }
#define chgivalue(obj, x) \
  { TValue *io = (obj); val_(io).i = (x); }

// Strings.
#define LUA_VSHRSTR makevariant(LUA_TSTRING, 0)
#define LUA_VLNGSTR makevariant(LUA_TSTRING, 1)
#define ttisstring(o) checktype((o), LUA_TSTRING)
#define ttisshrstring(o) checktag((o), ctb(LUA_VSHRSTR))
#define ttislngstring(o) checktag((o), ctb(LUA_VLNGSTR))
#define tsvalueraw(v) (gco2ts((v).gc))
#define tsvalue(o) check_exp(ttisstring(o), gco2ts(val_(o).gc))
#define setsvalue(L, obj, x) \
  { TValue *io = (obj); TString *x_ = (x); val_(io).gc = obj2gco(x_); settt_(io, ctb(x_->tt)); (void)L; }
#define setsvalue2s setsvalue
#define setsvalue2n setsvalue

struct TString {
  CommonHeader;
  lu_byte extra;  // reserved words for short strings; "has hash" for long strings
  lu_byte shrlen; // length of a short string
  unsigned int hash;
  union {
    size_t lnglen;         // length of a long string
    struct TString *hnext; // linked list for the string table
  } u;
  char contents[1];
};

#define getstr(ts) ((ts)->contents)
#define svalue(o) getstr(tsvalue(o))
#define tsslen(s) ((s)->tt == LUA_VSHRSTR ? (s)->shrlen : (s)->u.lnglen)
#define vslen(o) tsslen(tsvalue(o))

// Userdata.
#define LUA_VLIGHTUSERDATA makevariant(LUA_TLIGHTUSERDATA, 0)
#define LUA_VUSERDATA makevariant(LUA_TUSERDATA, 0)
#define ttislightuserdata(o) checktag((o), LUA_VLIGHTUSERDATA)
#define ttisfulluserdata(o) checktag((o), ctb(LUA_VUSERDATA))
#define pvalue(o) check_exp(ttislightuserdata(o), val_(o).p)
#define uvalue(o) check_exp(ttisfulluserdata(o), gco2u(val_(o).gc))
#define pvalueraw(v) ((v).p)
#define setpvalue(obj, x) \
  { TValue *io = (obj); val_(io).p = (x); settt_(io, LUA_VLIGHTUSERDATA); }
#define setuvalue(L, obj, x) \
  { TValue *io = (obj); Udata *x_ = (x); val_(io).gc = obj2gco(x_); settt_(io, ctb(LUA_VUSERDATA)); (void)L; }

// User values of a full userdata.
union UValue {
  TValue uv;
  LUAI_MAXALIGN; // keeps the payload aligned
};

struct Udata {
  CommonHeader;
  unsigned short nuvalue; // number of user values
  size_t len;             // payload size
  struct Table *metatable;
  GCObject *gclist;
  UValue uv[1];
};

// A userdata without user values: the payload follows the metatable directly.
struct Udata0 {
  CommonHeader;
  unsigned short nuvalue;
  size_t len;
  struct Table *metatable;
  union {
    LUAI_MAXALIGN;
  } bindata;
};

#define udatamemoffset(nuv) \
  ((nuv) == 0 ? offsetof(Udata0, bindata) : offsetof(Udata, uv) + (sizeof(UValue) * (nuv)))
#define getudatamem(u) (cast_charp(u) + udatamemoffset((u)->nuvalue))
#define sizeudata(nuv, nb) (udatamemoffset(nuv) + (nb))

// Prototypes.
#define LUA_VPROTO makevariant(LUA_TPROTO, 0)

struct Upvaldesc {
  struct TString *name; // upvalue name (debug information)
  lu_byte instack;      // whether it is in stack (register)
  lu_byte idx;          // index of upvalue (in stack or in outer function's list)
  lu_byte kind;         // kind of corresponding variable
};

struct LocVar {
  struct TString *varname;
  int startpc; // first point where variable is active
  int endpc;   // first point where variable is dead
};

// Absolute line entry: (pc, line).
struct AbsLineInfo {
  int pc;
  int line;
};

struct Proto {
  CommonHeader;
  lu_byte numparams;
  lu_byte is_vararg;
  lu_byte maxstacksize;
  int sizeupvalues;
  int sizek;
  int sizecode;
  int sizelineinfo;
  int sizep;
  int sizelocvars;
  int sizeabslineinfo;
  int linedefined;
  int lastlinedefined;
  TValue *k;
  Instruction *code;
  struct Proto **p;
  Upvaldesc *upvalues;
  ls_byte *lineinfo;
  AbsLineInfo *abslineinfo;
  LocVar *locvars;
  TString *source;
  GCObject *gclist;
};

// Functions.
#define LUA_VUPVAL makevariant(LUA_TUPVAL, 0)
#define LUA_VLCL makevariant(LUA_TFUNCTION, 0) // Lua closure
#define LUA_VLCF makevariant(LUA_TFUNCTION, 1) // light C function
#define LUA_VCCL makevariant(LUA_TFUNCTION, 2) // C closure

#define ttisfunction(o) checktype(o, LUA_TFUNCTION)
#define ttisclosure(o) ((rawtt(o) & 0x1F) == LUA_VLCL)
#define ttisLclosure(o) checktag((o), ctb(LUA_VLCL))
#define ttislcf(o) checktag((o), LUA_VLCF)
#define ttisCclosure(o) checktag((o), ctb(LUA_VCCL))
#define isLfunction(o) ttisLclosure(o)
#define clvalue(o) check_exp(ttisclosure(o), gco2cl(val_(o).gc))
#define clLvalue(o) check_exp(ttisLclosure(o), gco2lcl(val_(o).gc))
#define fvalue(o) check_exp(ttislcf(o), val_(o).f)
#define clCvalue(o) check_exp(ttisCclosure(o), gco2ccl(val_(o).gc))
#define fvalueraw(v) ((v).f)
#define setclLvalue(L, obj, x) \
  { TValue *io = (obj); LClosure *x_ = (x); val_(io).gc = obj2gco(x_); settt_(io, ctb(LUA_VLCL)); (void)L; }
#define setclLvalue2s setclLvalue
#define setfvalue(obj, x) \
  { TValue *io = (obj); val_(io).f = (x); settt_(io, LUA_VLCF); }
#define setclCvalue(L, obj, x) \
  { TValue *io = (obj); CClosure *x_ = (x); val_(io).gc = obj2gco(x_); settt_(io, ctb(LUA_VCCL)); (void)L; }

struct UpVal {
  CommonHeader;
  lu_byte tbc; // 1 for a to-be-closed variable
  TValue *v;   // points to stack or to its own value
  union {
    struct {
      struct UpVal *next;      // linked list of open upvalues
      struct UpVal **previous; // the previous element's next field
    } open;
    TValue value; // the value once closed
  } u;
};

#define ClosureHeader \
  CommonHeader;       \
  lu_byte nupvalues;  \
  GCObject *gclist

struct CClosure {
  ClosureHeader;
  lua_CFunction f;
  TValue upvalue[1];
};

struct LClosure {
  ClosureHeader;
  struct Proto *p;
  UpVal *upvals[1];
};

union Closure {
  CClosure c;
  LClosure l;
};

#define getproto(o) (clLvalue(o)->p)
#define sizeCclosure(n) (cast_int(offsetof(CClosure, upvalue)) + cast_int(sizeof(TValue)) * (n))
#define sizeLclosure(n) (cast_int(offsetof(LClosure, upvals)) + cast_int(sizeof(TValue *)) * (n))

// Tables.
#define LUA_VTABLE makevariant(LUA_TTABLE, 0)
#define ttistable(o) checktag((o), ctb(LUA_VTABLE))
#define hvalue(o) check_exp(ttistable(o), gco2t(val_(o).gc))
#define sethvalue(L, obj, x) \
  { TValue *io = (obj); Table *x_ = (x); val_(io).gc = obj2gco(x_); settt_(io, ctb(LUA_VTABLE)); (void)L; }
#define sethvalue2s sethvalue

// A node: value fields, key tag, chain offset, key payload (24 bytes).
union Node {
  struct NodeKey {
    TValuefields;   // fields for value
    lu_byte key_tt; // key type
    int next;       // for chaining
    Value key_val;  // key value
  } u;
  TValue i_val; // direct access to the node's value as a proper TValue
};

#define setnodekey(L, node, obj) \
  { Node *n_ = (node); const TValue *io_ = (obj); n_->u.key_val = io_->value_; n_->u.key_tt = io_->tt_; (void)L; }
#define getnodekey(L, obj, node) \
  { TValue *io_ = (obj); const Node *n_ = (node); io_->value_ = n_->u.key_val; io_->tt_ = n_->u.key_tt; (void)L; }

#define BITRAS (1 << 7) // array limit is not the real size
#define isrealasize(t) (!((t)->flags & BITRAS))
#define setrealasize(t) ((t)->flags &= cast_byte(~BITRAS))
#define setnorealasize(t) ((t)->flags |= BITRAS)

struct Table {
  CommonHeader;
  lu_byte flags;          // 1<<p means tagmethod(p) is not present
  lu_byte lsizenode;      // log2 of size of 'node' array
  unsigned int alimit;    // "limit" of 'array' array
  TValue *array;          // array part
  Node *node;
  Node *lastfree;         // any free position is before this position
  struct Table *metatable;
  GCObject *gclist;
};

#define keytt(node) ((node)->u.key_tt)
#define keyval(node) ((node)->u.key_val)
#define keyisnil(node) (keytt(node) == LUA_TNIL)
#define keyisinteger(node) (keytt(node) == LUA_VNUMINT)
#define keyival(node) (keyval(node).i)
#define keyisshrstr(node) (keytt(node) == ctb(LUA_VSHRSTR))
#define keystrval(node) (gco2ts(keyval(node).gc))
#define setnilkey(node) (keytt(node) = LUA_TNIL)
#define keyiscollectable(n) (keytt(n) & BIT_ISCOLLECTABLE)
#define gckey(n) (keyval(n).gc)
#define gckeyN(n) (keyiscollectable(n) ? gckey(n) : NULL)
#define setdeadkey(node) (keytt(node) = LUA_TDEADKEY)
#define keyisdead(node) (keytt(node) == LUA_TDEADKEY)

#define lmod(s, size) (check_exp((size & (size - 1)) == 0, (cast_int((s) & ((size)-1)))))
#define twoto(x) (1 << (x))
#define sizenode(t) (twoto((t)->lsizenode))

// Size of the UTF-8 escape buffer.
#define UTF8BUFFSZ 8

// Object helpers (object.cpp).
int luaO_utf8esc(char *buff, unsigned long x);
int luaO_ceillog2(unsigned int x);
int luaO_rawarith(lua_State *L, int op, const TValue *p1, const TValue *p2, TValue *res);
void luaO_arith(lua_State *L, int op, const TValue *p1, const TValue *p2, TValue *res);
size_t luaO_str2num(const char *s, TValue *o);
int luaO_hexavalue(int c);
int luaO_binavalue(int c);
void luaO_tostring(lua_State *L, TValue *obj);
// Writes the text of a number into buff (at least MAXNUMBER2STR bytes); returns its length.
int luaO_tostringbuff(const TValue *obj, char *buff);
// An integer's decimal text in buff (at least 21 bytes, with the terminating zero); its length.
int luaO_int2str(char *buff, lua_Integer v);
const char *luaO_pushvfstring(lua_State *L, const char *fmt, va_list argp);
const char *luaO_pushfstring(lua_State *L, const char *fmt, ...);
void luaO_chunkid(char *out, const char *source, size_t srclen);

#define MAXNUMBER2STR 44

// Integer arithmetic with the dialect's rules (object.cpp); shared by the VM and folding.
lua_Integer luaO_idiv(lua_Integer m, lua_Integer n); // n == 0 -> +/- max
lua_Integer luaO_imod(lua_Integer m, lua_Integer n); // n == 0 or -1 -> 0
lua_Integer luaO_shiftl(lua_Integer x, lua_Integer y);
