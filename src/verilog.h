// --verilog: the checker as a Verilog-2005 module, the same machine as the
// VHDL one.
#ifndef GUARDGEN_VERILOG_H
#define GUARDGEN_VERILOG_H

#include "model.h"

#include <string>

void write_verilog(const ModelView& view, const std::string& path);

#endif
