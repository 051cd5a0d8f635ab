// Recursive-descent parser of the description language; fills the model
// tables. Ends the process through synTotalError on the first error.
#ifndef GUARDGEN_PARSER_H
#define GUARDGEN_PARSER_H

// parse reads the description that lexInit opened.
#include "lex.h"

#include <string>

void parse();

// True when an upper-case identifier may name a signal, an input symbol or
// a state: not reserved by VHDL or by the checker, no leading, trailing or
// double "_", not longer than VHDL tools take. Other readers of machines
// (KISS2) apply the same rule.
bool vhdl_name_ok(const std::string& name);

#endif
