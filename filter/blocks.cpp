#include <cstdint>

#include "filter/filter.h"

int64_t BlockBytes(int64_t count, int64_t unitBytes, int64_t extraBytes) {
    if (count < 0 || unitBytes < 0 || extraBytes < 0) return -1;
    if (unitBytes != 0 && count > (INT64_MAX - extraBytes) / unitBytes) return -1;
    return count * unitBytes + extraBytes;
}

unsigned char *ObtainBlock(int64_t bytes) {
    // SIZE_T is 32 bits in the 32-bit DLL: a larger size must not wrap.
    if (bytes < 0 || static_cast<uint64_t>(bytes) > SIZE_MAX) return nullptr;
    HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, static_cast<SIZE_T>(bytes));
    if (handle == nullptr) return nullptr;
    unsigned char *block = static_cast<unsigned char *>(GlobalLock(handle));
    if (block == nullptr) GlobalFree(handle);
    return block;
}

void ReleaseBlock(unsigned char *block) {
    HGLOBAL handle = GlobalHandle(block);
    GlobalUnlock(handle);
    GlobalFree(handle);
}
