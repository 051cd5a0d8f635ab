// One output file at a time, written through a large buffer. Every writer
// of guardgen (the VHDL checker and the files options add) goes through it,
// so a failed write is reported and cleaned up the same way for all.
#ifndef GUARDGEN_OUTPUT_H
#define GUARDGEN_OUTPUT_H

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

extern char outBuf[1 << 20];
extern size_t outLen;
void outFlush();
void outDirect(std::string_view text);

// Opens the file for writing; a failure ends the run with an error report.
void outOpen(const std::string& path);
// Flushes and closes; a failed write removes a partly written plain file
// and ends the run with an error report.
void outClose(const std::string& path);

// A plain copy into the buffer: writers call this several times per row.
inline void put(std::string_view text)
{
    // An empty view may hold no pointer at all, which memcpy must not see.
    if (text.empty())
        return;
    if (text.size() > sizeof outBuf - outLen) {
        outFlush();
        if (text.size() > sizeof outBuf) {
            outDirect(text);
            return;
        }
    }
    std::memcpy(outBuf + outLen, text.data(), text.size());
    outLen += text.size();
}

inline void put(long long number)
{
    put(std::to_string(number));
}

#endif
