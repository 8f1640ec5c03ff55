#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <sys/mman.h>
#include <type_traits>

// An uninitialised array for the big per-model data (faces, render arrays), backed by
// huge pages where the system offers them: a million-triangle model touches hundreds of
// megabytes at once, and faulting them in 4 KiB at a time costs more than filling them.
// When the memory cannot be had the buffer stays empty and valid() says so.
template <typename T> class LargeBuffer
{
    static_assert(std::is_trivially_destructible_v<T>, "elements are released without destruction");

public:
    LargeBuffer() = default;
    explicit LargeBuffer(size_t count)
    {
        constexpr size_t HugePage = size_t(2) << 20;
        const size_t bytes = std::max<size_t>(count * sizeof(T), 1);
        const size_t rounded = (bytes + HugePage - 1) / HugePage * HugePage;
        void *memory =
            bytes >= HugePage ? std::aligned_alloc(HugePage, rounded) : std::malloc(bytes);
        if (!memory)
            return;
        if (bytes >= HugePage)
            madvise(memory, rounded, MADV_HUGEPAGE);
        storage.reset(static_cast<T *>(memory));
    }

    bool valid() const { return storage != nullptr; }
    T *data() { return storage.get(); }
    const T *data() const { return storage.get(); }
    T &operator[](size_t i) { return storage.get()[i]; }
    const T &operator[](size_t i) const { return storage.get()[i]; }

private:
    struct Free
    {
        void operator()(T *p) const { std::free(p); }
    };
    std::unique_ptr<T, Free> storage;
};
