// calls.h: the optional calls of the host (kel/host_ext.h) and of the monitoring library
// (cifsmonitoring/administration.h, failure.h) that the administration pages use. Each is taken
// as a weak symbol, so the plug-in loads beside libraries that lack them; a page whose calls are
// missing says that its feature is not available. Tests put other functions (or none) in their
// place with ReplaceCalls.
#ifndef KEL2CIFS_CIFSADMIN_CALLS_H
#define KEL2CIFS_CIFSADMIN_CALLS_H

#include <cstddef>
#include <ctime>
#include <string>

#include "cifsmonitoring/administration.h"
#include "cifsmonitoring/failure.h"
#include "kel/host.h"
#include "kel/host_ext.h"

namespace kel2cifs::admin {

struct Calls {
    // The host's.
    int (*queryString)(void *, const char **);
    int (*requestAccount)(void *, char *, size_t, int *);
    int (*auditTarget)(void *, const char *, const char *, const char *);
    // The monitoring library's.
    int (*listOpenFiles)(CifsOpenFile **, size_t *);
    int (*freeOpenFiles)(CifsOpenFile **);
    int (*listSessions)(CifsSession **, size_t *);
    int (*freeSessions)(CifsSession **);
    int (*planClose)(const CifsOpenRef *, size_t, CifsOpenFile **, size_t *);
    int (*closeOpenFile)(unsigned int, const char *);
    int (*endSession)(unsigned int);
    int (*setActionObserver)(CifsActionObserver, void *);
    int (*lastFailure)(char *, size_t);
    // The clock of "Last updated" and of the kept results.
    std::time_t (*now)(std::time_t *);
};

// The calls in use now.
const Calls &Use();
// Puts `calls` in place and returns those it replaces (tests only; not while requests run).
Calls ReplaceCalls(const Calls &calls);

// Whether the open-file search, and the session list, can be offered.
bool OpenFilesAvailable();
bool SessionsAvailable();

// The library's report on the calling thread's last call, "" without one (or without
// Ext_LastFailure).
std::string LastReport();

// The query of the request ("" when the host has no KelReturnQueryString) and its account
// ("" when unknown).
std::string QueryOf(void *request);
std::string AccountOf(void *request);

// While one lives on a thread, the action observer leaves that thread's actions alone: the page
// that made them records them itself.
class OwnAction {
  public:
    OwnAction();
    ~OwnAction();
    OwnAction(const OwnAction &) = delete;
    OwnAction &operator=(const OwnAction &) = delete;
    static bool Active();
};

// The observer set at load: every close the library carries out in this process (the first
// plug-in's too) goes to the audit trail of the request the calling thread is serving.
void ObserveAction(const CifsActionReport *report, void *context);

}  // namespace kel2cifs::admin

#endif  // KEL2CIFS_CIFSADMIN_CALLS_H
