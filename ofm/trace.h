// trace.h: writing diagnostics of the open-file pages through the process-wide logger.
//
// `log` is null before the plug-in starts and after it stops; a line written then is dropped.
#ifndef KEL2CIFS_OFM_TRACE_H
#define KEL2CIFS_OFM_TRACE_H

#include "logger/logger.h"

// KEL2CIFS_TRACE(debug, "x=%d", x) calls log->debug("x=%d", x) when there is a logger. A macro,
// so that the compiler checks every format against its arguments.
#define KEL2CIFS_TRACE(operation, ...)                                         \
    do {                                                                       \
        ::kel2cifs::Logger *trace_logger_ = ::kel2cifs::log;                   \
        if (trace_logger_ != nullptr && trace_logger_->operation != nullptr) { \
            trace_logger_->operation(__VA_ARGS__);                             \
        }                                                                      \
    } while (0)

#endif  // KEL2CIFS_OFM_TRACE_H
