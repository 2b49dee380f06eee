// How much memory one image may make roundcorners hold at once: half of the
// machine's physical memory. An image that would need more (an interlaced PNG
// or a progressive JPEG, which are held whole, declaring a huge size in a
// small file) is refused with a message instead of being allowed to exhaust
// the machine.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>

inline size_t ImageMemoryBudget(void) {
    long pages = sysconf(_SC_PHYS_PAGES);
    long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return SIZE_MAX / 2;
    return static_cast<size_t>(pages) / 2 * static_cast<size_t>(pageSize);
}
