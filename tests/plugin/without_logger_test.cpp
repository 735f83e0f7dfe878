// Every page served while no logger runs (before the plug-in starts, after it stops, or after a
// failed start): the page is the one served with a logger, and nothing reaches a null `log`.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "connections/dispatch.h"
#include "logger/logger.h"
#include "logs/logs.h"
#include "ofm/dispatch.h"
#include "support/fake_host.h"
#include "support/fake_monitoring.h"

namespace {

struct Served {
    int status = 0;
    std::string body;
    std::vector<std::string> ops;
};

struct Case {
    const char *name;
    ServiceMethod method;
    const char *path;
    const char *post;  // null: a GET
};

// GETs and POSTs of every page, with the paths and forms that write trace lines.
const Case kCases[] = {
    {"logs list", cifsLogsMethod, "/cifslogs", nullptr},
    {"logs posted", cifsLogsMethod, "/cifslogs", "a=b&c=d"},
    {"logs help", cifsLogsMethod, "/cifslogs/help", "x=1"},
    {"logs bad path", cifsLogsMethod, "/cifslogs/nothing", nullptr},
    {"ofm volume", cifsofmMethod, "/cifsofm/UserName/VOL1", "FILTER=*.doc"},
    {"ofm close", cifsofmMethod, "/cifsofm/CIFSCloseFiles/VOL1",
     "FILENAME=%3Cfilename%3E%2Fa.doc%3C%2Ffilename%3E"},
    {"ofm help", cifsofmMethod, "/cifsofm/help/help", nullptr},
    {"cons list", cifsconsMethod, "/cifscons/LoginTime", nullptr},
    {"cons detail", cifsconsMethod, "/cifscons/00000007", "volume=VOL1&sorttype=1&FILTER=x"},
    {"cons close", cifsconsMethod, "/cifscons/CIFSCloseFiles/7/<closeallfiles>7</closeallfiles>",
     nullptr},
};

void SetData() {
    fake::Reset();
    fake::SetVolumes({"VOL1"});
    fake::VolumeFiles files;
    files.connNumber = 7;
    files.userName = "alice";
    files.fileNames = {"/a.doc", "/b.txt"};
    fake::SetVolumeFiles("VOL1", {files});
    fake::SetConnections({{7, "10.0.0.7", "alice", "CIFS", 3, 100, 200, 0}});
    fake::ConnInfo info;
    info.connNumber = 7;
    info.netAddress = "10.0.0.7";
    info.userName = "alice";
    info.openFileNames = {"/a.doc"};
    fake::SetConnInfo(7, info);
}

Served Serve(const Case &c) {
    SetData();
    fake::Request request = c.post != nullptr ? fake::Post(c.path, c.post) : fake::Get(c.path);
    Served served;
    served.status = fake::Serve(c.method, request, fake::kAdministratorAccess);
    served.body = request.body;
    served.ops = request.Ops();
    EXPECT_TRUE(request.violations.empty()) << c.name;
    return served;
}

TEST(PagesWithoutLogger, AreTheSamePagesAndWriteNoTrace) {
    for (const Case &c : kCases) {
        kel2cifs::log = Logger_init(nullptr, kel2cifs::kLevelEverything);
        const Served logged = Serve(c);
        Logger_deinit();

        kel2cifs::log = nullptr;
        const Served unlogged = Serve(c);

        EXPECT_EQ(unlogged.status, logged.status) << c.name;
        EXPECT_EQ(unlogged.body, logged.body) << c.name;
        EXPECT_EQ(unlogged.ops, logged.ops) << c.name;
        EXPECT_FALSE(logged.body.empty()) << c.name;
    }
}

}  // namespace
