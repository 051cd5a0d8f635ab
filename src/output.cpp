// The buffered output file shared by every writer.
#include "output.h"

#include "lex.h"

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

thread_local char outBuf[1 << 20];
thread_local size_t outLen;
static thread_local FILE* outFile;
static thread_local bool outFailed;
static thread_local bool outThrows;
static thread_local std::function<void()> whenOpen;

void outThrowFailures()
{
    outThrows = true;
}

void outWhenOpen(std::function<void()> callback)
{
    whenOpen = std::move(callback);
}

static void fail(const char* message)
{
    if (outThrows)
        throw OutputFailure{message};
    synTotalError(message);
}

static void writeOut(const char* data, size_t size)
{
    if (size > 0 && std::fwrite(data, 1, size, outFile) != size)
        outFailed = true;
}

void outFlush()
{
    writeOut(outBuf, outLen);
    outLen = 0;
}

// Text longer than the whole buffer goes out directly.
void outDirect(std::string_view text)
{
    writeOut(text.data(), text.size());
}

void outOpen(const std::string& path)
{
    outFile = std::fopen(path.c_str(), "w");
    if (!outFile)
        fail("Nelze otevrit vystupni soubor");
    outFailed = false;
    outLen = 0;
    if (whenOpen) {
        std::function<void()> callback = std::move(whenOpen);
        whenOpen = nullptr;
        callback();
    }
}

// Removes what a failed write left in a plain file. A link to a device, or
// the device itself, is the user's and stays.
static void removeOutput(const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        unlink(path.c_str());
}

void outClose(const std::string& path)
{
    outFlush();
    bool failed = outFailed || std::ferror(outFile);
    failed |= std::fclose(outFile) != 0;
    outFile = nullptr;
    if (failed) {
        removeOutput(path);
        fail("Nelze zapsat vystupni soubor");
    }
}
