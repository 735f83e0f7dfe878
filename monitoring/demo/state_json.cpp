#include "monitoring/demo/state_json.h"

#include <cstdint>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "monitoring/json_text.h"
#include "monitoring/text.h"

namespace cifsmon {

namespace {

using Json = nlohmann::json;

// Thrown by the readers below with the element's location; caught once in ParseState.
struct Invalid {
    std::string message;
};

[[noreturn]] void Fail(const std::string &where, const std::string &what) {
    throw Invalid{where + ": " + what};
}

std::string Member(const std::string &where, const char *key) {
    return where + "." + key;
}

std::string Index(const std::string &where, std::size_t i) {
    return where + "[" + std::to_string(i) + "]";
}

// Takes the text out of value (the document is thrown away afterwards).
std::string TakeText(Json &value, const std::string &where) {
    if (!value.is_string()) {
        Fail(where, "must be a text");
    }
    std::string text = std::move(value.get_ref<std::string &>());
    UnmarkForeignBytes(&text);
    if (text.find('\0') != std::string::npos) {
        Fail(where, "must not hold a NUL character");
    }
    return text;
}

// The optional text object[key]; empty when missing.
std::string OptionalText(Json &object, const char *key, const std::string &where) {
    auto it = object.find(key);
    if (it == object.end()) {
        return std::string();
    }
    return TakeText(*it, Member(where, key));
}

uint64_t Unsigned(const Json &value, uint64_t max, const std::string &where) {
    // The parser keeps every integer without a sign as an unsigned number.
    if (!value.is_number_unsigned() || value.get<uint64_t>() > max) {
        Fail(where, "must be an integer from 0 to " + std::to_string(max));
    }
    return value.get<uint64_t>();
}

uint64_t OptionalUnsigned(const Json &object, const char *key, uint64_t max,
                          const std::string &where) {
    auto it = object.find(key);
    if (it == object.end()) {
        return 0;
    }
    return Unsigned(*it, max, Member(where, key));
}

Json &RequiredArray(Json &object, const char *key, const std::string &where) {
    auto it = object.find(key);
    if (it == object.end()) {
        Fail(Member(where, key), "is missing");
    }
    if (!it->is_array()) {
        Fail(Member(where, key), "must be an array");
    }
    return *it;
}

std::vector<std::string> TextArray(Json &array, const std::string &where, bool nonEmpty) {
    if (!array.is_array()) {
        Fail(where, "must be an array of texts");
    }
    std::vector<std::string> texts;
    texts.reserve(array.size());
    for (std::size_t i = 0; i < array.size(); ++i) {
        texts.push_back(TakeText(array[i], Index(where, i)));
        if (nonEmpty && texts.back().empty()) {
            Fail(Index(where, i), "must not be empty");
        }
    }
    return texts;
}

void ReadVolumes(Json &array, State *state) {
    std::unordered_set<std::string> names;
    state->volumes.reserve(array.size());
    for (std::size_t i = 0; i < array.size(); ++i) {
        std::string where = Index("volumes", i);
        Json &item = array[i];
        if (!item.is_object()) {
            Fail(where, "must be an object");
        }
        auto name = item.find("name");
        if (name == item.end()) {
            Fail(Member(where, "name"), "is missing");
        }
        Volume volume;
        volume.name = TakeText(*name, Member(where, "name"));
        if (volume.name.empty()) {
            Fail(Member(where, "name"), "must not be empty");
        }
        if (!names.insert(volume.name).second) {
            Fail(Member(where, "name"), "repeats the volume \"" + volume.name + "\"");
        }
        volume.path = OptionalText(item, "path", where);
        state->volumes.push_back(std::move(volume));
    }
}

// A group's "details", one object per path in the order of the paths: every key may be left out
// (OpenDetail's value).
std::vector<OpenDetail> ReadDetails(Json &array, std::size_t paths, const std::string &where) {
    if (!array.is_array()) {
        Fail(where, "must be an array");
    }
    // Paths added to a group by hand get the defaults; details past the paths are ignored.
    std::vector<OpenDetail> details(paths);
    for (std::size_t i = 0; i < array.size() && i < paths; ++i) {
        const std::string itemWhere = Index(where, i);
        Json &item = array[i];
        if (!item.is_object()) {
            Fail(itemWhere, "must be an object");
        }
        OpenDetail &detail = details[i];
        detail.openedAt = OptionalUnsigned(item, "openedAt", UINT64_MAX, itemWhere);
        if (item.contains("access")) {
            detail.access = static_cast<uint32_t>(OptionalUnsigned(
                item, "access", kAccessRead | kAccessWrite | kAccessDelete, itemWhere));
        }
        if (item.contains("shareMode")) {
            detail.shareMode = static_cast<uint32_t>(OptionalUnsigned(
                item, "shareMode", kShareRead | kShareWrite | kShareDelete, itemWhere));
        }
        if (item.contains("oplock")) {
            detail.oplock = OptionalText(item, "oplock", itemWhere);
        }
    }
    return details;
}

void ReadOpenFiles(Json &array, const std::unordered_set<std::string_view> &volumes,
                   const std::string &where, Connection *connection) {
    std::unordered_map<std::string, std::size_t> groupOfVolume;
    for (std::size_t i = 0; i < array.size(); ++i) {
        std::string itemWhere = Index(where, i);
        Json &item = array[i];
        if (!item.is_object()) {
            Fail(itemWhere, "must be an object");
        }
        auto volume = item.find("volume");
        if (volume == item.end()) {
            Fail(Member(itemWhere, "volume"), "is missing");
        }
        std::string volumeName = TakeText(*volume, Member(itemWhere, "volume"));
        if (volumes.count(volumeName) == 0) {
            Fail(Member(itemWhere, "volume"), "names no listed volume (\"" + volumeName + "\")");
        }
        std::vector<std::string> paths =
            TextArray(RequiredArray(item, "paths", itemWhere), Member(itemWhere, "paths"), true);
        std::vector<OpenDetail> details;
        if (auto it = item.find("details"); it != item.end()) {
            details = ReadDetails(*it, paths.size(), Member(itemWhere, "details"));
        }
        if (paths.empty()) {
            continue;
        }
        auto [it, added] = groupOfVolume.emplace(volumeName, connection->openFiles.size());
        if (added) {
            connection->openFiles.push_back(
                OpenFileGroup{std::move(volumeName), std::move(paths), std::move(details)});
            continue;
        }
        OpenFileGroup &kept = connection->openFiles[it->second];
        if (!details.empty() || !kept.details.empty()) {
            // Details stay parallel to the paths: a group without them gets the defaults.
            kept.details.resize(kept.paths.size());
            details.resize(paths.size());
            for (OpenDetail &detail : details) {
                kept.details.push_back(std::move(detail));
            }
        }
        for (std::string &path : paths) {
            kept.paths.push_back(std::move(path));
        }
    }
}

void ReadConnections(Json &array, State *state) {
    std::unordered_set<std::string_view> volumes;
    for (const Volume &volume : state->volumes) {
        volumes.insert(volume.name);
    }
    state->connections.reserve(array.size());
    for (std::size_t i = 0; i < array.size(); ++i) {
        std::string where = Index("connections", i);
        Json &item = array[i];
        if (!item.is_object()) {
            Fail(where, "must be an object");
        }
        Connection connection;
        auto number = item.find("number");
        if (number == item.end()) {
            Fail(Member(where, "number"), "is missing");
        }
        connection.number =
            static_cast<uint16_t>(Unsigned(*number, UINT16_MAX, Member(where, "number")));
        auto user = item.find("user");
        if (user == item.end()) {
            Fail(Member(where, "user"), "is missing");
        }
        connection.user = TakeText(*user, Member(where, "user"));
        connection.address = OptionalText(item, "address", where);
        connection.type = OptionalText(item, "type", where);
        connection.bytesRead = OptionalUnsigned(item, "bytesRead", UINT64_MAX, where);
        connection.bytesWritten = OptionalUnsigned(item, "bytesWritten", UINT64_MAX, where);
        connection.requestCount =
            static_cast<uint32_t>(OptionalUnsigned(item, "requestCount", UINT32_MAX, where));
        connection.loginTime = OptionalUnsigned(item, "loginTime", UINT64_MAX, where);
        connection.loginStatus = OptionalText(item, "loginStatus", where);
        connection.privileges = OptionalText(item, "privileges", where);
        if (auto it = item.find("securityEquivalences"); it != item.end()) {
            connection.securityEquivalences =
                TextArray(*it, Member(where, "securityEquivalences"), false);
        }
        connection.machine = OptionalText(item, "machine", where);
        connection.dialect = OptionalText(item, "dialect", where);
        connection.signing = OptionalText(item, "signing", where);
        connection.encryption = OptionalText(item, "encryption", where);
        if (item.contains("idleSeconds")) {
            connection.idleSeconds = OptionalUnsigned(item, "idleSeconds", UINT64_MAX, where);
        }
        if (item.contains("node")) {
            connection.node =
                static_cast<uint32_t>(OptionalUnsigned(item, "node", UINT32_MAX, where));
        }
        if (auto it = item.find("openFiles"); it != item.end()) {
            if (!it->is_array()) {
                Fail(Member(where, "openFiles"), "must be an array");
            }
            ReadOpenFiles(*it, volumes, Member(where, "openFiles"), &connection);
        }
        state->connections.push_back(std::move(connection));
    }
}

}  // namespace

bool ParseState(std::string_view text, State *state, std::string *error) {
    *state = State();
    Json document;
    std::string marked;
    if (MarkForeignBytes(text, &marked)) {
        text = marked;
    }
    try {
        document = Json::parse(text.begin(), text.end());
    } catch (const Json::exception &e) {
        *error = std::string("not JSON: ") + e.what();
        return false;
    }
    try {
        if (!document.is_object()) {
            Fail("document", "must be an object");
        }
        if (auto it = document.find("version"); it != document.end()) {
            if (!it->is_number_integer() || it->get<int64_t>() != kStateFormatVersion) {
                Fail("version", "must be " + std::to_string(kStateFormatVersion));
            }
        }
        ReadVolumes(RequiredArray(document, "volumes", "document"), state);
        ReadConnections(RequiredArray(document, "connections", "document"), state);
    } catch (const Invalid &invalid) {
        *error = invalid.message;
        return false;
    } catch (const Json::exception &e) {
        *error = e.what();
        return false;
    }
    return true;
}

namespace {

// A JSON string literal of text. A byte that is not part of well-formed UTF-8 (a file name is
// any bytes) is written as it is: ParseState reads it back (see json_text.h).
void AppendString(std::string *out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out->push_back('"');
    std::size_t i = 0;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            std::size_t length = Utf8SequenceLength(text, i);
            if (length == 0) {
                out->push_back(static_cast<char>(c));
                ++i;
            } else {
                out->append(text.substr(i, length));
                i += length;
            }
            continue;
        }
        switch (c) {
            case '"':
                *out += "\\\"";
                break;
            case '\\':
                *out += "\\\\";
                break;
            case '\n':
                *out += "\\n";
                break;
            case '\t':
                *out += "\\t";
                break;
            case '\r':
                *out += "\\r";
                break;
            default:
                if (c < 0x20) {
                    *out += "\\u00";
                    out->push_back(kHex[c >> 4]);
                    out->push_back(kHex[c & 0xF]);
                } else {
                    out->push_back(static_cast<char>(c));
                }
                break;
        }
        ++i;
    }
    out->push_back('"');
}

