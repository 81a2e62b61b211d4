// Input streams and the lexer: Lua 5.4 tokens plus the dialect's operators, escapes and the
// line-break tokens behind single-line statements.
#include "lua/lexer.h"

#include "lua/do.h"
#include "lua/gc.h"
#include "lua/parser.h"
#include "lua/state.h"
#include "lua/string.h"
#include "lua/table.h"

// ---------------------------------------------------------------------------------------------
// Input streams

int luaZ_fill(Zio *z) {
  size_t size;
  lua_State *L = z->L;
  const char *buff = z->reader(L, z->data, &size);
  if (buff == NULL || size == 0) {
    z->n = 0; // keeps zgetc asking the reader again instead of running off the block
    return EOZ;
  }
  z->n = size - 1; // discount the char being returned
  z->p = buff;
  return cast_uchar(*(z->p++));
}

void luaZ_init(lua_State *L, Zio *z, lua_Reader reader, void *data) {
  z->L = L;
  z->reader = reader;
  z->data = data;
  z->n = 0;
  z->p = NULL;
}

size_t luaZ_read(Zio *z, void *b, size_t n) {
  while (n) {
    size_t m;
    if (z->n == 0) {
      if (luaZ_fill(z) == EOZ) return n; // no more input: return number of missing bytes
      z->n++; // luaZ_fill consumed the first byte; put it back
      z->p--;
    }
    m = (n <= z->n) ? n : z->n;
    memcpy(b, z->p, m);
    z->n -= m;
    z->p += m;
    b = (char *)b + m;
    n -= m;
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Character classes (ASCII only: bytes 0x80-0xFF belong to no class)

static inline bool lislalpha(int c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
static inline bool lisdigit(int c) { return c >= '0' && c <= '9'; }
static inline bool lislalnum(int c) { return lislalpha(c) || lisdigit(c); }
static inline bool lisxdigit(int c) {
  return lisdigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
static inline bool lisspace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
static inline bool lisprint(int c) { return c >= 0x21 && c <= 0x7E; }

// ---------------------------------------------------------------------------------------------
// Tokens

#define next(ls) ((ls)->current = zgetc((ls)->z))
#define currIsNewline(ls) ((ls)->current == '\n' || (ls)->current == '\r')

const char *const luaX_tokens[NUM_TOKENS] = {
    "and", "break", "do", "else", "elseif", "end", "false", "for", "function", "goto", "if", "in",
    "local", "nil", "not", "or", "repeat", "return", "then", "true", "until", "while",
    "//", "..", "...", "==", ">=", "<=", "~=", "<<", ">>", "::",
    "<eof>", "<number>", "<integer>", "<name>", "<string>",
    "!=", "?", "<eol>", "+=", "-=", "*=", "/=", "%=", "^=", "\\=", "&=", "|=", "^^=", "<<=",
    ">>=", ">>>=", "<<>=", ">><=", "..="};

#define save_and_next(ls) (save(ls, (ls)->current), next(ls))

[[noreturn]] static void lexerror(LexState *ls, const char *msg, int token);

static void save(LexState *ls, int c) {
  Mbuffer *b = ls->buff;
  if (luaZ_bufflen(b) + 1 > luaZ_sizebuffer(b)) {
    size_t newsize;
    if (luaZ_sizebuffer(b) >= ((size_t)1 << 62) - 1) lexerror(ls, "lexical element too long", 0);
    newsize = luaZ_sizebuffer(b) * 2;
    luaZ_resizebuffer(ls->L, b, newsize);
  }
  b->buffer[luaZ_bufflen(b)++] = cast_char(c);
}

void luaX_init(lua_State *L) {
  TString *e = luaS_newliteral(L, LUA_ENV);
  luaC_fix(L, obj2gco(e)); // never collect this name
  for (int i = 0; i < NUM_RESERVED; i++) {
    TString *ts = luaS_new(L, luaX_tokens[i]);
    luaC_fix(L, obj2gco(ts));
    ts->extra = cast_byte(i + 1); // reserved word
  }
}

const char *luaX_token2str(LexState *ls, int token) {
  if (token < FIRST_RESERVED) { // single-byte symbols?
    if (lisprint(token)) return luaO_pushfstring(ls->L, "'%c'", token);
    return luaO_pushfstring(ls->L, "'<\\%d>'", token);
  }
  const char *s = luaX_tokens[token - FIRST_RESERVED];
  if (token < TK_EOS) return luaO_pushfstring(ls->L, "'%s'", s); // fixed format (symbols and reserved words)
  return s; // <eof>, names and the dialect's tokens show bare
}

static const char *txtToken(LexState *ls, int token) {
  switch (token) {
    case TK_NAME:
    case TK_STRING:
    case TK_FLT:
    case TK_INT:
      save(ls, '\0');
      return luaO_pushfstring(ls->L, "'%s'", luaZ_buffer(ls->buff));
    default:
      return luaX_token2str(ls, token);
  }
}

static void lexerror(LexState *ls, const char *msg, int token) {
  char buff[LUA_IDSIZE_];
  if (ls->source)
    luaO_chunkid(buff, getstr(ls->source), tsslen(ls->source));
  else {
    buff[0] = '?';
    buff[1] = '\0';
  }
  msg = luaO_pushfstring(ls->L, "%s:%d: %s", buff, ls->linenumber, msg);
  if (token) luaO_pushfstring(ls->L, "%s near %s", msg, txtToken(ls, token));
  luaD_throw(ls->L, LUA_ERRSYNTAX);
}

void luaX_syntaxerror(LexState *ls, const char *msg) { lexerror(ls, msg, ls->t.token); }

// Interns a string and anchors it in the scanner's table so that it lives as long as the
// compilation; an equal string already anchored is returned instead.
TString *luaX_newstring(LexState *ls, const char *str, size_t l) {
  lua_State *L = ls->L;
  TString *ts = luaS_newlstr(L, str, l);
  const TValue *o = luaH_getstr(ls->h, ts);
  if (!ttisnil(o)) { // string already present?
    ts = keystrval(nodefromval(o));
  } else {
    TValue *stv = s2v(L->top++); // anchor the string while the table may grow
    setsvalue(L, stv, ts);
    TValue tv;
    setbtvalue(&tv);
    luaH_set(L, ls->h, stv, &tv);
    luaC_checkGC(L);
    L->top--;
  }
  return ts;
}

// Consumes a line break: \n, \r, \n\r or \r\n count as one.
static void inclinenumber(LexState *ls) {
  int old = ls->current;
  next(ls);
  if (currIsNewline(ls) && ls->current != old) next(ls);
  if (++ls->linenumber >= MAX_INT) lexerror(ls, "chunk has too many lines", 0);
}

void luaX_setinput(lua_State *L, LexState *ls, Zio *z, TString *source, int firstchar) {
  ls->t.token = 0;
  ls->L = L;
  ls->current = firstchar;
  ls->lookahead.token = TK_EOS; // no look-ahead token
  ls->z = z;
  ls->fs = NULL;
  ls->linenumber = 1;
  ls->lastline = 1;
  ls->pending_eol = 0;
  ls->paren_depth = -1;
  ls->source = source;
  ls->envn = luaS_newliteral(L, LUA_ENV);
  luaZ_resizebuffer(ls->L, ls->buff, LUA_MINBUFFER);
}

// ---------------------------------------------------------------------------------------------
// Lexical analysis

static int check_next1(LexState *ls, int c) {
  if (ls->current == c) {
    next(ls);
    return 1;
  }
  return 0;
}

// Checks whether the current char is in the two-char set 'set' and saves it.
static int check_next2(LexState *ls, const char *set) {
  if (ls->current == set[0] || ls->current == set[1]) {
    save_and_next(ls);
    return 1;
  }
  return 0;
}

// A numeral: hexadecimal digits (b and B among them, so binary numerals need no case of
// their own), points and exponents; the conversion decides what it is.
static int read_numeral(LexState *ls, SemInfo *seminfo) {
  TValue obj;
  const char *expo = "Ee";
  int first = ls->current;
  save_and_next(ls);
  if (first == '0' && check_next2(ls, "xX")) expo = "Pp";
  for (;;) {
    if (check_next2(ls, expo)) // exponent mark?
      check_next2(ls, "-+");   // optional exponent sign
    else if (lisxdigit(ls->current) || ls->current == '.')
      save_and_next(ls);
    else
      break;
  }
  if (lislalnum(ls->current)) save_and_next(ls); // a glued letter makes the numeral malformed
  save(ls, '\0');
  if (luaO_str2num(luaZ_buffer(ls->buff), &obj) == 0) lexerror(ls, "malformed number", TK_FLT);
  if (ttisinteger(&obj)) {
    seminfo->i = ivalue(&obj);
    return TK_INT;
  }
  seminfo->r = fltvalue(&obj);
  return TK_FLT;
}

// Reads a sequence '[=*[' or ']=*]', leaving the last bracket. When the sequence is well
// formed, returns its number of '='s + 2; otherwise 1 when there is no '=' (a single bracket)
// or 0 (a malformed long bracket).
static size_t skip_sep(LexState *ls) {
  size_t count = 0;
  int s = ls->current;
  save_and_next(ls);
  while (ls->current == '=') {
    save_and_next(ls);
    count++;
  }
  return (ls->current == s) ? count + 2 : (count == 0) ? 1 : 0;
}

static void read_long_string(LexState *ls, SemInfo *seminfo, size_t sep) {
  int line = ls->linenumber; // initial line (for the error message)
  save_and_next(ls);         // skip 2nd '['
  if (currIsNewline(ls)) inclinenumber(ls); // a first line break is skipped
  for (;;) {
    switch (ls->current) {
      case EOZ: {
        const char *what = (seminfo ? "string" : "comment");
        const char *msg =
            luaO_pushfstring(ls->L, "unfinished long %s (starting at line %d)", what, line);
        lexerror(ls, msg, TK_EOS);
      }
      case ']': {
        if (skip_sep(ls) == sep) {
          save_and_next(ls); // skip 2nd ']'
          goto endloop;
        }
        break;
      }
      case '\n':
      case '\r': {
        save(ls, '\n');
        inclinenumber(ls);
        if (!seminfo) luaZ_resetbuffer(ls->buff); // comments need no text
        break;
      }
      default: {
        if (seminfo)
          save_and_next(ls);
        else
          next(ls);
      }
    }
  }
endloop:
  if (seminfo)
    seminfo->ts = luaX_newstring(ls, luaZ_buffer(ls->buff) + sep, luaZ_bufflen(ls->buff) - 2 * sep);
}

static void esccheck(LexState *ls, int c, const char *msg) {
  if (!c) {
    if (ls->current != EOZ) save_and_next(ls); // add current to buffer for the error message
    lexerror(ls, msg, TK_STRING);
  }
}

static int gethexa(LexState *ls) {
  save_and_next(ls);
  esccheck(ls, lisxdigit(ls->current), "hexadecimal digit expected");
  return luaO_hexavalue(ls->current);
}

static int readhexaesc(LexState *ls) {
  int r = gethexa(ls);
  r = (r << 4) + gethexa(ls);
  luaZ_buffremove(ls->buff, 2); // remove saved chars from buffer
  return r;
}

static unsigned long readutf8esc(LexState *ls) {
  unsigned long r;
  int i = 4; // chars to be removed: '\', 'u', '{', and first digit
  save_and_next(ls); // skip 'u'
  esccheck(ls, ls->current == '{', "missing '{'");
  r = gethexa(ls); // must have at least one digit
  while (save_and_next(ls), lisxdigit(ls->current)) {
    i++;
    esccheck(ls, r <= (0x7FFFFFFFu >> 4), "UTF-8 value too large");
    r = (r << 4) + luaO_hexavalue(ls->current);
  }
  esccheck(ls, ls->current == '}', "missing '}'");
  next(ls); // skip '}'
  luaZ_buffremove(ls->buff, i);
  return r;
}

static void utf8esc(LexState *ls) {
  char buff[UTF8BUFFSZ];
  int n = luaO_utf8esc(buff, readutf8esc(ls));
  for (; n > 0; n--) save(ls, buff[UTF8BUFFSZ - n]);
}

static int readdecesc(LexState *ls) {
  int i;
  int r = 0;
  for (i = 0; i < 3 && lisdigit(ls->current); i++) { // read up to 3 digits
    r = 10 * r + ls->current - '0';
    save_and_next(ls);
  }
  esccheck(ls, r <= UCHAR_MAX, "decimal escape too large");
  luaZ_buffremove(ls->buff, i);
  return r;
}

static void read_string(LexState *ls, int del, SemInfo *seminfo) {
  save_and_next(ls); // keep delimiter (for error messages)
  while (ls->current != del) {
    switch (ls->current) {
      case EOZ:
        lexerror(ls, "unfinished string", TK_EOS);
      case '\n':
      case '\r':
        lexerror(ls, "unfinished string", TK_STRING);
      case '\\': {
        int c;
        save_and_next(ls); // keep '\\' for error messages
        switch (ls->current) {
          case 'a': c = '\a'; goto read_save;
          case 'b': c = '\b'; goto read_save;
          case 'f': c = '\f'; goto read_save;
          case 'n': c = '\n'; goto read_save;
          case 'r': c = '\r'; goto read_save;
          case 't': c = '\t'; goto read_save;
          case 'v': c = '\v'; goto read_save;
          // the dialect's control-character escapes
          case '*': c = 1; goto read_save;
          case '#': c = 2; goto read_save;
          case '-': c = 3; goto read_save;
          case '|': c = 4; goto read_save;
          case '+': c = 5; goto read_save;
          case '^': c = 6; goto read_save;
          case 'x': c = readhexaesc(ls); goto read_save;
          case 'u': utf8esc(ls); goto no_save;
          case '\n':
          case '\r':
            inclinenumber(ls);
            c = '\n';
            goto only_save;
          case '\\':
          case '\"':
          case '\'':
            c = ls->current;
            goto read_save;
          case EOZ: goto no_save; // will raise an error next loop
          case 'z': { // zap following span of spaces
            luaZ_buffremove(ls->buff, 1); // remove '\\'
            next(ls);
            while (lisspace(ls->current)) {
              if (currIsNewline(ls))
                inclinenumber(ls);
              else
                next(ls);
            }
            goto no_save;
          }
          default: {
            esccheck(ls, lisdigit(ls->current), "invalid escape sequence");
            c = readdecesc(ls); // digital escape '\ddd'
            goto only_save;
          }
        }
      read_save:
        next(ls);
        // fall through
      only_save:
        luaZ_buffremove(ls->buff, 1); // remove '\\'
        save(ls, c);
        // fall through
      no_save:
        break;
      }
      default:
        save_and_next(ls);
    }
  }
  save_and_next(ls); // skip delimiter
  seminfo->ts = luaX_newstring(ls, luaZ_buffer(ls->buff) + 1, luaZ_bufflen(ls->buff) - 2);
}

// A character that may be followed by '=' to form a compound-assignment token.
static int with_eq(LexState *ls, int c, int eqtoken) {
  next(ls);
  if (check_next1(ls, '=')) return eqtoken;
  return c;
}

static int llex(LexState *ls, SemInfo *seminfo) {
  luaZ_resetbuffer(ls->buff);
  for (;;) {
    switch (ls->current) {
      case '\n':
      case '\r': {
        // Every pending <eol> is delivered at this break: all but the last without consuming
        // it, the last one with the line counted.
        if (ls->pending_eol >= 2) {
          ls->pending_eol--;
          return TK_EOL;
        }
        inclinenumber(ls);
        if (ls->pending_eol > 0) {
          ls->pending_eol--;
          return TK_EOL;
        }
        break;
      }
      case ' ':
      case '\f':
      case '\t':
      case '\v': {
        next(ls);
        break;
      }
      case '-': { // '-', '-=' or '--' (comment)
        next(ls);
        if (check_next1(ls, '=')) return TK_SUBEQ;
        if (ls->current != '-') return '-';
        // else is a comment
        next(ls);
        if (ls->current == '[') { // long comment?
          size_t sep = skip_sep(ls);
          luaZ_resetbuffer(ls->buff); // 'skip_sep' may dirty the buffer
          if (sep >= 2) {
            read_long_string(ls, NULL, sep);
            luaZ_resetbuffer(ls->buff);
            break;
          }
        }
        // else short comment
        while (!currIsNewline(ls) && ls->current != EOZ) next(ls);
        break;
      }
      case '[': { // long string or simply '['
        size_t sep = skip_sep(ls);
        if (sep >= 2) {
          read_long_string(ls, seminfo, sep);
          return TK_STRING;
        } else if (sep == 0) // '[=...' missing second bracket?
          lexerror(ls, "invalid long string delimiter", TK_STRING);
        return '[';
      }
      case '=': {
        next(ls);
        if (check_next1(ls, '=')) return TK_EQ;
        return '=';
      }
      case '<': {
        next(ls);
        if (check_next1(ls, '=')) return TK_LE;
        if (check_next1(ls, '<')) {
          if (check_next1(ls, '=')) return TK_SHLEQ;
          return TK_SHL;
        }
        return '<';
      }
      case '>': {
        next(ls);
        if (check_next1(ls, '=')) return TK_GE;
        if (check_next1(ls, '>')) {
          if (check_next1(ls, '=')) return TK_SHREQ;
          return TK_SHR;
        }
        return '>';
      }
      case '/': {
        next(ls);
        if (check_next1(ls, '=')) return TK_DIVEQ;
        if (check_next1(ls, '/')) return TK_IDIV; // no '//=': that is '//' then '='
        return '/';
      }
      case '^': {
        next(ls);
        if (check_next1(ls, '=')) return TK_POWEQ;
        if (check_next1(ls, '^')) {
          if (check_next1(ls, '=')) return TK_BXOREQ;
          return '~'; // '^^' spells exclusive or and bitwise not
        }
        return '^';
      }
      case ':': {
        next(ls);
        if (check_next1(ls, ':')) return TK_DBCOLON;
        return ':';
      }
      case '!': return with_eq(ls, '!', TK_BANGEQ);
      case '%': return with_eq(ls, '%', TK_MODEQ);
      case '&': return with_eq(ls, '&', TK_BANDEQ);
      case '*': return with_eq(ls, '*', TK_MULEQ);
      case '+': return with_eq(ls, '+', TK_ADDEQ);
      case '\\': return with_eq(ls, '\\', TK_IDIVEQ);
      case '|': return with_eq(ls, '|', TK_BOREQ);
      case '~': return with_eq(ls, '~', TK_NE);
      case '?': {
        next(ls);
        ls->pending_eol++; // the print statement ends at the line break
        return TK_QUESTION;
      }
      case '"':
      case '\'': {
        read_string(ls, ls->current, seminfo);
        return TK_STRING;
      }
      case '.': { // '.', '..', '..=', '...', or number
        save_and_next(ls);
        if (check_next1(ls, '.')) {
          if (check_next1(ls, '.')) return TK_DOTS;
          if (check_next1(ls, '=')) return TK_CONCATEQ;
          return TK_CONCAT;
        }
        if (!lisdigit(ls->current)) return '.';
        return read_numeral(ls, seminfo);
      }
      case '0': case '1': case '2': case '3': case '4':
      case '5': case '6': case '7': case '8': case '9': {
        return read_numeral(ls, seminfo);
      }
      case EOZ: {
        return TK_EOS;
      }
      default: {
        if (lislalpha(ls->current)) { // identifier or reserved word?
          TString *ts;
          do {
            save_and_next(ls);
          } while (lislalnum(ls->current));
          ts = luaX_newstring(ls, luaZ_buffer(ls->buff), luaZ_bufflen(ls->buff));
          seminfo->ts = ts;
          if (isreserved(ts)) return ts->extra - 1 + FIRST_RESERVED;
          return TK_NAME;
        }
        // single-char tokens ('+', '*', '%', '{', '}', ...)
        int c = ls->current;
        if (c == ')')
          ls->paren_depth--;
        else if (c == '(') {
          if (ls->paren_depth > 0)
            ls->paren_depth++;
          else
            ls->paren_depth--;
        }
        next(ls);
        return c;
      }
    }
  }
}

void luaX_next(LexState *ls) {
  ls->lastline = ls->linenumber;
  if (ls->lookahead.token != TK_EOS) { // is there a look-ahead token?
    ls->t = ls->lookahead;
    ls->lookahead.token = TK_EOS;
  } else
    ls->t.token = llex(ls, &ls->t.seminfo);
}

int luaX_lookahead(LexState *ls) {
  lua_assert(ls->lookahead.token == TK_EOS);
  ls->lookahead.token = llex(ls, &ls->lookahead.seminfo);
  return ls->lookahead.token;
}

int luaX_trackbraces(LexState *ls) {
  ls->paren_depth = (ls->t.token == '(') ? 1 : -1;
  return ls->paren_depth;
}
