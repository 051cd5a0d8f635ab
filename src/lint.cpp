// Placeholder until the unit is written.
#include "lint.h"
size_t lint(const ModelView&, const Analysis&) { return 0; }
