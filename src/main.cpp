// guardgen: writes a VHDL checker for the finite-state machine described in
// the file named on the command line, and what the options ask for beside it.
#include "analysis.h"
#include "dot.h"
#include "kiss2.h"
#include "lex.h"
#include "lint.h"
#include "model.h"
#include "options.h"
#include "output.h"
#include "parser.h"
#include "table.h"
#include "testbench.h"
#include "verilog.h"

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <mutex>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

// A large description needs a list node per row, and on a virtual machine
// taking fresh memory into use 4 KiB at a time costs more than reading the
// description. So the heap grows in one step and asks for huge pages.
// Where that cannot be had, only the speed changes.
static void preferHugePages()
{
    const uintptr_t reserve = uintptr_t(1) << 30, huge = uintptr_t(2) << 20;
    mallopt(M_TOP_PAD, reserve);
    mallopt(M_TRIM_THRESHOLD, reserve);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    void* first = std::malloc(256 << 10); // large enough to make the heap grow now
    uintptr_t start = (reinterpret_cast<uintptr_t>(first) + huge - 1) & ~(huge - 1);
    uintptr_t end = reinterpret_cast<uintptr_t>(sbrk(0)) & ~(huge - 1);
    if (end > start && end - start <= reserve)
        madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
    std::free(first);
}

// The output path: the input path with its last extension replaced by
// ".vhd". Both "/" and "\" end a directory name, so a dot in a directory
// name is never taken for an extension.
static std::string outputPath(std::string fn_in)
{
    size_t dot = fn_in.rfind('.');
    size_t separator = fn_in.find_last_of("/\\");
    if (dot != std::string::npos && (separator == std::string::npos || dot > separator))
        fn_in.erase(dot);
    return fn_in + ".vhd";
}

// The file a path that does not exist yet would create: a link that leads
// nowhere yet is followed to its target, and the directory part is made
// absolute, so that two spellings of one new file compare equal.
static std::string pathToCreate(std::string path)
{
    for (int hops = 0; hops < 40; hops++) {
        char target[4096];
        ssize_t n = readlink(path.c_str(), target, sizeof target);
        if (n <= 0 || n == static_cast<ssize_t>(sizeof target))
            break;
        std::string next(target, n);
        size_t slash = path.rfind('/');
        if (next[0] != '/' && slash != std::string::npos)
            next = path.substr(0, slash + 1) + next;
        path = next;
    }
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    char* absolute = realpath(dir.c_str(), nullptr);
    if (!absolute)
        return path;
    std::string result = std::string(absolute) + "/" + path.substr(slash + 1);
    std::free(absolute);
    return result;
}

// True when both paths lead to one file, so that writing the checker would
// destroy the description, or one output another. Where neither file exists
// yet, a link may still lead both to one new file.
static bool sameFile(const std::string& a, const std::string& b)
{
    struct stat sa, sb;
    if (a == b)
        return true;
    bool hasA = stat(a.c_str(), &sa) == 0, hasB = stat(b.c_str(), &sb) == 0;
    if (hasA && hasB)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return !hasA && !hasB && pathToCreate(a) == pathToCreate(b);
}

// The stem of the checker's path: the files the options add are named from it.
static std::string stemOf(const std::string& vhdPath)
{
    std::string out = outputPath(vhdPath);
    return out.substr(0, out.size() - 4);
}

// Refuses, before anything is written, an output that is the description
// or that is another output.
static void checkOutputs(const std::string& input, const std::vector<std::string>& outputs)
{
    for (size_t i = 0; i < outputs.size(); i++) {
        if (sameFile(input, outputs[i]))
            synTotalError("Nelze prepsat vstupni soubor");
        for (size_t j = 0; j < i; j++)
            if (sameFile(outputs[j], outputs[i]))
                synTotalError("Vystupni soubor " + outputs[i] + " by byl zapsan dvakrat");
    }
}

// The checker on a second thread. It needs only the tables, so it is
// written while this thread builds the view, analyses it and writes the
// other files. Those wait until the checker's file is open, so that a
// checker that cannot be created leaves every file as it was.
class CheckerThread {
public:
    // False when no thread is to be had.
    bool start(const std::string& path)
    {
        try {
            thread = std::thread([this, path] {
                outThrowFailures();
                outWhenOpen([this] { tell(true, ""); });
                try {
                    instrukce_debugOut(path);
                    tell(false, "");
                } catch (const OutputFailure& f) {
                    tell(false, f.message);
                }
            });
        } catch (const std::system_error&) {
            return false;
        }
        return true;
    }

