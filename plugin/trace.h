// trace.h: writing diagnostics of the open-file and connection pages through the process-wide
// logger.
//
// `log` is null before the plug-in starts and after it stops; a line written then is dropped.
#ifndef KEL2CIFS_PLUGIN_TRACE_H
#define KEL2CIFS_PLUGIN_TRACE_H

#include "logger/logger.h"

namespace kel2cifs::trace {

// The level each traced operation writes at.
inline constexpr int kLevel_debug = kLevelDebug;
inline constexpr int kLevel_error = kLevelError;
inline constexpr int kLevel_dump = kLevelDump;

// False when logger is the plug-in's own logger and its level drops lines of `level`: its
// operations would return at once, so the arguments are not even passed. Any other record (a
// test's) decides for itself.
inline bool Wanted(const Logger *logger, int level) {
    return logger != &_my_local_instance || _my_local_instance.level >= level;
}

// True when a trace line of `level` would be written now (or a test's logger decides).
inline bool Enabled(int level) {
    const Logger *logger = log;
    return logger != nullptr && Wanted(logger, level);
}

}  // namespace kel2cifs::trace

// KEL2CIFS_TRACE(debug, "x=%d", x) calls log->debug("x=%d", x) when there is a logger that
// writes debug lines; below debug level it costs a load and a compare. A macro, so that the
// compiler checks every format against its arguments.
#define KEL2CIFS_TRACE(operation, ...)                                                         \
    do {                                                                                       \
        ::Logger *trace_logger_ = ::kel2cifs::log;                                             \
        if (trace_logger_ != nullptr && trace_logger_->operation != nullptr &&                 \
            ::kel2cifs::trace::Wanted(trace_logger_, ::kel2cifs::trace::kLevel_##operation)) { \
            trace_logger_->operation(__VA_ARGS__);                                             \
        }                                                                                      \
    } while (0)

#endif  // KEL2CIFS_PLUGIN_TRACE_H
