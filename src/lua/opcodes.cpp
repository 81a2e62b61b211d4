// The opcode names and mode bytes of the instruction set.
#include "lua/opcodes.h"

// Mode byte per opcode: format (bits 0-2), sets A, test, uses top, sets top, metamethod.
const lu_byte luaP_opmodes[NUM_OPCODES] = {
    0x08, // MOVE
    0x0A, // LOADI
    0x0A, // LOADF
    0x09, // LOADK
    0x09, // LOADKX
    0x08, // LOADFALSE
    0x08, // LFALSESKIP
    0x08, // LOADTRUE
    0x08, // LOADNIL
    0x08, // GETUPVAL
    0x00, // SETUPVAL
    0x08, // GETTABUP
    0x08, // GETTABLE
    0x08, // GETI
    0x08, // GETFIELD
    0x00, // SETTABUP
    0x00, // SETTABLE
    0x00, // SETI
    0x00, // SETFIELD
    0x08, // NEWTABLE
    0x08, // SELF
    0x08, // ADDI
    0x08, // ADDK
    0x08, // SUBK
    0x08, // MULK
    0x08, // MODK
    0x08, // POWK
    0x08, // DIVK
    0x08, // IDIVK
    0x08, // BANDK
    0x08, // BORK
    0x08, // BXORK
    0x08, // SHRI
    0x08, // SHLI
    0x08, // ADD
    0x08, // SUB
    0x08, // MUL
    0x08, // MOD
    0x08, // POW
    0x08, // DIV
    0x08, // IDIV
    0x08, // BAND
    0x08, // BOR
    0x08, // BXOR
    0x08, // SHL
    0x08, // SHR
    0x80, // MMBIN
    0x80, // MMBINI
    0x80, // MMBINK
    0x08, // UNM
    0x08, // BNOT
    0x08, // NOT
    0x08, // PEEK
    0x08, // PEEK2
    0x08, // PEEK4
    0x08, // PEEK8
    0x08, // LEN
    0x08, // CONCAT
    0x00, // CLOSE
    0x00, // TBC
    0x04, // JMP
    0x10, // EQ
    0x10, // LT
    0x10, // LE
    0x10, // EQK
    0x10, // EQI
    0x10, // LTI
    0x10, // LEI
    0x10, // GTI
    0x10, // GEI
    0x10, // TEST
    0x18, // TESTSET
    0x68, // CALL
    0x68, // TAILCALL
    0x20, // RETURN
    0x00, // RETURN0
    0x00, // RETURN1
    0x09, // FORLOOP
    0x09, // FORPREP
    0x01, // TFORPREP
    0x00, // TFORCALL
    0x09, // TFORLOOP
    0x20, // SETLIST
    0x09, // CLOSURE
    0x48, // VARARG
    0x28, // VARARGPREP
    0x03, // EXTRAARG
};

const char *const luaP_opnames[NUM_OPCODES + 1] = {
    "MOVE", "LOADI", "LOADF", "LOADK", "LOADKX", "LOADFALSE",
    "LFALSESKIP", "LOADTRUE", "LOADNIL", "GETUPVAL", "SETUPVAL", "GETTABUP",
    "GETTABLE", "GETI", "GETFIELD", "SETTABUP", "SETTABLE", "SETI",
    "SETFIELD", "NEWTABLE", "SELF", "ADDI", "ADDK", "SUBK",
    "MULK", "MODK", "POWK", "DIVK", "IDIVK", "BANDK",
    "BORK", "BXORK", "SHRI", "SHLI", "ADD", "SUB",
    "MUL", "MOD", "POW", "DIV", "IDIV", "BAND",
    "BOR", "BXOR", "SHL", "SHR", "MMBIN", "MMBINI",
    "MMBINK", "UNM", "BNOT", "NOT", "PEEK", "PEEK2",
    "PEEK4", "PEEK8", "LEN", "CONCAT", "CLOSE", "TBC",
    "JMP", "EQ", "LT", "LE", "EQK", "EQI",
    "LTI", "LEI", "GTI", "GEI", "TEST", "TESTSET",
    "CALL", "TAILCALL", "RETURN", "RETURN0", "RETURN1", "FORLOOP",
    "FORPREP", "TFORPREP", "TFORCALL", "TFORLOOP", "SETLIST", "CLOSURE",
    "VARARG", "VARARGPREP", "EXTRAARG",
    NULL};
