// state_ops.h: finding things in a State and the two changes a close makes to it.
#ifndef CIFSMONITORING_STATE_OPS_H
#define CIFSMONITORING_STATE_OPS_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "monitoring/state.h"

namespace cifsmon {

// The volume that the listing calls `listedName`: its name, or its name as cut to fit the
// records' volume-name array (a caller can only pass back what it was given). The first such
// volume; null when none.
const Volume *FindVolume(const State &state, std::string_view listedName);

// Every connection carrying `number`, in state order. Numbers are 16-bit: a number above 65535
// names no connection. A state with more than 65535 connections repeats numbers; then a
// connection's detail is that of the first, and closing by number reaches them all (the pages
// show nothing but the number, so a file listed under it must not stay open after the close).
std::vector<std::size_t> FindConnections(const State &state, unsigned int number);

// The open path a close names. `wanted` itself when some open has it; else, when it ends with
// the cut mark (CIFSMON_CUT_MARK) that a page puts on a path cut to fit, the one path that
// begins with the text before the mark and is longer than it. kStatusOk and *resolved;
// kStatusNotFound; or kStatusAmbiguous (and *candidates, how many paths begin so) when several
// do. `openPaths` may repeat a path.
int ResolveClosePath(std::string_view wanted, const std::vector<std::string_view> &openPaths,
                     std::string *resolved, std::size_t *candidates);

// Every path open in the state, once per open.
std::vector<std::string_view> OpenPaths(const State &state);

// Removes `path` from every connection holding it open (on any volume). Returns how many opens
// were removed; 0 leaves the state as it was.
std::size_t RemoveOpenFile(State *state, std::string_view path);

// Removes `path` from the connections carrying `number` (on any volume), their details in step.
// Returns how many opens were removed.
std::size_t RemoveOpenOfConnection(State *state, unsigned int number, std::string_view path);

// Removes the connections carrying `number` with their open files. Returns how many went.
std::size_t RemoveConnection(State *state, unsigned int number);

// Removes every open file of the connections carrying `number`; the connections stay. Returns
// false when no connection carries the number. *removed counts the opens removed.
bool RemoveFilesOfConnection(State *state, unsigned int number, std::size_t *removed);

}  // namespace cifsmon

#endif  // CIFSMONITORING_STATE_OPS_H
