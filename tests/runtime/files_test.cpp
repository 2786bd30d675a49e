// Files and their attributes, on real folders.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "runtime/runtime.h"
#include "tests/runtime/temporary_folder.h"

namespace {

constexpr uid_t kNobody = 65534;

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return "<missing>";
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

void PutFile(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

ByteArray Bytes(std::string_view text)
{
    return ByteArray::FromBytes({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

// The attributes as they are stored, or "<none>".
std::string StoredAttributes(const std::string& path)
{
    char text[64];
    ssize_t length = getxattr(path.c_str(), "user.DOSATTRIB", text, sizeof text);
    return length < 0 ? "<none>" : std::string(text, static_cast<size_t>(length));
}

void StoreAttributes(const std::string& path, const std::string& text)
{
    ASSERT_EQ(setxattr(path.c_str(), "user.DOSATTRIB", text.data(), text.size(), 0), 0) << std::strerror(errno);
}

mode_t ModeOf(const std::string& path)
{
    struct stat status {};
    stat(path.c_str(), &status);
    return status.st_mode & 07777;
}

class FilesTest : public testing::Test {
protected:
    TemporaryFolder folder_;
};

struct ExistsCase {
    const char* path;  // inside the folder
    bool expected;
};

TEST_F(FilesTest, FileExistsFindsEntriesAndWildcardMatches)
{
    PutFile(folder_ / "game.exe", "x");
    PutFile(folder_ / "下载[1].exe", "x");  // GBK bytes, as the program's paths are
    ASSERT_EQ(mkdir((folder_ / "skins").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((folder_ / "dots").c_str(), 0755), 0);
    PutFile(folder_ / "dots/.hidden", "x");

    const ExistsCase cases[] = {
        // plain names
        {"game.exe", true},
        {"skins", true},
        {"missing.exe", false},
        {"nowhere/game.exe", false},
        // wildcards in the last component
        {"*.exe", true},
        {"gam?.exe", true},
        {"g?.exe", false},
        {"*.dll", false},
        {"dots/*den", true},
        {"dots/?hidden", true},
        {"nowhere/*", false},
        // brackets are plain characters and "?" takes a whole two-byte character
        {"下载[1]*", true},
        {"下?[1].exe", true},
        {"下载[2]*", false},
    };
    for (const ExistsCase& c : cases)
        EXPECT_EQ(FileExists((folder_ / c.path).c_str()), c.expected) << c.path;
    EXPECT_FALSE(FileExists(""));
    EXPECT_FALSE(FileExists(nullptr));
}

TEST_F(FilesTest, WriteFileBytesWritesTheArraysOneAfterTheOther)
{
    std::string path = folder_ / "out.bin";
    ByteArray head = Bytes("MZ");
    ByteArray body = Bytes(std::string("\x90\x00\x03", 3));
    EXPECT_TRUE(WriteFileBytes(path.c_str(), {head, ByteArray(), body}));
    EXPECT_EQ(ReadFile(path), std::string("MZ\x90\x00\x03", 5));
}

TEST_F(FilesTest, WriteFileBytesLeavesExactlyTheNewBytes)
{
    std::string path = folder_ / "out.bin";
    PutFile(path, "a much longer old content");
    EXPECT_TRUE(WriteFileBytes(path.c_str(), {Bytes("new")}));
    EXPECT_EQ(ReadFile(path), "new");

    EXPECT_TRUE(WriteFileBytes(path.c_str(), {ByteArray()}));
    EXPECT_EQ(ReadFile(path), "");
}

TEST_F(FilesTest, WriteFileBytesFailsWhereNoFileCanBeWritten)
{
    ASSERT_EQ(mkdir((folder_ / "skins").c_str(), 0755), 0);
    const std::string paths[] = {"", folder_ / "skins", folder_ / "nowhere/out.bin"};
    for (const std::string& path : paths)
        EXPECT_FALSE(WriteFileBytes(path.c_str(), {Bytes("x")})) << "'" << path << "'";
    EXPECT_FALSE(WriteFileBytes(nullptr, {Bytes("x")}));
}

TEST_F(FilesTest, WriteFileBytesRefusesReadOnlyHiddenAndSystemFiles)
{
    struct Case {
        const char* stored;
        bool refused;
    };
    const Case cases[] = {{"0x1", true}, {"0x2", true}, {"0x4", true}, {"0x27", true}, {"0x20", false}, {"0x0", false}};
    for (const Case& c : cases) {
        std::string path = folder_ / (std::string("file") + c.stored);
        PutFile(path, "old");
        StoreAttributes(path, c.stored);  // the write permission stays: only the attribute may refuse
        EXPECT_EQ(WriteFileBytes(path.c_str(), {Bytes("new")}), !c.refused) << c.stored << ", running as uid " << geteuid();
        EXPECT_EQ(ReadFile(path), c.refused ? "old" : "new") << c.stored;
    }
}

TEST_F(FilesTest, SetFileAttributesToReplacesTheAttributesAsAWhole)
{
    struct Case {
        int32_t before;  // -1: never set
        int32_t requested;
        const char* stored;
        bool ownerMayWrite;
    };
    const Case cases[] = {
        // only read-only, hidden, system and archive pass
        {-1, 0xFF, "0x27", false},
        {-1, 0x10, "0x0", true},
        {-1, 0x2, "0x2", true},
        // replaced, not added: read-only goes and the owner may write again
        {0x27, 0x2, "0x2", true},
        {0x1, 0x20, "0x20", true},
        {0x1, 0x3, "0x3", false},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::string path = folder_ / ("file" + std::to_string(n++));
        PutFile(path, "x");
        if (c.before >= 0) {
            ASSERT_TRUE(SetFileAttributesTo(path.c_str(), c.before));
        }
        EXPECT_TRUE(SetFileAttributesTo(path.c_str(), c.requested)) << std::hex << c.requested;
        EXPECT_EQ(StoredAttributes(path), c.stored) << std::hex << c.before << " then " << c.requested;
        EXPECT_EQ((ModeOf(path) & S_IWUSR) != 0, c.ownerMayWrite) << std::hex << c.before << " then " << c.requested;
        if (!c.ownerMayWrite) {
            EXPECT_EQ(ModeOf(path) & 0222, 0u) << "read-only leaves a write permission";
        }
        auto attributes = platform::GetFileAttributes(path);
        ASSERT_TRUE(attributes);
        EXPECT_EQ(*attributes, std::stoul(c.stored, nullptr, 16));
    }
    EXPECT_FALSE(SetFileAttributesTo((folder_ / "missing").c_str(), 2));
    EXPECT_FALSE(SetFileAttributesTo("", 2));
}

// Runs the check in a child without root, where permissions apply as they do to a user.
int AsOrdinaryUser(bool (*check)(const std::string&), const std::string& path)
{
    if (geteuid() != 0)
        return check(path) ? 0 : 1;
    pid_t child = fork();
    if (child == 0) {
        if (setgid(kNobody) != 0 || setuid(kNobody) != 0)
            _exit(3);
        _exit(check(path) ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool MarkReadOnlyThenClear(const std::string& path)
{
    return SetFileAttributesTo(path.c_str(), 1) && (ModeOf(path) & S_IWUSR) == 0 &&
           SetFileAttributesTo(path.c_str(), 3) && SetFileAttributesTo(path.c_str(), 0) &&
           (ModeOf(path) & S_IWUSR) != 0 && WriteFileBytes(path.c_str(), {Bytes("new")});
}

TEST_F(FilesTest, TheOwnerCanChangeTheAttributesOfAReadOnlyFile)
{
    std::string path = folder_ / "mine.dll";
    PutFile(path, "old");
    if (geteuid() == 0) {
        ASSERT_EQ(chown(path.c_str(), kNobody, kNobody), 0);
        ASSERT_EQ(chmod(folder_.Path().c_str(), 0755), 0);
    }
    EXPECT_EQ(AsOrdinaryUser(MarkReadOnlyThenClear, path), 0);
    EXPECT_EQ(StoredAttributes(path), "0x0");
    EXPECT_EQ(ReadFile(path), "new");
}

TEST_F(FilesTest, AFileSystemWithoutExtendedAttributesRefusesThem)
{
    std::string mountPoint = folder_ / "ramfs";
    ASSERT_EQ(mkdir(mountPoint.c_str(), 0755), 0);
    // ramfs keeps no user extended attributes.
    if (mount("none", mountPoint.c_str(), "ramfs", 0, nullptr) != 0)
        GTEST_SKIP() << "mounting ramfs was refused (" << std::strerror(errno) << "); needs root";
    struct Unmount {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{mountPoint};

    std::string path = mountPoint + "/skin.dll";
    EXPECT_TRUE(WriteFileBytes(path.c_str(), {Bytes("old")}));
    mode_t mode = ModeOf(path);
    EXPECT_FALSE(SetFileAttributesTo(path.c_str(), 3));
    EXPECT_EQ(ModeOf(path), mode) << "half of the change was made";
    EXPECT_TRUE(WriteFileBytes(path.c_str(), {Bytes("new")}));
    EXPECT_EQ(ReadFile(path), "new");
}

TEST_F(FilesTest, UniqueFilesMoveWithoutReplacingAndAreRemoved)
{
    auto first = platform::CreateUniqueFile(folder_.Path(), "skin");
    auto second = platform::CreateUniqueFile(folder_.Path(), "skin");
    ASSERT_TRUE(first && second);
    auto& [firstFile, firstPath] = *first;
    auto& [secondFile, secondPath] = *second;
    EXPECT_NE(firstPath, secondPath);
    EXPECT_EQ(firstPath.rfind(folder_ / "skin", 0), 0u) << firstPath;
    const uint8_t content[] = {'M', 'Z'};
    ASSERT_TRUE(firstFile.Write(content));
    ASSERT_TRUE(firstFile.Close());

    auto refused = platform::MoveFileNoReplace(firstPath, secondPath);
    EXPECT_FALSE(refused);
    EXPECT_EQ(refused.Why().error, EEXIST);
    EXPECT_EQ(ReadFile(firstPath), "MZ");
    EXPECT_EQ(ReadFile(secondPath), "");

    std::string target = folder_ / "SkinH_EL.dll";
    EXPECT_TRUE(platform::MoveFileNoReplace(firstPath, target));
    EXPECT_EQ(ReadFile(firstPath), "<missing>");
    EXPECT_EQ(ReadFile(target), "MZ");

    EXPECT_TRUE(platform::RemoveFile(target));
    EXPECT_FALSE(FileExists(target.c_str()));
    auto again = platform::RemoveFile(target);
    EXPECT_FALSE(again);
    EXPECT_EQ(again.Why().error, ENOENT);
}

}  // namespace
