// The buffered output file shared by every writer.
#include "output.h"

#include "lex.h"

#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

// One writing thread's file. Writing a megabyte into the page cache takes
// about as long as formatting it, so a helper thread writes each full
// buffer while the writer fills the other.
namespace {

struct OutFile {
    FILE* file = nullptr;
    bool failed = false;
    std::unique_ptr<char[]> buffers[2]{std::unique_ptr<char[]>(new char[outSize]),
                                       std::unique_ptr<char[]>(new char[outSize])};
    int filling = 0; // the buffer put fills

    std::thread helper;
    std::mutex lock;
    std::condition_variable change;
    const char* full = nullptr; // handed to the helper, not yet written
    size_t fullLen = 0;
    bool closing = false;

    ~OutFile() { endHelper(); }

    void write(const char* data, size_t size)
    {
        if (size > 0 && std::fwrite(data, 1, size, file) != size)
            failed = true;
    }

    void helperLoop()
    {
        std::unique_lock<std::mutex> hold(lock);
        for (;;) {
            change.wait(hold, [this] { return full || closing; });
            if (!full)
                return;
            const char* data = full;
            size_t size = fullLen;
            hold.unlock();
            write(data, size);
            hold.lock();
            full = nullptr;
            change.notify_all();
        }
    }

    // Until the helper has written what it was handed.
    void waitIdle()
    {
        if (!helper.joinable())
            return;
        std::unique_lock<std::mutex> hold(lock);
        change.wait(hold, [this] { return !full; });
    }

    void endHelper()
    {
        if (!helper.joinable())
            return;
        {
            std::lock_guard<std::mutex> hold(lock);
            closing = true;
        }
        change.notify_all();
        helper.join();
        closing = false;
    }
};

// Made at a thread's first file, kept for its later ones, and gone with
// the thread.
thread_local std::unique_ptr<OutFile> out;

} // namespace

thread_local char* outBuf;
thread_local size_t outLen;
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

void outFlush()
{
    if (outLen == 0)
        return;
    if (!out->helper.joinable()) {
        try {
            out->helper = std::thread(&OutFile::helperLoop, out.get());
        } catch (const std::system_error&) {
            // No thread to be had: this one writes.
            out->write(outBuf, outLen);
            outLen = 0;
            return;
        }
    }
    out->waitIdle();
    {
        std::lock_guard<std::mutex> hold(out->lock);
        out->full = outBuf;
        out->fullLen = outLen;
    }
    out->change.notify_all();
    out->filling ^= 1;
    outBuf = out->buffers[out->filling].get();
    outLen = 0;
}

// Text longer than a whole buffer goes out directly, after what came
// before it.
void outDirect(std::string_view text)
{
    out->waitIdle();
    out->write(text.data(), text.size());
}

void outOpen(const std::string& path)
{
    if (!out)
        out.reset(new OutFile);
    out->file = std::fopen(path.c_str(), "w");
    if (!out->file)
        fail("Nelze otevrit vystupni soubor");
    out->failed = false;
    out->filling = 0;
    outBuf = out->buffers[0].get();
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
    out->endHelper();
    out->write(outBuf, outLen);
    outLen = 0;
    bool failed = out->failed || std::ferror(out->file);
    failed |= std::fclose(out->file) != 0;
    out->file = nullptr;
    if (failed) {
        removeOutput(path);
        fail("Nelze zapsat vystupni soubor");
    }
}
