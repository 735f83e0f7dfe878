#include "differential/server_model.h"

#include <algorithm>
#include <iterator>

namespace differential {
namespace {

const std::vector<std::string> kVolumeNames = {"VOL1", "DATA", "docs",         "Public",
                                               "home", "SYS",  "Projects 2024"};
// The empty name is a connection without a logged-in user.
const std::vector<std::string> kUsers = {"alice", "bob",    "carol",         "EXAMPLE\\dave",
                                         "guest", "nobody", "Administrator", ""};
const std::vector<std::string> kAddresses = {"10.0.0.7", "192.168.100.200", "127.0.0.1", "::1",
                                             "fe80::1"};
const std::vector<std::string> kTypes = {"Active Directory", "Ravelin", "Local", "Guest"};
const std::vector<std::string> kPrivileges = {"Supervisor", "Non-Supervisor"};
const std::vector<std::string> kStatuses = {"Logged-In", "Logging-In", "Not-Logged In", "New"};
const std::vector<std::string> kSecurityNames = {"cn=admins,o=example", "cn=staff,o=example",
                                                 "EVERYONE"};
const std::vector<std::string> kDirectories = {"Projects", "home", "Reports 2024",
                                               "tmp",      "a",    "x.y"};
const std::vector<std::string> kBaseNames = {"report", "budget", "notes",
                                             "README", "a",      "\u00dcbersicht"};
const std::vector<std::string> kExtensions = {".doc",    ".DOC", ".docx", ".txt",    ".xls",
                                              ".tar.gz", "",     ".",     ".doc.txt"};

const std::vector<uint16_t> kConnNumbers = {0, 1, 2, 3, 7, 8, 15, 16, 255, 256, 4096, 65534, 65535};
const std::vector<uint32_t> kRequestCounts = {0, 1, 999, 1000, 1234567, 4294967295u};
const std::vector<uint64_t> kByteCounts = {
    0, 1, 999, 1000, 123456789, 1ull << 32, (1ull << 63) - 1, ~0ull};
// Ties, the ends of 32-bit times, the last second of year 9999 and times no calendar holds.
const std::vector<uint64_t> kLoginTimes = {
    0,          1,          86399,        1700000000,   1700000000, 2147483647,
    2147483648, 4102444800, 253402300799, 253402300800, 1ull << 56, (1ull << 63) - 1,
    1ull << 63, ~0ull};

const std::vector<int> kFailures = {1, 2, 5, 22, -1};

std::string NewPath(Rng &rng, const std::string &volumeName) {
    std::string path = "/" + volumeName + "/";
    for (uint64_t depth = rng.Below(3); depth > 0; --depth) {
        path += rng.Pick(kDirectories) + "/";
    }
    path += FieldText(rng, kBaseNames, {200}) + rng.Pick(kExtensions);
    if (rng.Percent(6)) {
        // Around the plug-in's 511-character path field and the close call's limit.
        const std::size_t length = rng.Pick<std::size_t>({510, 511, 512, 513, 600, 1100});
        path = Repeat(path + "/sub", length - 4) + ".doc";
    } else if (rng.Percent(3)) {
        path = rng.Pick(HostileTexts());
    }
    return path;
}

uint64_t Numbers(Rng &rng, const std::vector<uint64_t> &usual, uint64_t below) {
    return rng.Percent(50) ? rng.Pick(usual) : rng.Below(below);
}

}  // namespace

ServerModel::ServerModel(Rng rng) : refusals_(rng.Fork()) {
    const uint64_t volumeCount = rng.Percent(5) ? 0 : 1 + rng.Below(5);
    for (uint64_t i = 0; i < volumeCount; ++i) {
        Volume volume;
        volume.name = FieldText(rng, kVolumeNames, {255, 256});
        const bool taken = std::any_of(volumes_.begin(), volumes_.end(),
                                       [&](const Volume &v) { return v.name == volume.name; });
        if (taken) {
            continue;
        }
        volume.known = !rng.Percent(8);
        volume.fileCountSkew = rng.Percent(8) ? rng.Pick({-1, 1}) : 0;
        volume.nullEntry = rng.Percent(5);
        volumes_.push_back(volume);
        listedVolumes_.push_back(volume.name);
    }
    if (!listedVolumes_.empty() && rng.Percent(10)) {
        listedVolumes_.push_back(rng.Pick(listedVolumes_));
    }
    if (rng.Percent(10)) {
        listedVolumes_.insert(
            listedVolumes_.begin() + static_cast<long>(rng.Index(listedVolumes_.size() + 1)),
            "NOFILES");
    }

    for (uint64_t count = rng.Below(11); count > 0; --count) {
        connections_.push_back(NewConnection(rng));
    }
    for (uint64_t count = volumes_.empty() ? 0 : rng.Below(41); count > 0; --count) {
        OpenFile file;
        file.volume = rng.Index(volumes_.size());
        file.connNumber = connections_.empty() || rng.Percent(3)
                              ? static_cast<uint16_t>(rng.Below(65536))
                              : rng.Pick(connections_).listed.connNumber;
        // The same file open on several connections, and so ties in the file name.
        file.path = !files_.empty() && rng.Percent(25) ? rng.Pick(files_).path
                                                       : NewPath(rng, volumes_[file.volume].name);
        files_.push_back(file);
    }
}

Connection ServerModel::NewConnection(Rng &rng) {
    Connection c;
    if (!connections_.empty() && rng.Percent(10)) {
        c.listed.connNumber = rng.Pick(connections_).listed.connNumber;
    } else {
        c.listed.connNumber =
            rng.Percent(60) ? rng.Pick(kConnNumbers) : static_cast<uint16_t>(rng.Below(65536));
    }
    c.listed.netAddress = FieldText(rng, kAddresses, {16});
    c.listed.userName = FieldText(rng, kUsers, {256});
    c.listed.connType = FieldText(rng, kTypes, {20});
    c.listed.requestCount =
        rng.Percent(60) ? rng.Pick(kRequestCounts) : static_cast<uint32_t>(rng.Next());
    c.listed.bytesRead = Numbers(rng, kByteCounts, 1ull << 40);
    c.listed.bytesWritten = Numbers(rng, kByteCounts, 1ull << 40);
    c.listed.loginTime =
        rng.Percent(40) ? rng.Pick(kLoginTimes) : 1600000000 + rng.Below(200000000);
    c.privileges = FieldText(rng, kPrivileges, {32});
    c.loginStatus = FieldText(rng, kStatuses, {32});
    if (!rng.Percent(20)) {
        std::vector<fake::Entry> names;
        for (uint64_t count = rng.Below(4); count > 0; --count) {
            names.emplace_back(FieldText(rng, kSecurityNames, {300}));
        }
        if (rng.Percent(5)) {
            names.insert(names.begin() + static_cast<long>(rng.Index(names.size() + 1)),
                         std::nullopt);
        }
        c.sevDNs = names;
    }
    if (rng.Percent(5)) {
        c.openFileCount = static_cast<uint16_t>(rng.Below(4));
    }
    if (rng.Percent(15)) {
        c.info = rng.Pick({InfoMode::kFailureWithRecord, InfoMode::kNoRecord, InfoMode::kFailure,
                           InfoMode::kUnknown});
    }
    return c;
}

std::vector<std::string> ServerModel::Evolve(Rng &rng) {
    std::vector<std::string> changes;
    if (!volumes_.empty() && files_.size() < 150 && rng.Percent(25)) {
        OpenFile file;
        file.volume = rng.Index(volumes_.size());
        file.connNumber = connections_.empty() ? static_cast<uint16_t>(rng.Below(65536))
                                               : rng.Pick(connections_).listed.connNumber;
        if (!closedPaths_.empty() && rng.Percent(30)) {
            file.path = rng.Pick(closedPaths_);
        } else if (!files_.empty() && rng.Percent(30)) {
            file.path = rng.Pick(files_).path;
        } else {
            file.path = NewPath(rng, volumes_[file.volume].name);
        }
        changes.push_back("connection " + std::to_string(file.connNumber) + " opens " + file.path);
        files_.push_back(file);
    }
    if (connections_.size() < 16 && rng.Percent(4)) {
        connections_.push_back(NewConnection(rng));
        changes.push_back("connection " + std::to_string(connections_.back().listed.connNumber) +
                          " comes");
    }
    if (!connections_.empty() && rng.Percent(3)) {
        const auto gone = connections_.begin() + static_cast<long>(rng.Index(connections_.size()));
        const uint16_t number = gone->listed.connNumber;
        changes.push_back("connection " + std::to_string(number) + " goes");
        connections_.erase(gone);
        std::erase_if(files_, [number](const OpenFile &file) { return file.connNumber == number; });
    }
    return changes;
}

void ServerModel::DrawFaults(Rng &rng) {
    faults_ = Faults{};
    faults_.noVolumes = rng.Percent(2);
    faults_.noConnections = rng.Percent(2);
    if (rng.Percent(4)) {
        faults_.volumeStatus = rng.Pick(kFailures);
    }
    if (rng.Percent(3)) {
        faults_.volumeCount = rng.Pick({0, -1, static_cast<int>(listedVolumes_.size()) - 1,
                                        static_cast<int>(listedVolumes_.size()) + 2});
    }
    if (rng.Percent(4)) {
        faults_.connectionStatus = rng.Pick(kFailures);
    }
    if (rng.Percent(3)) {
        faults_.connectionCount = rng.Pick({0, -1, static_cast<int>(connections_.size()) - 1,
                                            static_cast<int>(connections_.size()) + 2});
    }
    if (!volumes_.empty() && rng.Percent(5)) {
        faults_.failingVolume = rng.Index(volumes_.size());
    }
    if (rng.Percent(3)) {
        faults_.fileCount = rng.Pick({0, -1, 1, 1000});
    }
}

std::vector<fake::VolumeFiles> ServerModel::FilesOf(std::size_t volume) const {
    std::vector<fake::VolumeFiles> records;
    for (const OpenFile &file : files_) {
        if (file.volume != volume) {
            continue;
        }
        auto record = std::find_if(records.begin(), records.end(),
                                   [&](const auto &r) { return r.connNumber == file.connNumber; });
        if (record == records.end()) {
            fake::VolumeFiles added;
            added.connNumber = file.connNumber;
            for (const Connection &c : connections_) {
                if (c.listed.connNumber == file.connNumber) {
                    added.userName = c.listed.userName;
                    break;
                }
            }
            records.push_back(added);
            record = std::prev(records.end());
        }
        record->fileNames.emplace_back(file.path);
    }
    const Volume &v = volumes_[volume];
    for (fake::VolumeFiles &record : records) {
        if (v.fileCountSkew != 0) {
            record.fileCount = static_cast<uint16_t>(
                std::max<int>(0, static_cast<int>(record.fileNames.size()) + v.fileCountSkew));
        }
    }
    if (v.nullEntry && !records.empty()) {
        records.front().fileNames.insert(records.front().fileNames.begin() + 1, std::nullopt);
    }
    return records;
}

fake::ConnInfo ServerModel::InfoOf(const Connection &c) const {
    fake::ConnInfo info;
    info.connNumber = c.listed.connNumber;
    info.netAddress = c.listed.netAddress;
    info.privileges = c.privileges;
    info.loginStatus = c.loginStatus;
    info.userName = c.listed.userName;
    info.connType = c.listed.connType;
    info.loginTime = c.listed.loginTime;
    info.openFileCount = c.openFileCount;
    info.sevDNs = c.sevDNs;
    for (const OpenFile &file : files_) {
        if (file.connNumber == c.listed.connNumber) {
            info.openFileNames.emplace_back(file.path);
        }
    }
    return info;
}

void ServerModel::Program() const {
    fake::SetVolumes(faults_.noVolumes ? std::vector<std::string>{} : listedVolumes_,
                     faults_.volumeStatus, faults_.volumeCount);
    for (std::size_t i = 0; i < volumes_.size(); ++i) {
        if (volumes_[i].known) {
            fake::SetVolumeFiles(volumes_[i].name, FilesOf(i), faults_.failingVolume == i ? 5 : 0,
                                 faults_.fileCount);
        }
    }
    std::vector<fake::Connection> listed;
    for (const Connection &c : connections_) {
        if (!faults_.noConnections) {
            listed.push_back(c.listed);
        }
    }
    fake::SetConnections(listed, faults_.connectionStatus, faults_.connectionCount);
    // In reverse, so that of connections sharing a number the first one's record is kept.
    for (auto c = connections_.rbegin(); c != connections_.rend(); ++c) {
        const unsigned number = c->listed.connNumber;
        switch (c->info) {
            case InfoMode::kRecord:
                fake::SetConnInfo(number, InfoOf(*c), 0);
                break;
            case InfoMode::kFailureWithRecord:
                fake::SetConnInfo(number, InfoOf(*c), 5);
                break;
            case InfoMode::kNoRecord:
                fake::SetConnInfo(number, std::nullopt, 0);
                break;
            case InfoMode::kFailure:
                fake::SetConnInfo(number, std::nullopt, 2);
                break;
            case InfoMode::kUnknown:
                break;
        }
    }
}

int ServerModel::Close(const fake::CloseCall &call) {
    constexpr int kRefused = 13;  // EACCES
    constexpr int kNotFound = 2;  // ENOENT
    if (refusals_.Percent(5)) {
        return kRefused;
    }
    bool found = false;
    if (call.kind == fake::CloseCall::kByFileName) {
        found = std::erase_if(files_, [&](const OpenFile &f) { return f.path == call.path; }) > 0;
        if (found && closedPaths_.size() < 64) {
            closedPaths_.push_back(call.path);
        }
    } else {
        found = std::any_of(connections_.begin(), connections_.end(), [&](const Connection &c) {
            return c.listed.connNumber == call.connNumber;
        });
        std::erase_if(files_, [&](const OpenFile &f) { return f.connNumber == call.connNumber; });
    }
    Program();
    return found ? 0 : kNotFound;
}

std::string ServerModel::SomePath(Rng &rng) const {
    const uint64_t roll = rng.Below(100);
    if (roll < 50 && !files_.empty()) {
        return rng.Pick(files_).path;
    }
    if (roll < 65 && !closedPaths_.empty()) {
        return rng.Pick(closedPaths_);
    }
    if (roll < 80 && !volumes_.empty()) {
        return NewPath(rng, rng.Pick(volumes_).name);
    }
    return FieldText(rng, {"/VOL1/a.doc", "/unknown/file.txt"}, {511, 512});
}

}  // namespace differential
