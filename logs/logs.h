// logs.h: the View Logs page ("/cifslogs"): the CIFS server's log files and the plug-in's own
// log, each linked to the console's file viewer, with its size. The page needs both access bits
// kAccessRead and kAccessConsole (plugin/request.h); a word with a kAccessDeclined bit is not
// served at all (0, no output).
#ifndef KEL2CIFS_LOGS_LOGS_H
#define KEL2CIFS_LOGS_LOGS_H

#include <cstddef>
#include <cstdint>

namespace kel2cifs {

// Capacity of a size text: the widest is "17179869183.99 TB" and its terminator.
inline constexpr std::size_t kSizeTextSize = 32;

}  // namespace kel2cifs

// The service method of "/cifslogs". Returns 0 when it declines, else the page's status.
int cifsLogsMethod(void *request, int reserved1, int reserved2, unsigned int access);

// Writes the list page: 200, or 500 when the response was not opened.
int generate_main_showlogs_page(void *request);

// Writes the row of directory/fileName when the directory is canonical and the file exists and
// is not empty. Returns the stripe for the next row: the other one when a row was written, the
// same one otherwise.
const char *BuildLogFileTableEntry(void *request, const char *stripe, const char *fileName,
                                   const char *directory);

// Writes the size text of blockSize * blockCount bytes ("12 KB", "1.50 MB", "5 GB", "2 TB")
// into output (outputSize bytes, cut to fit). Returns the number of characters written.
int convert_blocks_to_string(uint64_t blockSize, uint64_t blockCount, char *output,
                             std::size_t outputSize = kel2cifs::kSizeTextSize);

// The help entry of "/cifslogs/help": always the logs topic; its last three arguments are not
// used.
int generate_showlogs_help(void *request, int remaining, const char *next, int nextLength);

#endif  // KEL2CIFS_LOGS_LOGS_H
