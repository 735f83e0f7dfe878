#include "monitoring/demo/demo_generator.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace cifsmon {

namespace {

// splitmix64: the same sequence on every platform and standard library, which the standard
// distributions do not promise.
class Random {
  public:
    explicit Random(uint64_t seed) : state_(seed) {}

    uint64_t Next() {
        uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    // REQUIRES: bound > 0.
    uint64_t Below(uint64_t bound) { return Next() % bound; }
    bool Percent(unsigned percent) { return Below(100) < percent; }
    template <typename T, std::size_t N>
    const T &Pick(const std::array<T, N> &items) {
        return items[Below(N)];
    }

  private:
    uint64_t state_;
};

struct Person {
    std::string_view login;
    std::size_t department;  // index into kDepartments
    bool administrator;
};

constexpr std::array<std::string_view, 9> kDepartments = {
    "Sales", "Finance", "HR", "Marketing", "Engineering", "Legal", "IT", "Management", "R&D"};

constexpr std::array<Person, 48> kPeople = {{
    {"anna.schmidt", 0, false},     {"john.miller", 0, false},      {"josé.garcía", 0, false},
    {"li.wei", 0, false},           {"emma.johnson", 1, false},     {"lukas.weber", 1, false},
    {"françois.lefèvre", 1, false}, {"sofia.rossi", 1, false},      {"mary.o'brien", 2, false},
    {"zoë.müller", 2, false},       {"ahmed.hassan", 2, false},     {"olivia.brown", 3, false},
    {"chloé.martin", 3, false},     {"daniel.kim", 3, false},       {"priya.sharma", 3, false},
    {"łukasz.wójcik", 4, false},    {"michael.chen", 4, false},     {"sarah.davis", 4, false},
    {"jörg.bäcker", 4, false},      {"elena.popescu", 4, false},    {"thomas.wright", 5, false},
    {"ingrid.nørgaard", 5, false},  {"hannah.fischer", 5, false},   {"root.admin", 6, true},
    {"kevin.nguyen", 6, true},      {"åsa.lindqvist", 6, false},    {"peter.novák", 6, false},
    {"robert.taylor", 7, true},     {"margarethe.klein", 7, false}, {"yuki.tanaka", 8, false},
    {"carlos.méndez", 8, false},    {"nina.ivanova", 8, false},     {"james.wilson", 0, false},
    {"laura.bianchi", 1, false},    {"mateo.fernández", 2, false},  {"grace.lee", 3, false},
    {"oskar.nilsson", 4, false},    {"fatima.zahra", 5, false},     {"henrik.larsen", 6, false},
    {"isabel.costa", 7, false},     {"sean.murphy", 8, false},      {"agnès.dupont", 0, false},
    {"viktor.horváth", 1, false},   {"amelia.clark", 2, false},     {"noah.walker", 3, false},
    {"ece.yılmaz", 4, false},       {"ben.cohen", 5, false},        {"maya.singh", 8, false},
}};

constexpr std::array<std::string_view, 8> kVolumeNames = {"SYS",     "DATA",  "USERS",   "PROJECTS",
                                                          "ARCHIVE", "SCANS", "FINANCE", "MEDIA"};

// Folders of the department volumes.
constexpr std::array<std::string_view, 18> kFolders = {
    "Finance/Budget",
    "Finance/Invoices 2024",
    "HR/Policies",
    "HR/Personnel Files",
    "Sales/Offers",
    "Sales/Customers/Müller & Söhne",
    "Marketing/Campaigns",
    "Marketing/Press",
    "Projects/Île-de-France",
    "Projects/R&D <Prototypes>",
    "Legal/Contracts",
    "IT/Documentation",
    "Management/Board Meetings",
    "Shared/Templates",
    "Engineering/Specs",
    "Engineering/Test Reports",
    "Sales/Angebote 2025",
    "Projects/Año Nuevo",
};

constexpr std::array<std::string_view, 5> kSystemFolders = {
    "Public", "Public/Forms", "System/Reports", "Login Scripts", "Public/Phone Lists"};

constexpr std::array<std::string_view, 4> kHomeFolders = {"Documents", "Desktop", "Downloads",
                                                          "Documents/Private"};

constexpr std::array<std::string_view, 32> kStems = {
    "Budget 2024",       "Quarterly Report Q3",  "Meeting Minutes",     "Procès-verbal de réunion",
    "Übersicht Märkte",  "Presupuesto año 2025", "Offer \"Final\" v2",  "R&D Roadmap",
    "Q&A <draft>",       "Tom's notes",          "Contract Smith & Co", "Invoice 10045",
    "Travel Expenses",   "Onboarding Checklist", "Price List",          "Sales Forecast",
    "Employee Handbook", "Project Plan",         "Résumé Zoë",          "Inventory",
    "Network Diagram",   "Press Release",        "Strategy 2025–2027",  "Minutes 2024-05-14",
    "Customer List",     "Kostenübersicht",      "Ærøskøbing Trip",     "Timesheet",
    "Risk Assessment",   "Vendor Evaluation",    "Holiday Schedule",    "Status Update",
};

constexpr std::array<std::string_view, 14> kExtensions = {
    ".doc", ".doc", ".docx", ".docx", ".xls",  ".xlsx", ".xlsx",
    ".pdf", ".pdf", ".txt",  ".ppt",  ".pptx", ".odt",  ".csv"};

constexpr uint64_t kWeek = 7 * 24 * 60 * 60;
constexpr uint64_t kGiB = 1ULL << 30;

std::string VolumeName(std::size_t index) {
    if (index < kVolumeNames.size()) {
        return std::string(kVolumeNames[index]);
    }
    return "VOL" + std::to_string(index + 1);
}

std::string UserName(const Person &person, bool activeDirectory) {
    std::string_view department = kDepartments[person.department];
    if (activeDirectory) {
        return "CORP\\" + std::string(person.login);
    }
    return "cn=" + std::string(person.login) + ",ou=" + std::string(department) + ",o=Example";
}

std::vector<std::string> Equivalences(const Person &person, bool activeDirectory) {
    std::string department(kDepartments[person.department]);
    std::vector<std::string> names;
    if (activeDirectory) {
        names.push_back("CN=Domain Users,CN=Users,DC=corp,DC=example,DC=com");
        names.push_back("CN=" + department + ",OU=Groups,DC=corp,DC=example,DC=com");
        if (person.administrator) {
            names.push_back("CN=Domain Admins,CN=Users,DC=corp,DC=example,DC=com");
        }
    } else {
        names.push_back("cn=" + department + ",ou=Groups,o=Example");
        names.push_back("cn=Everyone,o=Example");
        if (person.administrator) {
            names.push_back("cn=Admins,ou=Groups,o=Example");
        }
    }
    return names;
}

Connection MakeConnection(Random &random, std::size_t index, uint64_t now,
                          std::size_t *personIndex) {
    *personIndex = random.Below(kPeople.size());
    const Person &person = kPeople[*personIndex];
    bool activeDirectory = random.Percent(60);
    Connection c;
    c.number = static_cast<uint16_t>(index % UINT16_MAX + 1);
    c.address = "10." + std::to_string(10 + person.department) + "." +
                std::to_string(random.Below(8)) + "." + std::to_string(2 + random.Below(252));
    c.user = UserName(person, activeDirectory);
    c.type = activeDirectory ? "Active Directory" : "Ravelin";
    uint64_t age = 60 + random.Below(kWeek);
    c.loginTime = now > age ? now - age : 0;
    if (random.Percent(90)) {
        c.loginStatus = "Logged-In";
    } else {
        static constexpr std::array<std::string_view, 3> kOthers = {"Logging-In", "Not-Logged In",
                                                                    "New"};
        c.loginStatus = random.Pick(kOthers);
    }
    c.privileges = person.administrator ? "Supervisor" : "Non-Supervisor";
    if (c.loginStatus == "Logged-In") {
        // Traffic grows with the time logged in.
        c.bytesRead = random.Below(4 * kGiB) * (1 + age / (24 * 60 * 60)) / 4;
        c.bytesWritten = c.bytesRead / (2 + random.Below(8));
        uint64_t requests =
            (c.bytesRead + c.bytesWritten) / (8192 + random.Below(57344)) + random.Below(5000);
        c.requestCount = static_cast<uint32_t>(std::min<uint64_t>(requests, UINT32_MAX));
        c.securityEquivalences = Equivalences(person, activeDirectory);
    } else {
        c.requestCount = static_cast<uint32_t>(random.Below(40));
        c.bytesRead = random.Below(4096);
    }
    return c;
}

// The volume of the next open file: the system volume gets a quarter of the share of the
// others.
std::size_t PickVolume(Random &random, std::size_t volumes) {
    if (volumes == 1) {
        return 0;
    }
    uint64_t draw = random.Below(1 + 4 * (volumes - 1));
    return draw == 0 ? 0 : 1 + static_cast<std::size_t>((draw - 1) / 4);
}

std::string Folder(Random &random, const std::string &volumeName, const Person &person) {
    if (volumeName == "SYS") {
        return std::string(random.Pick(kSystemFolders));
    }
    if (volumeName == "USERS") {
        return "home/" + std::string(person.login) + "/" + std::string(random.Pick(kHomeFolders));
    }
    return std::string(random.Pick(kFolders));
}

// A path already opened on a volume, offered to other connections.
struct RecentOpen {
    std::size_t connection;
    std::string path;
};
constexpr std::size_t kRecentOpens = 64;

class FileMaker {
  public:
    FileMaker(Random &random, const State &state) : random_(random), state_(state) {
        recent_.resize(state.volumes.size());
    }

