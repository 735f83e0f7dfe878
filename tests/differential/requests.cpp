#include "differential/requests.h"

#include <cstdio>
#include <vector>

#include "kel/host.h"

namespace differential {
namespace {

constexpr int kGet = KEL_METHOD_GET;
constexpr int kPost = KEL_METHOD_POST;

const std::vector<std::string> kOfmSortKeywords = {"ConnectionNumber", "UserName", "FileName"};
const std::vector<std::string> kConsSortKeywords = {"ConnectionNumber", "ConnectionName",
                                                    "FSActivity",       "LoginTime",
                                                    "ConnectionType",   "ZupRequest"};
const std::vector<std::string> kFilters = {"*.doc", "*.DOC", "*.*",   "*",      "",
                                           "*.",    "x.txt", "*.txt", "**",     "*.tar.gz",
                                           "*.gz",  "doc",   "*.xls", "*.docx", "?.doc"};
const std::vector<std::string> kJunkFields = {
    "button=OK", "K_1_=on",   "x=",           "=",           "&&",      "name",
    "FILENAME=", "FILTERX=1", "filter=*.doc", "VOLUME=VOL1", "sorttype"};

std::string Join(const std::vector<std::string> &components) {
    std::string path;
    for (const std::string &component : components) {
        path += "/" + component;
    }
    return path;
}

// A keyword as a client may write it: any case, sometimes with more after it, sometimes cut.
std::string Keyword(Rng &rng, const std::string &word) {
    std::string text = MangleCase(rng, word);
    if (rng.Percent(10)) {
        text += rng.Pick<std::string>({"X", "s", ".doc", "123", "_", "\u00e9"});
    } else if (rng.Percent(4)) {
        text.resize(text.size() - 1 - rng.Index(3));
    }
    return text;
}

// A prefix of "help" (the empty one included), or a word that is none.
std::string HelpWord(Rng &rng) {
    if (rng.Percent(10)) {
        return rng.Pick<std::string>({"helpx", "hlp", "helper", "x"});
    }
    return MangleCase(rng, std::string("help").substr(0, rng.Index(5)));
}

std::string VolumeComponent(Rng &rng, const ServerModel &server) {
    if (!server.volumes().empty() && rng.Percent(75)) {
        return rng.Pick(server.volumes()).name;
    }
    return FieldText(rng, {"VOL9", "nosuch", "NOFILES"}, {255, 256});
}

uint16_t SomeConnNumber(Rng &rng, const ServerModel &server) {
    if (!server.connections().empty() && rng.Percent(80)) {
        return rng.Pick(server.connections()).listed.connNumber;
    }
    return static_cast<uint16_t>(rng.Below(65536));
}

// The id component of a connection page: hexadecimal as the pages write it, or not.
std::string ConnId(Rng &rng, const ServerModel &server) {
    if (rng.Percent(65)) {
        char id[16];
        std::snprintf(id, sizeof(id), rng.Pick({"%08X", "%08x", "%X", "%04x"}),
                      static_cast<unsigned>(SomeConnNumber(rng, server)));
        return id;
    }
    return rng.Pick<std::string>({"0", "00000000", "000000000", "", "zz", "12g4", "-1", "FFFFFFFF",
                                  "10000", "7", "1234567890", "0x10"});
}

std::string ConnDecimal(Rng &rng, const ServerModel &server) {
    if (rng.Percent(65)) {
        return std::to_string(SomeConnNumber(rng, server));
    }
    return rng.Pick<std::string>(
        {" 7", "+7", "-1", "65536", "123456", "abc", "", "0007", "99999", "7x"});
}

bool Unreserved(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~' || c == '*';
}

// A form value as a browser would send it, or raw, over-encoded, or with a broken escape.
std::string FormEncode(Rng &rng, const std::string &value) {
    static constexpr char kUpper[] = "0123456789ABCDEF";
    static constexpr char kLower[] = "0123456789abcdef";
    const uint64_t roll = rng.Below(100);
    if (roll < 15) {
        return value;
    }
    std::string out;
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (roll < 25) {
            const char *digits = rng.Percent(50) ? kUpper : kLower;
            out += {'%', digits[byte >> 4], digits[byte & 15]};
        } else if (Unreserved(c)) {
            out += c;
        } else if (c == ' ') {
            out += '+';
        } else {
            out += {'%', kUpper[byte >> 4], kUpper[byte & 15]};
        }
    }
    if (roll >= 85) {
        out.insert(rng.Index(out.size() + 1),
                   rng.Pick<std::string>({"%", "%4", "%zz", "%00", "+", "%2", "%%41"}));
    }
    return out;
}

std::string Filter(Rng &rng) {
    if (rng.Percent(80)) {
        return rng.Pick(kFilters);
    }
    return FieldText(rng, {"*.doc", "*.txt"}, {255, 256, 257});
}

std::string Field(Rng &rng, const std::string &name, const std::string &value) {
    return name + "=" + FormEncode(rng, value);
}

std::string JoinFields(Rng &rng, std::vector<std::string> fields) {
    if (rng.Percent(25)) {
        fields.push_back(rng.Percent(80) ? rng.Pick(kJunkFields)
                                         : RandomBytes(rng, 1 + rng.Index(20)));
    }
    // Fisher-Yates with the driver's own generator.
    for (std::size_t i = fields.size(); i > 1; --i) {
        std::swap(fields[i - 1], fields[rng.Index(i)]);
    }
    std::string body;
    for (const std::string &field : fields) {
        body += (body.empty() ? "" : "&") + field;
    }
    return body;
}

// The hidden fields of the open-file page that the connection page carries along.
void AddOfmState(Rng &rng, const ServerModel &server, std::vector<std::string> &fields) {
    if (rng.Percent(60)) {
        fields.push_back(Field(rng, "volume", VolumeComponent(rng, server)));
    }
    if (rng.Percent(50)) {
        fields.push_back(Field(rng, "sorttype", Keyword(rng, rng.Pick(kOfmSortKeywords))));
    }
    if (rng.Percent(50)) {
        fields.push_back(Field(rng, "FILTER", Filter(rng)));
    }
}

std::string FilterForm(Rng &rng, const ServerModel &server) {
    std::vector<std::string> fields;
    if (!rng.Percent(10)) {
        fields.push_back(Field(rng, "FILTER", Filter(rng)));
    }
    if (rng.Percent(30)) {
        AddOfmState(rng, server, fields);
    }
    return JoinFields(rng, fields);
}

// Checked FILENAME boxes: "<filename>" path "</filename>", some broken.
std::string CloseForm(Rng &rng, const ServerModel &server, bool withOfmState) {
    std::vector<std::string> fields;
    if (rng.Percent(30)) {
        fields.emplace_back("K_1_=on");
    }
    for (uint64_t count = rng.Below(5); count > 0; --count) {
        const std::string path = server.SomePath(rng);
        std::string value = "<filename>" + path + "</filename>";
        if (rng.Percent(8)) {
            value =
                rng.Pick<std::string>({"<filename>" + path, path + "</filename>",
                                       "<filename></filename>", "<FILENAME>" + path + "</FILENAME>",
                                       "<filename><filename>" + path + "</filename></filename>"});
        }
        fields.push_back(Field(rng, "FILENAME", value));
    }
    if (withOfmState) {
        AddOfmState(rng, server, fields);
    }
    return JoinFields(rng, fields);
}

std::string OfmRest(Rng &rng, const ServerModel &server, int &method, std::string &body) {
    std::vector<std::string> path;
    if (rng.Percent(30)) {
        path.push_back(Keyword(rng, rng.Pick(kOfmSortKeywords)));
    }
    const uint64_t roll = rng.Below(100);
    if (roll < 8) {
        return "";
    }
    if (roll < 16) {
        std::vector<std::string> help = {HelpWord(rng)};
        if (rng.Percent(60)) {
            help.push_back(rng.Percent(70) ? HelpWord(rng) : rng.Pick(HostileTexts()));
        }
        if (rng.Percent(15)) {
            help.emplace_back("x");
        }
        return Join(help);
    }
    if (roll < 52) {
        path.push_back(VolumeComponent(rng, server));
        if (rng.Percent(45)) {
            method = kPost;
            body = FilterForm(rng, server);
        }
    } else if (roll < 60) {
        path.push_back(Keyword(rng, "CIFSBrowseFile"));
        if (rng.Percent(85)) {
            path.push_back(VolumeComponent(rng, server));
        }
        if (rng.Percent(80)) {
            std::string file = server.SomePath(rng);
            path.push_back(file.empty() || file[0] != '/' ? file : file.substr(1));
        }
    } else if (roll < 85) {
        path.push_back(Keyword(rng, "CIFSCloseFiles"));
        if (rng.Percent(85)) {
            path.push_back(VolumeComponent(rng, server));
        }
        method = rng.Percent(85) ? kPost : kGet;
        body = CloseForm(rng, server, false);
    } else {
        for (uint64_t count = 2 + rng.Below(3); count > 0; --count) {
            path.push_back(rng.Percent(50) ? VolumeComponent(rng, server)
                                           : rng.Pick(HostileTexts()));
        }
        if (rng.Percent(40)) {
            method = kPost;
            body = FilterForm(rng, server);
        }
    }
    return Join(path);
}

std::string ConsRest(Rng &rng, const ServerModel &server, int &method, std::string &body) {
    std::vector<std::string> path;
    if (rng.Percent(30)) {
        path.push_back(Keyword(rng, rng.Pick(kConsSortKeywords)));
    }
    const uint64_t roll = rng.Below(100);
    if (roll < 8) {
        return "";
    }
    if (roll < 16) {
        std::vector<std::string> help = {HelpWord(rng)};
        if (rng.Percent(60)) {
            help.push_back(rng.Percent(70)
                               ? MangleCase(rng, std::string("_info_").substr(0, rng.Index(7)))
                               : rng.Pick<std::string>({"x", "_info_x", "help"}));
        }
        return Join(help);
    }
    if (roll < 24) {
        return Join(path);
    }
    if (roll < 50) {
        path.push_back(ConnId(rng, server));
        if (rng.Percent(40)) {
            method = kPost;
            std::vector<std::string> fields;
            AddOfmState(rng, server, fields);
            body = JoinFields(rng, fields);
        }
    } else if (roll < 58) {
        // The list holds "/" itself: "</closeconn>".
        std::string list;
        for (uint64_t count = rng.Below(4); count > 0; --count) {
            list += "<closeconn>" + ConnDecimal(rng, server) + "</closeconn>";
        }
        path.push_back(Keyword(rng, "CIFSCloseConnections") + (list.empty() ? "" : "/" + list));
    } else if (roll < 72) {
        path.push_back(Keyword(rng, "CIFSCloseFiles"));
        path.push_back(ConnId(rng, server));
        std::string all = "<closeallfiles>" + ConnDecimal(rng, server) + "</closeallfiles>";
        if (rng.Percent(10)) {
            all = rng.Pick<std::string>({"<closeallfiles>7", "7</closeallfiles>", "junk"});
        }
        path.push_back(all);
        if (rng.Percent(50)) {
            method = kPost;
            std::vector<std::string> fields;
            AddOfmState(rng, server, fields);
            body = JoinFields(rng, fields);
        }
    } else if (roll < 92) {
        path.push_back(Keyword(rng, "CIFSCloseFiles"));
        if (rng.Percent(92)) {
            path.push_back(ConnId(rng, server));
        }
        method = rng.Percent(85) ? kPost : kGet;
        body = CloseForm(rng, server, rng.Percent(50));
    } else {
        for (uint64_t count = 2 + rng.Below(3); count > 0; --count) {
            path.push_back(rng.Percent(50) ? ConnId(rng, server) : rng.Pick(HostileTexts()));
        }
    }
    return Join(path);
}

std::string LogsRest(Rng &rng) {
    switch (rng.Below(8)) {
        case 0:
            return "";
        case 1:
            return "/";
        case 2:
        case 3:
            return "/" + HelpWord(rng);
        case 4:
            return "/" + HelpWord(rng) + "/" + rng.Pick<std::string>({"", "x", "help", "_info_"});
        case 5:
            return "/help//" + rng.Pick(HostileTexts());
        case 6:
            return "/" + rng.Pick(HostileTexts());
        default:
            return "/" + Keyword(rng, "cifslogs");
    }
}

// Random damage to the part of the path after the keyword.
void DamagePath(Rng &rng, std::string &rest) {
    const std::size_t at = rng.Index(rest.size() + 1);
    switch (rng.Below(7)) {
        case 0:
            rest.insert(at, "/");
            break;
        case 1:
            rest += "/";
            break;
        case 2:
            // Longer than a component's length byte can count.
            rest.insert(at, "/" + Repeat("long", 255 + rng.Index(40)));
            break;
        case 3:
            if (!rest.empty()) {
                rest.erase(rng.Index(rest.size()), 1);
            }
            break;
        case 4:
            rest.insert(at, RandomBytes(rng, 1 + rng.Index(3)));
            break;
        case 5:
            rest = "/" + RandomBytes(rng, rng.Index(40));
            break;
        default:
            rest = MangleCase(rng, rest);
            break;
    }
}

void DamageBody(Rng &rng, std::string &body) {
    const std::size_t at = rng.Index(body.size() + 1);
    switch (rng.Below(4)) {
        case 0:
            body.resize(at);
            break;
        case 1:
            body.insert(at, RandomBytes(rng, 1 + rng.Index(8)));
            break;
        case 2:
            // The posted data may hold a NUL: the plug-in is given its length.
            body.insert(at, 1, '\0');
            break;
        default:
            body += rng.Pick<std::string>({"%", "&", "=", "+"});
            break;
    }
}

unsigned Access(Rng &rng) {
    if (rng.Percent(80)) {
        return 0x0000000Bu;  // the console's administrator
    }
    if (rng.Percent(10)) {
        return static_cast<unsigned>(rng.Next());
    }
    return rng.Pick<unsigned>({0x0u, 0x1u, 0x2u, 0x3u, 0x8u, 0x9u, 0xAu, 0x40Bu, 0x10000008u,
                               0x1000000Bu, 0x8000000Bu, 0x4000000Bu, 0xFFFFFFFFu});
}

}  // namespace

