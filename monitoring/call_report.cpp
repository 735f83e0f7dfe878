#include "monitoring/call_report.h"

#include "cifsmonitoring/failure.h"
#include "monitoring/status.h"
#include "monitoring/text.h"

namespace cifsmon {

namespace {

struct ThreadReport {
    int status = CIFSMON_STATUS_NONE;
    std::string reason;
    std::string notes;
};

thread_local ThreadReport report;

// Appends text with every control character as a blank, so that the report stays one line,
// and never past kReportLimit.
void AppendLine(std::string *to, std::string_view text) {
    for (char c : text) {
        if (to->size() >= kReportLimit) {
            break;
        }
        const auto byte = static_cast<unsigned char>(c);
        to->push_back(byte < 0x20 || byte == 0x7F ? ' ' : c);
    }
}

}  // namespace

void SetFailureReason(std::string_view text) {
    report.reason.clear();
    AppendLine(&report.reason, text);
}

void AddNote(std::string_view text) {
    if (!report.notes.empty()) {
        AppendLine(&report.notes, "; ");
    }
    AppendLine(&report.notes, text);
}

std::string_view DescribeStatus(int status) {
    switch (status) {
        case kStatusOk:
            return "";
        case kStatusNotFound:
            return "no such volume, connection or open file";
        case kStatusInvalidArgument:
            return "a required name or out-parameter is missing";
        case kStatusStateMissing:
            return "the demo state file does not exist";
        case kStatusStateCorrupt:
            return "the demo state file is not valid";
        case kStatusIoError:
            return "a file of the monitoring library could not be read or written";
        case kStatusNoMemory:
            return "out of memory";
        case kStatusBackendUnavailable:
            return "the configured monitoring backend is not available";
        case kStatusToolFailed:
            return "a tool of the file server failed";
        case kStatusToolOutputInvalid:
            return "a tool of the file server printed what could not be understood";
        case kStatusServerNotRunning:
            return "the file server is not running or does not answer";
        case kStatusAmbiguous:
            return "the shortened name stands for more than one open file";
        case kStatusNotPermitted:
            return "the monitoring library lacks the rights it needs";
        default:
            return "the monitoring library failed";
    }
}

CallReport::CallReport() {
    report.status = kStatusOk;
    report.reason.clear();
    report.notes.clear();
}

int CallReport::Finish(int status) {
    report.status = status;
    if (status != kStatusOk && report.reason.empty()) {
        AppendLine(&report.reason, DescribeStatus(status));
    }
    return status;
}

int LastReport(std::string *text) {
    *text = report.status == kStatusOk ? report.notes : report.reason;
    return report.status;
}

}  // namespace cifsmon

extern "C" int Ext_LastFailure(char *text, size_t size) {
    std::string said;
    int status = CIFSMON_STATUS_NONE;
    try {
        status = cifsmon::LastReport(&said);
    } catch (...) {
        said.clear();
    }
    if (text != nullptr && size > 0) {
        cifsmon::CopyText(text, size, said);
    }
    return status;
}
