// last_failure.h: a stand-in for the monitoring library's Ext_LastFailure (the monitoring double
// has none, so the plug-in's optional symbol is null in the test binaries). A ScopedReport puts
// it in the plug-in's place for its lifetime and says what it reports; a close handler of the
// monitoring double can change the report call by call with SetReport.
#ifndef KEL2CIFS_TESTS_COMMON_LAST_FAILURE_H
#define KEL2CIFS_TESTS_COMMON_LAST_FAILURE_H

#include <cstddef>
#include <cstdio>
#include <string>
#include <utility>

#include "cifsmonitoring/failure.h"
#include "plugin/monitoring_report.h"

namespace testing_support {

struct Report {
    int status = CIFSMON_STATUS_NONE;
    std::string text;
    int reads = 0;  // how often the plug-in read it
};

inline Report &CurrentReport() {
    static Report report;
    return report;
}

inline void SetReport(int status, std::string text) {
    CurrentReport().status = status;
    CurrentReport().text = std::move(text);
}

// Writes as the library does: at most size - 1 bytes and a terminator.
inline int ReportedFailure(char *text, std::size_t size) {
    Report &report = CurrentReport();
    ++report.reads;
    if (text != nullptr && size > 0) {
        std::snprintf(text, size, "%s", report.text.c_str());
    }
    return report.status;
}

class ScopedReport {
  public:
    ScopedReport(int status = CIFSMON_STATUS_NONE, std::string text = "")
        : previous_(kel2cifs::SetLastFailureSource(ReportedFailure)) {
        CurrentReport() = Report{};
        SetReport(status, std::move(text));
    }
    ~ScopedReport() {
        kel2cifs::SetLastFailureSource(previous_);
        CurrentReport() = Report{};
    }
    ScopedReport(const ScopedReport &) = delete;
    ScopedReport &operator=(const ScopedReport &) = delete;

  private:
    kel2cifs::LastFailureFunction previous_;
};

}  // namespace testing_support

#endif  // KEL2CIFS_TESTS_COMMON_LAST_FAILURE_H
