// The parser: builds prototypes from source through the code generator.
#pragma once

#include "lua/lexer.h"
#include "lua/object.h"

// Kinds of variables.
#define VDKREG 0     // regular
#define RDKCONST 1   // constant
#define RDKTOCLOSE 2 // to-be-closed
#define RDKCTC 3     // compile-time constant

// Description of an active local variable (24 bytes).
union Vardesc {
  struct {
    TValuefields; // constant value (if it is a compile-time constant)
    lu_byte kind;
    lu_byte ridx;  // register holding the variable
    short pidx;    // index of the variable in the Proto's 'locvars' array
    TString *name; // variable name
  } vd;
  TValue k; // constant value (if any)
};

// Description of pending goto statements and label statements (24 bytes).
struct Labeldesc {
  TString *name; // label identifier
  int pc;        // position in code
  int line;      // line where it appeared
  lu_byte nactvar; // number of active variables in that position
  lu_byte close;   // goto that escapes upvalues
};

struct Labellist {
  Labeldesc *arr; // array
  int n;          // number of entries in use
  int size;       // array size
};

// Work area of one parse: active variables, pending gotos, labels.
struct ParserData {
  struct {
    Vardesc *arr;
    int n;
    int size;
  } actvar;
  Labellist gt;    // list of pending gotos
  Labellist label; // list of active labels
};
typedef ParserData Dyndata;

LClosure *luaY_parser(lua_State *L, Zio *z, Mbuffer *buff, ParserData *dyd, const char *name,
                      int firstchar);

struct FuncState;
// Registers held by the active locals of a function (compile-time constants hold none).
int luaY_nvarstack(struct FuncState *fs);
