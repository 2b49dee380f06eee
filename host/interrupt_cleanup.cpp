#include "host/interrupt_cleanup.h"

#include <signal.h>
#include <unistd.h>

#include <cstring>

// Fixed buffers, so that the handler only reads memory and calls unlink and
// rmdir, which are safe in a signal handler. A path is valid only while its
// flag is set, and the flag is cleared before the buffer changes.
enum { kPathBytes = 4096 };
static char outputPath[kPathBytes];
static char settingsDir[kPathBytes];
static char settingsFile[kPathBytes];
static volatile sig_atomic_t outputNoted;
static volatile sig_atomic_t settingsNoted;

static bool CopyPath(char *buffer, const char *path) {
    if (path == nullptr || strlen(path) >= kPathBytes) return false;
    strcpy(buffer, path);
    return true;
}

void NoteTemporaryOutput(const char *path) {
    outputNoted = 0;
    outputNoted = CopyPath(outputPath, path);
}

void NoteTemporarySettings(const char *dir, const char *file) {
    settingsNoted = 0;
    settingsNoted = CopyPath(settingsDir, dir) && CopyPath(settingsFile, file);
}

void RemoveNotedTemporaries(void) {
    if (outputNoted) unlink(outputPath);
    if (settingsNoted) {
        unlink(settingsFile);
        rmdir(settingsDir);
    }
    outputNoted = 0;
    settingsNoted = 0;
}

static void OnInterrupt(int signalNumber) {
    RemoveNotedTemporaries();
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

void RemoveTemporariesOnInterrupt(void) {
    const int signals[] = {SIGINT, SIGTERM, SIGHUP};
    for (int signalNumber : signals) signal(signalNumber, OnInterrupt);
}
