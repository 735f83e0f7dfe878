#include "plugin/monitoring_report.h"

#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "kel/host.h"
#include "plugin/html.h"
#include "plugin/pages.h"

namespace kel2cifs {

namespace {

std::atomic<LastFailureFunction> source{Ext_LastFailure};

// The notes of the request the thread serves. Made by the first note and deleted when the
// notes are cleared: most requests close nothing, and a pointer needs no destructor at thread
// exit.
struct CloseNoteList {
    std::vector<std::string> notes;
    std::size_t leftOut = 0;
};

thread_local CloseNoteList *closeNotes = nullptr;

void AddNote(std::string_view name, const std::string &sentence) {
    if (closeNotes == nullptr) {
        closeNotes = new CloseNoteList;
    }
    if (closeNotes->notes.size() >= kMaxCloseNotes) {
        ++closeNotes->leftOut;
        return;
    }
    std::string note = EscapeHtmlShowingBadBytes(name);
    note += ": ";
    note += sentence;
    closeNotes->notes.push_back(std::move(note));
}

}  // namespace

LastFailureFunction SetLastFailureSource(LastFailureFunction replacement) {
    return source.exchange(replacement);
}

LastFailureFunction LastFailureSource() {
    return source.load();
}

std::string LastReport(int status) {
    const LastFailureFunction read = source.load();
    if (read == nullptr) {
        return std::string();
    }
    char text[kReportSize] = "";
    const int reported = read(text, sizeof(text));
    text[sizeof(text) - 1] = '\0';
    if (reported != status) {
        return std::string();
    }
    return std::string(text);
}

const char *FailureHead(int status, FailedCall call) {
    switch (status) {
        case CIFSMON_STATUS_SERVER_NOT_RUNNING:
            return lnxMSG("The CIFS server does not answer:");
        case CIFSMON_STATUS_TOOL_FAILED:
            return lnxMSG("A tool of the CIFS server failed or took too long:");
        case CIFSMON_STATUS_TOOL_OUTPUT_INVALID:
            return lnxMSG("A tool of the CIFS server answered what the console cannot read:");
        case CIFSMON_STATUS_NOT_PERMITTED:
            return lnxMSG("The console lacks the rights to read the CIFS server:");
        case CIFSMON_STATUS_STATE_MISSING:
        case CIFSMON_STATUS_STATE_CORRUPT:
        case CIFSMON_STATUS_IO_ERROR:
            return lnxMSG("The state file of the CIFS monitoring cannot be read:");
        case CIFSMON_STATUS_BACKEND_UNAVAILABLE:
            return lnxMSG("The CIFS monitoring backend is not available:");
        default:
            return call == FailedCall::kClose ? lnxMSG("The CIFS server could not close it:")
                                              : lnxMSG("The CIFS server's data cannot be read:");
    }
}

std::string FailureSentence(int status, FailedCall call) {
    std::string sentence = FailureHead(status, call);
    sentence += ' ';
    const std::string reason = LastReport(status);
    if (!reason.empty()) {
        sentence += EscapeHtmlShowingBadBytes(reason);
    } else {
        sentence += lnxMSG("no reason was given");
        sentence += " (";
        sentence += std::to_string(status);
        sentence += ").";
    }
    return sentence;
}

void WriteFailureRow(void *request, int status, int colspan) {
    const std::string sentence = FailureSentence(status);
    HttpSendDataSprintf(request,
                        "<tr><td align=left colspan=%d style=\"font-size:13px;color:black;\">%s"
                        "</td></tr>",
                        colspan, sentence.c_str());
}

void ClearCloseNotes() {
    delete closeNotes;
    closeNotes = nullptr;
}

void NoteCloseResult(std::string_view name, int status) {
    if (status == CIFSMON_STATUS_AMBIGUOUS) {
        AddNote(name, lnxMSG("This shortened name stands for more than one open file; nothing "
                             "was closed."));
    } else if (status != CIFSMON_STATUS_OK) {
        AddNote(name, FailureSentence(status, FailedCall::kClose));
    } else if (const std::string note = LastReport(status); !note.empty()) {
        std::string sentence =
            lnxMSG("The server could close this file only together with others:");
        sentence += ' ';
        sentence += EscapeHtmlShowingBadBytes(note);
        AddNote(name, sentence);
    }
}

const std::string *CloseNotes(std::size_t *count, std::size_t *leftOut) {
    *count = closeNotes != nullptr ? closeNotes->notes.size() : 0;
    *leftOut = closeNotes != nullptr ? closeNotes->leftOut : 0;
    return closeNotes != nullptr ? closeNotes->notes.data() : nullptr;
}

void WriteCloseNotes(void *request) {
    if (closeNotes == nullptr) {
        return;
    }
    for (const std::string &note : closeNotes->notes) {
        HttpSendDataSprintf(request, "<p class=\"closenote\" role=\"status\">%s</p>\n",
                            note.c_str());
    }
    if (closeNotes->leftOut != 0) {
        HttpSendDataSprintf(request, "<p class=\"closenote\" role=\"status\">%s %zu</p>\n",
                            lnxMSG("Closes with a note left out of this list:"),
                            closeNotes->leftOut);
    }
}

}  // namespace kel2cifs