void AppendStrings(std::string *out, const std::vector<std::string> &texts) {
    out->push_back('[');
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (i > 0) {
            out->push_back(',');
        }
        AppendString(out, texts[i]);
    }
    out->push_back(']');
}

// "key":text and "key":number, each after a comma unless it opens the object.
void AppendField(std::string *out, const char *key, std::string_view text) {
    *out += ",\"";
    *out += key;
    *out += "\":";
    AppendString(out, text);
}

void AppendField(std::string *out, const char *key, uint64_t number) {
    *out += ",\"";
    *out += key;
    *out += "\":";
    *out += std::to_string(number);
}

// The session's details, each only when known, so that a state without them is written as
// before.
void AppendSessionDetails(std::string *out, const Connection &c) {
    const std::pair<const char *, const std::string *> texts[] = {{"machine", &c.machine},
                                                                  {"dialect", &c.dialect},
                                                                  {"signing", &c.signing},
                                                                  {"encryption", &c.encryption}};
    for (const auto &[key, text] : texts) {
        if (!text->empty()) {
            AppendField(out, key, *text);
        }
    }
    if (c.idleSeconds) {
        AppendField(out, "idleSeconds", *c.idleSeconds);
    }
    if (c.node != kNoNode) {
        AppendField(out, "node", static_cast<uint64_t>(c.node));
    }
}

