// Human-readable listing of compiled code (the runner's --list).
#pragma once

#include <cstdio>

#include "lua/object.h"

// Prints each function's instructions (index, line, opcode name, operands), nested functions
// after their parent.
void print_listing(FILE *out, const Proto *p);
