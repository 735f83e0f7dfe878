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

// What identifies one version of a file without reading it: the file (device, inode), its size
// and its modification and change times, as fstat reports them.
struct FileStamp {
    unsigned long long device = 0;
    unsigned long long inode = 0;
    long long size = 0;
    long long modifiedSeconds = 0;
    long modifiedNanoseconds = 0;
    long long changedSeconds = 0;
    long changedNanoseconds = 0;

    bool operator==(const FileStamp &) const = default;
};

// Reads the whole file. kStatusOk, kStatusStateMissing (no such file) or kStatusIoError (also
// for a directory or another file that is not regular); *error says why.
int ReadStateFile(const std::string &path, std::string *content, std::string *error);

// ReadStateFile in two steps, so that a reader can look at the file's stamp before it decides
// to read: Open opens the file and takes its stamp (kStatusOk or an error status as above),
// Read reads the whole content of what was opened. The file is closed on destruction.
class StateFileReader {
  public:
    StateFileReader() = default;
    ~StateFileReader();
    StateFileReader(const StateFileReader &) = delete;
    StateFileReader &operator=(const StateFileReader &) = delete;

    // `path` must outlive the reader.
    int Open(const std::string &path, std::string *error);
    // REQUIRES: Open returned kStatusOk.
    const FileStamp &stamp() const { return stamp_; }
    int Read(std::string *content, std::string *error);

  private:
    int fd_ = -1;
    const std::string *path_ = nullptr;
    FileStamp stamp_;
};

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
