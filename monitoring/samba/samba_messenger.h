// samba_messenger.h: closing single opens exactly, by the server's own close message.
//
// When the server service is asked to close a file (the file-close call of its RPC interface),
// it checks that the caller is root or a disk operator and then sends the process holding the
// open a close message naming the open by its file id (device, inode, extension) and its
// share_file_id; that process closes exactly that handle, and its session and tree connects
// stay. The service is not reachable locally without an account (on a default installation its
// local endpoints exist only as named pipes behind the SMB port), so the library, running as
// root, sends the same message itself through Samba's own Python messaging bindings
// (python3-samba): one long-lived `python3 -I -c <script> <smb.conf>` per backend, fed one close
// per line, so that closing many files starts Python once.
//
// Delivery is all the message tells: the process takes the message from its socket and closes
// the handle when it still has it (a handle the client closed meanwhile is not reopened, and a
// share_file_id is never reused within a process). Messages reach processes of this machine
// only, named with the vnn of no cluster (kNonClusterVnn) also on a cluster node; a process of
// another cluster node is not reachable this way.
#ifndef CIFSMONITORING_SAMBA_MESSENGER_H
#define CIFSMONITORING_SAMBA_MESSENGER_H

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "monitoring/samba/samba_tool.h"

namespace cifsmon {

inline constexpr char kPythonTool[] = "python3";

// One open as the close message names it.
struct CloseTarget {
    uint64_t pid = 0;
    uint32_t vnn = UINT32_MAX;
    uint64_t devid = 0;
    uint64_t inode = 0;
    uint64_t extid = 0;
    uint64_t shareFileId = 0;
};

// The line the helper is sent for one target: "close <pid> <vnn> <devid> <inode> <extid> <id>".
std::string CloseRequestLine(const CloseTarget &target);

class CloseMessenger {
  public:
    CloseMessenger(ToolOptions tools, std::string configPath);
    ~CloseMessenger();
    CloseMessenger(const CloseMessenger &) = delete;
    CloseMessenger &operator=(const CloseMessenger &) = delete;

    // Sends the close message for each target. (*delivered)[i] tells whether target i's
    // message was delivered. kStatusOk when the helper answered for every target (some may
    // still be undelivered: a process that is gone); kStatusToolFailed (and *error) when the
    // helper could not be started, could not use Samba's messaging, or did not answer in time.
    int Send(const std::vector<CloseTarget> &targets, std::vector<bool> *delivered,
             std::string *error);

    // Whether the helper runs and can use Samba's messaging (starting it when it does not run),
    // so that a close would be sent by message; *error says why not.
    bool Ready(std::string *error);

  private:
    bool EnsureRunning(std::string *error);
    // Sends targets[first, first + count) and reads their answers; *answered counts those read.
    int SendChunk(const std::vector<CloseTarget> &targets, std::size_t first, std::size_t count,
                  std::vector<bool> *delivered, std::size_t *answered, std::string *error);
    void Stop();
    // Reads one line of the helper's answer before the deadline.
    bool ReadLine(std::string *line, std::chrono::steady_clock::time_point deadline,
                  std::string *error);

    const ToolOptions tools_;
    const std::string configPath_;
    std::mutex mutex_;
    ToolSession session_;
    std::string pending_;  // what was read past the last line
};

}  // namespace cifsmon

#endif  // CIFSMONITORING_SAMBA_MESSENGER_H
