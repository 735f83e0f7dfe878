// fuzz_close_files_for_connection: closeCIFSFilesForThisConnection on close-all texts built by
// the input, and on any text.
//
// A built text is free text without an opening tag, then "<closeallfiles>", a number text, the
// closing tag and more free text. The number text is blanks, an optional sign and the digits of
// a value (0 to 200000), or any short text. A number text of at most five characters naming 0 to
// 65535 must close the files of exactly that connection, once; any other names none. For any
// text at most one connection is closed, and its number stands between the two tags. The text
// lies in a heap block of exactly its own size.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "connections/close.h"
#include "fuzz/harness.h"

namespace kel2cifs::fuzz {
namespace {

constexpr std::size_t kMaxJunk = 64;
constexpr std::size_t kMaxText = 4096;
constexpr std::string_view kOpen = "<closeallfiles>";
constexpr std::string_view kClose = "</closeallfiles>";

std::string Without(std::string text, std::string_view tag) {
    std::erase(text, '\0');
    for (std::size_t at = text.find(tag); at != std::string::npos; at = text.find(tag)) {
        text.erase(at, tag.size());
    }
    return text;
}

void Close(const std::string &text) {
    std::unique_ptr<char[]> block(new char[text.size() + 1]);
    std::memcpy(block.get(), text.c_str(), text.size() + 1);
    const int status = closeCIFSFilesForThisConnection(block.get());
    Require(status == 0, "closeCIFSFilesForThisConnection returned " + std::to_string(status));
}

std::vector<unsigned> ClosedConnections() {
    std::vector<unsigned> numbers;
    for (const fake::CloseCall &call : fake::CloseCalls()) {
        Require(call.kind == fake::CloseCall::kByID, "a file was closed by its name");
        numbers.push_back(call.connNumber);
    }
    return numbers;
}

void BuiltText(FuzzedDataProvider &in) {
    std::string number;
    std::vector<unsigned> expected;
    if (in.ConsumeBool()) {
        number.append(in.ConsumeIntegralInRange<std::size_t>(0, 2), ' ');
        const int sign = in.ConsumeIntegralInRange<int>(0, 2);  // none, "+", "-"
        if (sign != 0) {
            number += sign == 1 ? '+' : '-';
        }
        const long value = in.ConsumeIntegralInRange<long>(0, 200000);
        number += std::to_string(value);
        const long named = sign == 2 ? -value : value;
        if (number.size() <= static_cast<std::size_t>(kCloseAllNumberLimit) && named >= 0 &&
            named <= 65535) {
            expected.push_back(static_cast<unsigned>(named));
        }
    } else {
        number = Without(Text(in, 7), kClose);
        // A text of digits alone is decided above; here only what has no digit at all is sure.
        bool digits = false;
        for (const char c : number) {
            digits = digits || std::isdigit(static_cast<unsigned char>(c)) != 0;
        }
        if (digits) {
            return;
        }
    }
    const std::string text = Without(Text(in, kMaxJunk), kOpen) + std::string(kOpen) + number +
                             std::string(kClose) + Text(in, kMaxJunk);
    Close(text);
    Require(ClosedConnections() == expected,
            "the closes do not follow the number text \"" + number + "\"");
}

void AnyText(FuzzedDataProvider &in) {
    const std::string text = Text(in, kMaxText);
    Close(text);
    const std::vector<unsigned> numbers = ClosedConnections();
    Require(numbers.size() <= 1, "more than one connection closed");
    if (!numbers.empty()) {
        Require(numbers.front() <= 65535, "closed connection " + std::to_string(numbers.front()));
        const std::string read = text.c_str();
        const std::size_t open = read.find(kOpen);
        Require(open != std::string::npos, "a connection closed without an opening tag");
        const std::size_t start = open + kOpen.size();
        const std::size_t end = read.find(kClose, start);
        Require(end != std::string::npos && end - start <= kCloseAllNumberLimit,
                "a connection closed without a number text of at most five characters");
        Require(read.substr(start, end - start).find(std::to_string(numbers.front())) !=
                    std::string::npos,
                "closed a connection the text does not name");
    }
}

}  // namespace
}  // namespace kel2cifs::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    using namespace kel2cifs::fuzz;
    Setup();
    ResetDoubles();
    FuzzedDataProvider in(data, size);
    const bool built = in.ConsumeIntegral<uint8_t>() < 192;
    fake::SetCloseResults({Status(in)});
    if (built) {
        BuiltText(in);
    } else {
        AnyText(in);
    }
    CheckMonitoring();
    ResetDoubles();
    return 0;
}