    // True once the checker's file is open (or written); false when it
    // failed first.
    bool waitOpen()
    {
        std::unique_lock<std::mutex> hold(lock);
        change.wait(hold, [this] { return opened || ended; });
        return opened || failure.empty();
    }

    // The failure, empty when the checker was written.
    std::string finish()
    {
        thread.join();
        return failure;
    }

private:
    void tell(bool open, const std::string& message)
    {
        std::lock_guard<std::mutex> hold(lock);
        if (open)
            opened = true;
        else
            ended = true;
        failure = message;
        change.notify_all();
    }

    std::thread thread;
    std::mutex lock;
    std::condition_variable change;
    bool opened = false, ended = false;
    std::string failure;
};

int main(int argc, char* argv[])
{
    Options opt;
    switch (parse_options(argc, argv, opt)) {
    case CommandLine::Run: break;
    case CommandLine::Usage: print_usage(argv[0]); return 1;
    case CommandLine::Error: print_usage(argv[0]); return 1;
    }
    if (opt.help) {
        print_help(argv[0]);
        return 0;
    }
    if (opt.version) {
        std::printf("guardgen %s\n", GUARDGEN_VERSION);
        return 0;
    }

    preferHugePages();
    bool needView = opt.lint || opt.dot || opt.testbench || opt.verilog;
    model_keep_rows(needView);
    bool analyses = opt.lint || opt.dot || opt.testbench;
    // The picture needs no account of which rows shadow which.
    bool explain = opt.lint || opt.testbench;
    if (analyses)
        analyse_while_reading(explain, opt.testbench);
    const std::string& fn_in = opt.description;
    if (opt.kiss2) {
        if (!read_kiss2(fn_in))
            return 1;
    } else {
        if (!lexInit(fn_in))
            return 1;
        parse();
        lexFree(fn_in);
    }

    // --lint alone only reports; with an output option it also writes.
    bool writes = !opt.lint || !opt.output.empty() || opt.dot || opt.testbench || opt.verilog;
    std::string fn_out = opt.output.empty() ? outputPath(fn_in) : opt.output;
    std::string stem = stemOf(fn_out);
    std::vector<std::string> outputs;
    if (writes) {
        outputs.push_back(fn_out);
        if (opt.dot)
            outputs.push_back(stem + ".dot");
        if (opt.testbench)
            outputs.push_back(stem + "_tb.vhd");
        if (opt.verilog)
            outputs.push_back(stem + ".v");
        checkOutputs(fn_in, outputs);
    }
    check_has_rows();
    if (!needView) {
        instrukce_debugOut(fn_out);
        return 0;
    }

    const ModelView* view = nullptr;
    Analysis analysis;
    size_t findings = 0;
    auto study = [&] {
        view = &build_view();
        if (analyses)
            analysis = analyse(*view, explain, opt.testbench);
        findings = opt.lint ? lint(*view, analysis) : 0;
    };
    auto writeOthers = [&] {
        if (opt.dot)
            write_dot(*view, analysis, stem + ".dot");
        if (opt.testbench)
            write_testbench(*view, analysis, stem + "_tb.vhd");
        if (opt.verilog)
            write_verilog(*view, stem + ".v");
    };
    CheckerThread checker;
    if (!writes || !checker.start(fn_out)) {
        study();
        if (writes) {
            instrukce_debugOut(fn_out);
            writeOthers();
        }
        return findings > 0 ? 2 : 0;
    }
    study();
    std::string failure;
    if (checker.waitOpen()) {
        outThrowFailures();
        try {
            writeOthers();
        } catch (const OutputFailure& f) {
            failure = f.message;
        }
    }
    // The checker's failure first, as if it had been written first.
    std::string checkerFailure = checker.finish();
    if (!checkerFailure.empty())
        synTotalError(checkerFailure);
    if (!failure.empty())
        synTotalError(failure);
    return findings > 0 ? 2 : 0;
}
