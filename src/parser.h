// Recursive-descent parser of the description language; fills the model
// tables. Ends the process through synTotalError on the first error.
#ifndef GUARDGEN_PARSER_H
#define GUARDGEN_PARSER_H

// parse reads the description that lexInit opened.
#include "lex.h"

void parse();

#endif
