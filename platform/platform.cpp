// Native stand-ins for the Win32 calls that the portable parts make. Global
// memory is calloc'd with a small header so that GlobalHandle can find the
// handle from the locked pointer, as on Windows.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "platform/test_hooks.h"

namespace {

const uint32_t kBlockMagic = 0x6B636F6Cu;

struct BlockHeader {
    uint32_t magic;
    int lockCount;
    SIZE_T bytes;  // what the caller asked for, header not included
    alignas(16) unsigned char data[1];
};

int liveBlocks;
int obtainedBlocks;
int allocationsUntilFailure;  // 0: none asked for
int openFiles;
HWND focusWindow;
std::vector<RecordedMessageBox> messageBoxes;
std::vector<RecordedMessage> messages;
std::vector<BlockHeader *> liveHeaders;  // in the order obtained

BlockHeader *HeaderOf(HGLOBAL block) { return reinterpret_cast<BlockHeader *>(block); }

}  // namespace

HGLOBAL GlobalAlloc(UINT, SIZE_T bytes) {
    if (allocationsUntilFailure > 0 && --allocationsUntilFailure == 0) return nullptr;
    if (bytes > SIZE_MAX - sizeof(BlockHeader)) return nullptr;
    BlockHeader *header = static_cast<BlockHeader *>(calloc(1, sizeof(BlockHeader) + bytes));
    if (header == nullptr) return nullptr;
    header->magic = kBlockMagic;
    header->bytes = bytes;
    liveHeaders.push_back(header);
    liveBlocks++;
    obtainedBlocks++;
    return reinterpret_cast<HGLOBAL>(header);
}

LPVOID GlobalLock(HGLOBAL block) {
    if (block == nullptr) return nullptr;
    HeaderOf(block)->lockCount++;
    return HeaderOf(block)->data;
}

BOOL GlobalUnlock(HGLOBAL block) {
    if (block == nullptr || HeaderOf(block)->lockCount == 0) return FALSE;
    return --HeaderOf(block)->lockCount > 0;
}

HGLOBAL GlobalHandle(LPCVOID pointer) {
    if (pointer == nullptr) return nullptr;
    const unsigned char *data = static_cast<const unsigned char *>(pointer);
    return reinterpret_cast<HGLOBAL>(const_cast<unsigned char *>(data - offsetof(BlockHeader, data)));
}

HGLOBAL GlobalFree(HGLOBAL block) {
    if (block == nullptr || HeaderOf(block)->magic != kBlockMagic) return block;
    HeaderOf(block)->magic = 0;
    liveHeaders.erase(std::remove(liveHeaders.begin(), liveHeaders.end(), HeaderOf(block)), liveHeaders.end());
    free(block);
    liveBlocks--;
    return nullptr;
}

HFILE _lopen(LPCSTR path, int) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return HFILE_ERROR;
    openFiles++;
    return fd;
}

HFILE _lcreat(LPCSTR path, int) {
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return HFILE_ERROR;
    openFiles++;
    return fd;
}

UINT _lread(HFILE file, LPVOID buffer, UINT bytes) {
    UINT done = 0;
    while (done < bytes) {
        ssize_t got = read(file, static_cast<char *>(buffer) + done, bytes - done);
        if (got < 0) return done > 0 ? done : static_cast<UINT>(HFILE_ERROR);
        if (got == 0) break;
        done += static_cast<UINT>(got);
    }
    return done;
}

UINT _lwrite(HFILE file, LPCSTR buffer, UINT bytes) {
    UINT done = 0;
    while (done < bytes) {
        ssize_t put = write(file, buffer + done, bytes - done);
        if (put <= 0) return static_cast<UINT>(HFILE_ERROR);
        done += static_cast<UINT>(put);
    }
    return done;
}

HFILE _lclose(HFILE file) {
    if (close(file) != 0) return HFILE_ERROR;
    openFiles--;
    return 0;
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    messageBoxes.push_back({owner, text, caption, style});
    return IDOK;
}

HWND GetFocus(void) { return focusWindow; }

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    messages.push_back({window, message, wParam, lParam, liveBlocks});
    return 0;
}

void ResetPlatformRecords(void) {
    obtainedBlocks = 0;
    allocationsUntilFailure = 0;
    focusWindow = nullptr;
    messageBoxes.clear();
    messages.clear();
}

int LiveBlockCount(void) { return liveBlocks; }
int BlocksObtainedCount(void) { return obtainedBlocks; }
void FailAllocation(int nth) { allocationsUntilFailure = nth; }
int OpenFileCount(void) { return openFiles; }

// Compared as addresses: the range may belong to no block at all.
bool IsInsideLockedBlock(const void *pointer, size_t bytes) {
    uintptr_t start = reinterpret_cast<uintptr_t>(pointer);
    for (const BlockHeader *header : liveHeaders) {
        uintptr_t data = reinterpret_cast<uintptr_t>(header->data);
        if (header->lockCount > 0 && start >= data && start - data <= header->bytes &&
            bytes <= header->bytes - (start - data))
            return true;
    }
    return false;
}

const std::vector<RecordedMessageBox> &RecordedMessageBoxes(void) { return messageBoxes; }
const std::vector<RecordedMessage> &RecordedMessages(void) { return messages; }
void SetFocusWindow(HWND window) { focusWindow = window; }
