/* administration.h: what an administrator needs beyond monitoring.h (libcifsmonitoring.so,
 * beside monitoring.h and failure.h): every open file of the server with its details, every
 * session with its details, what a close would take with it, closing one connection's open of
 * one file, ending a session, and hearing of every action the library carries out.
 *
 * Rules:
 * - Every call returns a status of failure.h (CIFSMON_STATUS_OK, 0, on success) and sets what
 *   Ext_LastFailure reports on the calling thread, as the calls of monitoring.h do.
 * - A listing hands back one block the library allocated: an array of *count records whose
 *   `path` pointers point into the same block. The caller gives it back with the matching free
 *   call, which sets the caller's pointer to null; nothing else frees it. On failure *list is
 *   null and *count is 0. A null list or count is CIFSMON_STATUS_INVALID_ARGUMENT.
 * - Texts are UTF-8 as the server reports them and NUL-terminated: a fixed array holds at most
 *   its size - 1 bytes, cut at a character boundary; a path has any length.
 * - Connection numbers are those of monitoring.h's listings made from the same server state;
 *   one session is one connection of those listings.
 * - Times are seconds since 1970-01-01 UTC; 0 is "not known".
 * - Arguments are read during the call only. Safe to call from several threads at once.
 * - A library without these calls is a library of monitoring.h (and failure.h): callers look
 *   them up as optional symbols and offer nothing of this header without them.
 */
#ifndef CIFSMONITORING_ADMINISTRATION_H
#define CIFSMONITORING_ADMINISTRATION_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The node of a server that is not part of a cluster. */
#define CIFSMON_NO_NODE 0xFFFFFFFFu

/* Bits of CifsOpenFile.access: what the open may do with the file. */
#define CIFSMON_ACCESS_READ 0x1u
#define CIFSMON_ACCESS_WRITE 0x2u
#define CIFSMON_ACCESS_DELETE 0x4u

/* Bits of CifsOpenFile.shareMode: what the open lets other opens do at the same time; a bit
 * that is clear is denied to them. */
#define CIFSMON_SHARE_READ 0x1u
#define CIFSMON_SHARE_WRITE 0x2u
#define CIFSMON_SHARE_DELETE 0x4u

#define CIFSMON_OPLOCK_SIZE 32
#define CIFSMON_NAME_SIZE 256
#define CIFSMON_ADDRESS_SIZE 64
#define CIFSMON_PROTOCOL_SIZE 32

/* One connection's open of one file. A connection that opened the same file several times has
 * one record for it. */
typedef struct CifsOpenFile {
    uint16_t connNumber;
    uint32_t node;      /* the cluster node serving the connection, or CIFSMON_NO_NODE */
    uint64_t openedAt;  /* the connection's first open of the file */
    uint32_t access;    /* CIFSMON_ACCESS_* of all its opens together */
    uint32_t shareMode; /* CIFSMON_SHARE_* every one of its opens allows */
    char oplock[CIFSMON_OPLOCK_SIZE];  /* "none", "level II", "exclusive", "batch", "lease (RWH)" */
    char volume[CIFSMON_NAME_SIZE];    /* a volume name of Ext_ListVolumeDetails */
    char user[CIFSMON_NAME_SIZE];      /* the connection's user */
    char client[CIFSMON_ADDRESS_SIZE]; /* the client's address, IPv4 or IPv6 */
    const char *path;                  /* the full server path, inside the block */
} CifsOpenFile;

