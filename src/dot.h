// --dot: a Graphviz picture of the described machine.
#ifndef GUARDGEN_DOT_H
#define GUARDGEN_DOT_H

#include "analysis.h"
#include "model.h"

#include <string>

void write_dot(const ModelView& view, const Analysis& analysis, const std::string& path);

#endif
