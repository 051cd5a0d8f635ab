// guardgen: writes a VHDL checker for the finite-state machine described in
// the file named on the command line.
#include "lex.h"
#include "parser.h"
#include "table.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

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

// True when both paths lead to one file, so that writing the checker would
// destroy the description.
static bool sameFile(const std::string& a, const std::string& b)
{
    struct stat sa, sb;
    if (a == b)
        return true;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::printf("Pouziti :\n%s <file>", argv[0] ? argv[0] : "");
        return 1;
    }
    preferHugePages();
    std::string fn_in = argv[1];
    if (!lexInit(fn_in))
        return 1;
    parse();
    lexFree(fn_in);

    std::string fn_out = outputPath(fn_in);
    if (sameFile(fn_in, fn_out))
        synTotalError("Nelze prepsat vstupni soubor");
    instrukce_debugOut(fn_out);
    return 0;
}
