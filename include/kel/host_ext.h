/* host_ext.h: what the console host (libkel.so) offers plug-ins beyond host.h: the query of a
 * request, who the request runs as, the audit trail, and the pages that scripts may reach.
 *
 * Rules: those of host.h (request handles, buffer ownership, texts read during the call only),
 * and:
 * - Every call returns 0 on success and non-zero otherwise.
 * - A host without these calls is a host of host.h alone: plug-ins look them up as optional
 *   symbols and, without them, offer what needs them not at all.
 */
#ifndef KEL_HOST_EXT_H
#define KEL_HOST_EXT_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Registration flag (RegisterServiceMethodEx): the method answers requests whose query holds
 * format=json or format=csv with JSON or CSV. Only such methods are reached with an API token
 * (Authorization: Bearer), and only with one of those formats. */
#define KEL_SERVICE_FLAG_DATA 0x00100000u

/* Access words of the console's roles: an administrator may change things (bit 0x2), a reader
 * may only look. */
#define KEL_ACCESS_ADMIN 0x0000000Bu
#define KEL_ACCESS_READ 0x00000009u
#define KEL_ACCESS_CHANGE 0x00000002u

/* *query is the request's query, the text after "?" still encoded, "" when there is none; the
 * host owns it for the life of the request. */
int KelReturnQueryString(void *request, const char **query);

/* Copies the name of the account the request runs as into name (at most size - 1 bytes and a
 * NUL); *viaToken (when not null) is set non-zero when the request came with an API token,
 * whose name it is then. Non-zero when name cannot hold it (then name is ""). */
int KelReturnRequestAccount(void *request, char *name, size_t size, int *viaToken);

/* Adds one target of the state-changing request (a POST) being served to its audit record:
 * the action ("close file", "end session", ...), the target (a decoded file name, "connection
 * 7", ...) and its result ("closed", "failed: smbd is not running.", ...). request may be null:
 * then the request the calling thread is serving. The record, with every target, is written
 * before the answer is sent. A GET that reports targets (a page that changes through a link)
 * gets a record too, written once its method has returned. Non-zero when there is no such
 * request or a text is null. */
int KelAuditTarget(void *request, const char *action, const char *target, const char *result);

#ifdef __cplusplus
}
#endif

#endif /* KEL_HOST_EXT_H */
