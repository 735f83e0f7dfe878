// The entry points of cifsmonitoring/monitoring.h: argument checks, the current backend's
// snapshot, and the records built from it (records.h). No exception leaves an entry point.
#include <new>

#include "cifsmonitoring/failure.h"
#include "cifsmonitoring/monitoring.h"
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

}  // namespace

}  // namespace cifsmon

using cifsmon::FreeAndClear;
using cifsmon::Guarded;
using cifsmon::kStatusInvalidArgument;
using cifsmon::kStatusOk;
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
    return Guarded([&] {
        if (path == nullptr || *path == '\0') {
            return kStatusInvalidArgument;
        }
        std::shared_ptr<cifsmon::Backend> backend;
        int status = cifsmon::AcquireBackend(&backend);
        return status != kStatusOk ? status : backend->CloseFileByPath(path);
    });
}

int Ext_CloseFileByID(unsigned int connNumber) {
    return Guarded([&] {
        std::shared_ptr<cifsmon::Backend> backend;
        int status = cifsmon::AcquireBackend(&backend);
        return status != kStatusOk ? status : backend->CloseFilesOfConnection(connNumber);
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
