#include "monitoring/samba/samba_close.h"

#include "monitoring/status.h"

namespace cifsmon {

namespace {

int Run(const ToolOptions &tools, const char *name, const std::vector<std::string> &arguments,
        std::string *error) {
    ToolResult result;
    int status = RunTool(tools, name, arguments, &result, error);
    if (status != kStatusOk) {
        return status;
    }
    if (result.exitStatus != 0) {
        *error = DescribeCommand(name, arguments) + " failed: " + DescribeFailure(result);
        return kStatusToolFailed;
    }
    return kStatusOk;
}

}  // namespace

std::string DescribeFailure(const ToolResult &result) {
    std::string text = result.errors.empty() ? result.output : result.errors;
    if (text.size() > kToolErrorTextLimit) {
        text.resize(kToolErrorTextLimit);
    }
    for (char &c : text) {
        if (c == '\n' || c == '\r' || c == '\t') {
            c = ' ';
        }
    }
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    std::string description = "exit status " + std::to_string(result.exitStatus);
    return text.empty() ? description : description + ": " + text;
}

std::string ProcessDestination(const ServerId &server) {
    std::string pid = std::to_string(server.pid);
    return server.vnn == kNonClusterVnn ? pid : std::to_string(server.vnn) + ":" + pid;
}

std::vector<std::string> CloseShareArguments(const std::string &configPath, const ServerId &server,
                                             const std::string &share) {
    return {"-s", configPath, "--", ProcessDestination(server), "close-share", share};
}

std::vector<std::string> ShutdownArguments(const std::string &configPath, const ServerId &server) {
    return {"-s", configPath, "--", ProcessDestination(server), "shutdown"};
}

int ShutdownProcess(const ToolOptions &tools, const std::string &configPath, const ServerId &server,
                    std::string *error) {
    return Run(tools, kSmbcontrolTool, ShutdownArguments(configPath, server), error);
}

uint32_t RpcFileId(const ServerId &server, uint64_t shareFileId) {
    return static_cast<uint32_t>((server.pid << 16) | shareFileId);
}

std::vector<std::string> RpcCloseArguments(const std::string &configPath, const std::string &server,
                                           const std::string &authFile, uint32_t fileId) {
    return {"-s",
            configPath,
            "-S",
            server,
            "-A",
            authFile,
            "--",
            "rpc",
            "file",
            "close",
            std::to_string(fileId)};
}

int CloseShare(const ToolOptions &tools, const std::string &configPath, const ServerId &server,
               const std::string &share, std::string *error) {
    if (share == "*") {
        *error = "refusing to close the share \"*\" of process " + ProcessDestination(server) +
                 ": smbcontrol would close every share of the process";
        return kStatusToolFailed;
    }
    return Run(tools, kSmbcontrolTool, CloseShareArguments(configPath, server, share), error);
}

int CloseOpenOverRpc(const ToolOptions &tools, const std::string &configPath,
                     const std::string &server, const std::string &authFile, uint32_t fileId,
                     std::string *error) {
    return Run(tools, kNetTool, RpcCloseArguments(configPath, server, authFile, fileId), error);
}

}  // namespace cifsmon
