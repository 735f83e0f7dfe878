// fuzz_cifsofm_method: cifsofmMethod with a request and monitoring data chosen by the input.
//
// The input chooses the access word, the request method, host failures, the log level, the path
// (any bytes, or "/cifsofm" followed by components drawn from the page's keywords, the volume
// and free text), the posted body (any bytes, or FILTER and FILENAME fields and raw close tags),
// and what the monitoring library lists: volumes, the open files of the volume (counts that
// disagree with the lists, null entries, texts of every length up to their arrays' sizes and
// beyond) and the results of closing. Every request must produce a page (or a 500 when the
// response could not be opened), keep the host's rules and give back every record.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/harness.h"
#include "ofm/dispatch.h"

namespace kel2cifs::fuzz {
namespace {

constexpr std::size_t kMaxPath = 1400;
constexpr std::size_t kMaxComponent = 300;
constexpr std::size_t kMaxBody = 4096;
constexpr std::size_t kMaxFilePath = 1100;

std::string BuildPath(FuzzedDataProvider &in, const std::string &volume) {
    const uint8_t mode = in.ConsumeIntegral<uint8_t>();
    if (mode < 32) {
        return Text(in, kMaxPath);
    }
    std::string path = "/cifsofm";
    if (mode < 64) {
        return path + Text(in, kMaxPath);
    }
    const std::size_t components = in.ConsumeIntegralInRange<std::size_t>(0, 5);
    for (std::size_t i = 0; i < components; ++i) {
        path += '/';
        path += OneOf(in,
                      {volume, "UserName", "FileName", "ConnectionNumber", "help", "CIFSBrowseFile",
                       "CIFSCloseFiles", ""},
                      kMaxComponent);
    }
    if (in.ConsumeBool()) {
        path += '/';
    }
    return path;
}

std::string CloseItem(FuzzedDataProvider &in) {
    return "<filename>" + PathText(in, kMaxFilePath) + "</filename>";
}

std::string BuildBody(FuzzedDataProvider &in) {
    if (in.ConsumeIntegral<uint8_t>() < 48) {
        return Text(in, kMaxBody);
    }
    std::string body;
    const std::size_t fields = in.ConsumeIntegralInRange<std::size_t>(0, 4);
    for (std::size_t i = 0; i < fields; ++i) {
        if (i != 0) {
            body += '&';
        }
        switch (in.ConsumeIntegralInRange<int>(0, 3)) {
            case 0:
                body += "FILTER=" + OneOf(in, {"*.doc", "*.*", "*", "", "x.txt"}, kMaxComponent);
                break;
            case 1:
                body += "FILENAME=" + PercentEncodeAll(CloseItem(in));
                break;
            case 2:
                body += CloseItem(in);
                break;
            default:
                body += Text(in, kMaxComponent);
                break;
        }
    }
    return body;
}

void ProgramMonitoring(FuzzedDataProvider &in, const std::string &volume) {
    std::vector<std::string> names(in.ConsumeIntegralInRange<std::size_t>(0, 4));
    for (std::string &name : names) {
        name = in.ConsumeBool() ? volume : FieldText(in, CIFSMON_VOLUME_NAME_SIZE);
    }
    const std::size_t volumeCount = names.size();
    const int volumeStatus = Status(in);
    fake::SetVolumes(std::move(names), volumeStatus, Count(in, volumeCount));

    std::vector<fake::VolumeFiles> records(in.ConsumeIntegralInRange<std::size_t>(0, 4));
    for (fake::VolumeFiles &record : records) {
        record.connNumber = in.ConsumeIntegral<uint16_t>();
        record.userName = FieldText(in, CIFSMON_USER_NAME_SIZE);
        record.fileNames = Entries(in, 5, kMaxFilePath);
        record.fileCount = Count16(in, record.fileNames.size());
    }
    const std::size_t recordCount = records.size();
    const int filesStatus = Status(in);
    fake::SetVolumeFiles(volume, std::move(records), filesStatus, Count(in, recordCount));

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
    const std::string volume = OneOf(in, {"VOL1", "SYS", "DATA"}, 64);
    const std::string path = BuildPath(in, volume);
    const std::string body = BuildBody(in);
    ProgramMonitoring(in, volume);
    {
        fake::Request request;
        Program(request, choice, path, body);
        const int status = fake::Serve(cifsofmMethod, request, choice.access);
        Show(request, path, body, status);
        CheckServed(request, status);
        // Every way through the method ends in a page: help, an error page or an open-file page.
        Require(status == (choice.openSucceeds ? 200 : 500),
                "cifsofmMethod returned " + std::to_string(status));
    }
    CheckMonitoring();
    ResetDoubles();
    return 0;
}
