// One output file at a time, written through a large buffer. Every writer
// of guardgen (the VHDL checker and the files options add) goes through it,
// so a failed write is reported and cleaned up the same way for all.
#ifndef GUARDGEN_OUTPUT_H
#define GUARDGEN_OUTPUT_H

#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

// Each thread writes its own file: the checker may be written beside
// another writer's work. A full buffer is written by a helper thread while
// the writer fills the other one.
const size_t outSize = size_t(1) << 20;
extern thread_local char* outBuf;
extern thread_local size_t outLen;
void outFlush();
void outDirect(std::string_view text);

// Opens the file for writing; a failure ends the run with an error report.
void outOpen(const std::string& path);
// Flushes and closes; a failed write removes a partly written plain file
// and ends the run with an error report.
void outClose(const std::string& path);

// On a thread other than the main one a failure cannot end the run: there
// it is thrown as an OutputFailure, for the main thread to report.
struct OutputFailure {
    std::string message;
};
void outThrowFailures();

// Called on this thread once the next file it opens is open.
void outWhenOpen(std::function<void()> callback);

// A plain copy into the buffer: writers call this several times per row.
inline void put(std::string_view text)
{
    // An empty view may hold no pointer at all, which memcpy must not see.
    if (text.empty())
        return;
    if (text.size() > outSize - outLen) {
        outFlush();
        if (text.size() > outSize) {
            outDirect(text);
            return;
        }
    }
    std::memcpy(outBuf + outLen, text.data(), text.size());
    outLen += text.size();
}

// Digits straight into the buffer: writers put a number or two per row.
inline void put(long long number)
{
    char digits[24];
    char* end = digits + sizeof digits;
    char* p = end;
    unsigned long long n = number < 0 ? 0 - static_cast<unsigned long long>(number) : number;
    do
        *--p = static_cast<char>('0' + n % 10);
    while (n /= 10);
    if (number < 0)
        *--p = '-';
    put(std::string_view(p, static_cast<size_t>(end - p)));
}

#endif
