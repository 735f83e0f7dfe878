// transcript.h: the text the differential driver writes, line by line, ASCII only.
//
// Bytes are shown with C escapes (\n, \t, \", \\, \xHH for every other byte outside printable
// ASCII), so that two transcripts are equal exactly when what they record is. Long texts (page
// writes, the log) are broken into lines of their own, each starting with "| "; joining these
// lines without their prefix gives the escaped text back.
#ifndef KEL2CIFS_TESTS_DIFFERENTIAL_TRANSCRIPT_H
#define KEL2CIFS_TESTS_DIFFERENTIAL_TRANSCRIPT_H

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "support/fake_host.h"

namespace differential {

std::string Escape(std::string_view bytes);
std::string Quote(std::string_view bytes);

class Transcript {
  public:
    explicit Transcript(std::FILE *out) : out_(out) {}

    void Line(std::string_view text);
    // "| " lines of the escaped bytes: a line ends after each newline and, once it is long,
    // after a '>'.
    void Block(std::string_view bytes);
    // Every call the plug-in made on the request, consecutive page writes taken together as one
    // text (how the plug-in cuts its page into writes is not part of the page).
    void HostCalls(const fake::Request &request);
    void Flush() { std::fflush(out_); }

  private:
    std::FILE *out_;
};

}  // namespace differential

#endif  // KEL2CIFS_TESTS_DIFFERENTIAL_TRANSCRIPT_H
