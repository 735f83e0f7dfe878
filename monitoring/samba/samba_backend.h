// samba_backend.h: the backend for a running Samba file server (smbd).
//
// A snapshot runs `testparm -s` (the shares), `smbcontrol smbd ping` (is the server up) and
// `smbstatus --json` (sessions, tree connects, open files) with the configured smb.conf,
// numbers the sessions (samba_numbers.h) and builds the state (samba_state.h). One snapshot
// serves every listing for the configured interval: concurrent listings wait for the one being
// taken and share it, so smbstatus runs at most once per interval however many requests come.
// A failure (a tool missing, smbd down, output not understood) is shared the same way, and is
// reported on standard error when it differs from the last one reported.
//
// Closing all files of a connection sends close-share for each share its session is connected
// to: the process drops those tree connects, its files close and the session stays. Closing
// one file asks the server service to close each open of it when an RPC account is configured,
// and checks that they went; an open it did not close, or every open when no account is
// configured, is closed by close-share of its share in the process holding it, which also
// closes that process's other files on that share. Every close is reported with what it
// closed. A close takes a fresh snapshot first and makes the next listing take one too.
#ifndef CIFSMONITORING_SAMBA_BACKEND_H
#define CIFSMONITORING_SAMBA_BACKEND_H

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "monitoring/backend.h"
#include "monitoring/samba/samba_config.h"
#include "monitoring/samba/samba_state.h"
#include "monitoring/samba/samba_status.h"
#include "monitoring/samba/samba_tool.h"
#include "monitoring/settings.h"

namespace cifsmon {

inline constexpr char kTestparmTool[] = "testparm";
inline constexpr char kSmbstatusTool[] = "smbstatus";

class SambaBackend : public Backend {
  public:
    explicit SambaBackend(SambaSettings settings);

    int Snapshot(std::shared_ptr<const State> *state) override;
    int CloseFileByPath(std::string_view path) override;
    int CloseFilesOfConnection(unsigned int number) override;

  private:
    struct Taken {
        SambaConfig config;
        SambaStatus status;
        std::vector<uint16_t> numbers;  // of status.sessions, index for index
        std::shared_ptr<const State> state;
    };

    // The snapshot of this interval, or a new one when `fresh` or the interval has passed.
    int Take(bool fresh, std::shared_ptr<const Taken> *taken);
    void Invalidate();
    int Gather(Taken *taken, std::string *error);
    int RunSmbstatus(SambaStatus *status, std::string *error);
    // Reports a snapshot's failure when it is not the one last reported; returns status.
    int Fail(int status, const std::string &error);
    void Recovered();

    // Asks the server service to close each of *opens (all of `path`) and checks that they
    // went; leaves in *opens those that did not.
    void CloseOverRpc(const Taken &taken, const std::string &path, std::vector<SambaOpen> *opens);
    // close-share, in each process holding one of `opens`, of the shares serving servicePath.
    int CloseByShare(const Taken &taken, const std::string &path, const std::string &servicePath,
                     const std::vector<SambaOpen> &opens);
    // "connection N (user U, process P)" for messages.
    std::string Describe(const Taken &taken, const ServerId &server,
                         std::optional<uint32_t> uid) const;

    const SambaSettings settings_;
    const ToolOptions tools_;
    SambaLookups lookups_;

    std::mutex mutex_;  // serialises snapshots; guards the kept one
    bool haveKept_ = false;
    std::chrono::steady_clock::time_point keptAt_;
    std::shared_ptr<const Taken> kept_;
    int keptStatus_ = 0;

    std::mutex reportMutex_;
    std::string lastReported_;
};

}  // namespace cifsmon

#endif  // CIFSMONITORING_SAMBA_BACKEND_H
