// main_page.h: the Manage Open Files page, without a volume and with one, its volume selector,
// its open-files table and the script block of every open-file page.
//
// Data written into the page (volume names, paths, user names, the filter) is HTML-escaped in
// element text and attribute values and percent-encoded in URL paths; text without special
// characters is written as it is.
#ifndef KEL2CIFS_OFM_MAIN_PAGE_H
#define KEL2CIFS_OFM_MAIN_PAGE_H

#include <cstddef>

#include "plugin/sort_type.h"

namespace kel2cifs {

// Capacity of the page title of an open-file page, terminator included.
inline constexpr std::size_t kOfmTitleSize = 1024;

// Opens the response of an open-file page and writes the console's frame with the localised
// title, the script block, the section text "CIFS Volume List" and the help URL "/cifsofm/help".
// False when the response could not be opened: a 500 response was sent and the caller returns
// 500 having written nothing else.
[[nodiscard]] bool OpenOfmPage(void *request, const char *englishTitle);

// GetOpenFilesInVolume after a volume listing that returned volumesStatus: when that is not 0
// the volume is not listed and the table's row tells why the volumes could not be listed.
int WriteOpenFilesTable(void *request, const char *volumeName, cifsSortType sortType,
                        const char *filter, int volumesStatus);

}  // namespace kel2cifs

// The page without a volume: the selector, an empty filter form, the notes of the request's
// closes (WriteCloseNotes) and the table heading without sort links, followed by a row telling
// why when the volumes could not be listed. Returns 200, or 500 when the response was not
// opened.
int generate_main_ofm_page(void *request);

// The page of one volume. volumeComponent points at the length byte of the volume's component
// in the converted request path; the name is the text after that byte (at most that many
// characters, and never past a terminator). When the volumes cannot be listed the page is
// complete all the same, its table telling why. Returns 200, or 500.
int generate_main_ofm_page(void *request, const char *volumeComponent, cifsSortType sortType,
                           const char *filter);

// Writes the volume selector, preselecting the volume named exactly `selected` (may be null).
// Returns the status of Ext_ListVolumeDetails (0 = listed); the selector is written either way.
int FillVolumes(void *request, const char *selected);

// Writes the forms, the notes of the request's closes and the open-files table of volumeName,
// filtered and sorted, and ends the document. Returns the status of GetOpenFileList: 0, or -1
// (then the table lists nothing: its row tells why the library could not list the volume, or
// says "No items." when the volume is empty or memory ran out).
int GetOpenFilesInVolume(void *request, const char *volumeName, cifsSortType sortType,
                         const char *filter);

// Writes the script block of the open-file pages; the host calls it while it writes the page
// head. Returns 0.
int AddJavaScriptOFMCode(void *request);

#endif  // KEL2CIFS_OFM_MAIN_PAGE_H
