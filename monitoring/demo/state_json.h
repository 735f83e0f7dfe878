// state_json.h: the demo backend's state file, a JSON document, to and from a State.
//
// Layout (every key, the optional details of sessions and opens among them, is listed in
// README.md):
//   {"format": "cifsmonitoring-demo-state", "version": 1,
//    "volumes": [{"name": "DATA", "path": "/srv/cifs/DATA"}, ...],
//    "connections": [{"number": 1, "address": "10.1.2.3", "user": "...", "type": "...",
//                     "bytesRead": 0, "bytesWritten": 0, "requestCount": 0, "loginTime": 0,
//                     "loginStatus": "Logged-In", "privileges": "Non-Supervisor",
//                     "securityEquivalences": ["..."],
//                     "openFiles": [{"volume": "DATA", "paths": ["/srv/cifs/DATA/a.doc"]}]},
//                    ...]}
#ifndef CIFSMONITORING_STATE_JSON_H
#define CIFSMONITORING_STATE_JSON_H

#include <string>
#include <string_view>

#include "monitoring/state.h"

namespace cifsmon {

inline constexpr char kStateFormatName[] = "cifsmonitoring-demo-state";
inline constexpr int kStateFormatVersion = 1;

// Parses and validates a state document. A text may hold bytes that are not UTF-8 (a file name
// is any bytes): they are kept as they are (json_text.h), and the rest is read as usual. On
// failure returns false, leaves *state unspecified and sets *error to one line naming the first
// offending element ("connections[2].number: ...").
// Required: "volumes" and "connections" arrays, each volume's non-empty unique "name", each
// connection's "number" (0 to 65535) and "user"; every other key may be missing (empty text,
// zero, no entries). Unknown keys are ignored. Two groups of one connection naming the same
// volume are merged (with their details: a path without its detail gets the defaults); a group
// naming no listed volume, a text holding a NUL byte, an
// empty path or a wrong type makes the document invalid.
[[nodiscard]] bool ParseState(std::string_view text, State *state, std::string *error);

// The document for a state: volumes one per line, connections one per line, every text's bytes
// kept as they are, those that are not UTF-8 too (json_text.h). ParseState(SerializeState(s))
// gives s back for every State that ParseState can produce. Linear in the size of the state.
std::string SerializeState(const State &state);

}  // namespace cifsmon

#endif  // CIFSMONITORING_STATE_JSON_H