// A group's "details" when it has them, one object per path.
void AppendDetails(std::string *out, const OpenFileGroup &group) {
    if (group.details.empty()) {
        return;
    }
    *out += ",\"details\":[";
    for (std::size_t i = 0; i < group.paths.size(); ++i) {
        const OpenDetail detail = group.DetailOf(i);
        *out += i > 0 ? ",{\"openedAt\":" : "{\"openedAt\":";
        *out += std::to_string(detail.openedAt);
        AppendField(out, "access", static_cast<uint64_t>(detail.access));
        AppendField(out, "shareMode", static_cast<uint64_t>(detail.shareMode));
        AppendField(out, "oplock", std::string_view(detail.oplock));
        *out += "}";
    }
    *out += "]";
}

}  // namespace

std::string SerializeState(const State &state) {
    std::string out;
    out += "{\n\"format\": ";
    AppendString(&out, kStateFormatName);
    out += ",\n\"version\": " + std::to_string(kStateFormatVersion) + ",\n\"volumes\": [";
    const char *separator = "\n";
    for (const Volume &volume : state.volumes) {
        out += separator;
        out += "{\"name\":";
        AppendString(&out, volume.name);
        AppendField(&out, "path", volume.path);
        out += "}";
        separator = ",\n";
    }
    out += "\n],\n\"connections\": [";
    separator = "\n";
    for (const Connection &c : state.connections) {
        out += separator;
        out += "{\"number\":" + std::to_string(c.number);
        AppendField(&out, "address", c.address);
        AppendField(&out, "user", c.user);
        AppendField(&out, "type", c.type);
        AppendField(&out, "bytesRead", c.bytesRead);
        AppendField(&out, "bytesWritten", c.bytesWritten);
        AppendField(&out, "requestCount", c.requestCount);
        AppendField(&out, "loginTime", c.loginTime);
        AppendField(&out, "loginStatus", c.loginStatus);
        AppendField(&out, "privileges", c.privileges);
        AppendSessionDetails(&out, c);
        out += ",\"securityEquivalences\":";
        AppendStrings(&out, c.securityEquivalences);
        out += ",\"openFiles\":[";
        for (std::size_t g = 0; g < c.openFiles.size(); ++g) {
            out += g > 0 ? ",{\"volume\":" : "{\"volume\":";
            AppendString(&out, c.openFiles[g].volume);
            out += ",\"paths\":";
            AppendStrings(&out, c.openFiles[g].paths);
            AppendDetails(&out, c.openFiles[g]);
            out += "}";
        }
        out += "]}";
        separator = ",\n";
    }
    out += "\n]\n}\n";
    return out;
}

}  // namespace cifsmon
