// admin_records.h: the records of cifsmonitoring/administration.h built from a State, and their
// release.
//
// A listing is one malloc block: the array of records, then the terminated paths the records
// point at. Fixed arrays hold their text cut to fit (CutToFit) and zero-filled after it. On
// failure nothing is handed out: *list is null and *count 0.
#ifndef CIFSMONITORING_ADMIN_RECORDS_H
#define CIFSMONITORING_ADMIN_RECORDS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cifsmonitoring/administration.h"
#include "monitoring/state.h"

namespace cifsmon {

// One connection's open of one path, as a close names it.
struct OpenRef {
    unsigned int number = 0;
    std::string path;

    bool operator==(const OpenRef &) const = default;
};

// Every open file of the state, one record per connection and path: volumes in state order,
// then, for each, connections in state order and their paths in state order; files on no
// listed volume last, in connection order. With `only`, just the (number, path) pairs it names.
// kStatusOk or kStatusNoMemory.
int BuildOpenFileList(const State &state, const std::vector<OpenRef> *only, CifsOpenFile **list,
                      std::size_t *count);

// One record per connection, in state order. kStatusOk or kStatusNoMemory.
int BuildSessionList(const State &state, CifsSession **list, std::size_t *count);

// Whether a connection carrying ref.number holds ref.path open.
bool IsOpen(const State &state, const OpenRef &ref);

}  // namespace cifsmon

#endif  // CIFSMONITORING_ADMIN_RECORDS_H
