// --kiss2: reads a machine in the KISS2 interchange format into the same
// model tables (and model notes) a description fills.
#ifndef GUARDGEN_KISS2_H
#define GUARDGEN_KISS2_H

#include <string>

// Prints the same progress lines as reading a description. Returns false
// when the file cannot be opened; errors end the run like parse errors.
bool read_kiss2(const std::string& path);

#endif
