// Input streams, the token buffer and the lexer.
#pragma once

#include "lua/mem.h"
#include "lua/object.h"

#define EOZ (-1) // end of stream

// Input stream over a reader function.
struct Zio {
  size_t n;          // bytes still unread
  const char *p;     // current position in buffer
  lua_Reader reader; // reader function
  void *data;        // additional data
  lua_State *L;
};
typedef Zio InputStream;

#define zgetc(z) (((z)->n--) > 0 ? cast_uchar(*(z)->p++) : luaZ_fill(z))

// Growable byte buffer used by the lexer and the loader (charge = size).
struct Mbuffer {
  char *buffer;
  size_t n;
  size_t buffsize;
};
typedef Mbuffer TokenBuffer;

#define luaZ_initbuffer(L, buff) ((buff)->buffer = NULL, (buff)->buffsize = 0)
#define luaZ_buffer(buff) ((buff)->buffer)
#define luaZ_sizebuffer(buff) ((buff)->buffsize)
#define luaZ_bufflen(buff) ((buff)->n)
#define luaZ_buffremove(buff, i) ((buff)->n -= (i))
#define luaZ_resetbuffer(buff) ((buff)->n = 0)
#define luaZ_resizebuffer(L, buff, size) \
  ((buff)->buffer = luaM_reallocvchar(L, (buff)->buffer, (buff)->buffsize, size, size), (buff)->buffsize = size)
#define luaZ_freebuffer(L, buff) luaZ_resizebuffer(L, buff, 0)

void luaZ_init(lua_State *L, Zio *z, lua_Reader reader, void *data);
size_t luaZ_read(Zio *z, void *b, size_t n); // read next n bytes; returns bytes missing
int luaZ_fill(Zio *z);

// Lexer entry points (the compiler owns the rest of this header).
void luaX_init(lua_State *L);

struct Table;
struct FuncState;
struct ParserData;

#define LUA_ENV "_ENV"
#define LUA_MINBUFFER 32

#define FIRST_RESERVED 256

// Token codes above 255 (codes below stand for their single character). Keep the order: the
// display names in luaX_tokens follow it.
enum RESERVED {
  // reserved words (256-277)
  TK_AND = FIRST_RESERVED, TK_BREAK, TK_DO, TK_ELSE, TK_ELSEIF, TK_END, TK_FALSE, TK_FOR,
  TK_FUNCTION, TK_GOTO, TK_IF, TK_IN, TK_LOCAL, TK_NIL, TK_NOT, TK_OR, TK_REPEAT, TK_RETURN,
  TK_THEN, TK_TRUE, TK_UNTIL, TK_WHILE,
  // other multi-character symbols (278-287)
  TK_IDIV, TK_CONCAT, TK_DOTS, TK_EQ, TK_GE, TK_LE, TK_NE, TK_SHL, TK_SHR, TK_DBCOLON,
  // 288-292
  TK_EOS, TK_FLT, TK_INT, TK_NAME, TK_STRING,
  // the dialect's tokens (293-311)
  TK_BANGEQ,   // !=
  TK_QUESTION, // ?
  TK_EOL,      // line break owed to a single-line statement
  TK_ADDEQ, TK_SUBEQ, TK_MULEQ, TK_DIVEQ, TK_MODEQ, TK_POWEQ, TK_IDIVEQ, TK_BANDEQ, TK_BOREQ,
  TK_BXOREQ, TK_SHLEQ, TK_SHREQ,
  TK_LSHREQ, TK_ROTLEQ, TK_ROTREQ, // named only; nothing scans as these
  TK_CONCATEQ
};

#define NUM_RESERVED (cast_int(TK_WHILE - FIRST_RESERVED + 1))
#define NUM_TOKENS (cast_int(TK_CONCATEQ - FIRST_RESERVED + 1))

union SemInfo {
  lua_Number r;
  lua_Integer i;
  TString *ts;
};

struct Token {
  int token;
  SemInfo seminfo;
};

// State of the lexer plus the state of the parser shared by all functions of a chunk.
struct LexState {
  int current;     // current character (charint)
  int linenumber;  // input line counter
  int pending_eol; // <eol> tokens owed at the next line break
  int lastline;    // line of last token 'consumed'
  int paren_depth; // parenthesis counter behind the single-line statements
  Token t;         // current token
  Token lookahead; // look ahead token (TK_EOS: none)
  struct FuncState *fs; // current function (parser)
  lua_State *L;
  Zio *z;          // input stream
  Mbuffer *buff;   // buffer for tokens
  Table *h;        // anchors strings and caches constants
  struct ParserData *dyd; // dynamic structures used by the parser
  TString *source; // current source name
  TString *envn;   // environment variable name
};
typedef LexState LexerState;

extern const char *const luaX_tokens[NUM_TOKENS];

void luaX_setinput(lua_State *L, LexState *ls, Zio *z, TString *source, int firstchar);
TString *luaX_newstring(LexState *ls, const char *str, size_t l);
void luaX_next(LexState *ls);
int luaX_lookahead(LexState *ls);
int luaX_trackbraces(LexState *ls);
[[noreturn]] void luaX_syntaxerror(LexState *ls, const char *s);
const char *luaX_token2str(LexState *ls, int token);
