// The differential driver: loads one libkel2cifs.so next to the recording host and the
// monitoring double (linked into this program as libkel.so and libcifsmonitoring.so, so the
// plug-in binds to them), serves it a seeded run of random requests and writes a transcript of
// everything it did. Two builds behave the same on a seed exactly when their transcripts are
// equal; tests/differential/run compares them.
//
//   kel2cifs_differential_driver --plugin PATH --seed N --requests N --out FILE [--root DIR]
//
// The plug-in's root (KEL2CIFS_ROOT) is DIR, which must not exist yet, or a new temporary
// directory; it is removed at the end. Two runs to be compared need the same DIR: the plug-in
// writes its paths into its log and the log's size into the View Logs page. The plug-in's
// standard output is not recorded; its standard error is.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "differential/requests.h"
#include "differential/server_model.h"
#include "differential/texts.h"
#include "differential/transcript.h"
#include "support/fake_host.h"
#include "support/fake_monitoring.h"

// 2023-11-14 22:13:20 UTC.
constexpr std::time_t kPinnedTime = 1700000000;

// The clock of the whole process. This program exports its definition (see CMakeLists.txt), so
// it comes first in the plug-in's symbol lookup: the start line and the stamp of every line of
// the plug-in's log are the same in every run.
extern "C" std::time_t time(std::time_t *out) noexcept {
    if (out != nullptr) {
        *out = kPinnedTime;
    }
    return kPinnedTime;
}

namespace differential {
namespace {

namespace fs = std::filesystem;

constexpr char kUsage[] =
    "usage: kel2cifs_differential_driver --plugin PATH --seed N --requests N --out FILE "
    "[--root DIR]\n";
constexpr char kConfigFile[] = "opt/zantio/lib/libkel2cifs.conf";
constexpr char kLogDirectory[] = "var/opt/zantio/log";
// The CIFS server's logs that View Logs lists; the driver makes them (sparse) with drawn sizes.
constexpr const char *kServerLogs[] = {"cifstcp.log", "cifs.log"};
constexpr const char *kKeywords[] = {"cifscons", "cifslogs", "cifsofm"};
// Files below the root larger than this are listed but not shown.
constexpr std::uintmax_t kShownFileLimit = 64u << 20;

// Where the driver's own complaints go while the plug-in's standard error is being recorded.
int g_diagnostics = STDERR_FILENO;

[[noreturn]] void Fail(const std::string &message) {
    const std::string line = "kel2cifs_differential_driver: " + message + "\n";
    const ssize_t written = write(g_diagnostics, line.data(), line.size());
    static_cast<void>(written);
    std::_Exit(2);
}

struct Options {
    std::string plugin;
    uint64_t seed = 0;
    uint64_t requests = 0;
    std::string out;
    std::string root;
};

uint64_t Number(const char *text, const char *option) {
    char *end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0') {
        Fail(std::string("not a number for ") + option + ": " + text);
    }
    return value;
}

Options Parse(int argc, char **argv) {
    Options options;
    bool seeded = false;
    bool counted = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) {
            Fail("missing value for " + option + "\n" + kUsage);
        }
        const char *value = argv[++i];
        if (option == "--plugin") {
            options.plugin = value;
        } else if (option == "--seed") {
            options.seed = Number(value, "--seed");
            seeded = true;
        } else if (option == "--requests") {
            options.requests = Number(value, "--requests");
            counted = true;
        } else if (option == "--out") {
            options.out = value;
        } else if (option == "--root") {
            options.root = value;
        } else {
            Fail("unknown option " + option + "\n" + kUsage);
        }
    }
    if (options.plugin.empty() || options.out.empty() || !seeded || !counted) {
        Fail(std::string("missing option\n") + kUsage);
    }
    return options;
}

void WriteFile(const fs::path &path, const std::string &content) {
    fs::create_directories(path.parent_path());
    std::ofstream file(path, std::ios::binary);
    file << content;
    if (!file.flush()) {
        Fail("cannot write " + path.string());
    }
}

// The plug-in's private root: its configuration (debug level, so that every trace line is in
// the log) and the server's logs.
fs::path MakeRoot(const std::string &requested, Rng &rng, Transcript &transcript) {
    fs::path root;
    if (requested.empty()) {
        std::string pattern = (fs::temp_directory_path() / "kel2cifs-diff.XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            Fail("cannot make a temporary root");
        }
        root = pattern;
    } else {
        std::error_code error;
        if (!fs::create_directory(requested, error)) {
            Fail("the root " + requested + " exists already or cannot be made");
        }
        root = requested;
    }
    // The logs page lists only files below a canonical directory.
    root = fs::canonical(root);
    WriteFile(root / kConfigFile, "LOG_LEVEL DEBUG\nLOG_TIMESTAMPS NO\n");
    fs::create_directories(root / kLogDirectory);
    for (const char *name : kServerLogs) {
        if (rng.Percent(15)) {
            transcript.Line(std::string("server log ") + name + " absent");
            continue;
        }
        // Around the page's unit boundaries: bytes, KB, MB, GB and TB.
        const uintmax_t size = rng.Pick<uintmax_t>(
            {0, 1, 1023, 1024, 1025, 1048575, 1048576, 1572864, 5368709243, 1099511627776 + 5});
        std::error_code error;
        WriteFile(root / kLogDirectory / name, "");
        fs::resize_file(root / kLogDirectory / name, size, error);
        transcript.Line(std::string("server log ") + name + " " + std::to_string(size) + " bytes" +
                        (error ? " (not made: " + error.message() + ")" : ""));
    }
    return root;
}

