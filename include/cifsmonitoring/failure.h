/* failure.h: why a call of the CIFS monitoring library failed, and what a close did besides
 * what was asked (libcifsmonitoring.so, beside monitoring.h).
 *
 * Rules:
 * - Ext_LastFailure reports on the calling thread's most recent listing or close call of
 *   monitoring.h (the Free calls leave it as it is). Calls on other threads never change what
 *   it reports; it changes nothing itself.
 * - It returns that call's status (0 when it succeeded, CIFSMON_STATUS_NONE when the thread has
 *   made no call yet) and copies into text a report for people: English, one line, no control
 *   characters. After a failure the report says why ("smbd is not running" and the like);
 *   after a close that succeeded it is empty, unless the server could only close the file
 *   together with others, and then it names what else was closed; after a listing that
 *   succeeded it is empty, unless a node of a clustered server did not answer, and then it
 *   names that node, whose data the listing lacks.
 * - At most size - 1 bytes and a terminating NUL are written, cut at a UTF-8 character
 *   boundary; nothing is written when text is null or size is 0. The caller owns text.
 * - A library without this call is a library of monitoring.h alone: callers look it up as an
 *   optional symbol and, without it, know only the status.
 */
#ifndef CIFSMONITORING_FAILURE_H
#define CIFSMONITORING_FAILURE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The statuses of this library's calls. */
#define CIFSMON_STATUS_OK 0
#define CIFSMON_STATUS_NOT_FOUND 1        /* no such volume, connection or open file */
#define CIFSMON_STATUS_INVALID_ARGUMENT 2 /* a null out-parameter, a null or empty name */
#define CIFSMON_STATUS_STATE_MISSING 3    /* demo: the state file does not exist */
#define CIFSMON_STATUS_STATE_CORRUPT 4    /* demo: the state file is not the state layout */
#define CIFSMON_STATUS_IO_ERROR 5         /* a file of the library could not be read or written */
#define CIFSMON_STATUS_NO_MEMORY 6
#define CIFSMON_STATUS_BACKEND_UNAVAILABLE 7 /* the configured backend is unknown */
#define CIFSMON_STATUS_TOOL_FAILED 8         /* a server tool is missing, failed or timed out */
#define CIFSMON_STATUS_TOOL_OUTPUT_INVALID 9 /* a server tool's output was not understood */
#define CIFSMON_STATUS_SERVER_NOT_RUNNING                                                    \
    10                                  /* the file server is not running or does not answer \
                                         */
#define CIFSMON_STATUS_AMBIGUOUS 11     /* a cut path names more than one open file */
#define CIFSMON_STATUS_NOT_PERMITTED 12 /* the library lacks the rights it needs (not root) */
#define CIFSMON_STATUS_NONE (-1)        /* no call yet on this thread */

/* The mark that ends a path cut to fit: U+2026 HORIZONTAL ELLIPSIS in UTF-8. A close of a path
 * that ends with it and names no open file closes the one open file whose path begins with the
 * text before the mark; CIFSMON_STATUS_AMBIGUOUS when several do. */
#define CIFSMON_CUT_MARK "\xE2\x80\xA6"

int Ext_LastFailure(char *text, size_t size);

#ifdef __cplusplus
}
#endif

#endif /* CIFSMONITORING_FAILURE_H */
