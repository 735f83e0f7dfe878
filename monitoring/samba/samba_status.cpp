#include "monitoring/samba/samba_status.h"

#include <charconv>
#include <nlohmann/json.hpp>

#include "monitoring/json_text.h"

namespace cifsmon {

namespace {

using Json = nlohmann::ordered_json;

// A member's failure: what was expected where.
struct Bad {
    std::string what;
};

bool IsBlank(std::string_view text) {
    for (char c : text) {
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') {
            return false;
        }
    }
    return true;
}

template <typename Number>
std::optional<Number> ParseDecimal(std::string_view text) {
    Number value{};
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// The member as an unsigned number, written as a JSON number or as a decimal text (smbstatus
// prints 64-bit ids as texts). Missing: `fallback`; anything else throws Bad.
uint64_t Unsigned(const Json &object, const char *name, const std::string &where,
                  std::optional<uint64_t> fallback = std::nullopt) {
    auto member = object.find(name);
    if (member == object.end() || member->is_null()) {
        if (fallback) {
            return *fallback;
        }
        throw Bad{where + ": no \"" + name + "\""};
    }
    if (member->is_number_unsigned()) {
        return member->get<uint64_t>();
    }
    if (member->is_string()) {
        if (std::optional<uint64_t> value = ParseDecimal<uint64_t>(member->get<std::string>())) {
            return *value;
        }
    }
    throw Bad{where + ": \"" + name + "\" is not an unsigned number"};
}

std::string Text(const Json &object, const char *name, const std::string &where) {
    auto member = object.find(name);
    if (member == object.end() || member->is_null()) {
        return std::string();
    }
    if (!member->is_string()) {
        throw Bad{where + ": \"" + name + "\" is not a text"};
    }
    std::string text = member->get<std::string>();
    UnmarkForeignBytes(&text);
    return text;
}

// A uid or gid; -1 (or its unsigned form) means none, as for a session still authenticating.
std::optional<uint32_t> UnixId(const Json &object, const char *name, const std::string &where) {
    auto member = object.find(name);
    if (member == object.end() || member->is_null()) {
        return std::nullopt;
    }
    int64_t value = 0;
    if (member->is_number_integer()) {
        value = member->is_number_unsigned()
                    ? static_cast<int64_t>(std::min<uint64_t>(member->get<uint64_t>(), INT64_MAX))
                    : member->get<int64_t>();
    } else if (member->is_string()) {
        std::optional<int64_t> parsed = ParseDecimal<int64_t>(member->get<std::string>());
        if (!parsed) {
            throw Bad{where + ": \"" + name + "\" is not a number"};
        }
        value = *parsed;
    } else {
        throw Bad{where + ": \"" + name + "\" is not a number"};
    }
    if (value < 0 || value >= static_cast<int64_t>(UINT32_MAX)) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

const Json &ObjectMember(const Json &object, const char *name, const std::string &where) {
    static const Json empty = Json::object();
    auto member = object.find(name);
    if (member == object.end() || member->is_null()) {
        return empty;
    }
    if (!member->is_object()) {
        throw Bad{where + ": \"" + name + "\" is not an object"};
    }
    return *member;
}

ServerId ParseServerId(const Json &object, const std::string &where) {
    const Json &id = ObjectMember(object, "server_id", where);
    std::string here = where + ".server_id";
    ServerId server;
    server.pid = Unsigned(id, "pid", here);
    uint64_t vnn = Unsigned(id, "vnn", here, kNonClusterVnn);
    if (vnn > UINT32_MAX) {
        throw Bad{here + ": \"vnn\" is out of range"};
    }
    server.vnn = static_cast<uint32_t>(vnn);
    server.uniqueId = id.contains("unique_id") && id["unique_id"].is_number()
                          ? id["unique_id"].dump()
                          : Text(id, "unique_id", here);
    return server;
}

// The entries of a top-level collection, each an object.
template <typename Visit>
void ForEachEntry(const Json &root, const char *name, Visit visit) {
    const Json &collection = ObjectMember(root, name, "smbstatus output");
    for (auto entry = collection.begin(); entry != collection.end(); ++entry) {
        std::string key = entry.key();
        UnmarkForeignBytes(&key);
        std::string where = std::string(name) + "[\"" + key + "\"]";
        if (!entry->is_object()) {
            throw Bad{where + " is not an object"};
        }
        visit(key, *entry, where);
    }
}

std::optional<int> Digits(std::string_view text, std::size_t at, std::size_t count) {
    if (at + count > text.size()) {
        return std::nullopt;
    }
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return std::nullopt;
        }
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// Days from 1970-01-01 to the date (proleptic Gregorian calendar).
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

// A member holding a number as "0x%08x" text (the "hex" of smbstatus's mask objects).
std::optional<uint32_t> HexMember(const Json &object, const char *name, const std::string &where) {
    auto member = object.find(name);
    if (member == object.end() || member->is_null() || !member->is_object()) {
        return std::nullopt;
    }
    std::string hex = Text(*member, "hex", where + "." + name);
    if (hex.size() < 3 || hex[0] != '0' || (hex[1] != 'x' && hex[1] != 'X')) {
        return std::nullopt;
    }
    uint32_t value = 0;
    auto [end, error] = std::from_chars(hex.data() + 2, hex.data() + hex.size(), value, 16);
    if (error != std::errc() || end != hex.data() + hex.size()) {
        return std::nullopt;
    }
    return value;
}

bool Flag(const Json &object, const char *name) {
    auto member = object.find(name);
    return member != object.end() && member->is_boolean() && member->get<bool>();
}

std::string CryptoMember(const Json &object, const char *name, const std::string &where) {
    auto member = object.find(name);
    if (member == object.end() || member->is_null()) {
        return CryptoText("", "", false);
    }
    if (!member->is_object()) {
        throw Bad{where + ": \"" + name + "\" is not an object"};
    }
    const std::string here = where + "." + name;
    return CryptoText(Text(*member, "cipher", here), Text(*member, "degree", here), true);
}

std::string OplockMember(const Json &open, const std::string &where) {
    auto oplock = open.find("oplock");
    if (oplock == open.end() || !oplock->is_object()) {
        return std::string();
    }
    std::string letters;
    auto lease = open.find("lease");
    if (lease != open.end() && lease->is_object()) {
        letters = Text(*lease, "text", where + ".lease");
    }
    return OplockText(Flag(*oplock, "BATCH"), Flag(*oplock, "EXCLUSIVE"), Flag(*oplock, "LEVEL_II"),
                      Flag(*oplock, "LEASE"), letters);
}

}  // namespace

std::string CryptoText(std::string_view cipher, std::string_view degree, bool present) {
    if (!present) {
        return std::string();
    }
    if (degree == "none" || cipher == "-" || cipher.empty()) {
        return "no";
    }
    if (degree == "partial") {
        return "partial(" + std::string(cipher) + ")";
    }
    return std::string(cipher);
}

std::string OplockText(bool batch, bool exclusive, bool levelTwo, bool lease,
                       std::string_view leaseLetters) {
    if (batch) {
        return "batch";
    }
    if (exclusive) {
        return "exclusive";
    }
    if (levelTwo) {
        return "level II";
    }
    if (lease) {
        // Only R, W and H are lease letters; anything else smbstatus might print is left out.
        std::string kept;
        for (char c : leaseLetters) {
            if ((c == 'R' || c == 'W' || c == 'H') && kept.find(c) == std::string::npos) {
                kept.push_back(c);
            }
        }
        return "lease (" + kept + ")";
    }
    return "none";
}

std::optional<uint64_t> ParseIsoTime(std::string_view text) {
    // YYYY-MM-DDTHH:MM:SS
    auto year = Digits(text, 0, 4);
    auto month = Digits(text, 5, 2);
    auto day = Digits(text, 8, 2);
    auto hour = Digits(text, 11, 2);
    auto minute = Digits(text, 14, 2);
    auto second = Digits(text, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second || text[4] != '-' ||
        text[7] != '-' || (text[10] != 'T' && text[10] != ' ') || text[13] != ':' ||
        text[16] != ':' || *month < 1 || *month > 12 || *day < 1 || *day > 31 || *hour > 23 ||
        *minute > 59 || *second > 60) {
        return std::nullopt;
    }
    std::size_t at = 19;
    if (at < text.size() && (text[at] == '.' || text[at] == ',')) {
        ++at;
        std::size_t digits = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            ++at;
        }
        if (at == digits) {
            return std::nullopt;
        }
    }
    int64_t offset = 0;
    std::string_view zone = text.substr(at);
    if (zone == "Z" || zone.empty()) {
        offset = 0;
    } else if (zone.front() == '+' || zone.front() == '-') {
        auto zoneHours = Digits(zone, 1, 2);
        std::size_t minutesAt = zone.size() > 3 && zone[3] == ':' ? 4 : 3;
        auto zoneMinutes = Digits(zone, minutesAt, 2);
        if (!zoneHours || !zoneMinutes || zone.size() != minutesAt + 2 || *zoneHours > 23 ||
            *zoneMinutes > 59) {
            return std::nullopt;
        }
        offset = (*zoneHours * 60 + *zoneMinutes) * 60 * (zone.front() == '-' ? -1 : 1);
    } else {
        return std::nullopt;
    }
    int64_t seconds =
        DaysFromCivil(*year, static_cast<unsigned>(*month), static_cast<unsigned>(*day)) * 86400 +
        *hour * 3600 + *minute * 60 + *second - offset;
    if (seconds < 0) {
        return std::nullopt;
    }
    return static_cast<uint64_t>(seconds);
}

bool ParseSmbstatusJson(std::string_view text, SambaStatus *status, std::string *error) {
    *status = SambaStatus();
    if (IsBlank(text)) {
        return true;
    }
    // A file name that is not UTF-8 spoils only itself, not the whole listing (json_text.h).
    std::string marked;
    if (MarkForeignBytes(text, &marked)) {
        text = marked;
    }
    Json root = Json::parse(text, nullptr, false);
    if (root.is_discarded()) {
        *error = "smbstatus printed no valid JSON";
        return false;
    }
    if (!root.is_object()) {
        *error = "smbstatus output is not a JSON object";
        return false;
    }
    SambaStatus parsed;
    try {
        ForEachEntry(root, "sessions",
                     [&](const std::string &key, const Json &entry, const std::string &where) {
                         SambaSession session;
                         session.sessionId = Text(entry, "session_id", where);
                         if (session.sessionId.empty()) {
                             session.sessionId = key;
                         }
                         session.server = ParseServerId(entry, where);
                         session.uid = UnixId(entry, "uid", where);
                         session.userName = Text(entry, "username", where);
                         session.groupName = Text(entry, "groupname", where);
                         session.remoteMachine = Text(entry, "remote_machine", where);
                         session.clientEndpoint = Text(entry, "hostname", where);
                         session.dialect = Text(entry, "session_dialect", where);
                         session.signing = CryptoMember(entry, "signing", where);
                         session.encryption = CryptoMember(entry, "encryption", where);
                         parsed.sessions.push_back(std::move(session));
                     });
        ForEachEntry(root, "tcons",
                     [&](const std::string &, const Json &entry, const std::string &where) {
                         SambaTreeConnect tcon;
                         tcon.service = Text(entry, "service", where);
                         tcon.server = ParseServerId(entry, where);
                         tcon.sessionId = Text(entry, "session_id", where);
                         tcon.connectedAt = ParseIsoTime(Text(entry, "connected_at", where));
                         parsed.treeConnects.push_back(std::move(tcon));
                     });
        ForEachEntry(
            root, "open_files",
            [&](const std::string &key, const Json &entry, const std::string &where) {
                SambaOpenFile file;
                file.servicePath = Text(entry, "service_path", where);
                file.path = key;
                if (file.path.empty() || file.path.front() != '/') {
                    // Keys have always been the full path; an older layout is rebuilt from the
                    // share's directory and the name within it.
                    file.path = file.servicePath + "/" + Text(entry, "filename", where);
                }
                const Json &fileId = ObjectMember(entry, "fileid", where);
                file.devid = Unsigned(fileId, "devid", where + ".fileid", 0);
                file.inode = Unsigned(fileId, "inode", where + ".fileid", 0);
                file.extid = Unsigned(fileId, "extid", where + ".fileid", 0);
                ForEachEntry(
                    entry, "opens",
                    [&](const std::string &, const Json &open, const std::string &openWhere) {
                        SambaOpen holder;
                        holder.server = ParseServerId(open, where + "." + openWhere);
                        holder.uid = UnixId(open, "uid", where + "." + openWhere);
                        const std::string here = where + "." + openWhere;
                        holder.shareFileId = Unsigned(open, "share_file_id", here, 0);
                        holder.openedAt = ParseIsoTime(Text(open, "opened_at", here));
                        holder.accessMask = HexMember(open, "access_mask", here);
                        holder.shareAccess = HexMember(open, "sharemode", here);
                        holder.oplock = OplockMember(open, here);
                        file.opens.push_back(std::move(holder));
                    });
                parsed.openFiles.push_back(std::move(file));
            });
    } catch (const Bad &bad) {
        *error = "unexpected smbstatus output: " + bad.what;
        return false;
    } catch (const nlohmann::json::exception &exception) {
        *error = std::string("unexpected smbstatus output: ") + exception.what();
        return false;
    }
    *status = std::move(parsed);
    return true;
}

}  // namespace cifsmon
