// fuzz_parse_close_files: parseDataToCloseCIFSFiles on close lists built by the input, and on
// any text.
//
// A built list is free text, then names (any bytes but NUL, tags included, of every length up to
// beyond the 511 bytes a close call takes), each carried as a page writes it (EncodeCloseName)
// between "<filename>" and "</filename>", with free text between them, and perhaps an opening
// tag that is never closed. Every name of at most 511 bytes must be closed once, in order,
// whatever the closes return; a longer one never (not even cut); nothing else may be closed. Any
// other text must close only names of at most 511 bytes that it holds between the two tags, each
// byte as it is or as %XX. The data lies in a heap block of exactly its own size.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/harness.h"
#include "ofm/close_files.h"

namespace kel2cifs::fuzz {
namespace {

constexpr std::size_t kMaxName = 1100;
constexpr std::size_t kMaxJunk = 64;
constexpr std::size_t kMaxText = 8192;
constexpr std::string_view kOpen = "<filename>";
constexpr std::string_view kClose = "</filename>";

// text without NULs and without any occurrence of `tag`, also none that removing one would make.
std::string Without(std::string text, std::string_view tag) {
    std::erase(text, '\0');
    for (std::size_t at = text.find(tag); at != std::string::npos; at = text.find(tag)) {
        text.erase(at, tag.size());
    }
    return text;
}

std::size_t Occurrences(std::string_view text, std::string_view tag) {
    std::size_t count = 0;
    for (std::size_t at = text.find(tag); at != std::string_view::npos;
         at = text.find(tag, at + 1)) {
        ++count;
    }
    return count;
}

std::vector<std::string> ClosedPaths() {
    std::vector<std::string> paths;
    for (const fake::CloseCall &call : fake::CloseCalls()) {
        Require(call.kind == fake::CloseCall::kByFileName, "a connection's files were closed");
        paths.push_back(call.path);
    }
    return paths;
}

int HexDigit(char c) {
    const std::string_view digits = "0123456789abcdef";
    const std::size_t at = digits.find(static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c));
    return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

// True when carried spells path, each byte of it either as it is or as %XX.
bool Spells(std::string_view carried, std::string_view path) {
    std::size_t at = 0;
    for (const char c : path) {
        if (at < carried.size() && carried[at] == c) {
            ++at;
        } else if (at + 2 < carried.size() && carried[at] == '%' &&
                   HexDigit(carried[at + 1]) >= 0 && HexDigit(carried[at + 2]) >= 0 &&
                   HexDigit(carried[at + 1]) * 16 + HexDigit(carried[at + 2]) ==
                       static_cast<unsigned char>(c)) {
            at += 3;
        } else {
            return false;
        }
    }
    return at == carried.size();
}

// True when text holds path between an opening tag and the next closing tag.
bool HoldsBetweenTags(std::string_view text, std::string_view path) {
    for (std::size_t open = text.find(kOpen); open != std::string_view::npos;
         open = text.find(kOpen, open + 1)) {
        const std::size_t from = open + kOpen.size();
        const std::size_t close = text.find(kClose, from);
        if (close != std::string_view::npos && Spells(text.substr(from, close - from), path)) {
            return true;
        }
    }
    return false;
}

void Parse(const std::string &text) {
    std::unique_ptr<char[]> block(new char[text.size() + 1]);
    std::memcpy(block.get(), text.c_str(), text.size() + 1);
    const int status = parseDataToCloseCIFSFiles(block.get());
    Require(status == 0, "parseDataToCloseCIFSFiles returned " + std::to_string(status));
}

void BuiltList(FuzzedDataProvider &in) {
    std::string text = Without(Text(in, kMaxJunk), kOpen);
    std::vector<std::string> expected;
    const std::size_t names = in.ConsumeIntegralInRange<std::size_t>(0, 6);
    for (std::size_t i = 0; i < names; ++i) {
        std::string name = PathText(in, kMaxName);
        std::erase(name, '\0');
        text += std::string(kOpen) + EncodeCloseName(name) + std::string(kClose);
        if (IsClosableName(name)) {
            expected.push_back(name);
        }
        text += Without(Text(in, kMaxJunk), kOpen);
    }
    if (in.ConsumeBool()) {
        text += std::string(kOpen) + Without(Text(in, kMaxJunk), kClose);
    }
    Parse(text);
    Require(ClosedPaths() == expected,
            "the closes do not follow the list of " + std::to_string(expected.size()) + " names");
}

void AnyText(FuzzedDataProvider &in) {
    const std::string text = Text(in, kMaxText);
    Parse(text);
    const std::string read = text.c_str();
    const std::vector<std::string> paths = ClosedPaths();
    Require(paths.size() <= Occurrences(read, kOpen), "more closes than opening tags");
    for (const std::string &path : paths) {
        Require(IsClosableName(path), "closed a name longer than the close call takes");
        Require(HoldsBetweenTags(read, path), "closed a name the data does not hold: " + path);
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
    std::vector<int> results(in.ConsumeIntegralInRange<std::size_t>(0, 6));
    for (int &result : results) {
        result = Status(in);
    }
    fake::SetCloseResults(std::move(results));
    if (built) {
        BuiltList(in);
    } else {
        AnyText(in);
    }
    CheckMonitoring();
    ResetDoubles();
    return 0;
}
