#include "fuzz/harness.h"

#include <sys/types.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "logger/logger.h"
#include "plugin/paths.h"

namespace kel2cifs::fuzz {
namespace {

// The run of the byte the monitoring double fills a freed record with (input texts never carry
// it, see input.h) that betrays a freed record in a page.
constexpr std::string_view kPoisonRun = "\xdd\xdd\xdd\xdd";

std::string g_root;

void RemoveRoot() {
    std::error_code ignored;
    std::filesystem::remove_all(g_root, ignored);
}

// A stream that takes every line and keeps none: the trace is formatted in full, but nothing is
// written anywhere.
ssize_t DiscardWrite(void *, const char *, std::size_t size) {
    return static_cast<ssize_t>(size);
}

FILE *DiscardingStream() {
    cookie_io_functions_t functions{};
    functions.write = DiscardWrite;
    return fopencookie(nullptr, "w", functions);
}

std::string Joined(const std::vector<std::string> &lines) {
    std::string text;
    for (const std::string &line : lines) {
        text += "\n  " + line;
    }
    return text;
}

// Markup no page writes itself: "<z" or "<Z" in a page is data that was not escaped.
bool HasForeignTag(std::string_view text) {
    for (std::size_t at = text.find('<'); at != std::string_view::npos;
         at = text.find('<', at + 1)) {
        if (at + 1 < text.size() && (text[at + 1] == 'z' || text[at + 1] == 'Z')) {
            return true;
        }
    }
    return false;
}

// Page output that must hold neither unescaped data nor bytes of a freed record.
void CheckOutput(std::string_view where, std::string_view text) {
    Require(!HasForeignTag(text),
            std::string(where) + " holds data that was not escaped: " + std::string(text));
    Require(text.find(kPoisonRun) == std::string_view::npos,
            std::string(where) + " holds bytes of a record that was already freed");
}

void CheckOptionalOutput(std::string_view where, const std::optional<std::string> &text) {
    if (text.has_value()) {
        CheckOutput(where, std::string_view(*text));
    }
}

}  // namespace

void Setup() {
    if (!g_root.empty()) {
        return;
    }
    const char *base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/kel2cifs-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        Fail("mkdtemp failed for " + pattern);
    }
    g_root = pattern;
    std::atexit(RemoveRoot);
    setenv(kRootVariable, g_root.c_str(), 1);
    ResolvePaths();

    log = Logger_init(nullptr, kLevelEverything);
    Logger *self = Logger_getInstance();
    self->stream = DiscardingStream();
    self->streamOpen = self->stream != nullptr ? 1 : 0;
}

const std::string &Root() {
    return g_root;
}

int Status(FuzzedDataProvider &in) {
    return in.ConsumeIntegral<uint8_t>() < 224 ? 0 : in.ConsumeIntegral<int>();
}

std::optional<int> Count(FuzzedDataProvider &in, std::size_t entries) {
    const uint8_t mode = in.ConsumeIntegral<uint8_t>();
    if (mode < 192) {
        return std::nullopt;
    }
    if (mode < 240) {
        return static_cast<int>(entries) + in.ConsumeIntegralInRange<int>(-2, 3);
    }
    return in.ConsumeIntegral<int>();
}

std::optional<uint16_t> Count16(FuzzedDataProvider &in, std::size_t entries) {
    const uint8_t mode = in.ConsumeIntegral<uint8_t>();
    if (mode < 192) {
        return std::nullopt;
    }
    if (mode < 248) {
        const int near = static_cast<int>(entries) + in.ConsumeIntegralInRange<int>(-2, 3);
        return static_cast<uint16_t>(near < 0 ? 0 : near);
    }
    return in.ConsumeIntegral<uint16_t>();
}

std::vector<fake::Entry> Entries(FuzzedDataProvider &in, std::size_t maxEntries,
                                 std::size_t maxLength) {
    std::vector<fake::Entry> entries(in.ConsumeIntegralInRange<std::size_t>(0, maxEntries));
    for (fake::Entry &entry : entries) {
        if (in.ConsumeIntegral<uint8_t>() >= 24) {
            entry = PathText(in, maxLength);
        }
    }
    return entries;
}

RequestChoice ChooseRequest(FuzzedDataProvider &in) {
    RequestChoice choice;
    const uint8_t access = in.ConsumeIntegral<uint8_t>();
    if (access >= 192) {
        choice.access = in.ConsumeIntegral<uint32_t>();
    }
    const uint8_t method = in.ConsumeIntegral<uint8_t>();
    if (method < 100) {
        choice.methodCode = fake::kGet;
    } else if (method < 200) {
        choice.methodCode = fake::kPost;
    } else if (method < 240) {
        choice.methodCode = in.ConsumeIntegral<int>();
    } else {
        choice.methodSucceeds = false;
    }
    const uint8_t faults = in.ConsumeIntegral<uint8_t>();
    if (faults >= 0xf0) {
        choice.pathSucceeds = (faults & 1) == 0;
        choice.postDataSucceeds = (faults & 2) == 0;
        choice.openSucceeds = (faults & 4) == 0;
        choice.writesFail = (faults & 8) != 0;
    }
    return choice;
}

