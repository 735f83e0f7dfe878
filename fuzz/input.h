// input.h: what every fuzz harness shares, whatever it drives: reporting a broken invariant, and
// reading texts and choices from a fuzz input.
//
// An input is read with FuzzedDataProvider: integers and choices come from its end, texts from its
// front. Every byte 0xdd of a text drawn from the input becomes 0xde: the monitoring double fills
// a record it has taken back with 0xdd, so a run of 0xdd in a page can only be a record that was
// read after it was freed.
#ifndef KEL2CIFS_FUZZ_INPUT_H
#define KEL2CIFS_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size);

namespace kel2cifs::fuzz {

// Reports a broken invariant on standard error and aborts.
[[noreturn]] void Fail(const std::string &what);
inline void Require(bool holds, const std::string &what) {
    if (!holds) {
        Fail(what);
    }
}

// A text of at most maxLength bytes (any byte, NUL included).
std::string Text(FuzzedDataProvider &in, std::size_t maxLength);
// A text meant for a fixed array of arraySize bytes: of every length from 0 to arraySize + 8
// (arraySize or more fills the array without a terminator), built cheaply from a short piece of
// the input repeated to the chosen length, or read whole.
std::string FieldText(FuzzedDataProvider &in, std::size_t arraySize);
// A path text of any length up to maxLength, read as FieldText is.
std::string PathText(FuzzedDataProvider &in, std::size_t maxLength);
// One of `choices`, or (rarely) a text of the input.
std::string OneOf(FuzzedDataProvider &in, const std::vector<std::string_view> &choices,
                  std::size_t maxLength);
// %XX for every byte of text.
std::string PercentEncodeAll(std::string_view text);

}  // namespace kel2cifs::fuzz

#endif  // KEL2CIFS_FUZZ_INPUT_H
