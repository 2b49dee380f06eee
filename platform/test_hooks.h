// What the native stand-ins for Win32 record, and the faults tests can ask
// them for. Native build only.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

struct RecordedMessageBox {
    HWND owner;
    std::string text;     // the bytes passed, without the NUL
    std::string caption;  // likewise
    UINT style;
};

struct RecordedMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    int liveBlocks;  // blocks still live when the message was sent
};

// Forgets everything recorded and every fault asked for. Blocks still live
// stay live.
void ResetPlatformRecords(void);

int LiveBlockCount(void);
int BlocksObtainedCount(void);  // since the last reset
// The nth GlobalAlloc from now (1 = the next one) returns null.
void FailAllocation(int nth);

int OpenFileCount(void);  // settings files open right now

// Whether the bytes from pointer on lie wholly inside one live, locked block:
// how a test host tells that a buffer handed to it is the plug-in's own.
bool IsInsideLockedBlock(const void *pointer, size_t bytes);

const std::vector<RecordedMessageBox> &RecordedMessageBoxes(void);
const std::vector<RecordedMessage> &RecordedMessages(void);
// The window GetFocus reports.
void SetFocusWindow(HWND window);