void Program(fake::Request &request, const RequestChoice &choice, std::string_view path,
             std::string_view body) {
    std::vector<char> pathBuffer(path.size() + 1, '\0');
    std::memcpy(pathBuffer.data(), path.data(), path.size());
    request.pathBuffer = std::move(pathBuffer);

    std::vector<char> postBuffer(body.size() + 1, fake::kPostFiller);
    std::memcpy(postBuffer.data(), body.data(), body.size());
    request.postBuffer = std::move(postBuffer);
    request.postLength = body.size();

    request.methodSucceeds = choice.methodSucceeds;
    request.methodCode = choice.methodCode;
    request.pathSucceeds = choice.pathSucceeds;
    request.postDataSucceeds = choice.postDataSucceeds;
    request.openSucceeds = choice.openSucceeds;
    request.writesFail = choice.writesFail;
}

void ChooseLogLevel(FuzzedDataProvider &in) {
    // 0 from the input is the level that writes everything.
    log->setLevel(kLevelEverything - in.ConsumeIntegralInRange<int>(0, kLevelEverything));
}

void Show(const fake::Request &request, std::string_view path, std::string_view body, int status) {
    if (std::getenv("KEL2CIFS_FUZZ_SHOW") == nullptr) {
        return;
    }
    std::fprintf(stderr, "path [%.*s]\nbody [%.*s]\nstatus %d, response %s\n",
                 static_cast<int>(path.size()), path.data(), static_cast<int>(body.size()),
                 body.data(), status, fake::ResponseName(request.state));
    for (const std::string &close : [] {
             std::vector<std::string> paths;
             for (const fake::CloseCall &call : fake::CloseCalls()) {
                 paths.push_back(call.kind == fake::CloseCall::kByID
                                     ? "connection " + std::to_string(call.connNumber)
                                     : call.path);
             }
             return paths;
         }()) {
        std::fprintf(stderr, "closed %s\n", close.c_str());
    }
    std::fprintf(stderr, "page [%s]\n\n", request.body.c_str());
}

void CheckServed(const fake::Request &request, int status) {
    Require(request.violations.empty(),
            "the host's rules were broken:" + Joined(request.violations));
    const std::vector<std::string> strays = fake::StrayCalls();
    Require(strays.empty(), "host calls with a handle that is no request:" + Joined(strays));

    if (status == 0) {
        Require(request.state == fake::Response::kNone,
                std::string("declined (0) with a response ") + fake::ResponseName(request.state));
    } else if (status == 200) {
        Require(request.state == fake::Response::kEnded,
                std::string("200 with a response ") + fake::ResponseName(request.state));
    } else if (status == 500) {
        Require(request.state == fake::Response::kError ||
                    request.state == fake::Response::kErrorPackage,
                std::string("500 with a response ") + fake::ResponseName(request.state));
    } else {
        Require(request.Complete(), "status " + std::to_string(status) + " with a response " +
                                        fake::ResponseName(request.state));
    }

    CheckOutput("the page body", request.body);
    for (const fake::Header &header : request.headers) {
        CheckOptionalOutput("the page title", header.title);
        CheckOptionalOutput("the page heading", header.heading);
        CheckOptionalOutput("the section text", header.sectionText);
        CheckOptionalOutput("the help URL", header.helpUrl);
        CheckOutput("the script block", header.script);
    }
    for (const fake::ErrorPackage &package : request.errorPackages) {
        CheckOutput("an error package", package.html);
    }
    for (const std::string &line : request.headerLines) {
        CheckOutput("a response header", line);
        Require(line.find_first_of("\r\n") == std::string::npos,
                "a response header line holds a line break: " + line);
        // No header of the plug-in's own begins with "Z": such a line was injected by data.
        Require(line.empty() || (line[0] != 'z' && line[0] != 'Z'),
                "a response header line was injected: " + line);
    }
}

void CheckMonitoring() {
    Require(fake::Outstanding() == 0,
            "monitoring records were not given back:" + Joined(fake::OutstandingBlocks()));
    const std::vector<std::string> errors = fake::Errors();
    Require(errors.empty(), "the monitoring library was misused:" + Joined(errors));
}

void ResetDoubles() {
    fake::Reset();
    fake::ResetStrayCalls();
}

}  // namespace kel2cifs::fuzz