    // A path on the volume for the connection: now and then a file that one other connection
    // holds open (each such file is offered once, so no connection holds a path twice), else a
    // new one ("Name (2).ext" when the name is taken in that folder).
    std::string Next(std::size_t volume, std::size_t connection, const Person &person) {
        std::vector<RecentOpen> &recent = recent_[volume];
        if (!recent.empty() && random_.Percent(4)) {
            std::size_t pick = random_.Below(recent.size());
            if (recent[pick].connection != connection) {
                std::string path = std::move(recent[pick].path);
                recent[pick] = std::move(recent.back());
                recent.pop_back();
                return path;
            }
        }
        const Volume &v = state_.volumes[volume];
        std::string base = v.path + "/" + Folder(random_, v.name, person) + "/" +
                           std::string(random_.Pick(kStems));
        std::string_view extension = random_.Pick(kExtensions);
        uint32_t &uses = uses_[base + std::string(extension)];
        ++uses;
        std::string path = uses == 1
                               ? base + std::string(extension)
                               : base + " (" + std::to_string(uses) + ")" + std::string(extension);
        if (recent.size() < kRecentOpens) {
            recent.push_back(RecentOpen{connection, path});
        } else {
            recent[random_.Below(kRecentOpens)] = RecentOpen{connection, path};
        }
        return path;
    }

