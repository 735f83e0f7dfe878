// fuzz_cifscons_method: cifsconsMethod with a request and monitoring data chosen by the input.
//
// The input chooses the access word, the request method, host failures, the log level, the path
// (any bytes, or "/cifscons" followed by components drawn from the sort keywords, help, the two
// actions, the connection's id in hexadecimal, close-all and clear lists and free text), the
// posted body (any bytes, or the open-file pages' fields and FILENAME close items), the
// connection list (counts that disagree with it, texts of every length up to their arrays' sizes
// and beyond, any traffic and login time) and one connection's details (null or not, with open
// files and security equivalences whose counts disagree with their arrays, null entries), and
// the results of closing. Every request must be answered, keep the host's rules and give back
// every record.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "connections/dispatch.h"
#include "fuzz/harness.h"

namespace kel2cifs::fuzz {
namespace {

constexpr std::size_t kMaxPath = 1400;
constexpr std::size_t kMaxComponent = 300;
constexpr std::size_t kMaxBody = 4096;
constexpr std::size_t kMaxFilePath = 1100;
constexpr std::size_t kMaxName = 300;

std::string Hex(unsigned value, bool upper) {
    char text[16];
    std::snprintf(text, sizeof(text), upper ? "%08X" : "%x", value);
    return text;
}

std::string BuildPath(FuzzedDataProvider &in, uint16_t connection) {
    const uint8_t mode = in.ConsumeIntegral<uint8_t>();
    if (mode < 32) {
        return Text(in, kMaxPath);
    }
    std::string path = "/cifscons";
    if (mode < 64) {
        return path + Text(in, kMaxPath);
    }
    const std::string id = Hex(connection, true);
    const std::string shortId = Hex(connection, false);
    const std::string closeAll =
        "<closeallfiles>" + std::to_string(connection) + "</closeallfiles>";
    const std::string clear = "<closeconn>" + std::to_string(connection) + "</closeconn>";
    const std::size_t components = in.ConsumeIntegralInRange<std::size_t>(0, 5);
    for (std::size_t i = 0; i < components; ++i) {
        path += '/';
        path += OneOf(in,
                      {id, "CIFSCloseFiles", closeAll, "ConnectionNumber", "ConnectionName",
                       "FSActivity", "LoginTime", "ConnectionType", "ZupRequest", "help", "_info_",
                       "CIFSCloseConnections", clear, shortId, ""},
                      kMaxComponent);
    }
    if (in.ConsumeBool()) {
        path += '/';
    }
    return path;
}

std::string BuildBody(FuzzedDataProvider &in) {
    if (in.ConsumeIntegral<uint8_t>() < 48) {
        return Text(in, kMaxBody);
    }
    std::string body;
    const std::size_t fields = in.ConsumeIntegralInRange<std::size_t>(0, 5);
    for (std::size_t i = 0; i < fields; ++i) {
        if (i != 0) {
            body += '&';
        }
        switch (in.ConsumeIntegralInRange<int>(0, 4)) {
            case 0:
                body += "volume=" + OneOf(in, {"VOL1", ""}, kMaxComponent);
                break;
            case 1:
                body += "sorttype=" + OneOf(in, {"UserName", "FileName"}, kMaxComponent);
                break;
            case 2:
                body += "FILTER=" + OneOf(in, {"*.doc", "*.*"}, kMaxComponent);
                break;
            case 3:
                body += "FILENAME=" +
                        PercentEncodeAll("<filename>" + PathText(in, kMaxFilePath) + "</filename>");
                break;
            default:
                body += Text(in, kMaxComponent);
                break;
        }
    }
    return body;
}

// A login status or privilege word: one the page knows, or any text.
std::string Word(FuzzedDataProvider &in, const std::vector<std::string_view> &known,
                 std::size_t arraySize) {
    if (in.ConsumeBool()) {
        return OneOf(in, known, arraySize + 8);
    }
    return FieldText(in, arraySize);
}

// Any 64-bit value, or a small one (times near now, traffic of a few bytes).
uint64_t Wide(FuzzedDataProvider &in) {
    return in.ConsumeBool() ? in.ConsumeIntegral<uint64_t>()
                            : in.ConsumeIntegralInRange<uint64_t>(0, 2000000000);
}

std::optional<uint32_t> Count32(FuzzedDataProvider &in, std::size_t entries) {
    const std::optional<uint16_t> count = Count16(in, entries);
    if (!count.has_value()) {
        return std::nullopt;
    }
    return *count;
}

void ProgramMonitoring(FuzzedDataProvider &in, uint16_t connection) {
    std::vector<fake::Connection> connections(in.ConsumeIntegralInRange<std::size_t>(0, 4));
    for (fake::Connection &item : connections) {
        item.connNumber = in.ConsumeBool() ? connection : in.ConsumeIntegral<uint16_t>();
        item.netAddress = FieldText(in, CIFSMON_NET_ADDRESS_SIZE);
        item.userName = FieldText(in, CIFSMON_USER_NAME_SIZE);
        item.connType = FieldText(in, CIFSMON_CONN_TYPE_SIZE);
        item.requestCount = in.ConsumeIntegral<uint32_t>();
        item.bytesRead = Wide(in);
        item.bytesWritten = Wide(in);
        item.loginTime = Wide(in);
    }
    const std::size_t connectionCount = connections.size();
    const int listStatus = Status(in);
    fake::SetConnections(std::move(connections), listStatus, Count(in, connectionCount));

    std::optional<fake::ConnInfo> info;
    if (in.ConsumeIntegral<uint8_t>() >= 16) {
        fake::ConnInfo record;
        record.connNumber = in.ConsumeBool() ? connection : in.ConsumeIntegral<uint16_t>();
        record.netAddress = FieldText(in, CIFSMON_NET_ADDRESS_SIZE);
        record.privileges = Word(in, {"Supervisor", "Non-Supervisor"}, CIFSMON_PRIVILEGES_SIZE);
        record.loginStatus = Word(in, {"Logged-In", "Logging-In", "Not-Logged In", "New"},
                                  CIFSMON_LOGIN_STATUS_SIZE);
        record.userName = FieldText(in, CIFSMON_USER_NAME_SIZE);
        record.connType = FieldText(in, CIFSMON_CONN_TYPE_SIZE);
        record.loginTime = Wide(in);
        record.openFileNames = Entries(in, 5, kMaxFilePath);
        record.openFileCount = Count16(in, record.openFileNames.size());
        if (in.ConsumeBool()) {
            record.sevDNs = Entries(in, 4, kMaxName);
        }
        record.secEquivCount = Count32(in, record.sevDNs.has_value() ? record.sevDNs->size() : 0);
        info = std::move(record);
    }
    const int infoStatus = Status(in);
    fake::SetConnInfo(connection, std::move(info), infoStatus);

    std::vector<int> closeResults(in.ConsumeIntegralInRange<std::size_t>(0, 3));
    for (int &result : closeResults) {
        result = Status(in);
    }
    fake::SetCloseResults(std::move(closeResults));
}

}  // namespace
}  // namespace kel2cifs::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    using namespace kel2cifs::fuzz;
    Setup();
    ResetDoubles();
    FuzzedDataProvider in(data, size);
    const RequestChoice choice = ChooseRequest(in);
    ChooseLogLevel(in);
    const uint16_t connection = in.ConsumeIntegral<uint16_t>();
    const std::string path = BuildPath(in, connection);
    const std::string body = BuildBody(in);
    ProgramMonitoring(in, connection);
    {
        fake::Request request;
        Program(request, choice, path, body);
        const int status = fake::Serve(cifsconsMethod, request, choice.access);
        Show(request, path, body, status);
        CheckServed(request, status);
        Require(status == 200 || status == 400 || status == 401 || status == 500,
                "cifsconsMethod returned " + std::to_string(status));
        for (const fake::CloseCall &call : fake::CloseCalls()) {
            Require(call.kind == fake::CloseCall::kByFileName || call.connNumber <= 0xffff,
                    "closed the files of connection " + std::to_string(call.connNumber));
        }
    }
    CheckMonitoring();
    ResetDoubles();
    return 0;
}
