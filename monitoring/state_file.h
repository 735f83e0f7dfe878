// state_file.h: reading, locking and atomically replacing a state file.
//
// Readers take no lock: a writer never changes the file in place but renames a complete new one
// over it, so an open() sees either the old or the new file whole. Writers (read, change,
// write) serialise on an exclusive flock of "<state file>.lock" in the same directory. flock,
// unlike fcntl record locks, excludes two open descriptions of one process as well, so the same
// lock serialises threads and processes alike.
#ifndef CIFSMONITORING_STATE_FILE_H
#define CIFSMONITORING_STATE_FILE_H

#include <string>
#include <string_view>

namespace cifsmon {

// Reads the whole file. kStatusOk, kStatusStateMissing (no such file) or kStatusIoError (also
// for a directory or another file that is not regular); *error says why.
int ReadStateFile(const std::string &path, std::string *content, std::string *error);

// An exclusive lock on "<statePath>.lock", created when missing; released on destruction.
class StateFileLock {
  public:
    StateFileLock() = default;
    ~StateFileLock();
    StateFileLock(const StateFileLock &) = delete;
    StateFileLock &operator=(const StateFileLock &) = delete;

    // Blocks until the lock is held. kStatusOk or kStatusIoError.
    int Acquire(const std::string &statePath, std::string *error);

  private:
    int fd_ = -1;
};

// Replaces the file at path with content: a temporary file in the same directory is written,
// flushed to disk, renamed over path, and the directory is flushed, so that after a crash path
// holds the old or the new content whole. The temporary file is removed on failure. Keeps the
// mode of the file replaced (0644 for a new one). kStatusOk or kStatusIoError. The caller holds
// the StateFileLock.
int WriteFileAtomically(const std::string &path, std::string_view content, std::string *error);

// Test seam: when set, WriteFileAtomically calls it with the temporary file's path once that
// file is complete and flushed, just before the rename; a true result abandons the write there
// as a crash would (then the temporary file is removed and kStatusIoError returned). Null
// restores normal writing.
using BeforeRenameHook = bool (*)(const std::string &temporaryPath);
void SetBeforeRenameHookForTesting(BeforeRenameHook hook);

}  // namespace cifsmon

#endif  // CIFSMONITORING_STATE_FILE_H
