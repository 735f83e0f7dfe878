#include "plugin/request.h"

#include "kel/host.h"
#include "ofm/post_data.h"
#include "plugin/pages.h"

namespace kel2cifs {

int ReadRequestData(void *request, RequestData &data) {
    if (HttpReturnRequestMethod(request, &data.method) == 0) {
        return generate_error_page(request, kErrorMissingData);
    }
    if (data.method != kMethodGet && data.method != kMethodPost) {
        return generate_error_page(request, kErrorBadRequest);
    }
    if (data.method != kMethodPost) {
        return 0;
    }
    char *body = nullptr;
    unsigned long length = 0;
    if (HttpReturnPostDataBuffer(request, &body, &length) != 0 || body == nullptr) {
        return 0;
    }
    // The console leaves room for a terminator after the body.
    body[length] = '\0';
    data.raw = body;
    data.rawLength = length;
    char *decoded = nullptr;
    const int status = decodePostDataString(body, length, &decoded);
    data.decoded.reset(decoded);
    if (status != 0) {
        return generate_error_page(request, kErrorOutOfResources);
    }
    return 0;
}

}  // namespace kel2cifs
