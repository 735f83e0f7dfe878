/* monitoring.h: the CIFS monitoring interface (libcifsmonitoring.so).
 *
 * Rules for every call below:
 * - Records are packed, fields in exactly this order. Texts are NUL-terminated within their
 *   arrays; every count gives the number of entries of the array that follows it; `next` is null
 *   at the end of a list.
 * - The library allocates every record it hands out through an out-parameter. The caller only
 *   reads it and gives it back through the matching Free call, which releases everything the
 *   listing allocated (nodes, arrays and their texts) and sets the caller's pointer to null.
 * - Every Ext_ operation returns 0 on success; the meaning of other codes is the library's.
 * - The library is safe to call from several threads at once.
 */
#ifndef CIFSMONITORING_MONITORING_H
#define CIFSMONITORING_MONITORING_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Sizes of the fixed text fields, terminator included. */
#define CIFSMON_VOLUME_NAME_SIZE 256
#define CIFSMON_USER_NAME_SIZE 256
#define CIFSMON_NET_ADDRESS_SIZE 16
#define CIFSMON_CONN_TYPE_SIZE 20
#define CIFSMON_PRIVILEGES_SIZE 32
#define CIFSMON_LOGIN_STATUS_SIZE 32

#pragma pack(push, 1)

typedef struct VolumeDetailsNode {
    char volumeName[CIFSMON_VOLUME_NAME_SIZE];
    struct VolumeDetailsNode *next;
} VolumeDetailsNode;

typedef struct VolFileListNode { /* one per connection with files open on the volume */
    uint16_t connNumber;
    uint16_t fileCount;
    char userName[CIFSMON_USER_NAME_SIZE];
    char **fileNames; /* fileCount path texts */
    struct VolFileListNode *next;
} VolFileListNode;

typedef struct ConnListNode {
    uint16_t connNumber;
    char netAddress[CIFSMON_NET_ADDRESS_SIZE];
    char userName[CIFSMON_USER_NAME_SIZE];
    char connType[CIFSMON_CONN_TYPE_SIZE];
    uint32_t requestCount;
    uint64_t bytesRead;
    uint64_t bytesWritten;
    uint64_t loginTime; /* seconds since 1970-01-01 UTC */
    struct ConnListNode *next;
} ConnListNode;

typedef struct UserInfo_s {
    uint16_t connNumber;
    char netAddress[CIFSMON_NET_ADDRESS_SIZE];
    char privileges[CIFSMON_PRIVILEGES_SIZE];
    char loginStatus[CIFSMON_LOGIN_STATUS_SIZE];
    char userName[CIFSMON_USER_NAME_SIZE];
    char connType[CIFSMON_CONN_TYPE_SIZE];
    uint32_t secEquivCount;
    uint16_t openFileCount;
    uint64_t loginTime;
    char **openFileNames; /* openFileCount path texts */
    char **sevDNs;        /* secEquivCount names, or NULL */
} UserInfo_s;

#pragma pack(pop)

int Ext_ListVolumeDetails(int *count, VolumeDetailsNode **list);
int Ext_ListVolFileDetails(const char *volumeName, VolFileListNode **list, int *count);
int Ext_ListConnDetails(int *count, ConnListNode **list);
int Ext_GetConnInfo(unsigned int connNumber, UserInfo_s **info);
/* Closes one open file by its server path (at most 511 characters). */
int Ext_CloseFileByFileName(const char *path);
/* Closes every file the connection holds open. */
int Ext_CloseFileByID(unsigned int connNumber);

int FreeVolsDetailsNode(VolumeDetailsNode **list);
int FreeVolFileListNodes(VolFileListNode **list);
int FreeConnListNodes(ConnListNode **list);
int FreeUserDetailsNode(UserInfo_s **info);

#ifdef __cplusplus
}
#endif

#endif /* CIFSMONITORING_MONITORING_H */
