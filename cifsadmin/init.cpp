// The administration plug-in's load and unload routines, the library's own DT_INIT and DT_FINI:
// they run before its constructors and after its destructors, so everything they touch is
// constant-initialised.
#include "cifsadmin/registration.h"

extern "C" {

void _fini();

namespace {
constinit int g_started = 0;
}

// Registers the two pages and sets the action observer; a refused registration stops the
// plug-in again.
void _init() {
    if (g_started != 0) {
        return;
    }
    g_started = 1;
    if (!kel2cifs::admin::RegisterPages()) {
        g_started = 0;
        return;
    }
    kel2cifs::admin::SetObserver();
}

// Clears the observer (it no longer runs once that returns, so the code may go) and removes the
// pages.
void _fini() {
    if (g_started == 0) {
        return;
    }
    g_started = 0;
    kel2cifs::admin::ClearObserver();
    kel2cifs::admin::DeregisterPages();
}

}  // extern "C"
