// close.h: the actions the connection pages request (clearing connections, closing every file
// of one connection) and the help entry of the "cifscons" pages.
#ifndef KEL2CIFS_CONNECTIONS_CLOSE_H
#define KEL2CIFS_CONNECTIONS_CLOSE_H

namespace kel2cifs {

// Tags around the connection number of a close-all text, and the longest number text between
// them.
inline constexpr char kCloseAllOpenTag[] = "<closeallfiles>";
inline constexpr char kCloseAllCloseTag[] = "</closeallfiles>";
inline constexpr int kCloseAllNumberLimit = 5;

}  // namespace kel2cifs

// Accepts a clear list ("<closeconn>" n "</closeconn>" ...) and clears nothing: the monitoring
// library offers no way to clear a connection, so every listed connection stays. Returns 0.
int CIFSCloseSelectedConnections(const char *clearList);

// Closes every file held open by the connection whose decimal number stands between
// "<closeallfiles>" and the next "</closeallfiles>" of closeAllText (leading blanks and a sign
// allowed, read up to the first other character). A text without both tags in that order, with
// a number text longer than kCloseAllNumberLimit characters or without digits, or with a number
// outside 0 to 65535 names no connection: nothing is closed and the text is logged. A failed
// close is logged, and what the close did is noted for the page that follows (NoteCloseResult,
// under the name "Connection" and the number). Returns 0.
int closeCIFSFilesForThisConnection(const char *closeAllText);

// The help entry of the connection pages: remaining is the number of components after "help",
// next (nextLength characters, not necessarily terminated) the one right after it. Topic 18 when
// remaining is 0 or next is empty, topic 19 when next is a prefix of "_info_" without regard to
// case, else the error page of kind 3. Returns that page's status.
int generate_connections_help(void *request, int remaining, const char *next, int nextLength);

#endif  // KEL2CIFS_CONNECTIONS_CLOSE_H
