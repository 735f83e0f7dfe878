// The entry points of cifsmonitoring/monitoring.h and administration.h: argument checks, the
// current backend's snapshot, and the records built from it (records.h, admin_records.h); every
// action is told to the action observer (action_observer.h). No exception leaves an entry point.
#include <cstdlib>
#include <new>

#include "cifsmonitoring/administration.h"
#include "cifsmonitoring/failure.h"
#include "cifsmonitoring/monitoring.h"
#include "monitoring/action_observer.h"
#include "monitoring/admin_records.h"
#include "monitoring/backend_registry.h"
#include "monitoring/call_report.h"
#include "monitoring/records.h"
#include "monitoring/status.h"

namespace cifsmon {

namespace {

int Snapshot(std::shared_ptr<const State> *state) {
    std::shared_ptr<Backend> backend;
    int status = AcquireBackend(&backend);
    if (status != kStatusOk) {
        return status;
    }
    return backend->Snapshot(state);
}

static_assert(kStatusNotFound == CIFSMON_STATUS_NOT_FOUND &&
              kStatusInvalidArgument == CIFSMON_STATUS_INVALID_ARGUMENT &&
              kStatusStateMissing == CIFSMON_STATUS_STATE_MISSING &&
              kStatusStateCorrupt == CIFSMON_STATUS_STATE_CORRUPT &&
              kStatusIoError == CIFSMON_STATUS_IO_ERROR &&
              kStatusNoMemory == CIFSMON_STATUS_NO_MEMORY &&
              kStatusBackendUnavailable == CIFSMON_STATUS_BACKEND_UNAVAILABLE &&
              kStatusToolFailed == CIFSMON_STATUS_TOOL_FAILED &&
              kStatusToolOutputInvalid == CIFSMON_STATUS_TOOL_OUTPUT_INVALID &&
              kStatusServerNotRunning == CIFSMON_STATUS_SERVER_NOT_RUNNING &&
              kStatusAmbiguous == CIFSMON_STATUS_AMBIGUOUS &&
              kStatusNotPermitted == CIFSMON_STATUS_NOT_PERMITTED);

// Runs an entry point's body, turning an exception into a status, and keeps the thread's report
// of the call (call_report.h).
template <typename Body>
int Guarded(Body body) {
    CallReport call;
    try {
        return call.Finish(body());
    } catch (const std::bad_alloc &) {
        return call.Finish(kStatusNoMemory);
    } catch (...) {
        return call.Finish(kStatusIoError);
    }
}

// The body of every Free call: frees *record (a list or one record) and nulls the caller's pointer.
template <typename Record>
int FreeAndClear(Record **record, void (*free)(Record *)) {
    if (record == nullptr) {
        return kStatusInvalidArgument;
    }
    free(*record);
    *record = nullptr;
    return kStatusOk;
}

// A listing's out-parameters of administration.h: null and 0 until it succeeds.
template <typename Record>
void ClearListing(Record **list, std::size_t *count) {
    if (list != nullptr) {
        *list = nullptr;
    }
    if (count != nullptr) {
        *count = 0;
    }
}

// The body of a listing of administration.h: its records built from a fresh snapshot.
template <typename Record, typename Build>
int ListFromSnapshot(Record **list, std::size_t *count, Build build) {
    ClearListing(list, count);
    return Guarded([&] {
        if (list == nullptr || count == nullptr) {
            return kStatusInvalidArgument;
        }
        std::shared_ptr<const State> state;
        const int status = cifsmon::Snapshot(&state);
        return status != kStatusOk ? status : build(*state, list, count);
    });
}

// The free call of a listing of administration.h: one block.
template <typename Record>
int FreeBlock(Record **list) {
    return FreeAndClear<Record>(list, [](Record *block) { std::free(block); });
}

}  // namespace

}  // namespace cifsmon

using cifsmon::FreeAndClear;
using cifsmon::FreeBlock;
using cifsmon::Guarded;
using cifsmon::kStatusInvalidArgument;
using cifsmon::kStatusOk;
using cifsmon::ListFromSnapshot;
using cifsmon::State;

