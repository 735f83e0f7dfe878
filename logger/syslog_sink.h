// syslog_sink.h: the logger's path to the system log (internal to the logger and its tests).
//
// The logger never calls openlog/syslog/closelog directly; it goes through g_syslog_sink, which is
// constant-initialised with thin wrappers around the real calls. A test may swap the three
// pointers to capture what would be sent, and must put the defaults back (kSyslogSinkDefault).
#ifndef KEL2CIFS_LOGGER_SYSLOG_SINK_H
#define KEL2CIFS_LOGGER_SYSLOG_SINK_H

namespace kel2cifs {

struct SyslogSink {
    // openlog(identity, option, facility); the identity must outlive the connection.
    void (*open)(const char *identity, int option, int facility);
    // One message, already formatted: never used as a format string.
    void (*write)(int priority, const char *text);
    void (*close)();
};

void SyslogOpenDefault(const char *identity, int option, int facility);
void SyslogWriteDefault(int priority, const char *text);
void SyslogCloseDefault();

inline constexpr SyslogSink kSyslogSinkDefault{SyslogOpenDefault, SyslogWriteDefault,
                                               SyslogCloseDefault};

extern SyslogSink g_syslog_sink;

}  // namespace kel2cifs

#endif  // KEL2CIFS_LOGGER_SYSLOG_SINK_H