std::string ReadAll(std::FILE *file) {
    std::string text;
    char buffer[4096];
    std::rewind(file);
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof(buffer), file)) > 0;) {
        text.append(buffer, n);
    }
    return text;
}

std::string Optional(const std::optional<std::string> &text) {
    return text.has_value() ? Quote(*text) : "null";
}

// The keyword a service method was registered under, so that no address is written.
std::string MethodName(ServiceMethod method, const std::vector<fake::Registration> &all) {
    if (method == nullptr) {
        return "null";
    }
    for (const fake::Registration &entry : all) {
        if (entry.kind == fake::Registration::kRegister && entry.method == method) {
            return "method of " + entry.keyword.value_or("?");
        }
    }
    return "unregistered method";
}

void WriteRegistrations(Transcript &transcript, std::size_t from) {
    const std::vector<fake::Registration> all = fake::Registrations();
    for (std::size_t i = from; i < all.size(); ++i) {
        const fake::Registration &entry = all[i];
        std::ostringstream line;
        line << (entry.kind == fake::Registration::kRegister ? "register " : "deregister ")
             << Optional(entry.displayName) << " keyword " << Optional(entry.keyword) << " length "
             << entry.keywordLength;
        if (entry.group.has_value()) {
            line << " group " << entry.group->word1 << " " << entry.group->word2 << " "
                 << Quote(std::string(entry.group->title,
                                      strnlen(entry.group->title, sizeof(entry.group->title))));
        }
        line << " flags 0x" << std::hex << entry.flags << std::dec << " reserved "
             << (entry.reserved1 != nullptr ? "ptr" : "null") << " "
             << (entry.reserved2 != nullptr ? "ptr" : "null") << " "
             << MethodName(entry.method, all) << " status pointer "
             << (entry.hadStatus ? "yes" : "no") << " -> " << entry.result << " status "
             << entry.status;
        transcript.Line(line.str());
    }
}

void WriteRequest(Transcript &transcript, uint64_t index, const HttpRequest &request,
                  const std::vector<std::string> &changes) {
    transcript.Line("== request " + std::to_string(index) + " " + request.keyword);
    for (const std::string &change : changes) {
        transcript.Line("server " + Quote(change));
    }
    char access[16];
    std::snprintf(access, sizeof(access), "0x%08x", request.access);
    transcript.Line("method " + std::to_string(request.method) + " access " + access +
                    " host fault " + HostFaultName(request.fault));
    transcript.Line("path " + Quote(request.path));
    if (!request.body.empty()) {
        transcript.Line("post " + Quote(request.body));
    }
}

void WriteOutcome(Transcript &transcript, const fake::Request &served) {
    transcript.HostCalls(served);
    std::string summary = std::string("response ") + fake::ResponseName(served.state);
    if (!served.contentType.empty()) {
        summary += ", content type " + Quote(served.contentType);
    }
    if (const fake::Header *header = served.header()) {
        summary += ", script " + std::to_string(header->script.size()) + " bytes";
    }
    transcript.Line(summary + ", body " + std::to_string(served.body.size()) + " bytes");
    for (const std::string &violation : served.violations) {
        transcript.Line("host violation " + Quote(violation));
    }

    const std::vector<fake::CloseCall> closes = fake::CloseCalls();
    std::size_t close = 0;
    for (const std::string &call : fake::Calls()) {
        std::string line = "monitoring " + Escape(call);
        if (call.rfind("Ext_CloseFileBy", 0) == 0 && close < closes.size()) {
            line += " -> " + std::to_string(closes[close++].result);
        }
        transcript.Line(line);
    }
    if (const std::size_t outstanding = fake::Outstanding(); outstanding != 0) {
        transcript.Line("monitoring records not given back: " + std::to_string(outstanding));
        for (const std::string &block : fake::OutstandingBlocks()) {
            transcript.Line("  " + Escape(block));
        }
    }
    for (const std::string &error : fake::Errors()) {
        transcript.Line("monitoring misuse " + Quote(error));
    }
}