/* One session (one connection of monitoring.h). */
typedef struct CifsSession {
    uint16_t connNumber;
    uint32_t node; /* as in CifsOpenFile */
    char user[CIFSMON_NAME_SIZE];
    char client[CIFSMON_ADDRESS_SIZE];      /* the client's address */
    char machine[CIFSMON_NAME_SIZE];        /* the machine name the client gave, or "" */
    char dialect[CIFSMON_PROTOCOL_SIZE];    /* "SMB3_11", "SMB2_10", "NT1", ... or "" */
    char signing[CIFSMON_PROTOCOL_SIZE];    /* "AES-128-GMAC", ..., "no", or "" when not known */
    char encryption[CIFSMON_PROTOCOL_SIZE]; /* "AES-128-GCM", ..., "no", or "" when not known */
    uint32_t openFileCount;                 /* files its opens hold, as CifsOpenFile counts */
    uint64_t connectedSince;                /* the login time of monitoring.h */
    uint64_t idleSeconds; /* since the client last sent anything; UINT64_MAX when not known */
    uint64_t bytesIn;     /* received from the client (monitoring.h's bytesWritten) */
    uint64_t bytesOut;    /* sent to the client (monitoring.h's bytesRead) */
} CifsSession;

/* An open file named by its connection and path, as a close names it. */
typedef struct CifsOpenRef {
    uint16_t connNumber;
    const char *path;
} CifsOpenRef;

/* Every open file of the server, in the order of monitoring.h's listings (volumes, then
 * connections, then paths as listed). */
int Ext_ListOpenFiles(CifsOpenFile **list, size_t *count);
int Ext_FreeOpenFiles(CifsOpenFile **list);

/* Every session of the server, in the order of Ext_ListConnDetails. */
int Ext_ListSessions(CifsSession **list, size_t *count);
int Ext_FreeSessions(CifsSession **list);

/* What closing `targets` with Ext_CloseOpenFile would close, without closing anything: every
 * target that is open, and, on a server that can close a file only together with others, those
 * others too (each once). Targets that are not open are left out. A list like the listings'. */
int Ext_PlanClose(const CifsOpenRef *targets, size_t targetCount, CifsOpenFile **list,
                  size_t *count);

/* Closes the opens of `path` held by connection `connNumber`, and where the server cannot close
 * them alone, what Ext_PlanClose names with them (Ext_LastFailure then names those). The
 * connection stays. CIFSMON_STATUS_NOT_FOUND when the connection holds no such open. */
int Ext_CloseOpenFile(unsigned int connNumber, const char *path);

/* Ends the session: the client is disconnected on the server and its opens close. A server
 * that serves several sessions of one client connection together ends them together
 * (Ext_LastFailure then names the others). CIFSMON_STATUS_NOT_FOUND when there is no such
 * connection. */
int Ext_EndSession(unsigned int connNumber);

/* The actions an observer hears of. */
#define CIFSMON_ACTION_CLOSE_FILE 1             /* Ext_CloseFileByFileName: path */
#define CIFSMON_ACTION_CLOSE_CONNECTION_FILES 2 /* Ext_CloseFileByID: connNumber */
#define CIFSMON_ACTION_CLOSE_OPEN_FILE 3        /* Ext_CloseOpenFile: connNumber and path */
#define CIFSMON_ACTION_END_SESSION 4            /* Ext_EndSession: connNumber */

/* One action the library carried out (or tried to). Everything it points to lives for the
 * observer's call only. */
typedef struct CifsActionReport {
    int action;              /* CIFSMON_ACTION_* */
    unsigned int connNumber; /* 0 for CIFSMON_ACTION_CLOSE_FILE */
    const char *path;        /* the path as passed, or null when the action has none */
    int status;              /* what the call returns */
    const char *report;      /* what Ext_LastFailure reports after it, "" when nothing */
} CifsActionReport;

typedef void (*CifsActionObserver)(const CifsActionReport *report, void *context);

/* Sets the one observer of every action call of this header and of monitoring.h (null: none).
 * It is called on the thread that made the call, after the action and before the call returns.
 * Once Ext_SetActionObserver returns, the previous observer is not running and is not called
 * again, so its code may be unloaded. An observer must not call Ext_SetActionObserver. */
int Ext_SetActionObserver(CifsActionObserver observer, void *context);

#ifdef __cplusplus
}
#endif

#endif /* CIFSMONITORING_ADMINISTRATION_H */