extern "C" {

int Ext_ListVolumeDetails(int *count, VolumeDetailsNode **list) {
    if (count != nullptr) {
        *count = 0;
    }
    if (list != nullptr) {
        *list = nullptr;
    }
    return Guarded([&] {
        if (count == nullptr || list == nullptr) {
            return kStatusInvalidArgument;
        }
        std::shared_ptr<const State> state;
        int status = cifsmon::Snapshot(&state);
        return status != kStatusOk ? status : cifsmon::BuildVolumeList(*state, count, list);
    });
}

int Ext_ListVolFileDetails(const char *volumeName, VolFileListNode **list, int *count) {
    if (count != nullptr) {
        *count = 0;
    }
    if (list != nullptr) {
        *list = nullptr;
    }
    return Guarded([&] {
        if (volumeName == nullptr || *volumeName == '\0' || count == nullptr || list == nullptr) {
            return kStatusInvalidArgument;
        }
        std::shared_ptr<const State> state;
        int status = cifsmon::Snapshot(&state);
        return status != kStatusOk ? status
                                   : cifsmon::BuildVolumeFileList(*state, volumeName, list, count);
    });
}

int Ext_ListConnDetails(int *count, ConnListNode **list) {
    if (count != nullptr) {
        *count = 0;
    }
    if (list != nullptr) {
        *list = nullptr;
    }
    return Guarded([&] {
        if (count == nullptr || list == nullptr) {
            return kStatusInvalidArgument;
        }
        std::shared_ptr<const State> state;
        int status = cifsmon::Snapshot(&state);
        return status != kStatusOk ? status : cifsmon::BuildConnectionList(*state, count, list);
    });
}

int Ext_GetConnInfo(unsigned int connNumber, UserInfo_s **info) {
    return Guarded([&] {
        if (info == nullptr) {
            return kStatusInvalidArgument;
        }
        *info = nullptr;
        std::shared_ptr<const State> state;
        int status = cifsmon::Snapshot(&state);
        return status != kStatusOk ? status
                                   : cifsmon::BuildConnectionInfo(*state, connNumber, info);
    });
}

int Ext_CloseFileByFileName(const char *path) {
    const int result = Guarded([&] {
        if (path == nullptr || *path == '\0') {
            return kStatusInvalidArgument;
        }
        std::shared_ptr<cifsmon::Backend> backend;
        int status = cifsmon::AcquireBackend(&backend);
        return status != kStatusOk ? status : backend->CloseFileByPath(path);
    });
    cifsmon::NotifyAction(CIFSMON_ACTION_CLOSE_FILE, 0, path, result);
    return result;
}

int Ext_CloseFileByID(unsigned int connNumber) {
    const int result = Guarded([&] {
        std::shared_ptr<cifsmon::Backend> backend;
        int status = cifsmon::AcquireBackend(&backend);
        return status != kStatusOk ? status : backend->CloseFilesOfConnection(connNumber);
    });
    cifsmon::NotifyAction(CIFSMON_ACTION_CLOSE_CONNECTION_FILES, connNumber, nullptr, result);
    return result;
}

int Ext_ListOpenFiles(CifsOpenFile **list, size_t *count) {
    return ListFromSnapshot(list, count, [](const State &state, CifsOpenFile **l, size_t *c) {
        return cifsmon::BuildOpenFileList(state, nullptr, l, c);
    });
}

int Ext_FreeOpenFiles(CifsOpenFile **list) {
    return FreeBlock(list);
}

int Ext_ListSessions(CifsSession **list, size_t *count) {
    return ListFromSnapshot(list, count, cifsmon::BuildSessionList);
}

int Ext_FreeSessions(CifsSession **list) {
    return FreeBlock(list);
}

int Ext_PlanClose(const CifsOpenRef *targets, size_t targetCount, CifsOpenFile **list,
                  size_t *count) {
    cifsmon::ClearListing(list, count);
    return Guarded([&] {
        if (list == nullptr || count == nullptr || (targets == nullptr && targetCount > 0)) {
            return kStatusInvalidArgument;
        }
        std::vector<cifsmon::OpenRef> refs;
        refs.reserve(targetCount);
        for (size_t i = 0; i < targetCount; ++i) {
            if (targets[i].path == nullptr || *targets[i].path == '\0') {
                return kStatusInvalidArgument;
            }
            refs.push_back(cifsmon::OpenRef{targets[i].connNumber, targets[i].path});
        }
        std::shared_ptr<cifsmon::Backend> backend;
        int status = cifsmon::AcquireBackend(&backend);
        if (status != kStatusOk) {
            return status;
        }
        std::shared_ptr<const State> state;
        std::vector<cifsmon::OpenRef> plan;
        status = backend->PlanClose(refs, &state, &plan);
        return status != kStatusOk ? status
                                   : cifsmon::BuildOpenFileList(*state, &plan, list, count);
    });
}

int Ext_CloseOpenFile(unsigned int connNumber, const char *path) {
    const int result = Guarded([&] {
        if (path == nullptr || *path == '\0') {
            return kStatusInvalidArgument;
        }
        std::shared_ptr<cifsmon::Backend> backend;
        int status = cifsmon::AcquireBackend(&backend);
        return status != kStatusOk ? status : backend->CloseOpenOfConnection(connNumber, path);
    });
    cifsmon::NotifyAction(CIFSMON_ACTION_CLOSE_OPEN_FILE, connNumber, path, result);
    return result;
}

int Ext_EndSession(unsigned int connNumber) {
    const int result = Guarded([&] {
        std::shared_ptr<cifsmon::Backend> backend;
        int status = cifsmon::AcquireBackend(&backend);
        return status != kStatusOk ? status : backend->EndSession(connNumber);
    });
    cifsmon::NotifyAction(CIFSMON_ACTION_END_SESSION, connNumber, nullptr, result);
    return result;
}

int Ext_SetActionObserver(CifsActionObserver observer, void *context) {
    return Guarded([&] {
        cifsmon::SetActionObserver(observer, context);
        return kStatusOk;
    });
}

int FreeVolsDetailsNode(VolumeDetailsNode **list) {
    return FreeAndClear(list, cifsmon::FreeVolumeList);
}

int FreeVolFileListNodes(VolFileListNode **list) {
    return FreeAndClear(list, cifsmon::FreeVolumeFileList);
}

int FreeConnListNodes(ConnListNode **list) {
    return FreeAndClear(list, cifsmon::FreeConnectionList);
}

int FreeUserDetailsNode(UserInfo_s **info) {
    return FreeAndClear(info, cifsmon::FreeConnectionInfo);
}

}  // extern "C"
