// records.h: the interface's records (cifsmonitoring/monitoring.h) built from a State, and
// their release.
//
// The nodes of one list are one malloc block, whose start is the list's head; every array of
// texts is one block together with its texts. All are released only by the matching Free
// function, given the head the listing handed out. Arrays of texts hold their count of entries
// and then one null entry. Fixed arrays
// hold their text cut to fit (CutToFit) and are zero-filled after it. On failure nothing is
// handed out: the out-parameters are null and 0.
#ifndef CIFSMONITORING_RECORDS_H
#define CIFSMONITORING_RECORDS_H

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "cifsmonitoring/monitoring.h"
#include "monitoring/state.h"

namespace cifsmon {

// Files per VolFileListNode: fileCount is 16-bit, so a connection holding more files open on
// one volume is listed in several consecutive nodes with the same number and user.
inline constexpr std::size_t kMaxFilesPerNode = UINT16_MAX;
// UserInfo_s.openFileCount is 16-bit: a connection's detail lists its first 65535 open files.
inline constexpr std::size_t kMaxFilesPerConnectionInfo = UINT16_MAX;

// One node per volume, in state order. kStatusOk or kStatusNoMemory.
int BuildVolumeList(const State &state, int *count, VolumeDetailsNode **list);

// One node per connection holding files open on the volume (FindVolume), in state order, its
// files in state order. A volume without open files gives no list and count 0. kStatusOk,
// kStatusNotFound or kStatusNoMemory.
int BuildVolumeFileList(const State &state, std::string_view volumeName, VolFileListNode **list,
                        int *count);

// One node per connection, in state order. kStatusOk or kStatusNoMemory.
int BuildConnectionList(const State &state, int *count, ConnListNode **list);

// The first connection carrying the number (FindConnections), its open files over all volumes
// in state order; sevDNs is null when it has no security equivalences. kStatusOk,
// kStatusNotFound or kStatusNoMemory.
int BuildConnectionInfo(const State &state, unsigned int number, UserInfo_s **info);

void FreeVolumeList(VolumeDetailsNode *list);
void FreeVolumeFileList(VolFileListNode *list);
void FreeConnectionList(ConnListNode *list);
void FreeConnectionInfo(UserInfo_s *info);

}  // namespace cifsmon

#endif  // CIFSMONITORING_RECORDS_H
