// pages.h: what every page of the plug-in shares: the page frame, the error page, localisation,
// the form readers, and the globals the pages write.
#ifndef KEL2CIFS_PLUGIN_PAGES_H
#define KEL2CIFS_PLUGIN_PAGES_H

#include <cstddef>

namespace kel2cifs {

// Capacity of icon_folder, and of the error and help pages' title and message buffers.
inline constexpr int kIconFolderSize = 512;
inline constexpr int kPageTitleSize = 2052;
// Capacity of a help link's URL ("/<keyword>/help/<topic>").
inline constexpr std::size_t kHelpUrlSize = 64;
// Scratch capacity of the form readers.
inline constexpr int kFormScratchSize = 4096;
// Lookup capacity of POST_GET_URL, POST_GET_INT, POST_CHECKBOX, POST_RADIOBUTTON.
inline constexpr int kFormUrlCapacity = 4095;
inline constexpr int kFormFieldCapacity = 63;

// Kinds of generate_error_page that the plug-in's own pages raise; any other kind (400, say)
// shows "Bad Http request".
enum ErrorPageKind : int {
    kErrorAccessDenied = 0,    // "Unauthorized access denied"
    kErrorBadMethod = 1,       // "Bad Http method"
    kErrorMissingData = 2,     // "Http request missing data"
    kErrorBadRequest = 3,      // "Bad Http request"
    kErrorOutOfResources = 4,  // "Internal Resource failure"
};

}  // namespace kel2cifs

extern "C" {
// URL prefix of the console's images, "/opt/zantio/kel".
extern char icon_folder[kel2cifs::kIconFolderSize];
// Attribute texts written inside a row's opening tag.
extern const char *lpzheader;  // "bgcolor=#dcdad5", the column-heading row
extern const char *lpzdark;    // "bgcolor=#efeee9"
extern const char *lpzlight;   // "bgcolor=#ffffff"

extern const char *estr_page_access_denied;
extern const char *estr_page_bad_method;
extern const char *estr_page_missing_http_data;
extern const char *estr_bad_http_request;
extern const char *estr_out_of_resources;
extern const char *estr_modify_server_parameter_failed;

// URL keywords.
extern const char *keyword_cifsofm;    // "cifsofm"
extern const char *keyword_cifsdlogs;  // "cifslogs"
extern const char *keyword_cifsdcons;  // "cifscons"
extern const char *keyword_help;       // "help"
extern const char *keyword_info;       // "_info_"
}

// The translation of an English text in the message domain "libkel2cifs", or the text itself.
// Binds the domain on the first call (once, whatever the threads). The result lives for the
// process and is never freed.
const char *lnxMSG(const char *text);

namespace kel2cifs {

// Page frame. OpenResponse opens the 200 HTML response: true when the host did. OpenPage does the
// same, and when the host refuses it sends a 500 response and returns false, and the caller
// returns 500 having written nothing else. ClosePage writes "</BODY></HTML>", ends the response
// and returns 200.
[[nodiscard]] bool OpenResponse(void *request);
[[nodiscard]] bool OpenPage(void *request);
int ClosePage(void *request);

// What the console writes around a page's body: its title bar, script block and help link.
struct PageFrame {
    const char *title = "";                  // written as given, cut to titleSize - 1 bytes
    std::size_t titleSize = kPageTitleSize;  // at most kPageTitleSize
    int (*script)(void *request) = nullptr;  // writes the page's script block; null: none
    const char *helpText = nullptr;          // the help link's text; null: none
    // The help link leads to "/<helpKeyword>/help", and on to "/<helpTopic>" when that is not
    // null; a null helpKeyword gives no link.
    const char *helpKeyword = nullptr;
    const char *helpTopic = nullptr;
};

// Writes the frame of an opened response.
void WriteFrame(void *request, const PageFrame &frame);

// List rows alternate two stripe texts (the console's pzSTRIPE_LIGHT and pzSTRIPE_DARK unless
// named), light first. TakeStripe gives the stripe of the row *rowCounter counts (from 0) and
// counts it; StripeAfter gives the stripe of the row after one of stripe `current`: light after
// dark, dark after anything else.
const char *TakeStripe(int *rowCounter);
const char *TakeStripe(int *rowCounter, const char *light, const char *dark);
const char *StripeAfter(const char *current, const char *light, const char *dark);

}  // namespace kel2cifs

// Writes a complete error page of the given kind (the extra arguments are read only by the kinds
// that name them: 5 a text; 9 a number and two texts; 10 and 22 a number and a text; 34 two
// texts). Caller texts are HTML-escaped (a null one reads as "") and the message they make is cut
// to kPageTitleSize - 1 bytes. Returns 200, or 500 when the response could not be opened.
int generate_error_page(void *request, int code, ...);

// Form readers over a "name=value&..." list, looked up with HttpFindNameAndValue.
// POST_GET_STRING: decodes a found non-empty value into output (capacity bytes, terminator
// included); returns the decoded value's length, or 0 with an empty output when it is missing,
// empty, or does not fit. Never writes more than capacity bytes.
int POST_GET_STRING(const char *formData, const char *name, char *output, int capacity);
// POST_GET_STRING with a capacity of 4095; output must hold 4095 bytes.
int POST_GET_URL(const char *formData, const char *name, char *output);
// POST_GET_INT, POST_CHECKBOX and POST_RADIOBUTTON read a value as found, still encoded.
// *value = defaultValue, replaced by the decimal reading of a found non-empty value (clamped to
// the range of int). Returns 0.
int POST_GET_INT(const char *formData, const char *name, int *value, int defaultValue);
// *checked = defaultValue; a found non-empty value sets 1 when it equals compare (ignoring
// case), else 0. Returns 0.
int POST_CHECKBOX(const char *formData, const char *name, const char *compare, int *checked,
                  int defaultValue);
// *on = 1; "on" keeps 1, "off" sets 0 (ignoring case) and returns 0; else returns 2.
int POST_RADIOBUTTON(const char *formData, const char *name, int *on);

// Copies input to output with every run of "/" reduced to one; output needs strlen(input) + 1
// bytes. Returns 0.
int compressURI(char *output, const char *input);

#endif  // KEL2CIFS_PLUGIN_PAGES_H
