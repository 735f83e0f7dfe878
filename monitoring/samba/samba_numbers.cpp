#include "monitoring/samba/samba_numbers.h"

#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <unordered_map>

#include "monitoring/state_file.h"
#include "monitoring/status.h"

namespace cifsmon {

namespace {

using Json = nlohmann::json;

constexpr char kFormat[] = "cifsmonitoring-samba-connections";
constexpr int kVersion = 1;

uint32_t Following(uint32_t number) {
    return number >= kLastConnectionNumber ? kFirstConnectionNumber : number + 1;
}

}  // namespace

std::string SessionKey(const SambaSession &session) {
    return std::to_string(session.server.vnn) + ":" + std::to_string(session.server.pid) + ":" +
           session.server.uniqueId + ":" + session.sessionId;
}

bool ParseNumberTable(std::string_view text, NumberTable *table, std::string *error) {
    *table = NumberTable();
    Json root = Json::parse(text, nullptr, false);
    if (root.is_discarded() || !root.is_object()) {
        *error = "not a JSON object";
        return false;
    }
    if (root.value("format", std::string()) != kFormat || !root["version"].is_number_integer() ||
        root["version"].get<int>() != kVersion) {
        *error =
            std::string("not a \"") + kFormat + "\" file of version " + std::to_string(kVersion);
        return false;
    }
    const Json &next = root["next"];
    const Json &sessions = root["sessions"];
    if (!next.is_number_unsigned() || next.get<uint64_t>() < kFirstConnectionNumber ||
        next.get<uint64_t>() > kLastConnectionNumber || !sessions.is_object()) {
        *error = "\"next\" or \"sessions\" missing or out of range";
        return false;
    }
    NumberTable parsed;
    parsed.next = next.get<uint32_t>();
    std::set<uint16_t> used;
    for (auto entry = sessions.begin(); entry != sessions.end(); ++entry) {
        if (!entry->is_number_unsigned() || entry->get<uint64_t>() < kFirstConnectionNumber ||
            entry->get<uint64_t>() > kLastConnectionNumber) {
            *error = "session " + entry.key() + " has no number from 1 to 65535";
            return false;
        }
        uint16_t number = entry->get<uint16_t>();
        if (!used.insert(number).second) {
            *error = "number " + std::to_string(number) + " is carried twice";
            return false;
        }
        parsed.numbers.emplace(entry.key(), number);
    }
    *table = std::move(parsed);
    return true;
}

std::string SerializeNumberTable(const NumberTable &table) {
    Json sessions = Json::object();
    for (const auto &[key, number] : table.numbers) {
        sessions[key] = number;
    }
    Json root = {{"format", kFormat},
                 {"version", kVersion},
                 {"next", table.next},
                 {"sessions", std::move(sessions)}};
    return root.dump(1) + "\n";
}

bool UpdateNumberTable(NumberTable *table, const std::vector<std::string> &keys,
                       std::vector<uint16_t> *numbers) {
    std::unordered_map<std::string, uint16_t> kept;
    for (const std::string &key : keys) {
        auto found = table->numbers.find(key);
        if (found != table->numbers.end()) {
            kept.emplace(key, found->second);
        }
    }
    bool changed = kept.size() != table->numbers.size();
    std::vector<bool> used(kLastConnectionNumber + 1, false);
    std::size_t usedCount = 0;
    for (const auto &[key, number] : kept) {
        used[number] = true;
        ++usedCount;
    }
    std::map<std::string, uint16_t> result(kept.begin(), kept.end());
    numbers->assign(keys.size(), 0);
    uint32_t surplus = kFirstConnectionNumber;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        auto found = result.find(keys[i]);
        if (found != result.end()) {
            (*numbers)[i] = found->second;
            continue;
        }
        if (usedCount == kLastConnectionNumber) {
            (*numbers)[i] = static_cast<uint16_t>(surplus);
            surplus = Following(surplus);
            continue;
        }
        while (used[table->next]) {
            table->next = Following(table->next);
        }
        uint16_t number = static_cast<uint16_t>(table->next);
        used[number] = true;
        ++usedCount;
        table->next = Following(table->next);
        result.emplace(keys[i], number);
        (*numbers)[i] = number;
        changed = true;
    }
    table->numbers = std::move(result);
    return changed;
}

int AssignConnectionNumbers(const std::string &path, const std::vector<std::string> &keys,
                            std::vector<uint16_t> *numbers, std::string *warning,
                            std::string *error) {
    warning->clear();
    std::error_code ignored;
    std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) {
        std::filesystem::create_directories(parent, ignored);
    }
    StateFileLock lock;
    int status = lock.Acquire(path, error);
    if (status != kStatusOk) {
        return status;
    }
    std::string content;
    NumberTable table;
    bool rewrite = false;
    status = ReadStateFile(path, &content, error);
    if (status == kStatusStateMissing) {
        rewrite = true;
    } else if (status != kStatusOk) {
        return kStatusIoError;
    } else if (std::string why; !ParseNumberTable(content, &table, &why)) {
        *warning = "the connection number file " + path + " is invalid (" + why +
                   "); numbering the current sessions anew";
        rewrite = true;
    }
    if (UpdateNumberTable(&table, keys, numbers) || rewrite) {
        return WriteFileAtomically(path, SerializeNumberTable(table), error);
    }
    return kStatusOk;
}

}  // namespace cifsmon
