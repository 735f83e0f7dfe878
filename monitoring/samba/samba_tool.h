// samba_tool.h: running one of the file server's command-line tools with a time limit and a
// bound on what it may print.
//
// The program is started with fork and execve and its arguments as a vector: no shell ever
// sees them, so share names and paths taken from the server are passed as data, whatever they
// hold. It is looked up only in the configured directories. Its standard input is /dev/null;
// it inherits the caller's environment with LC_ALL=C in place of LC_ALL and LANG, so that its
// messages are not translated; no descriptor of the caller other than the three standard ones
// reaches it.
#ifndef CIFSMONITORING_SAMBA_TOOL_H
#define CIFSMONITORING_SAMBA_TOOL_H

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cifsmon {

// What standard error may hold in a ToolResult; the rest is read and dropped.
inline constexpr std::size_t kToolErrorTextLimit = 4096;

struct ToolOptions {
    std::string searchPath;  // colon-separated directories; empty entries are skipped
    unsigned timeoutMs = 10000;
    uint64_t outputLimit = 1 << 20;  // bytes of standard output
    // "NAME=value" entries the tool gets in place of the caller's of the same names.
    std::vector<std::string> environment;
};

struct ToolResult {
    std::string path;    // the program that ran
    int exitStatus = 0;  // its exit status
    std::string output;  // standard output, whole
    std::string errors;  // standard error, its first kToolErrorTextLimit bytes
};

// The program `name` in the first directory of searchPath holding an executable regular file
// of that name; empty when there is none. `name` must not contain a slash.
std::string FindTool(const std::string &searchPath, std::string_view name);

// Runs `name` with `arguments` (argv[1] onwards) and waits for it. kStatusOk when it ran and
// exited, whatever its exit status (in *result); kStatusToolFailed when it was not found, could
// not be started, was killed by a signal, was killed at the time limit, printed more than the
// output limit (then it is killed at once), or its exit status was lost; *error then says
// which, naming the program. Thread-safe: concurrent runs share nothing.
int RunTool(const ToolOptions &options, std::string_view name,
            const std::vector<std::string> &arguments, ToolResult *result, std::string *error);

// A program started to be talked to: its standard input, output and error are one end of a
// stream socket pair (so that writing to a program that died raises no SIGPIPE: send with
// MSG_NOSIGNAL); the caller holds the other end and must reap the process.
struct ToolSession {
    pid_t pid = -1;
    int socket = -1;  // close-on-exec
};

// Starts `name` as RunTool does (looked up in searchPath, an argument vector, LC_ALL=C, no other
// descriptor) without waiting for it. kStatusOk, or kStatusToolFailed (and *error) when it was
// not found or could not be started.
int StartToolSession(const ToolOptions &options, std::string_view name,
                     const std::vector<std::string> &arguments, ToolSession *session,
                     std::string *error);

// "name arg1 arg2 ..." for messages, each argument that holds a blank, a quote or a backslash in
// single quotes (a quote inside as '\''); never used to run anything.
std::string DescribeCommand(std::string_view name, const std::vector<std::string> &arguments);

}  // namespace cifsmon

#endif  // CIFSMONITORING_SAMBA_TOOL_H