const char *HostFaultName(HostFault fault) {
    switch (fault) {
        case HostFault::kNone:
            return "none";
        case HostFault::kMethod:
            return "method-fails";
        case HostFault::kPath:
            return "path-fails";
        case HostFault::kPostData:
            return "post-data-fails";
        case HostFault::kOpen:
            return "open-fails";
        case HostFault::kWrites:
            return "writes-fail";
    }
    return "?";
}

HttpRequest NextRequest(Rng &rng, const ServerModel &server) {
    HttpRequest request;
    request.method = rng.Percent(90) ? kGet : kPost;
    std::string rest;
    const uint64_t service = rng.Below(100);
    if (service < 45) {
        request.keyword = "cifsofm";
        rest = OfmRest(rng, server, request.method, request.body);
    } else if (service < 85) {
        request.keyword = "cifscons";
        rest = ConsRest(rng, server, request.method, request.body);
    } else {
        request.keyword = "cifslogs";
        rest = LogsRest(rng);
    }
    if (request.method == kPost && request.body.empty() && rng.Percent(50)) {
        request.body = JoinFields(rng, {rng.Pick(kJunkFields)});
    }
    if (rng.Percent(12)) {
        DamagePath(rng, rest);
    }
    if (!request.body.empty() && rng.Percent(8)) {
        DamageBody(rng, request.body);
    }
    if (rng.Percent(2)) {
        // Routed by its keyword although the next character is no "/".
        rest = rng.Pick<std::string>({"X", "?", "s/help", "\u00e9"}) + rest;
    }
    if (rng.Percent(4)) {
        request.method = rng.Pick({1, 3, 4, 7, -1});
    }
    request.path = "/" + request.keyword + rest;
    request.access = Access(rng);
    if (rng.Percent(3)) {
        request.fault = rng.Pick({HostFault::kMethod, HostFault::kPath, HostFault::kPostData,
                                  HostFault::kOpen, HostFault::kWrites});
    }
    return request;
}

}  // namespace differential