  private:
    Random &random_;
    const State &state_;
    std::vector<std::vector<RecentOpen>> recent_;
    std::unordered_map<std::string, uint32_t> uses_;
};

void AddOpen(Connection *connection, const std::string &volume, std::string path) {
    for (OpenFileGroup &group : connection->openFiles) {
        if (group.volume == volume) {
            group.paths.push_back(std::move(path));
            return;
        }
    }
    connection->openFiles.push_back(OpenFileGroup{volume, {std::move(path)}, {}});
}

// What smbstatus would say of the session and its opens. Drawn from a stream of its own, so that
// the rest of the data is the same with or without it.
constexpr uint64_t kDetailStream = 0x5eed0fde7a115ULL;

struct DialectMix {
    std::string_view dialect;
    unsigned percent;  // of the sessions
};
constexpr std::array<DialectMix, 3> kDialects = {
    {{"SMB3_11", 70}, {"SMB3_02", 20}, {"SMB2_10", 10}}};

std::string_view PickDialect(Random &random) {
    uint64_t draw = random.Below(100);
    for (const DialectMix &mix : kDialects) {
        if (draw < mix.percent) {
            return mix.dialect;
        }
        draw -= mix.percent;
    }
    return kDialects.front().dialect;
}

std::string MachineName(const Connection &c, std::size_t index) {
    // Windows names: department prefix, a number, upper case, at most 15 characters.
    std::string name = c.type == "Active Directory" ? "WS-" : "PC-";
    name += std::to_string(1000 + index % 9000);
    return name;
}

void AddSessionDetails(Random &random, std::size_t index, uint64_t now, Connection *c) {
    c->machine = random.Percent(85) ? MachineName(*c, index) : std::string();
    const std::string_view dialect = PickDialect(random);
    c->dialect = std::string(dialect);
    // Samba names the signing and encryption algorithms as smbstatus prints them; SMB 3.1.1
    // signs with AES-GMAC, 3.0.2 with AES-CMAC, 2.1 with HMAC-SHA256, and only SMB 3 encrypts.
    const bool signs = c->loginStatus == "Logged-In" && random.Percent(75);
    if (!signs) {
        c->signing = "no";
    } else if (dialect == "SMB3_11") {
        c->signing = "AES-128-GMAC";
    } else if (dialect == "SMB3_02") {
        c->signing = "AES-128-CMAC";
    } else {
        c->signing = "HMAC-SHA256";
    }
    if (dialect != "SMB2_10" && random.Percent(25)) {
        static constexpr std::array<std::string_view, 3> kCiphers = {"AES-128-GCM", "AES-256-GCM",
                                                                     "AES-128-CCM"};
        c->encryption = std::string(dialect == "SMB3_11" ? random.Pick(kCiphers) : kCiphers[2]);
    } else {
        c->encryption = "no";
    }
    // Most clients talk every few seconds; some have been quiet for hours.
    const uint64_t loggedIn = now > c->loginTime ? now - c->loginTime : 0;
    uint64_t idle = random.Percent(70) ? random.Below(120) : random.Below(6 * 60 * 60);
    c->idleSeconds = std::min(idle, loggedIn);
}

OpenDetail MakeOpenDetail(Random &random, const Connection &c, uint64_t now) {
    OpenDetail detail;
    const uint64_t since = c.loginTime;
    const uint64_t span = now > since ? now - since : 0;
    detail.openedAt = span > 0 ? since + 1 + random.Below(span) : since;
    static constexpr std::array<uint32_t, 4> kAccess = {kAccessRead, kAccessRead,
                                                        kAccessRead | kAccessWrite,
                                                        kAccessRead | kAccessWrite | kAccessDelete};
    detail.access = random.Pick(kAccess);
    // An editor that writes lets others read only; a reader lets everyone do anything.
    if (detail.access & kAccessWrite) {
        detail.shareMode = random.Percent(60) ? kShareRead : kShareRead | kShareWrite;
    } else {
        detail.shareMode =
            random.Percent(70) ? kShareRead | kShareWrite | kShareDelete : kShareRead | kShareWrite;
    }
    if (c.dialect == "SMB2_10" || random.Percent(30)) {
        static constexpr std::array<std::string_view, 4> kOplocks = {"none", "level II",
                                                                     "exclusive", "batch"};
        detail.oplock = std::string(random.Pick(kOplocks));
    } else {
        static constexpr std::array<std::string_view, 3> kLeases = {"lease (RWH)", "lease (RH)",
                                                                    "lease (R)"};
        detail.oplock =
            std::string((detail.access & kAccessWrite) ? kLeases[0] : random.Pick(kLeases));
    }
    return detail;
}

}  // namespace

bool GenerateDemoState(const GeneratorOptions &options, State *state, std::string *error) {
    *state = State();
    if (options.files > 0 && (options.volumes == 0 || options.connections == 0)) {
        *error = "open files need at least one volume and one connection";
        return false;
    }
    Random random(options.seed);
    state->volumes.reserve(options.volumes);
    for (std::size_t i = 0; i < options.volumes; ++i) {
        std::string name = VolumeName(i);
        state->volumes.push_back(Volume{name, "/srv/cifs/" + name});
    }
    std::vector<std::size_t> personOf(options.connections);
    std::vector<std::size_t> holders;  // connections that may hold files: the logged-in ones
    state->connections.reserve(options.connections);
    for (std::size_t i = 0; i < options.connections; ++i) {
        state->connections.push_back(MakeConnection(random, i, options.now, &personOf[i]));
        if (state->connections.back().loginStatus == "Logged-In") {
            holders.push_back(i);
        }
    }
    if (holders.empty()) {
        for (std::size_t i = 0; i < options.connections; ++i) {
            holders.push_back(i);
        }
    }

    FileMaker maker(random, *state);
    const uint64_t trapIndex = options.files > 0 ? random.Below(options.files) : 0;
    for (std::size_t i = 0; i < options.files; ++i) {
        std::size_t connection = holders[random.Below(holders.size())];
        const Person &person = kPeople[personOf[connection]];
        if (i == trapIndex) {
            std::size_t volume = options.volumes > 1 ? 1 + random.Below(options.volumes - 1) : 0;
            const Volume &v = state->volumes[volume];
            AddOpen(&state->connections[connection], v.name,
                    v.path + "/Marketing/Campaigns/" + kTrapFileName);
            continue;
        }
        std::size_t volume = PickVolume(random, options.volumes);
        AddOpen(&state->connections[connection], state->volumes[volume].name,
                maker.Next(volume, connection, person));
    }
    Random details(options.seed ^ kDetailStream);
    for (std::size_t i = 0; i < state->connections.size(); ++i) {
        Connection &connection = state->connections[i];
        AddSessionDetails(details, i, options.now, &connection);
        for (OpenFileGroup &group : connection.openFiles) {
            group.details.reserve(group.paths.size());
            for (std::size_t p = 0; p < group.paths.size(); ++p) {
                group.details.push_back(MakeOpenDetail(details, connection, options.now));
            }
        }
    }
    // Groups in volume order, as a server would list them.
    std::unordered_map<std::string_view, std::size_t> volumeIndex;
    for (std::size_t i = 0; i < state->volumes.size(); ++i) {
        volumeIndex.emplace(state->volumes[i].name, i);
    }
    for (Connection &connection : state->connections) {
        std::stable_sort(connection.openFiles.begin(), connection.openFiles.end(),
                         [&](const OpenFileGroup &a, const OpenFileGroup &b) {
                             return volumeIndex.at(a.volume) < volumeIndex.at(b.volume);
                         });
    }
    return true;
}

}  // namespace cifsmon
