// The command line: guardgen [OPTION]... DESCRIPTION
#ifndef GUARDGEN_OPTIONS_H
#define GUARDGEN_OPTIONS_H

#include <string>

struct Options {
    std::string description;
    std::string output; // empty: derived from the description
    bool lint = false;
    bool dot = false;
    bool testbench = false;
    bool verilog = false;
    bool kiss2 = false;
    bool help = false;
    bool version = false;
};

enum class CommandLine {
    Run,   // options are complete
    Usage, // no description or more than one: the short usage text
    Error  // a bad option, already reported
};

// Reads argv into options. A bad option is reported on stderr as
// ArgError[line=0, column=N] with N the argument's position.
CommandLine parse_options(int argc, char* argv[], Options& options);

// The short usage text, on stdout without a final line break.
void print_usage(const char* program);
// The --help text.
void print_help(const char* program);

#endif
