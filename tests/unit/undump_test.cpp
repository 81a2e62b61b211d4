// Binary chunks: round trips of every test script, the header checks, truncation at every
// byte, and hand-written hostile chunks that the verifying loader must refuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "lua/auxlib.h"
#include "lua/listing.h"
#include "lua/opcodes.h"
#include "lua/state.h"
#include "lua/tm.h"
#include "lua/undump.h"
#include "test_alloc.h"

namespace {

std::string scripts_dir() {
  std::string f = __FILE__;
  return f.substr(0, f.rfind("/unit/")) + "/lua";
}

bool read_file(const std::string &path, std::string &out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::stringstream ss;
  ss << in.rdbuf();
  out = ss.str();
  return true;
}

int strwriter(lua_State *, const void *p, size_t sz, void *ud) {
  static_cast<std::string *>(ud)->append(static_cast<const char *>(p), sz);
  return 0;
}

std::string listing_of(const Proto *p) {
  char *buf = nullptr;
  size_t len = 0;
  FILE *f = open_memstream(&buf, &len);
  print_listing(f, p);
  std::fclose(f);
  std::string s(buf, len);
  std::free(buf);
  return s;
}

const Proto *top_proto(lua_State *L) { return clLvalue(s2v(L->top - 1))->p; }

struct ChunkState : ::testing::Test {
  TestAlloc alloc;
  lua_State *L = nullptr;
  void SetUp() override {
    L = lua_newstate(test_alloc, &alloc);
    ASSERT_NE(L, nullptr);
  }
  void TearDown() override {
    if (L) lua_close(L);
    EXPECT_EQ(alloc.live_blocks(), 0u);
  }
  // Loads a chunk; returns the status and leaves the function or the message on the stack.
  int load(const std::string &chunk, const char *name = "=hostile", const char *mode = "b") {
    return luaL_loadbufferx(L, chunk.data(), chunk.size(), name, mode);
  }
  std::string dump_top(int strip) {
    std::string out;
    EXPECT_EQ(lua_dump(L, strwriter, &out, strip), 0);
    return out;
  }
  std::string message() {
    const char *m = lua_tostring(L, -1);
    return m ? m : "(no message)";
  }
  void expect_refused(const std::string &chunk, const std::string &why) {
    int top = lua_gettop(L);
    EXPECT_EQ(load(chunk), LUA_ERRSYNTAX);
    EXPECT_EQ(message(), "hostile: bad binary format (" + why + ")");
    lua_settop(L, top);
  }
};

// ---------------------------------------------------------------------------------------------
// A small assembler for hand-written chunks.

std::string varint(size_t x) {
  std::string s;
  do {
    s.insert(s.begin(), char(x & 0x7f));
    x >>= 7;
  } while (x != 0);
  s.back() = char(s.back() | 0x80);
  return s;
}

std::string str(const std::string &s) { return varint(s.size() + 1) + s; }

template <typename T>
std::string raw(T v) {
  return std::string(reinterpret_cast<const char *>(&v), sizeof v);
}

std::string header() {
  std::string h = "\x1bLua";
  h += char(0x54);
  h += char(0);
  h += "\x19\x93\r\n\x1a\n";
  h += char(4);
  h += char(8);
  h += char(8);
  h += raw<int64_t>(0x5678);
  h += raw<double>(370.5);
  return h;
}

std::string knil() { return std::string(1, '\0'); }
std::string kint(int64_t v) { return "\x03" + raw(v); }
std::string kflt(double v) { return "\x13" + raw(v); }
std::string kstr(const std::string &s) { return (s.size() <= 40 ? "\x04" : "\x14") + str(s); }

Instruction ABC(OpCode o, int a, int b, int c, int k = 0) { return CREATE_ABCk(o, a, b, c, k); }
Instruction ABx(OpCode o, int a, int bx) { return CREATE_ABx(o, a, bx); }
Instruction AsBx(OpCode o, int a, int sbx) { return CREATE_ABx(o, a, sbx + OFFSET_sBx); }
Instruction Ax(OpCode o, int ax) { return CREATE_Ax(o, ax); }
Instruction sJ(int j) { return CREATE_sJ(OP_JMP, j + OFFSET_sJ, 0); }

struct Loc {
  std::string name;
  bool present;
  int start, end;
};

struct Fn {
  bool has_source = false;
  std::string source;
  int linedefined = 0, lastline = 0;
  int numparams = 0, is_vararg = 1, maxstack = 2;
  std::vector<Instruction> code;
  std::vector<std::string> k;
  std::vector<std::array<int, 3>> upvals;
  std::vector<Fn> protos;
  std::vector<signed char> lineinfo;
  std::vector<std::pair<int, int>> abslines;
  std::vector<Loc> locs;
  std::vector<std::string> upnames;
  int upnames_count = -1; // -1: as many as upnames
};

std::string encode(const Fn &f) {
  std::string s = f.has_source ? str(f.source) : varint(0);
  s += varint(f.linedefined) + varint(f.lastline);
  s += char(f.numparams);
  s += char(f.is_vararg);
  s += char(f.maxstack);
  s += varint(f.code.size());
  for (Instruction i : f.code) s += raw(i);
  s += varint(f.k.size());
  for (const std::string &c : f.k) s += c;
  s += varint(f.upvals.size());
  for (auto &u : f.upvals) {
    s += char(u[0]);
    s += char(u[1]);
    s += char(u[2]);
  }
  s += varint(f.protos.size());
  for (const Fn &p : f.protos) s += encode(p);
  s += varint(f.lineinfo.size());
  for (signed char c : f.lineinfo) s += char(c);
  s += varint(f.abslines.size());
  for (auto &a : f.abslines) s += varint(a.first) + varint(a.second);
  s += varint(f.locs.size());
  for (const Loc &l : f.locs) s += (l.present ? str(l.name) : varint(0)) + varint(l.start) + varint(l.end);
  s += varint(f.upnames_count < 0 ? f.upnames.size() : size_t(f.upnames_count));
  for (const std::string &n : f.upnames) s += str(n);
  return s;
}

std::string chunk(const Fn &main, int nup = -1) {
  return header() + char(nup < 0 ? int(main.upvals.size()) : nup) + encode(main);
}

// The main function every hostile case starts from: returns 7.
Fn basemain() {
  Fn f;
  f.upvals = {{1, 0, 0}};
  f.code = {ABC(OP_VARARGPREP, 0, 0, 0), AsBx(OP_LOADI, 0, 7), ABC(OP_RETURN, 0, 2, 1)};
  return f;
}

// A fixed-argument function with 4 registers, returning nothing, for nested cases.
Fn basefixed() {
  Fn f;
  f.is_vararg = 0;
  f.maxstack = 4;
  f.code = {ABC(OP_RETURN0, 0, 1, 0)};
  return f;
}

// Puts 'body' (ending in its own return) into a nested fixed-argument function.
Fn withnested(const Fn &inner) {
  Fn f = basemain();
  f.protos = {inner};
  f.code = {ABC(OP_VARARGPREP, 0, 0, 0), ABx(OP_CLOSURE, 0, 0), ABC(OP_RETURN, 0, 2, 1, 1)};
  return f;
}

Fn fixedwith(std::vector<Instruction> code, std::vector<std::string> k = {}) {
  Fn f = basefixed();
  f.code = code;
  f.k = k;
  return f;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Round trips

namespace {

struct ScriptRun {
  bool ok = false; // the process ended without error
  std::string out; // what it printed
  std::string err;
};

std::string last_error;
void capture_error(Process *, const char *msg, const char *) { last_error = msg ? msg : "?"; }

// Runs a program as a process; when 'bin' is given, the process runs that chunk instead.
ScriptRun run_process(const std::string &program, const std::string &name, const std::string *bin) {
  ScriptRun r;
  Process *p = &processes[7];
  char err[1024] = "";
  last_error.clear();
  report_process_error = capture_error;
  if (init_process(p, 8, program.c_str(), name.c_str(), name.c_str(), err, sizeof err) != 0) {
    r.err = err;
    return r;
  }
  if (bin) {
    // the process runs the loaded chunk in place of the compiled text
    Process *saved = cproc;
    cproc = p;
    lua_pop(p->L, 1);
    std::string chunkname = "@" + name;
    int st = luaL_loadbufferx(p->L, bin->data(), bin->size(), chunkname.c_str(), "b");
    cproc = saved;
    if (st != LUA_OK) {
      r.err = lua_tostring(p->L, -1);
      free_process(p);
      return r;
    }
  }
  testing::internal::CaptureStdout();
  int frames = 0;
  while (p->state == ProcState::Running && frames < 20000) {
    frame_cycles_left = FRAME_CYCLES;
    run_process_slice(p, 1.0, nullptr);
    frames++;
  }
  r.ok = p->state != ProcState::Error && p->state != ProcState::Running;
  free_process(p); // finalizers at close may print too
  std::fflush(stdout);
  r.out = testing::internal::GetCapturedStdout();
  r.err = last_error;
  report_process_error = nullptr;
  return r;
}

// Scripts under tests/lua (relative names), with its subdirectories when 'deep'.
void collect_scripts(const std::string &rel, bool deep, std::vector<std::string> &names) {
  std::string dir = scripts_dir() + (rel.empty() ? "" : "/" + rel);
  DIR *d = opendir(dir.c_str());
  if (!d) return;
  while (dirent *e = readdir(d)) {
    std::string n = e->d_name;
    if (n[0] == '.') continue;
    std::string r = rel.empty() ? n : rel + "/" + n;
    if (n.size() > 4 && n.compare(n.size() - 4, 4, ".lua") == 0)
      names.push_back(r);
    else if (deep && e->d_type == DT_DIR)
      collect_scripts(r, deep, names);
  }
  closedir(d);
}

std::vector<std::string> script_names(bool deep = false) {
  std::vector<std::string> names;
  collect_scripts("", deep, names);
  std::sort(names.begin(), names.end());
  return names;
}

bool has_runner_header(const std::string &src) {
  std::istringstream in(src);
  std::string line;
  for (int i = 0; i < 8 && std::getline(in, line); i++)
    if (line.rfind("-- args:", 0) == 0 || line.rfind("-- expect-", 0) == 0) return true;
  return false;
}

} // namespace

TEST_F(ChunkState, EveryScriptRoundTripsWithTheSameListing) {
  std::vector<std::string> names = script_names(true);
  ASSERT_FALSE(names.empty());
  for (const std::string &n : names) {
    SCOPED_TRACE(n);
    std::string src;
    ASSERT_TRUE(read_file(scripts_dir() + "/" + n, src));
    std::string chunkname = "@" + n;
    ASSERT_EQ(luaL_loadbufferx(L, src.data(), src.size(), chunkname.c_str(), nullptr), LUA_OK) << message();
    std::string text_listing = listing_of(top_proto(L));
    std::string bin = dump_top(0);
    std::string stripped = dump_top(1);
    lua_pop(L, 1);
    ASSERT_EQ(load(bin, chunkname.c_str(), "b"), LUA_OK) << message();
    EXPECT_EQ(listing_of(top_proto(L)), text_listing);
    // a second dump of the loaded function is byte for byte the first one
    EXPECT_EQ(dump_top(0), bin);
    lua_pop(L, 1);
    ASSERT_EQ(load(stripped, chunkname.c_str(), "b"), LUA_OK) << message();
    const Proto *p = top_proto(L);
    EXPECT_EQ(p->source, nullptr);
    EXPECT_EQ(p->sizelineinfo, 0);
    EXPECT_EQ(p->sizelocvars, 0);
    for (int i = 0; i < p->sizeupvalues; i++) EXPECT_EQ(p->upvalues[i].name, nullptr);
    lua_pop(L, 1);
  }
}

TEST(UndumpRun, EveryScriptRunsTheSameFromItsDump) {
  std::vector<std::string> names = script_names();
  int compared = 0;
  for (const std::string &n : names) {
    SCOPED_TRACE(n);
    std::string src;
    ASSERT_TRUE(read_file(scripts_dir() + "/" + n, src));
    if (has_runner_header(src)) continue; // needs runner options
    TestAlloc alloc;
    lua_State *L = lua_newstate(test_alloc, &alloc);
    std::string chunkname = "@" + n;
    ASSERT_EQ(luaL_loadbufferx(L, src.data(), src.size(), chunkname.c_str(), nullptr), LUA_OK);
    std::string bin;
    ASSERT_EQ(lua_dump(L, strwriter, &bin, 0), 0);
    lua_close(L);
    ScriptRun text = run_process(src, n, nullptr);
    if (!text.ok) continue; // the script itself fails: nothing to compare
    ScriptRun loaded = run_process(src, n, &bin);
    EXPECT_TRUE(loaded.ok) << loaded.err;
    EXPECT_EQ(loaded.out, text.out);
    compared++;
  }
  EXPECT_GE(compared, 10);
}

// ---------------------------------------------------------------------------------------------
// Header

TEST_F(ChunkState, TheBaseChunkLoadsAndRuns) {
  ASSERT_EQ(load(chunk(basemain())), LUA_OK) << message();
  ASSERT_EQ(lua_pcall(L, 0, 1, 0), LUA_OK);
  EXPECT_EQ(lua_tointeger(L, -1), 7);
}

TEST_F(ChunkState, EachHeaderCheckHasItsMessage) {
  std::string good = chunk(basemain());
  struct Case {
    size_t offset;
    char value;
    const char *why;
  } cases[] = {
      {1, 'X', "not a binary chunk"},   {3, 'A', "not a binary chunk"},
      {4, 0x53, "version mismatch"},    {5, 1, "format mismatch"},
      {6, 0x18, "corrupted chunk"},     {11, 0x0B, "corrupted chunk"},
      {12, 8, "Instruction size mismatch"},
      {13, 4, "lua_Integer size mismatch"},
      {14, 4, "lua_Number size mismatch"},
      {15, 0x79, "integer format mismatch"},
      {23 + 6, 0x78, "float format mismatch"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    std::string bad = good;
    bad[c.offset] = c.value;
    expect_refused(bad, c.why);
  }
}

TEST_F(ChunkState, TheNameInMessages) {
  std::string bad = chunk(basemain());
  bad[4] = 0x53;
  struct Case {
    const char *name, *shown;
  } cases[] = {{"@file.lua", "file.lua"}, {"=stdin", "stdin"}, {"plain", "plain"}, {"\x1bLua junk", "binary string"}};
  for (const Case &c : cases) {
    ASSERT_EQ(load(bad, c.name), LUA_ERRSYNTAX);
    EXPECT_EQ(message(), std::string(c.shown) + ": bad binary format (version mismatch)");
    lua_pop(L, 1);
  }
}

TEST_F(ChunkState, ModeDecidesWhichKindIsAccepted) {
  std::string good = chunk(basemain());
  ASSERT_EQ(load(good, "=m", "t"), LUA_ERRSYNTAX);
  EXPECT_EQ(message(), "attempt to load a binary chunk (mode is 't')");
  lua_pop(L, 1);
  ASSERT_EQ(load(good, "=m", "bt"), LUA_OK);
  lua_pop(L, 1);
  ASSERT_EQ(luaL_loadbufferx(L, good.data(), good.size(), "=m", nullptr), LUA_OK);
  lua_pop(L, 1);
  // a zero-terminated length ends the chunk before its zero format byte
  ASSERT_EQ(luaL_loadstring(L, good.c_str()), LUA_ERRSYNTAX);
  EXPECT_EQ(message(), "binary string: bad binary format (truncated chunk)");
  lua_pop(L, 1);
}

// ---------------------------------------------------------------------------------------------
// Truncation and sizes

TEST_F(ChunkState, TruncationAtEveryByteIsReported) {
  const char *src =
      "local t = {1, 2.5, 'short', string.rep('long', 20), x = true, [false] = nil}\n"
      "local function f(a, b, ...) local c <const> = 3 return a + b * c, ... end\n"
      "for i = 1, 3 do t[i] = f(i, i, 'v') end\n"
      "return function() return t, f end\n";
  ASSERT_EQ(luaL_loadbufferx(L, src, std::strlen(src), "=trunc", nullptr), LUA_OK) << message();
  std::string full = dump_top(0);
  lua_pop(L, 1);
  for (size_t n = 1; n < full.size(); n++) {
    SCOPED_TRACE(n);
    ASSERT_EQ(load(full.substr(0, n)), LUA_ERRSYNTAX);
    ASSERT_EQ(message(), "hostile: bad binary format (truncated chunk)");
    lua_pop(L, 1);
  }
  ASSERT_EQ(load(full), LUA_OK);
  lua_pop(L, 1);
}

TEST_F(ChunkState, HugeCountsAreRefusedBeforeAnyAllocation) {
  // a code count of 2^31 - 1 in a chunk of a few bytes
  std::string s = header() + char(1) + varint(0) + varint(0) + varint(0) + char(0) + char(1) + char(2) +
                  varint(0x7fff0000);
  alloc.reset_log();
  expect_refused(s, "truncated chunk");
  for (const AllocCall &c : alloc.calls) EXPECT_LT(c.nsize, 100000u);
  // a string of 2^60 bytes
  std::string s2 = header() + char(1) + varint(size_t(1) << 60);
  alloc.reset_log();
  expect_refused(s2, "truncated chunk");
  for (const AllocCall &c : alloc.calls) EXPECT_LT(c.nsize, 100000u);
}

TEST_F(ChunkState, VarintOverflow) {
  // the code count as 0x7F x 5 overflows at the fifth byte
  std::string s = header() + char(1) + varint(0) + varint(0) + varint(0) + char(0) + char(1) + char(2) +
                  std::string(5, '\x7f') + std::string(64, '\x80');
  expect_refused(s, "integer overflow");
  // four groups are still fine as far as the varint goes
  std::string s4 = header() + char(1) + varint(0) + varint(0) + varint(0) + char(0) + char(1) + char(2) +
                   std::string(3, '\x7f') + "\xff";
  expect_refused(s4, "truncated chunk");
  // string sizes may use the whole 64 bits before overflowing
  std::string s5 = header() + char(1) + std::string(9, '\x01') + "\x80";
  expect_refused(s5, "truncated chunk");
  std::string s6 = header() + char(1) + std::string(10, '\x01') + "\x80";
  expect_refused(s6, "integer overflow");
}

// ---------------------------------------------------------------------------------------------
// Constants

TEST_F(ChunkState, ConstantsKeepTheirKinds) {
  Fn f = basemain();
  std::string lng(50, 'L');
  f.k = {knil(), std::string(1, '\x01'), std::string(1, '\x11'), kint(-5), kflt(2.5), kstr("short"),
         kstr(lng), "\x04" + str(lng), "\x63", kint(9)};
  f.maxstack = 3;
  ASSERT_EQ(load(chunk(f)), LUA_OK) << message();
  const Proto *p = top_proto(L);
  ASSERT_EQ(p->sizek, 10);
  EXPECT_TRUE(ttisnil(&p->k[0]));
  EXPECT_TRUE(ttisfalse(&p->k[1]));
  EXPECT_TRUE(ttistrue(&p->k[2]));
  EXPECT_EQ(ivalue(&p->k[3]), -5);
  EXPECT_EQ(fltvalue(&p->k[4]), 2.5);
  EXPECT_TRUE(ttisshrstring(&p->k[5]));
  EXPECT_TRUE(ttislngstring(&p->k[6]));
  EXPECT_TRUE(ttislngstring(&p->k[7])); // long by its length whatever the tag said
  EXPECT_TRUE(ttisnil(&p->k[8]));       // unknown tag: nil, and loading goes on
  EXPECT_EQ(ivalue(&p->k[9]), 9);
  lua_pop(L, 1);
  f.k = {"\x04" + varint(0)};
  expect_refused(chunk(f), "bad format for constant string");
}

TEST_F(ChunkState, NestedSourcesDefaultToTheParents) {
  Fn inner = basefixed();
  Fn f = withnested(inner);
  f.has_source = true;
  f.source = "@outer.lua";
  ASSERT_EQ(load(chunk(f)), LUA_OK) << message();
  const Proto *p = top_proto(L);
  ASSERT_EQ(p->sizep, 1);
  EXPECT_STREQ(getstr(p->source), "@outer.lua");
  EXPECT_EQ(p->p[0]->source, p->source);
  lua_pop(L, 1);
}

// ---------------------------------------------------------------------------------------------
// The verifier: each rule broken once

TEST_F(ChunkState, FunctionShapeIsChecked) {
  expect_refused(chunk(basemain(), 0), "wrong number of upvalues");
  expect_refused(chunk(basemain(), 2), "wrong number of upvalues");
  Fn f = basemain();
  f.numparams = 3;
  f.code = {ABC(OP_VARARGPREP, 3, 0, 0), ABC(OP_RETURN, 0, 1, 4)};
  expect_refused(chunk(f), "bad stack size");
  Fn g = fixedwith({ABC(OP_RETURN0, 0, 1, 0)});
  g.numparams = 5;
  expect_refused(chunk(withnested(g)), "bad stack size");
  Fn e = basemain();
  e.code = {};
  expect_refused(chunk(e), "empty code");
  Fn v = basemain();
  v.is_vararg = 2;
  expect_refused(chunk(v), "bad vararg flag");
}

TEST_F(ChunkState, OpcodesAndFlowAreChecked) {
  Fn f = basemain();
  f.code = {ABC(OP_VARARGPREP, 0, 0, 0), 87, ABC(OP_RETURN, 0, 1, 1)};
  expect_refused(chunk(f), "bad opcode");
  f.code = {ABC(OP_VARARGPREP, 0, 0, 0), 127, ABC(OP_RETURN, 0, 1, 1)};
  expect_refused(chunk(f), "bad opcode");
  f.code = {ABC(OP_VARARGPREP, 0, 0, 0), AsBx(OP_LOADI, 0, 1)};
  expect_refused(chunk(f), "code runs off the end");
  expect_refused(chunk(withnested(fixedwith({ABC(OP_CLOSE, 0, 0, 0)}))), "code runs off the end");
  // a test must be followed by a jump
  expect_refused(chunk(withnested(fixedwith({ABC(OP_TEST, 0, 0, 0), AsBx(OP_LOADI, 0, 1),
                                             ABC(OP_RETURN0, 0, 1, 0)}))),
                 "test without jump");
  // jumps stay inside the code and never land on the second half of a pair
  expect_refused(chunk(withnested(fixedwith({sJ(5), ABC(OP_RETURN0, 0, 1, 0)}))), "jump out of range");
  expect_refused(chunk(withnested(fixedwith({sJ(-2), ABC(OP_RETURN0, 0, 1, 0)}))), "jump out of range");
  expect_refused(chunk(withnested(fixedwith({sJ(1), ABx(OP_LOADKX, 0, 0), Ax(OP_EXTRAARG, 0),
                                             ABC(OP_RETURN0, 0, 1, 0)},
                                            {kint(1)}))),
                 "bad jump target");
  expect_refused(chunk(withnested(fixedwith({ABx(OP_FORPREP, 0, 40), ABx(OP_FORLOOP, 0, 1),
                                             ABC(OP_RETURN0, 0, 1, 0)}))),
                 "jump out of range");
  expect_refused(chunk(withnested(fixedwith({ABx(OP_FORPREP, 0, 0), ABx(OP_FORLOOP, 0, 9),
                                             ABC(OP_RETURN0, 0, 1, 0)}))),
                 "jump out of range");
  // a jump back to a vararg function's preparation
  Fn j = basemain();
  j.code = {ABC(OP_VARARGPREP, 0, 0, 0), sJ(-2), ABC(OP_RETURN, 0, 1, 1)};
  expect_refused(chunk(j), "bad jump target");
  // the generic for: TFORPREP jumps to TFORCALL, which TFORLOOP follows
  Fn g = basefixed();
  g.maxstack = 8;
  g.code = {ABx(OP_TFORPREP, 0, 0), ABC(OP_TFORCALL, 0, 0, 1), ABC(OP_RETURN0, 0, 1, 0)};
  expect_refused(chunk(withnested(g)), "generic for without loop");
  g.code = {ABx(OP_TFORPREP, 0, 1), ABC(OP_TFORCALL, 0, 0, 1), ABx(OP_TFORLOOP, 0, 2),
            ABC(OP_RETURN0, 0, 1, 0)};
  expect_refused(chunk(withnested(g)), "jump out of range");
  g.code = {ABx(OP_TFORPREP, 0, 0), ABC(OP_TFORCALL, 0, 0, 1), ABx(OP_TFORLOOP, 0, 2),
            ABC(OP_RETURN, 0, 1, 0, 1)};
  ASSERT_EQ(load(chunk(withnested(g))), LUA_OK) << message();
  lua_pop(L, 1);
}

TEST_F(ChunkState, RegistersStayInsideTheFrame) {
  auto refused = [&](std::vector<Instruction> code, std::vector<std::string> k = {}) {
    expect_refused(chunk(withnested(fixedwith(code, k))), "register out of range");
  };
  const Instruction ret = ABC(OP_RETURN0, 0, 1, 0);
  refused({ABC(OP_MOVE, 4, 0, 0), ret});
  refused({ABC(OP_MOVE, 0, 200, 0), ret});
  refused({ABC(OP_LOADNIL, 2, 2, 0), ret}); // R2..R4
  refused({ABC(OP_CALL, 0, 5, 1), ret});    // function and 4 arguments
  refused({ABC(OP_CALL, 2, 1, 4), ret});    // 3 results from R2
  refused({ABC(OP_GETTABLE, 0, 1, 9), ret});
  refused({ABC(OP_SETTABLE, 0, 1, 9), ret}); // register value
  refused({ABC(OP_SELF, 3, 0, 0, 1), ret}, {kstr("m")});
  refused({ABC(OP_CONCAT, 2, 3, 0), ret});
  refused({ABx(OP_FORPREP, 1, 1), ABx(OP_FORLOOP, 1, 2), ret});
  refused({ABx(OP_TFORPREP, 0, 0), ABC(OP_TFORCALL, 0, 0, 1), ABx(OP_TFORLOOP, 0, 2), ret});
  refused({ABC(OP_SETLIST, 1, 3, 0), ret});
  refused({ABC(OP_RETURN, 2, 4, 0)});
  refused({ABC(OP_RETURN1, 4, 0, 0)});
  refused({ABC(OP_EQ, 0, 7, 1), sJ(0), ret});
  refused({ABC(OP_PEEK8, 0, 4, 0), ret});
  // a vararg function's VARARG range
  Fn v = basemain();
  v.code = {ABC(OP_VARARGPREP, 0, 0, 0), ABC(OP_VARARG, 0, 0, 4), ABC(OP_RETURN, 0, 1, 1)};
  expect_refused(chunk(v), "register out of range");
}

TEST_F(ChunkState, ConstantsAreInRangeAndOfTheRightKind) {
  const Instruction ret = ABC(OP_RETURN0, 0, 1, 0);
  auto refused = [&](std::vector<Instruction> code, std::vector<std::string> k, const char *why) {
    expect_refused(chunk(withnested(fixedwith(code, k))), why);
  };
  refused({ABx(OP_LOADK, 0, 1), ret}, {kint(1)}, "constant index out of range");
  refused({ABx(OP_LOADKX, 0, 0), Ax(OP_EXTRAARG, 3), ret}, {kint(1)}, "constant index out of range");
  refused({ABC(OP_EQK, 0, 2, 0), sJ(0), ret}, {kint(1)}, "constant index out of range");
  refused({ABC(OP_SETFIELD, 0, 0, 5, 1), ret}, {kstr("x")}, "constant index out of range");
  refused({ABC(OP_GETFIELD, 0, 1, 0), ret}, {kint(1)}, "wrong constant kind");
  refused({ABC(OP_GETFIELD, 0, 1, 0), ret}, {kstr(std::string(41, 'n'))}, "wrong constant kind");
  refused({ABC(OP_SETFIELD, 0, 0, 1), ret}, {kflt(1)}, "wrong constant kind");
  refused({ABC(OP_SELF, 0, 1, 0, 1), ret}, {kint(3)}, "wrong constant kind");
  refused({ABC(OP_SELF, 0, 1, 2), ret}, {}, "wrong constant kind"); // key register not loaded
  refused({ABx(OP_LOADK, 2, 0), ABC(OP_SELF, 0, 1, 2), ret}, {kint(3)}, "wrong constant kind");
  refused({ABC(OP_ADDK, 0, 1, 0), ABC(OP_MMBINK, 1, 0, TM_ADD), ret}, {kstr("1")}, "wrong constant kind");
  refused({ABC(OP_BANDK, 0, 1, 0), ABC(OP_MMBINK, 1, 0, TM_BAND), ret}, {kflt(1)}, "wrong constant kind");
  // a method name in a register must be loaded right before, and nothing may jump past it
  ASSERT_EQ(load(chunk(withnested(fixedwith({ABx(OP_LOADK, 2, 0), ABC(OP_SELF, 0, 1, 2), ret}, {kstr("m")})))),
            LUA_OK)
      << message();
  lua_pop(L, 1);
  refused({sJ(1), ABx(OP_LOADK, 2, 0), ABC(OP_SELF, 0, 1, 2), ret}, {kstr("m")}, "bad jump target");
  // global access through an upvalue needs a short string
  Fn g = basemain();
  g.k = {kint(1)};
  g.code = {ABC(OP_VARARGPREP, 0, 0, 0), ABC(OP_GETTABUP, 0, 0, 0), ABC(OP_RETURN, 0, 2, 1)};
  expect_refused(chunk(g), "wrong constant kind");
  g.code = {ABC(OP_VARARGPREP, 0, 0, 0), ABC(OP_SETTABUP, 0, 0, 0, 1), ABC(OP_RETURN, 0, 1, 1)};
  expect_refused(chunk(g), "wrong constant kind");
  g.k = {kstr("x")};
  g.code = {ABC(OP_VARARGPREP, 0, 0, 0), ABC(OP_GETTABUP, 0, 0, 0), ABC(OP_RETURN, 0, 2, 1)};
  ASSERT_EQ(load(chunk(g)), LUA_OK) << message();
  lua_pop(L, 1);
}

TEST_F(ChunkState, UpvaluesAndNestedFunctionsAreInRange) {
  Fn g = basemain();
  g.code = {ABC(OP_VARARGPREP, 0, 0, 0), ABC(OP_GETUPVAL, 0, 1, 0), ABC(OP_RETURN, 0, 2, 1)};
  expect_refused(chunk(g), "upvalue index out of range");
  g.code = {ABC(OP_VARARGPREP, 0, 0, 0), ABC(OP_SETUPVAL, 0, 3, 0), ABC(OP_RETURN, 0, 1, 1)};
  expect_refused(chunk(g), "upvalue index out of range");
  g.code = {ABC(OP_VARARGPREP, 0, 0, 0), ABx(OP_CLOSURE, 0, 0), ABC(OP_RETURN, 0, 2, 1)};
  expect_refused(chunk(g), "function index out of range");
  // a nested function's upvalues come from the parent's registers or upvalues
  Fn inner = basefixed();
  inner.upvals = {{1, 2, 0}}; // parent register 2, but the parent has 2 registers
  expect_refused(chunk(withnested(inner)), "bad upvalue descriptor");
  inner.upvals = {{0, 1, 0}}; // parent upvalue 1 of 1
  expect_refused(chunk(withnested(inner)), "bad upvalue descriptor");
  inner.upvals = {{2, 0, 0}};
  expect_refused(chunk(withnested(inner)), "bad upvalue descriptor");
  inner.upvals = {{1, 1, 0}, {0, 0, 0}};
  ASSERT_EQ(load(chunk(withnested(inner))), LUA_OK) << message();
  lua_pop(L, 1);
  // a closure counts its upvalues in one byte
  inner.upvals.assign(255, {0, 0, 0});
  ASSERT_EQ(load(chunk(withnested(inner))), LUA_OK) << message();
  lua_pop(L, 1);
  inner.upvals.assign(256, {0, 0, 0});
  expect_refused(chunk(withnested(inner)), "too many upvalues");
}

TEST_F(ChunkState, InstructionPairsAreChecked) {
  const Instruction ret = ABC(OP_RETURN0, 0, 1, 0);
  auto refused = [&](std::vector<Instruction> code, const char *why, std::vector<std::string> k = {}) {
    expect_refused(chunk(withnested(fixedwith(code, k))), why);
  };
  refused({ABx(OP_LOADKX, 0, 0), ret}, "missing extra argument", {kint(1)});
  refused({ABC(OP_NEWTABLE, 0, 0, 0), ret}, "missing extra argument");
  refused({ABC(OP_SETLIST, 0, 1, 0, 1), ret}, "missing extra argument");
  refused({Ax(OP_EXTRAARG, 0), ret}, "misplaced extra argument");
  refused({ABC(OP_SETLIST, 0, 1, 0, 0), Ax(OP_EXTRAARG, 0), ret}, "misplaced extra argument");
  refused({ABC(OP_ADD, 0, 1, 2), ret}, "missing metamethod instruction");
  refused({ABC(OP_ADD, 0, 1, 2), ABC(OP_MMBIN, 1, 2, TM_SUB), ret}, "missing metamethod instruction");
  refused({ABC(OP_ADD, 0, 1, 2), ABC(OP_MMBINI, 1, 2, TM_ADD), ret}, "missing metamethod instruction");
  refused({ABC(OP_ADDI, 0, 1, 130), ABC(OP_MMBINI, 1, 128, TM_MUL), ret}, "missing metamethod instruction");
  refused({AsBx(OP_LOADI, 0, 1), ABC(OP_MMBIN, 0, 1, TM_ADD), ret}, "misplaced metamethod instruction");
  refused({ABC(OP_MMBIN, 0, 1, TM_ADD), ret}, "misplaced metamethod instruction");
  refused({ABC(OP_NEWTABLE, 0, 32, 0), Ax(OP_EXTRAARG, 0), ret}, "table size out of range");
  refused({ABC(OP_NEWTABLE, 0, 0, 0, 1), Ax(OP_EXTRAARG, MAXARG_Ax), ret}, "table size out of range");
  // the accepted forms
  std::vector<Instruction> good = {ABC(OP_NEWTABLE, 0, 1, 0), Ax(OP_EXTRAARG, 0),
                                   ABC(OP_ADD, 1, 0, 0), ABC(OP_MMBIN, 0, 0, TM_ADD),
                                   ABC(OP_ADDI, 1, 0, 126), ABC(OP_MMBINI, 0, 1, TM_SUB, 0),
                                   ABC(OP_SETLIST, 0, 2, 1, 1), Ax(OP_EXTRAARG, 2), ret};
  ASSERT_EQ(load(chunk(withnested(fixedwith(good)))), LUA_OK) << message();
  lua_pop(L, 1);
}

TEST_F(ChunkState, VarargsAndOpenTopsAreChecked) {
  const Instruction ret = ABC(OP_RETURN0, 0, 1, 0);
  auto refused = [&](std::vector<Instruction> code, const char *why) {
    expect_refused(chunk(withnested(fixedwith(code))), why);
  };
  refused({ABC(OP_VARARG, 0, 0, 2), ret}, "vararg in fixed-argument function");
  refused({ABC(OP_VARARGPREP, 0, 0, 0), ret}, "misplaced vararg preparation");
  refused({ABC(OP_CALL, 0, 0, 1), ret}, "open top without call");
  refused({AsBx(OP_LOADI, 1, 1), ABC(OP_CALL, 0, 0, 1), ret}, "open top without call");
  refused({ABC(OP_RETURN, 0, 0, 0)}, "open top without call");
  refused({ABC(OP_CALL, 1, 1, 2), ABC(OP_SETLIST, 0, 0, 0), ret}, "open top without call");
  // the top left by the call is below the values the next instruction takes
  refused({ABC(OP_CALL, 1, 1, 0), ABC(OP_CALL, 1, 0, 1), ret}, "open top without call");
  refused({ABC(OP_CALL, 0, 1, 0), ABC(OP_RETURN, 2, 0, 0)}, "open top without call");
  refused({ABC(OP_CALL, 1, 1, 0), ABC(OP_SETLIST, 1, 0, 0), ret}, "open top without call");
  ASSERT_EQ(load(chunk(withnested(fixedwith({ABC(OP_CALL, 1, 1, 0), ABC(OP_CALL, 0, 0, 1),
                                             ABC(OP_CALL, 2, 1, 0), ABC(OP_RETURN, 2, 0, 0)})))),
            LUA_OK)
      << message();
  lua_pop(L, 1);
  // returns of vararg functions restore the frame: their C must say so
  Fn v = basemain();
  v.code = {ABC(OP_VARARGPREP, 0, 0, 0), ABC(OP_RETURN, 0, 1, 0)};
  expect_refused(chunk(v), "bad return");
  v.code = {ABC(OP_VARARGPREP, 0, 0, 0), ABC(OP_RETURN0, 0, 1, 0)};
  expect_refused(chunk(v), "bad return");
  v.code = {ABC(OP_VARARGPREP, 1, 0, 0), ABC(OP_RETURN, 0, 1, 1)};
  expect_refused(chunk(v), "misplaced vararg preparation");
  v.code = {AsBx(OP_LOADI, 0, 1), ABC(OP_RETURN, 0, 1, 1)};
  expect_refused(chunk(v), "missing vararg preparation");
  v.code = {ABC(OP_VARARGPREP, 0, 0, 0), ABC(OP_VARARGPREP, 0, 0, 0), ABC(OP_RETURN, 0, 1, 1)};
  expect_refused(chunk(v), "misplaced vararg preparation");
  refused({ABC(OP_RETURN, 0, 1, 1)}, "bad return");
  refused({ABC(OP_TAILCALL, 0, 1, 1), ABC(OP_RETURN, 0, 0, 0)}, "bad return");
  // the accepted forms
  v.code = {ABC(OP_VARARGPREP, 0, 0, 0), ABC(OP_VARARG, 0, 0, 0), ABC(OP_RETURN, 0, 0, 1)};
  ASSERT_EQ(load(chunk(v)), LUA_OK) << message();
  ASSERT_EQ(lua_pcall(L, 0, LUA_MULTRET, 0), LUA_OK);
  lua_settop(L, 0);
}

TEST_F(ChunkState, DebugInformationIsChecked) {
  Fn f = basemain();
  f.lineinfo = {1, 0};
  expect_refused(chunk(f), "bad line information");
  f.lineinfo = {1, 0, 0};
  f.abslines = {{1, 5}};
  expect_refused(chunk(f), "bad line information"); // no mark for the entry
  f.lineinfo = {1, -128, 0};
  f.abslines = {};
  expect_refused(chunk(f), "bad line information"); // a mark without its entry
  f.lineinfo = {1, -128, 0};
  f.abslines = {{1, 100}};
  ASSERT_EQ(load(chunk(f)), LUA_OK) << message();
  lua_pop(L, 1);
  Fn o = basemain();
  o.code = {ABC(OP_VARARGPREP, 0, 0, 0), AsBx(OP_LOADI, 0, 7), AsBx(OP_LOADI, 0, 7), ABC(OP_RETURN, 0, 2, 1)};
  o.lineinfo = {1, -128, 127, 127};
  o.abslines = {{1, 0x7fffff7f}}; // the largest line a varint can give
  expect_refused(chunk(o), "bad line information"); // the line would overflow
  f.lineinfo = {};
  f.abslines = {{0, 1}};
  expect_refused(chunk(f), "bad line information");
  f.abslines = {};

  Fn l = basemain();
  l.locs = {{"x", true, 0, 4}};
  expect_refused(chunk(l), "bad local variable information");
  l.locs = {{"x", true, 2, 1}};
  expect_refused(chunk(l), "bad local variable information");
  l.locs = {{"x", false, 0, 1}};
  expect_refused(chunk(l), "bad local variable information");
  l.locs = {{"a", true, 0, 3}, {"b", true, 1, 3}, {"c", true, 1, 2}}; // 3 live in 2 registers
  expect_refused(chunk(l), "bad local variable information");
  l.locs = {{"a", true, 0, 3}, {"b", true, 1, 3}, {"c", true, 3, 3}};
  ASSERT_EQ(load(chunk(l)), LUA_OK) << message();
  lua_pop(L, 1);

  Fn u = basemain();
  u.upnames = {"_ENV", "extra"};
  expect_refused(chunk(u), "bad upvalue names");
  u.upnames = {"_ENV"};
  ASSERT_EQ(load(chunk(u)), LUA_OK) << message();
  lua_pop(L, 1);
}

TEST_F(ChunkState, NestingIsLimited) {
  auto nest = [&](int levels) {
    Fn f = basefixed();
    for (int i = 1; i < levels; i++) {
      Fn p = basefixed();
      p.protos = {f};
      f = p;
    }
    return withnested(f); // plus the main function
  };
  ASSERT_EQ(load(chunk(nest(199))), LUA_OK) << message();
  lua_pop(L, 1);
  expect_refused(chunk(nest(200)), "functions nested too deeply");
  expect_refused(chunk(nest(1000)), "functions nested too deeply");
}

// ---------------------------------------------------------------------------------------------
// The writer side

namespace {
struct FailingWriter {
  int calls = 0;
  int fail_at = 0;
};
int failing_writer(lua_State *, const void *, size_t, void *ud) {
  FailingWriter *w = static_cast<FailingWriter *>(ud);
  w->calls++;
  return w->calls == w->fail_at ? 7 : 0;
}
} // namespace

TEST_F(ChunkState, TheHeaderIsLua54sAndVarintsGoMostSignificantFirst) {
  const char *src = "local a = ... return a + 300";
  ASSERT_EQ(luaL_loadbufferx(L, src, std::strlen(src), "=h", nullptr), LUA_OK);
  std::string d = dump_top(0);
  ASSERT_GT(d.size(), 32u);
  EXPECT_EQ(d.substr(0, 31), header());
  EXPECT_EQ(d[31], 1); // _ENV
  EXPECT_EQ(d.substr(32, 3), str("=h")); // the source
  EXPECT_EQ(varint(0), "\x80");
  EXPECT_EQ(varint(300), "\x02\xac");
  // stripped: no source, and the first line fields follow at once
  std::string s = dump_top(1);
  EXPECT_EQ(s.substr(32, 3), "\x80\x80\x80");
  lua_pop(L, 1);
}

TEST_F(ChunkState, TheWritersFirstFailureStopsTheDump) {
  const char *src = "return 1";
  ASSERT_EQ(luaL_loadbufferx(L, src, std::strlen(src), "=w", nullptr), LUA_OK);
  FailingWriter w;
  w.fail_at = 3;
  EXPECT_EQ(lua_dump(L, failing_writer, &w, 0), 7);
  EXPECT_EQ(w.calls, 3);
  lua_pop(L, 1);
}

TEST_F(ChunkState, RegisterContentsTheInterpreterReliesOnAreChecked) {
  const Instruction ret = ABC(OP_RETURN0, 0, 1, 0);
  auto refused = [&](Fn inner, const char *why) { expect_refused(chunk(withnested(inner)), why); };
  auto accepted = [&](Fn inner) {
    ASSERT_EQ(load(chunk(withnested(inner))), LUA_OK) << message();
    lua_pop(L, 1);
  };
  const Instruction newt = ABC(OP_NEWTABLE, 0, 0, 1), xa = Ax(OP_EXTRAARG, 0);
  const Instruction setl = ABC(OP_SETLIST, 0, 1, 0);
  // OP_SETLIST stores into whatever R[A] holds: it must be the constructor's table
  refused(fixedwith({setl, ret}), "table constructor without table");
  refused(fixedwith({newt, xa, AsBx(OP_LOADI, 0, 1), setl, ret}), "table constructor without table");
  refused(fixedwith({ABC(OP_TEST, 1, 0, 0), sJ(2), newt, xa, setl, ret}), "table constructor without table");
  refused(fixedwith({newt, xa, ABC(OP_CALL, 0, 1, 1), setl, ret}), "table constructor without table");
  // ... and no closure may hold it as an open upvalue, even if closed again before the store
  Fn grab = basefixed();
  grab.upvals = {{1, 0, 0}};
  Fn f = fixedwith({newt, xa, ABx(OP_CLOSURE, 1, 0), setl, ret});
  f.protos = {grab};
  refused(f, "table constructor without table");
  f.code = {newt, xa, ABx(OP_CLOSURE, 1, 0), ABC(OP_CALL, 1, 1, 1), ABC(OP_CLOSE, 0, 0, 0), setl, ret};
  refused(f, "table constructor without table");
  f.code = {ABx(OP_CLOSURE, 1, 0), ABC(OP_CLOSE, 0, 0, 0), newt, xa, AsBx(OP_LOADI, 1, 5), setl, ret};
  accepted(f);
  accepted(fixedwith({newt, xa, AsBx(OP_LOADI, 1, 5), ABC(OP_TEST, 1, 0, 0), sJ(1), AsBx(OP_LOADI, 1, 6),
                      setl, ret}));

  // OP_FORLOOP runs on registers its OP_FORPREP prepared
  refused(fixedwith({AsBx(OP_LOADI, 0, 1), ABx(OP_FORLOOP, 0, 1), ret}), "for loop without preparation");
  refused(fixedwith({ABx(OP_FORPREP, 0, 1), AsBx(OP_LOADI, 1, 9), ABx(OP_FORLOOP, 0, 2), ret}),
          "for loop without preparation");
  accepted(fixedwith({ABx(OP_FORPREP, 0, 1), AsBx(OP_LOADI, 3, 9), ABx(OP_FORLOOP, 0, 2), ret}));

  // a frame may not be left with an upvalue or to-be-closed variable open on it
  Fn c = fixedwith({ABx(OP_CLOSURE, 1, 0), ABC(OP_RETURN, 0, 1, 0)});
  c.protos = {grab};
  refused(c, "return without closing upvalues");
  c.code = {ABx(OP_CLOSURE, 1, 0), ret};
  refused(c, "return without closing upvalues");
  c.code = {ABx(OP_CLOSURE, 1, 0), ABC(OP_RETURN1, 1, 0, 0)};
  refused(c, "return without closing upvalues");
  c.code = {ABx(OP_CLOSURE, 1, 0), ABC(OP_TAILCALL, 1, 1, 0), ABC(OP_RETURN, 1, 0, 0, 1)};
  refused(c, "return without closing upvalues");
  refused(fixedwith({ABC(OP_TBC, 0, 0, 0), ret}), "return without closing upvalues");
  c.code = {ABx(OP_CLOSURE, 1, 0), ABC(OP_RETURN, 0, 1, 0, 1)};
  accepted(c);
  c.code = {ABx(OP_CLOSURE, 1, 0), ABC(OP_CLOSE, 0, 0, 0), ret};
  accepted(c);
  c.code = {ABx(OP_CLOSURE, 1, 0), ABC(OP_TAILCALL, 1, 1, 0, 1), ABC(OP_RETURN, 1, 0, 0, 1)};
  accepted(c);

  // frames wider than one word of facts
  Fn wide = fixedwith({ABC(OP_NEWTABLE, 130, 0, 1), xa, AsBx(OP_LOADI, 129, 1), AsBx(OP_LOADI, 131, 1),
                       ABC(OP_SETLIST, 130, 1, 0), ret});
  wide.maxstack = 200;
  accepted(wide);
  wide.code = {ABC(OP_NEWTABLE, 130, 0, 1), xa, AsBx(OP_LOADI, 130, 1), ABC(OP_SETLIST, 130, 1, 0), ret};
  refused(wide, "table constructor without table");
  Fn grab128 = basefixed();
  grab128.upvals = {{1, 128, 0}};
  wide.protos = {grab128};
  wide.code = {ABx(OP_FORPREP, 126, 2), ABx(OP_CLOSURE, 140, 0), ABC(OP_CLOSE, 0, 0, 0),
               ABx(OP_FORLOOP, 126, 3), ret};
  refused(wide, "for loop without preparation");
  wide.code = {ABx(OP_FORPREP, 126, 2), ABx(OP_CLOSURE, 140, 0), ABC(OP_CLOSE, 129, 0, 0),
               ABx(OP_FORLOOP, 126, 3), ABC(OP_RETURN, 0, 1, 0, 1)};
  refused(wide, "for loop without preparation");
  grab128.upvals = {{1, 129, 0}};
  wide.protos = {grab128};
  accepted(wide);

  // the generic for's OP_TFORPREP and OP_TFORCALL share their register A
  Fn g = basefixed();
  g.maxstack = 9;
  g.code = {ABx(OP_TFORPREP, 1, 0), ABC(OP_TFORCALL, 0, 0, 1), ABx(OP_TFORLOOP, 0, 2), ret};
  refused(g, "jump out of range");
}

TEST(UndumpMemory, AFailedAllocationAnywhereIsAMemoryError) {
  const char *src =
      "local t = {1, 'two', string.rep('x', 60)}\n"
      "local function f(a, ...) local b <const> = 2 return a, ... end\n"
      "return function() return t, f end\n";
  std::string bin;
  {
    TestAlloc alloc;
    lua_State *L = lua_newstate(test_alloc, &alloc);
    ASSERT_EQ(luaL_loadbufferx(L, src, std::strlen(src), "=mem", nullptr), LUA_OK);
    ASSERT_EQ(lua_dump(L, strwriter, &bin, 0), 0);
    lua_close(L);
  }
  bool sawok = false;
  for (long long k = 0; k < 200 && !sawok; k++) {
    TestAlloc alloc;
    lua_State *L = lua_newstate(test_alloc, &alloc);
    ASSERT_NE(L, nullptr);
    alloc.fail_from = alloc.requests + k;
    alloc.fail_to = alloc.fail_from + 1;
    alloc.fail_final = true;
    int st = luaL_loadbufferx(L, bin.data(), bin.size(), "=mem", "b");
    if (st == LUA_OK)
      sawok = true;
    else {
      EXPECT_EQ(st, LUA_ERRMEM) << k;
    }
    alloc.fail_from = alloc.fail_to = -1;
    lua_close(L);
    EXPECT_EQ(alloc.live_blocks(), 0u);
  }
  EXPECT_TRUE(sawok);
}
