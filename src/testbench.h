// --testbench: a self-checking VHDL testbench that drives the checker
// through every row that can fire and into every error it can raise.
#ifndef GUARDGEN_TESTBENCH_H
#define GUARDGEN_TESTBENCH_H

#include "analysis.h"
#include "model.h"

#include <string>

// ANALYSIS must have kept the inputs (analyse with inputs).
void write_testbench(const ModelView& view, const Analysis& analysis, const std::string& path);

#endif
