// An array of plain values that may grow to many megabytes one value at a
// time. Past a megabyte it lives in pages of its own and grows by
// remapping them, so it is never copied, and the blocks it outgrew are not
// left behind in a heap (a thread's heap keeps what is freed in it).
#ifndef GUARDGEN_GROWING_H
#define GUARDGEN_GROWING_H

#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <type_traits>
#include <utility>

template <class T>
class Growing {
    static_assert(std::is_trivially_copyable<T>::value, "values are moved by realloc");

public:
    Growing() = default;
    Growing(const Growing& other) { append(other.begin(), other.end()); }
    Growing(Growing&& other) noexcept
        : values(std::exchange(other.values, nullptr)), count(std::exchange(other.count, 0)),
          capacity(std::exchange(other.capacity, 0)), mapped(std::exchange(other.mapped, false))
    {
    }
    Growing& operator=(Growing other) noexcept
    {
        std::swap(values, other.values);
        std::swap(count, other.count);
        std::swap(capacity, other.capacity);
        std::swap(mapped, other.mapped);
        return *this;
    }
    ~Growing() { release(); }

    void push_back(const T& value)
    {
        if (count == capacity)
            grow(count + 1);
        values[count++] = value;
    }
    void append(const T* first, const T* last)
    {
        size_t n = static_cast<size_t>(last - first);
        if (count + n > capacity)
            grow(count + n);
        for (size_t i = 0; i < n; i++)
            values[count + i] = first[i];
        count += n;
    }
    // New values are zero.
    void resize(size_t n)
    {
        if (n > capacity)
            grow(n);
        for (size_t i = count; i < n; i++)
            values[i] = T();
        count = n;
    }
    void clear() { count = 0; }
    size_t size() const { return count; }
    bool empty() const { return count == 0; }
    T* data() { return values; }
    const T* data() const { return values; }
    T& operator[](size_t i) { return values[i]; }
    const T& operator[](size_t i) const { return values[i]; }
    const T& front() const { return values[0]; }
    T* begin() { return values; }
    T* end() { return values + count; }
    const T* begin() const { return values; }
    const T* end() const { return values + count; }

private:
    static const size_t mapFrom = size_t(1) << 20; // bytes

    void grow(size_t least)
    {
        size_t more = capacity < 1024 ? 1024 : capacity * 2;
        if (more < least)
            more = least;
        size_t bytes = more * sizeof(T);
        void* moved;
        if (mapped) {
            moved = mremap(values, capacity * sizeof(T), bytes, MREMAP_MAYMOVE);
        } else if (bytes < mapFrom) {
            moved = std::realloc(values, bytes);
            if (!moved)
                throw std::bad_alloc();
        } else {
            moved = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (moved != MAP_FAILED) {
                // Huge pages where the system gives them on request: a
                // fault per 2 MiB rather than per 4 KiB.
                madvise(moved, bytes, MADV_HUGEPAGE);
                if (count > 0)
                    std::memcpy(moved, values, count * sizeof(T));
                std::free(values);
                mapped = true;
            }
        }
        if (moved == MAP_FAILED)
            throw std::bad_alloc();
        values = static_cast<T*>(moved);
        capacity = more;
    }

    void release()
    {
        if (mapped)
            munmap(values, capacity * sizeof(T));
        else
            std::free(values);
    }

    T* values = nullptr;
    size_t count = 0, capacity = 0;
    bool mapped = false;
};

#endif
