// Preloaded into guardgen by the end-to-end tests: once FAIL_READ_AFTER
// bytes of the description are read, the next fread fails as a disk error
// part-way through a file would. The failure is a real one: a directory is
// put under the stream's descriptor, so read() itself returns EISDIR and
// the C library sets the stream's error flag as it does for EIO.
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

extern "C" size_t fread(void* ptr, size_t size, size_t count, FILE* stream)
{
    using Fread = size_t (*)(void*, size_t, size_t, FILE*);
    static Fread real = reinterpret_cast<Fread>(dlsym(RTLD_NEXT, "fread"));
    static size_t delivered = 0;
    static bool first = true;
    const char* limitText = std::getenv("FAIL_READ_AFTER");
    if (!limitText || size != 1)
        return real(ptr, size, count, stream);
    // Unbuffered, so that no byte past the limit is read ahead.
    if (first)
        setvbuf(stream, nullptr, _IONBF, 0);
    first = false;
    size_t limit = std::strtoull(limitText, nullptr, 10);
    if (delivered >= limit) {
        int dir = open("/", O_RDONLY | O_DIRECTORY);
        dup2(dir, fileno(stream));
        close(dir);
        return real(ptr, size, count, stream);
    }
    if (count > limit - delivered)
        count = limit - delivered;
    size_t got = real(ptr, size, count, stream);
    delivered += got;
    return got;
}
