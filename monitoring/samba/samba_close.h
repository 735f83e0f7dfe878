// samba_close.h: the server actions that close files, and the commands that carry them out.
//
// `smbcontrol <process> close-share <share>` makes one server process drop its tree connects to
// the share: every file that process holds open through it closes, and its sessions stay.
// `net rpc file close <id>` asks the server service to close one open; it needs the account of
// an authentication file holding the disk-operator privilege, and the server's RPC services.
// Every command passes "--" before its positional arguments, so that a share named "-d9" is a
// share and never an option.
#ifndef CIFSMONITORING_SAMBA_CLOSE_H
#define CIFSMONITORING_SAMBA_CLOSE_H

#include <cstdint>
#include <string>
#include <vector>

#include "monitoring/samba/samba_status.h"
#include "monitoring/samba/samba_tool.h"

namespace cifsmon {

inline constexpr char kSmbcontrolTool[] = "smbcontrol";
inline constexpr char kNetTool[] = "net";

// How smbcontrol names a process: "<pid>", or "<vnn>:<pid>" for one on a cluster node, so
// that the message reaches that node.
std::string ProcessDestination(const ServerId &server);

std::vector<std::string> CloseShareArguments(const std::string &configPath, const ServerId &server,
                                             const std::string &share);

// The id under which the server service knows an open: the process's pid in the upper and the
// open's number in the lower 16 bits, as the service computes it when it lists and closes files.
// `smbcontrol <process> shutdown`: MSG_SHUTDOWN, on which an smbd child process exits cleanly.
std::vector<std::string> ShutdownArguments(const std::string &configPath, const ServerId &server);
int ShutdownProcess(const ToolOptions &tools, const std::string &configPath, const ServerId &server,
                    std::string *error);

uint32_t RpcFileId(const ServerId &server, uint64_t shareFileId);

std::vector<std::string> RpcCloseArguments(const std::string &configPath, const std::string &server,
                                           const std::string &authFile, uint32_t fileId);

// Runs smbcontrol close-share. A share named "*" is refused: smbcontrol would close every share
// of the process. kStatusOk, or kStatusToolFailed (and *error).
int CloseShare(const ToolOptions &tools, const std::string &configPath, const ServerId &server,
               const std::string &share, std::string *error);

// Runs net rpc file close. kStatusOk when the service accepted the close, else
// kStatusToolFailed (and *error).
int CloseOpenOverRpc(const ToolOptions &tools, const std::string &configPath,
                     const std::string &server, const std::string &authFile, uint32_t fileId,
                     std::string *error);

// What a failed tool printed, for a message: its exit status and its standard error or output,
// on one line.
std::string DescribeFailure(const ToolResult &result);

}  // namespace cifsmon

#endif  // CIFSMONITORING_SAMBA_CLOSE_H
