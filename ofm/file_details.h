// file_details.h: the file details page of the open-file pages, and the sample file information
// page that no request reaches.
#ifndef KEL2CIFS_OFM_FILE_DETAILS_H
#define KEL2CIFS_OFM_FILE_DETAILS_H

#include "ofm/close_files.h"

// The details page for path (the file's path within its volume, "/" first): an open-file page
// frame with the volume selector, the filter form and an empty table, the same for every path.
// Returns 200, or 500 when the response was not opened.
int displayCIFSFileDetails(void *request, const char *path);

// Where the details of the file at path would be written; writes nothing. Returns 0.
int FillCIFSFileDetails(const char *path);

// A fixed sample page of file information; the three last arguments are not read. Returns 200,
// or 500 when the response was not opened.
int generate_fileinfo_page(void *request, int, int, unsigned long);

#endif  // KEL2CIFS_OFM_FILE_DETAILS_H
