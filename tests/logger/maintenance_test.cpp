// Directory chains and the log-rotation control file.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "logger_fixture.h"

namespace kel2cifs::testing {
namespace {

bool IsDirectory(const std::string &path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::string LinkTarget(const std::string &path) {
    char target[PATH_MAX] = "";
    ssize_t length = readlink(path.c_str(), target, sizeof(target) - 1);
    return length < 0 ? std::string() : std::string(target, static_cast<std::size_t>(length));
}

void WriteFile(const std::string &path, const std::string &text) {
    std::ofstream(path) << text;
}

TEST(MakePath, CreatesEveryDirectoryOfTheChain) {
    TempDir dir;
    std::string chain = dir.File("a/b/c");
    EXPECT_EQ(make_path(chain.c_str(), 0), 0);
    EXPECT_TRUE(IsDirectory(chain));
    EXPECT_EQ(make_path(chain.c_str(), 0700), 0);  // existing chain
    std::string trailing = dir.File("x/y/");
    EXPECT_EQ(make_path(trailing.c_str(), 0), 0);
    EXPECT_TRUE(IsDirectory(dir.File("x/y")));
    EXPECT_EQ(make_path("/", 0), 0);
}

TEST(MakePath, RegularFilesInThePathFail) {
    TempDir dir;
    WriteFile(dir.File("file"), "x");
    std::string middle = dir.File("file/sub");
    errno = 0;
    EXPECT_EQ(make_path(middle.c_str(), 0), -1);
    EXPECT_EQ(errno, ENOTDIR);
    std::string last = dir.File("file");
    errno = 0;
    EXPECT_EQ(make_path(last.c_str(), 0), -1);
    EXPECT_EQ(errno, EEXIST);
    std::string lastWithSlash = dir.File("file/");
    errno = 0;
    EXPECT_EQ(make_path(lastWithSlash.c_str(), 0), -1);
    EXPECT_EQ(errno, EEXIST);
}

TEST(MakePath, EmptyPathFailsLikeCreatingAnEmptyName) {
    errno = 0;
    EXPECT_EQ(make_path("", 0), -1);
    EXPECT_EQ(errno, ENOENT);
    errno = 0;
    EXPECT_EQ(make_path(nullptr, 0), -1);
    EXPECT_EQ(errno, EINVAL);
}

TEST(MakeLinuxPath, ReturnsTheErrnoValueAndUsesMode0744) {
    TempDir dir;
    mode_t previous = umask(022);
    std::string chain = dir.File("p/q");
    EXPECT_EQ(MakeLinuxPath(chain.c_str()), 0);
    umask(previous);
    EXPECT_EQ(PermissionBits(dir.File("p")), 0744u);
    EXPECT_EQ(PermissionBits(chain), 0744u);
    WriteFile(dir.File("f"), "x");
    std::string blocked = dir.File("f/g");
    EXPECT_EQ(MakeLinuxPath(blocked.c_str()), ENOTDIR);
}

TEST(SetupLogRotateControlFile, WritesTheFileAndTheLinkOnce) {
    TempDir dir;
    std::string directory = dir.File("etc/rotate.d");
    std::string control = directory + "/kel2cifs";
    std::string link = dir.File("kel2cifs.link");
    EXPECT_EQ(SetupLogRotateControlFile(directory.c_str(), control.c_str(), link.c_str(),
                                        "first content\n"),
              0);
    EXPECT_EQ(ReadFile(control), "first content\n");
    EXPECT_EQ(PermissionBits(control), 0644u);
    EXPECT_EQ(LinkTarget(link), control);

    EXPECT_EQ(SetupLogRotateControlFile(directory.c_str(), control.c_str(), link.c_str(),
                                        "second content\n"),
              0);
    EXPECT_EQ(ReadFile(control), "first content\n");
    EXPECT_EQ(LinkTarget(link), control);
}

TEST(SetupLogRotateControlFile, LeavesADanglingLinkInPlace) {
    TempDir dir;
    std::string control = dir.File("control");
    std::string link = dir.File("link");
    std::string nowhere = dir.File("nowhere");
    ASSERT_EQ(symlink(nowhere.c_str(), link.c_str()), 0);
    EXPECT_EQ(SetupLogRotateControlFile(dir.path().c_str(), control.c_str(), link.c_str(), "c"), 0);
    EXPECT_EQ(ReadFile(control), "c");
    EXPECT_EQ(LinkTarget(link), nowhere);
}

TEST(SetupLogRotateControlFile, StopsAtTheFirstFailure) {
    TempDir dir;
    std::string control = dir.File("missing/control");
    std::string link = dir.File("link");
    std::string directory = dir.File("made");
    EXPECT_EQ(SetupLogRotateControlFile(directory.c_str(), control.c_str(), link.c_str(), "c"),
              ENOENT);
    EXPECT_TRUE(IsDirectory(directory));
    EXPECT_FALSE(Exists(link));

    std::string goodControl = dir.File("control");
    std::string badLink = dir.File("missing/link");
    EXPECT_EQ(
        SetupLogRotateControlFile(directory.c_str(), goodControl.c_str(), badLink.c_str(), "c"),
        ENOENT);
    EXPECT_EQ(ReadFile(goodControl), "c");
}

}  // namespace
}  // namespace kel2cifs::testing
