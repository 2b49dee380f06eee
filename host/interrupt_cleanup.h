// Files the host is in the middle of writing, removed when the process is
// interrupted (SIGINT, SIGTERM, SIGHUP) so that no temporary is left behind.
#pragma once

// The temporary output being written, or null once it is renamed or removed.
void NoteTemporaryOutput(const char *path);
// The run's private settings folder and the file in it, or null.
void NoteTemporarySettings(const char *dir, const char *file);
// Removes what is noted; what the signal handler does before the process
// ends as the signal would have ended it.
void RemoveNotedTemporaries(void);
// Installs the handler. For the program only: tests calling the command
// in-process keep their own signal handling.
void RemoveTemporariesOnInterrupt(void);