// Every file below the root, in path order: its kind and size (not its mode), and the content
// of each one the driver did not make.
void WriteFiles(Transcript &transcript, const fs::path &root) {
    std::map<std::string, fs::directory_entry> entries;
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(root)) {
        entries.emplace(fs::relative(entry.path(), root).string(), entry);
    }
    transcript.Line("== files below the root");
    std::vector<std::string> shown;
    for (const auto &[name, entry] : entries) {
        if (entry.is_symlink()) {
            transcript.Line("link " + Quote(name) + " -> " +
                            Quote(fs::read_symlink(entry).string()));
        } else if (entry.is_directory()) {
            transcript.Line("directory " + Quote(name));
        } else {
            transcript.Line("file " + Quote(name) + " " + std::to_string(entry.file_size()) +
                            " bytes");
            const bool serverLog = entry.path().parent_path() == root / kLogDirectory &&
                                   (entry.path().filename() == kServerLogs[0] ||
                                    entry.path().filename() == kServerLogs[1]);
            if (!serverLog && entry.is_regular_file() && entry.file_size() <= kShownFileLimit) {
                shown.push_back(name);
            }
        }
    }
    for (const std::string &name : shown) {
        transcript.Line("== file " + Quote(name));
        std::ifstream file(root / name, std::ios::binary);
        std::ostringstream content;
        content << file.rdbuf();
        transcript.Block(content.str());
    }
}

int Run(const Options &options) {
    std::FILE *out = std::fopen(options.out.c_str(), "w");
    if (out == nullptr) {
        Fail("cannot write " + options.out);
    }
    Transcript transcript(out);
    transcript.Line("differential transcript: seed " + std::to_string(options.seed) + ", " +
                    std::to_string(options.requests) + " requests");

    if (dlsym(RTLD_DEFAULT, "time") != reinterpret_cast<void *>(&time)) {
        Fail("the driver's time() is not the process's: it was linked without exporting it");
    }
    // Login times and log stamps in one zone, texts in English.
    setenv("TZ", "UTC", 1);
    tzset();
    for (const char *name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        unsetenv(name);
    }

    Rng rng(options.seed);
    Rng rootRng = rng.Fork();
    ServerModel server(rng.Fork());
    Rng events = rng.Fork();
    Rng requests = rng.Fork();

    const fs::path root = MakeRoot(options.root, rootRng, transcript);
    setenv("KEL2CIFS_ROOT", root.c_str(), 1);

    // The plug-in's standard error, from loading to unloading.
    std::FILE *errors = std::tmpfile();
    g_diagnostics = dup(STDERR_FILENO);
    if (errors == nullptr || g_diagnostics < 0 || dup2(fileno(errors), STDERR_FILENO) < 0) {
        Fail("cannot record standard error");
    }

    fake::ResetRegistry();
    fake::ResetStrayCalls();
    fake::Reset();
    transcript.Line("== load");
    void *plugin = dlopen(options.plugin.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (plugin == nullptr) {
        Fail(std::string("cannot load the plug-in: ") + dlerror());
    }
    WriteRegistrations(transcript, 0);
    std::map<std::string, ServiceMethod> methods;
    for (const char *keyword : kKeywords) {
        methods[keyword] = fake::RegisteredMethod(keyword);
    }
    const std::size_t registrations = fake::Registrations().size();

    for (uint64_t i = 1; i <= options.requests; ++i) {
        const std::vector<std::string> changes = server.Evolve(events);
        server.DrawFaults(events);
        fake::Reset();
        server.Program();
        fake::SetCloseHandler(
            [&server](const fake::CloseCall &call) { return server.Close(call); });

        const HttpRequest request = NextRequest(requests, server);
        WriteRequest(transcript, i, request, changes);
        fake::Request served(request.path, request.method, request.body);
        served.methodSucceeds = request.fault != HostFault::kMethod;
        served.pathSucceeds = request.fault != HostFault::kPath;
        served.postDataSucceeds = request.fault != HostFault::kPostData;
        served.openSucceeds = request.fault != HostFault::kOpen;
        served.writesFail = request.fault == HostFault::kWrites;
        const ServiceMethod method = methods[request.keyword];
        if (method == nullptr) {
            transcript.Line("no service method registered");
        } else {
            transcript.Line("status " +
                            std::to_string(fake::Serve(method, served, request.access)));
        }
        WriteOutcome(transcript, served);
        transcript.Flush();
    }
    fake::Reset();

    transcript.Line("== unload");
    transcript.Line("dlclose -> " + std::to_string(dlclose(plugin)));
    WriteRegistrations(transcript, registrations);
    for (const std::string &stray : fake::StrayCalls()) {
        transcript.Line("stray host call " + stray);
    }

    std::fflush(stderr);
    if (dup2(g_diagnostics, STDERR_FILENO) < 0) {
        Fail("cannot restore standard error");
    }
    close(g_diagnostics);
    g_diagnostics = STDERR_FILENO;
    transcript.Line("== standard error");
    transcript.Block(ReadAll(errors));
    std::fclose(errors);

    WriteFiles(transcript, root);
    std::error_code error;
    fs::remove_all(root, error);
    if (std::fclose(out) != 0) {
        Fail("cannot write " + options.out);
    }
    return 0;
}

}  // namespace
}  // namespace differential

int main(int argc, char **argv) {
    return differential::Run(differential::Parse(argc, argv));
}
