// libFuzzer harness: every input goes through the real lexer, parser and
// checker writer, then through the analysis, lint and every other writer,
// as a run of guardgen with all its options would take it.
//
// A failed run normally ends the process. This build compiles lex.cpp with
// GUARDGEN_FUZZ, so the report calls the endRun below instead, which throws;
// the harness catches it, closes the input and goes on with the next one.
#include "analysis.h"
#include "dot.h"
#include "lex.h"
#include "lint.h"
#include "model.h"
#include "parser.h"
#include "table.h"
#include "testbench.h"
#include "verilog.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct RunEnded {
    int status;
};

std::string inPath;
std::string outPath;
std::string extraPath; // the files the options add, one after the other

// A copy of standard error taken at start-up: -close_fd_mask closes the
// real one to silence the tool, and the reason for a stop must still show.
int reportFd = 2;

// Stops the fuzzer with a message when a run breaks a rule of the tool.
[[noreturn]] void broken(const char* what)
{
    dprintf(reportFd, "guardgen fuzz: %s\n", what);
    std::abort();
}

bool exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// A checker must be plain text that ends with the architecture. Names in it
// come from the description, so a byte that slipped through the lexer
// would show up here.
void checkChecker()
{
    FILE* f = std::fopen(outPath.c_str(), "rb");
    if (!f)
        broken("run succeeded but wrote no checker");
    std::string text;
    char chunk[1 << 16];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        text.append(chunk, n);
    std::fclose(f);

    for (unsigned char c : text)
        if (c != '\n' && (c < 0x20 || c > 0x7e))
            broken("checker holds a byte that is not printable ASCII");
    static const std::string head = "--=================GENERATOR CHECKER in VHDL============\n";
    static const std::string tail = "\nend architecture FL_GUARD;";
    if (text.compare(0, head.size(), head) != 0)
        broken("checker does not start with its header");
    if (text.size() < tail.size() || text.compare(text.size() - tail.size(), tail.size(), tail) != 0)
        broken("checker does not end with its architecture");
    if (text.find("e+") != std::string::npos)
        broken("checker holds a number in exponent form");
}

void writeInput(const uint8_t* data, size_t size)
{
    FILE* f = std::fopen(inPath.c_str(), "wb");
    if (!f || (size && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0)
        broken("cannot write the input file");
}

} // namespace

// Ends a failed run: back to the harness instead of out of the process.
[[noreturn]] void endRun(int status)
{
    throw RunEnded{status};
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    int fd = dup(2);
    if (fd >= 0)
        reportFd = fd;
    // Shared memory keeps the file traffic off the disk; the process id
    // keeps parallel fuzzers apart.
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string base = std::string(dir) + "/guardgen-fuzz-" + std::to_string(getpid());
    inPath = base + ".txt";
    outPath = base + ".vhd";
    extraPath = base + ".extra";
    std::atexit([] {
        unlink(outPath.c_str());
        unlink(extraPath.c_str());
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    writeInput(data, size);
    unlink(outPath.c_str());
    // States are decided while reading, as a run with an option does; this
    // also ends the thread a failed read left behind, before the model it
    // reads is cleared.
    analyse_while_reading(true, true);
    clear_tables();
    clear_model();
    model_keep_rows(true);

    if (!lexInit(inPath))
        broken("cannot open the input file");
    // The lexer holds the file open; without a name it cannot outlive a
    // crash of this process.
    unlink(inPath.c_str());
    try {
        parse();
        lexFree(inPath);
        instrukce_debugOut(outPath);
    } catch (const RunEnded& ended) {
        lexFree(inPath); // still open when the parser gave up
        // The states being decided while reading are of no use now, and
        // the leak check after this input must not find that work in flight.
        stop_analysing_while_reading();
        if (ended.status != 1)
            broken("failed run with an exit status other than 1");
        if (exists(outPath))
            broken("failed run left an output file");
        return 0;
    }
    checkChecker();
    unlink(outPath.c_str());

    // What the options add works on every description the parser accepts.
    try {
        const ModelView& view = build_view();
        Analysis analysis = analyse(view, true, true);
        lint(view, analysis);
        write_dot(view, analysis, extraPath);
        write_testbench(view, analysis, extraPath);
        write_verilog(view, extraPath);
    } catch (const RunEnded&) {
        broken("an option failed on a description that was accepted");
    }
    unlink(extraPath.c_str());
    return 0;
}
