// doubles_probe.cpp: a stand-in plug-in for support_shared_doubles_test. It reaches both doubles
// only through their C interfaces, resolved by the loader against libkel.so and
// libcifsmonitoring.so, as the real plug-in does.
#include "cifsmonitoring/monitoring.h"
#include "kel/host.h"

namespace {

int ProbeMethod(void *request, int, int, unsigned int) {
    if (HttpSendSuccessfulResponse(request, HttpReturnString(KEL_STRING_HTML_CONTENT_TYPE)) != 0) {
        return 500;
    }
    HttpSendDataSprintf(request, "<tr %s>", pzSTRIPE_LIGHT);
    HttpEndDataResponse(request);
    return 200;
}

}  // namespace

// Registers ProbeMethod under "probe" and hands out the volume list, unfreed.
extern "C" VolumeDetailsNode *probe_run() {
    ServiceGroup group = {0, 0, "Probe"};
    int status = -1;
    RegisterServiceMethodEx("Probe", "probe", 5, &group, 0x4000d, nullptr, ProbeMethod, nullptr,
                            &status);
    int count = 0;
    VolumeDetailsNode *list = nullptr;
    Ext_ListVolumeDetails(&count, &list);
    return list;
}
