// backend_registry.h: the backend that the current settings (settings.h) choose.
#ifndef CIFSMONITORING_BACKEND_REGISTRY_H
#define CIFSMONITORING_BACKEND_REGISTRY_H

#include <memory>

#include "monitoring/backend.h"

namespace cifsmon {

// The backend for ReadSettings() as they are now: the same object while the settings stay the
// same (a backend may keep what it learnt between calls), a new one when they change; the old
// one lives on until its last caller drops it. kStatusOk, or kStatusBackendUnavailable (and one
// message on standard error) for a backend this library does not provide. Thread-safe.
int AcquireBackend(std::shared_ptr<Backend> *backend);

}  // namespace cifsmon

#endif  // CIFSMONITORING_BACKEND_REGISTRY_H
