// harness.h: what the plug-in's fuzz targets share: a scratch root for the plug-in's files, the
// logger, the reading of structured data from a fuzz input (beside input.h), the programming of
// the two test doubles, and the invariants checked after every call.
//
// Every target defines LLVMFuzzerTestOneInput and nothing else; it is linked either with
// libFuzzer (the fuzz build) or with the regression driver of tests/fuzz, which replays saved
// inputs in every build. A broken invariant prints what broke and aborts, so both count it as a
// crash.
#ifndef KEL2CIFS_FUZZ_HARNESS_H
#define KEL2CIFS_FUZZ_HARNESS_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/input.h"
#include "support/fake_host.h"
#include "support/fake_monitoring.h"

namespace kel2cifs::fuzz {

// Prepares the process once: a scratch directory (mkdtemp under $TMPDIR or /tmp) becomes
// KEL2CIFS_ROOT, the plug-in's paths are resolved below it, and the logger is started at level
// everything writing to a stream that discards its lines. Later calls do nothing.
void Setup();
// The scratch directory, without a trailing "/".
const std::string &Root();

// --- Reading the input ----------------------------------------------------------------------

// A monitoring status: mostly 0, else any value.
int Status(FuzzedDataProvider &in);
// A count that disagrees with `entries` now and then: unset, a near value, or any value.
std::optional<int> Count(FuzzedDataProvider &in, std::size_t entries);
// The 16-bit count of an array that disagrees with its entries now and then.
std::optional<uint16_t> Count16(FuzzedDataProvider &in, std::size_t entries);
// Path-text entries of an array: some null, of every length up to maxLength.
std::vector<fake::Entry> Entries(FuzzedDataProvider &in, std::size_t maxEntries,
                                 std::size_t maxLength);
// --- Requests -------------------------------------------------------------------------------

// What the input chose for a request besides its path and body.
struct RequestChoice {
    unsigned int access = fake::kAdministratorAccess;
    bool methodSucceeds = true;
    int methodCode = fake::kGet;
    bool pathSucceeds = true;
    bool postDataSucceeds = true;
    bool openSucceeds = true;
    bool writesFail = false;
};
// Mostly the administrator's access word, a GET or a POST, and a host that succeeds.
RequestChoice ChooseRequest(FuzzedDataProvider &in);

// Gives the request exactly the path and body chosen, in buffers of their own size: the path and
// its terminator, the body and the one byte after it that the host lets the plug-in terminate
// it with (not a terminator), so that a read past either is a heap overflow.
void Program(fake::Request &request, const RequestChoice &choice, std::string_view path,
             std::string_view body);

// The log level (6 to 0) from the input.
void ChooseLogLevel(FuzzedDataProvider &in);

// With KEL2CIFS_FUZZ_SHOW set in the environment, prints the request, the status and the page on
// standard error (for reading what a saved input does); otherwise does nothing.
void Show(const fake::Request &request, std::string_view path, std::string_view body, int status);

// --- Invariants -----------------------------------------------------------------------------

// The host saw no call its state did not allow, no stray handle; status is a page that was
// completed (200: a page ended; 500: a 500 error response or error package was sent; 0: no
// response at all); no data text reached the page unescaped ("<z" in the page) and no freed
// record was read into it (a run of 0xdd).
void CheckServed(const fake::Request &request, int status);
// Every record the monitoring double handed out was given back, nothing was freed twice or
// wrongly, no close path was too long.
void CheckMonitoring();

// Forgets everything the doubles recorded (call at the start and the end of every input).
void ResetDoubles();

}  // namespace kel2cifs::fuzz

#endif  // KEL2CIFS_FUZZ_HARNESS_H
