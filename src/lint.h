// --lint: the findings about a description, one line each on stderr.
#ifndef GUARDGEN_LINT_H
#define GUARDGEN_LINT_H

#include "analysis.h"
#include "model.h"

// Reports the findings in the order of their lines; returns the number.
size_t lint(const ModelView& view, const Analysis& analysis);

#endif
