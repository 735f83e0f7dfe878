/* host.h: the console host interface (libkel.so) that plug-ins are built against.
 *
 * Rules for every call below:
 * - A request handle is the host's opaque pointer for one HTTP request. Every operation that
 *   takes one touches only that request; service methods may run on several host threads at once.
 * - Buffers returned by the host (the request path, the posted data) belong to the host and live
 *   as long as the request. The path buffer may be rewritten in place by the plug-in. The plug-in
 *   frees none of them.
 * - Texts passed in are read during the call only; the host copies what it keeps.
 * - Results: each declaration says what success is; the conventions differ between calls and are
 *   part of the binary interface (some return 0 on success, others non-zero).
 * - Any text argument of BuildAndSendHeader may be null.
 */
#ifndef KEL_HOST_H
#define KEL_HOST_H

#ifdef __cplusplus
extern "C" {
#endif

/* A service method: the host calls it for every request under its keyword, with the access word
 * of the logged-in account. Returns the HTTP status it produced; 0 with no response opened means
 * it declined and the host answers 404. */
typedef int (*ServiceMethod)(void *request, int reserved1, int reserved2, unsigned int access);

/* Writes the page's script block while the page head is written. */
typedef int (*ScriptWriter)(void *request);

/* Length of the group title, terminator included. */
#define KEL_GROUP_TITLE_SIZE 64

/* Group record passed to every registration; the host copies what it keeps. */
typedef struct ServiceGroup {
    unsigned int word1;               /* 0 */
    unsigned int word2;               /* set to 0 before each registration */
    char title[KEL_GROUP_TITLE_SIZE]; /* localised group title */
} ServiceGroup;

/* Option bit of BuildAndSendHeader: call scriptWriter while the head is written. */
#define KEL_HEADER_OPTION_SCRIPT 4u

/* Non-zero when registered. */
int RegisterServiceMethodEx(const char *displayName, const char *keyword, int keywordLength,
                            ServiceGroup *group, unsigned int flags, void *reserved1,
                            ServiceMethod method, void *reserved2, int *status);
int DeRegisterServiceMethod(const char *displayName, const char *keyword, int keywordLength,
                            ServiceMethod method, void *reserved, int *status);

/* Method codes of HttpReturnRequestMethod. */
#define KEL_METHOD_GET 0
#define KEL_METHOD_POST 2

/* The HttpReturnString id of an HTML page's content type. */
#define KEL_STRING_HTML_CONTENT_TYPE 5

/* Non-zero on success; *methodCode is KEL_METHOD_GET for GET, KEL_METHOD_POST for POST. */
int HttpReturnRequestMethod(void *request, int *methodCode);
/* 0 on success. *path is "/" + keyword + rest, percent-decoded (%XX only), without the query,
 * NUL-terminated and writable in place for the life of the request. */
int HttpReturnPathBuffers(void *request, void *reserved1, char **path, void *reserved2);
/* path points at a "/": every "/" from there on becomes one byte holding the length of the
 * component after it. Returns the component count, or -1 (nothing changed) when a component
 * is longer than 255 bytes. */
int ConvertToComponentPath(char *path);
/* 0 on success: the raw body and its length; data[length] may be written with a terminator. */
int HttpReturnPostDataBuffer(void *request, char **data, unsigned long *length);
/* 0 when the first field named exactly `name` was found and its (still encoded) value fits in
 * *length bytes with its terminator; then *length is set to the value's length. Otherwise
 * non-zero and value is left empty. */
int HttpFindNameAndValue(const char *formData, const char *name, char *value, int *length);
/* Form-decodes the first `length` bytes of `encoded` ('+' is a blank, %XX a byte) into output,
 * which has room for length + 1 bytes; terminates it and returns the decoded length. */
int HttpUnConvertName(const char *encoded, char *output, int length);
/* HttpReturnString(KEL_STRING_HTML_CONTENT_TYPE) is the content type of an HTML page. */
const char *HttpReturnString(int id);
/* 0 when a 200 response was opened; non-zero if one was already open or the peer is gone. */
int HttpSendSuccessfulResponse(void *request, const char *text);
int HttpSendErrorResponse(void *request, int status);
/* Writes the document head and the console's page frame. */
int BuildAndSendHeader(void *request, const char *title, const char *heading, int reserved1,
                       int reserved2, unsigned int options, ScriptWriter scriptWriter,
                       const char *sectionText, const char *helpUrl);
/* Appends formatted text to the open response body; bytes written, < 0 on failure. */
int HttpSendDataSprintf(void *request, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
/* 0 on success. */
int HttpEndDataResponse(void *request);
int HttpSendErrorPackageResponse(void *request, int status, const char *html, int length);
/* Hand-built responses (a 302 redirect): each 0 on success; headerText is one or more
 * "Name: value\r\n" lines. */
int HttpOpenResponseHeaderTag(void *request, int status);
int HttpAddResponseHeaderTags(void *request, const char *headerText, int length);
int HttpSendResponseHeader(void *request);

/* Attribute texts written inside a row's opening tag; list pages alternate them, light first. */
extern const char *pzSTRIPE_LIGHT;
extern const char *pzSTRIPE_DARK;

#ifdef __cplusplus
}
#endif

#endif /* KEL_HOST_H */
