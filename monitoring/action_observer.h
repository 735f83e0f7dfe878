// action_observer.h: the one observer of the library's actions (Ext_SetActionObserver of
// cifsmonitoring/administration.h).
//
// Every action entry point, once its call is finished and its report kept (call_report.h),
// tells the observer with NotifyAction on the calling thread. Observers run under a shared lock
// and SetActionObserver takes it exclusively: once it returns, the previous observer is not
// running and is not called again.
#ifndef CIFSMONITORING_ACTION_OBSERVER_H
#define CIFSMONITORING_ACTION_OBSERVER_H

#include "cifsmonitoring/administration.h"

namespace cifsmon {

void SetActionObserver(CifsActionObserver observer, void *context);

// Calls the observer, if any, with the action, the calling thread's report of it and `status`.
// `path` may be null. Nothing the observer throws leaves here.
void NotifyAction(int action, unsigned int connNumber, const char *path, int status);

}  // namespace cifsmon

#endif  // CIFSMONITORING_ACTION_OBSERVER_H
