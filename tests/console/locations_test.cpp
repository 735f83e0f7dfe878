// The console's file viewer and the plug-in's View Logs page: the directory the one serves is the
// one the other lists, and the plug-in's own log can be viewed, whatever KEL2CIFS_ROOT says.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "common/temp_dir.h"
#include "console/file_viewer.h"
#include "kel2cifs/locations.h"
#include "plugin/paths.h"

namespace {

// Sets or (for null) unsets the root variable, and has the plug-in read it again.
void SetRoot(const char *root) {
    if (root == nullptr) {
        unsetenv(kel2cifs_locations::kRootVariable);
    } else {
        setenv(kel2cifs_locations::kRootVariable, root, 1);
    }
    kel2cifs::ResolvePaths();
}

class Locations : public ::testing::Test {
  protected:
    ~Locations() override { SetRoot(nullptr); }
};

TEST_F(Locations, FileViewerServesTheDirectoryViewLogsLists) {
    const char *roots[] = {nullptr,    "",          "/",          "//",
                           "/srv/k2c", "/srv/k2c/", "/srv/k2c//", "relative/root"};
    for (const char *root : roots) {
        SetRoot(root);
        EXPECT_EQ(kel::console::DefaultLogDirectory(), kel2cifs::LogDirectoryPath())
            << (root != nullptr ? root : "(unset)");
    }
    SetRoot("/srv/k2c/");
    EXPECT_EQ(kel::console::DefaultLogDirectory(),
              std::string("/srv/k2c") + kel2cifs_locations::kLogDirectory);
}

TEST_F(Locations, ThePluginsLogFileIsViewable) {
    testing_support::TempDir root;
    SetRoot(root.str().c_str());
    const std::string logFile = kel2cifs::LogFilePath();
    ASSERT_EQ(logFile.rfind(root.str(), 0), 0u) << logFile;
    root.Write(logFile.substr(root.str().size() + 1), "a line of the plug-in's log\n");

    std::uint64_t size = 0;
    const int fd =
        kel::console::OpenViewableFile(kel::console::DefaultLogDirectory(), logFile, &size);
    ASSERT_GE(fd, 0) << logFile;
    close(fd);
    EXPECT_EQ(size, 28u);
}

}  // namespace
