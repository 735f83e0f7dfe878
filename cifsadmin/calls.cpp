#include "cifsadmin/calls.h"

#include <string>

// Optional symbols: null in a process whose libraries lack them.
extern "C" {
int KelReturnQueryString(void *request, const char **query) __attribute__((weak));
int KelReturnRequestAccount(void *request, char *name, size_t size, int *viaToken)
    __attribute__((weak));
int KelAuditTarget(void *request, const char *action, const char *target, const char *result)
    __attribute__((weak));
int Ext_ListOpenFiles(CifsOpenFile **list, size_t *count) __attribute__((weak));
int Ext_FreeOpenFiles(CifsOpenFile **list) __attribute__((weak));
int Ext_ListSessions(CifsSession **list, size_t *count) __attribute__((weak));
int Ext_FreeSessions(CifsSession **list) __attribute__((weak));
int Ext_PlanClose(const CifsOpenRef *targets, size_t targetCount, CifsOpenFile **list,
                  size_t *count) __attribute__((weak));
int Ext_CloseOpenFile(unsigned int connNumber, const char *path) __attribute__((weak));
int Ext_EndSession(unsigned int connNumber) __attribute__((weak));
int Ext_SetActionObserver(CifsActionObserver observer, void *context) __attribute__((weak));
int Ext_LastFailure(char *text, size_t size) __attribute__((weak));
}

namespace kel2cifs::admin {
namespace {

// Constant-initialised: the load routine reads it before any constructor runs.
constinit Calls g_calls{KelReturnQueryString,
                        KelReturnRequestAccount,
                        KelAuditTarget,
                        Ext_ListOpenFiles,
                        Ext_FreeOpenFiles,
                        Ext_ListSessions,
                        Ext_FreeSessions,
                        Ext_PlanClose,
                        Ext_CloseOpenFile,
                        Ext_EndSession,
                        Ext_SetActionObserver,
                        Ext_LastFailure,
                        std::time};

constinit thread_local int t_ownActions = 0;

// Room for the library's one-line report.
constexpr std::size_t kReportSize = 1024;
// Room for an account name.
constexpr std::size_t kAccountSize = 256;

}  // namespace

const Calls &Use() {
    return g_calls;
}

Calls ReplaceCalls(const Calls &calls) {
    const Calls previous = g_calls;
    g_calls = calls;
    return previous;
}

bool OpenFilesAvailable() {
    return g_calls.listOpenFiles != nullptr && g_calls.freeOpenFiles != nullptr &&
           g_calls.planClose != nullptr && g_calls.closeOpenFile != nullptr &&
           g_calls.queryString != nullptr;
}

bool SessionsAvailable() {
    return g_calls.listSessions != nullptr && g_calls.freeSessions != nullptr &&
           g_calls.endSession != nullptr && g_calls.queryString != nullptr;
}

std::string LastReport() {
    if (g_calls.lastFailure == nullptr) {
        return std::string();
    }
    char text[kReportSize] = "";
    g_calls.lastFailure(text, sizeof text);
    text[sizeof text - 1] = '\0';
    return text;
}

std::string QueryOf(void *request) {
    const char *query = nullptr;
    if (g_calls.queryString == nullptr || g_calls.queryString(request, &query) != 0 ||
        query == nullptr) {
        return std::string();
    }
    return query;
}

std::string AccountOf(void *request) {
    char name[kAccountSize] = "";
    if (g_calls.requestAccount == nullptr ||
        g_calls.requestAccount(request, name, sizeof name, nullptr) != 0) {
        return std::string();
    }
    name[sizeof name - 1] = '\0';
    return name;
}

OwnAction::OwnAction() {
    ++t_ownActions;
}
OwnAction::~OwnAction() {
    --t_ownActions;
}
bool OwnAction::Active() {
    return t_ownActions > 0;
}

void ObserveAction(const CifsActionReport *report, void * /*context*/) {
    if (report == nullptr || OwnAction::Active() || g_calls.auditTarget == nullptr) {
        return;
    }
    const char *action = "close file";
    std::string target;
    const std::string path = report->path != nullptr ? report->path : "";
    switch (report->action) {
        case CIFSMON_ACTION_CLOSE_FILE:
            target = path;
            break;
        case CIFSMON_ACTION_CLOSE_CONNECTION_FILES:
            action = "close connection's files";
            target = "connection " + std::to_string(report->connNumber);
            break;
        case CIFSMON_ACTION_CLOSE_OPEN_FILE:
            target = "connection " + std::to_string(report->connNumber) + ": " + path;
            break;
        case CIFSMON_ACTION_END_SESSION:
            action = "end session";
            target = "connection " + std::to_string(report->connNumber);
            break;
        default:
            action = "action";
            target = "connection " + std::to_string(report->connNumber);
            break;
    }
    const std::string text = report->report != nullptr ? report->report : "";
    std::string result;
    if (report->status == CIFSMON_STATUS_OK) {
        result = text.empty() ? "closed" : "closed; " + text;
    } else {
        result = "failed: " + (text.empty() ? "status " + std::to_string(report->status) : text);
    }
    g_calls.auditTarget(nullptr, action, target.c_str(), result.c_str());
}

}  // namespace kel2cifs::admin
