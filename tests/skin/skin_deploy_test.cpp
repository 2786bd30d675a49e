#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "skin/skin_data.h"
#include "tests/support/program_runner.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

const std::string kEngineName = "SkinH_EL.dll";
const std::string kProbeName = "probe";

std::vector<uint8_t> ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteText(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::vector<uint8_t> EngineImage()
{
    auto bytes = SkinEngineImage().Bytes();
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// A folder under /tmp holding a copy of the probe, which takes it as its run directory.
class RunFolder {
public:
    RunFolder()
    {
        std::string pattern = "/tmp/skin-deploy-XXXXXX";
        path_ = mkdtemp(pattern.data()) ? pattern : "";
    }
    ~RunFolder()
    {
        for (const std::string& mount : mounts_) umount2(mount.c_str(), MNT_DETACH);
        std::error_code ignored;
        if (!path_.empty()) fs::remove_all(path_, ignored);
    }
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;

    const fs::path& Path() const { return path_; }
    fs::path Engine() const { return path_ / kEngineName; }
    void CopyProbe() const { fs::copy_file(SKIN_DEPLOY_PROBE, path_ / kProbeName); }
    void NoteMount(const std::string& mount) { mounts_.insert(mounts_.begin(), mount); }

    // Starts the probe; without a display, so it does no more than a start would before its window.
    pid_t Start(std::vector<std::string> extraEnvironment = {}) const
    {
        std::vector<char*> environment;
        for (char** variable = environ; *variable; ++variable)
            if (std::strncmp(*variable, "DISPLAY=", 8) != 0 && std::strncmp(*variable, "WAYLAND_DISPLAY=", 16) != 0)
                environment.push_back(*variable);
        for (std::string& variable : extraEnvironment) environment.push_back(variable.data());
        environment.push_back(nullptr);
        std::string program = (path_ / kProbeName).string();
        char* argv[] = {program.data(), nullptr};
        pid_t pid = -1;
        if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environment.data()) != 0) return -1;
        return pid;
    }
    static int Wait(pid_t pid)
    {
        int status = 0;
        if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    int Run() const { return Wait(Start()); }

private:
    fs::path path_;
    std::vector<std::string> mounts_;
};

}  // namespace

TEST(SkinDeploy, FirstStartWritesTheWholeEngineHiddenAndNothingElse)
{
    RunFolder folder;
    folder.CopyProbe();
    ASSERT_EQ(folder.Run(), 0);
    EXPECT_EQ(FolderEntries(folder.Path()), (std::vector<std::string>{kEngineName, kProbeName}));
    EXPECT_EQ(ReadBytes(folder.Engine()), EngineImage());
    EXPECT_EQ(StoredDosAttributes(folder.Engine()), "0x2") << "hidden must be its only attribute";
}

// Where the file system has no unnamed files, the named temporary file still gives the same result.
TEST(SkinDeploy, WithoutUnnamedFilesTheNamedTemporaryWritesTheSameEngine)
{
    RunFolder folder;
    folder.CopyProbe();
    RunFolder marks;
    const fs::path refused = marks.Path() / "refused";
    ASSERT_EQ(RunFolder::Wait(folder.Start({std::string("LD_PRELOAD=") + NO_UNNAMED_FILES,
                                            "QY_REFUSAL_MARK=" + refused.string()})),
              0);
    ASSERT_TRUE(fs::exists(refused)) << "an unnamed file was never asked for";
    EXPECT_EQ(FolderEntries(folder.Path()), (std::vector<std::string>{kEngineName, kProbeName}));
    EXPECT_EQ(ReadBytes(folder.Engine()), EngineImage());
    EXPECT_EQ(StoredDosAttributes(folder.Engine()), "0x2") << "hidden must be its only attribute";
}

struct ExistingEntry {
    const char* what;
    std::function<void(const fs::path&)> make;
};

TEST(SkinDeploy, AnExistingEntryIsNeverTouched)
{
    const ExistingEntry cases[] = {
        {"a changed file", [](const fs::path& p) { WriteText(p, "not a library at all"); }},
        {"the engine, no longer hidden",
         [](const fs::path& p) {
             auto image = EngineImage();
             std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(image.data()),
                                                       static_cast<std::streamsize>(image.size()));
         }},
        {"an empty read-only file",
         [](const fs::path& p) {
             WriteText(p, "");
             setxattr(p.c_str(), "user.DOSATTRIB", "0x1", 3, 0);
             chmod(p.c_str(), 0444);
         }},
        {"a folder of that name", [](const fs::path& p) { fs::create_directory(p); }},
        {"a link to nowhere", [](const fs::path& p) { fs::create_symlink("missing-target", p); }},
    };
    for (const ExistingEntry& c : cases) {
        RunFolder folder;
        folder.CopyProbe();
        c.make(folder.Engine());
        struct stat before;
        ASSERT_EQ(lstat(folder.Engine().c_str(), &before), 0) << c.what;
        std::vector<uint8_t> bytes = fs::is_regular_file(folder.Engine()) ? ReadBytes(folder.Engine()) : std::vector<uint8_t>();
        std::string attributes = StoredDosAttributes(folder.Engine());
        auto entries = FolderEntries(folder.Path());

        ASSERT_EQ(folder.Run(), 0) << c.what;

        struct stat after;
        ASSERT_EQ(lstat(folder.Engine().c_str(), &after), 0) << c.what;
        EXPECT_EQ(after.st_ino, before.st_ino) << c.what << ": replaced";
        EXPECT_EQ(after.st_mode, before.st_mode) << c.what;
        EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec) << c.what;
        EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec) << c.what;
        if (fs::is_regular_file(folder.Engine())) {
            EXPECT_EQ(ReadBytes(folder.Engine()), bytes) << c.what;
        }
        EXPECT_EQ(StoredDosAttributes(folder.Engine()), attributes) << c.what;
        EXPECT_EQ(FolderEntries(folder.Path()), entries) << c.what << ": something was left beside it";
    }
}

TEST(SkinDeploy, TwoCopiesStartingAtOnceLeaveOneWholeEngine)
{
    for (int round = 0; round < 10; ++round) {
        RunFolder folder;
        folder.CopyProbe();
        pid_t first = folder.Start();
        pid_t second = folder.Start();
        EXPECT_EQ(RunFolder::Wait(first), 0);
        EXPECT_EQ(RunFolder::Wait(second), 0);
        EXPECT_EQ(FolderEntries(folder.Path()), (std::vector<std::string>{kEngineName, kProbeName})) << "round " << round;
        EXPECT_EQ(ReadBytes(folder.Engine()), EngineImage()) << "round " << round;
        EXPECT_EQ(StoredDosAttributes(folder.Engine()), "0x2") << "round " << round;
    }
}

struct UnwritableFolder {
    const char* what;
    // Makes the folder refuse the engine's bytes; false with a reason to skip when this machine cannot.
    std::function<bool(RunFolder&, std::string& why)> prepare;
};

TEST(SkinDeploy, AFailedWriteLeavesNoEngineAndNoTemporaryFile)
{
    const UnwritableFolder cases[] = {
        {"a disk that fills up halfway through",
         [](RunFolder& folder, std::string& why) {
             // Room for the probe and a part of the engine only.
             auto probeSize = fs::file_size(SKIN_DEPLOY_PROBE);
             std::string options = "size=" + std::to_string(probeSize + 64 * 1024);
             if (mount("tmpfs", folder.Path().c_str(), "tmpfs", 0, options.c_str()) != 0) {
                 why = std::string("cannot mount a small file system: ") + std::strerror(errno);
                 return false;
             }
             folder.NoteMount(folder.Path());
             folder.CopyProbe();
             struct statvfs space;
             statvfs(folder.Path().c_str(), &space);
             auto free = space.f_bavail * space.f_frsize;
             EXPECT_GT(free, 0u);
             EXPECT_LT(free, EngineImage().size()) << "the engine would fit";
             return true;
         }},
        {"a read-only folder",
         [](RunFolder& folder, std::string& why) {
             folder.CopyProbe();
             const char* path = folder.Path().c_str();
             if (mount(path, path, nullptr, MS_BIND, nullptr) != 0) {
                 why = std::string("cannot bind-mount: ") + std::strerror(errno);
                 return false;
             }
             folder.NoteMount(folder.Path());
             if (mount(nullptr, path, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
                 why = std::string("cannot make a mount read-only: ") + std::strerror(errno);
                 return false;
             }
             return true;
         }},
    };
    std::string skipped;
    for (const UnwritableFolder& c : cases) {
        RunFolder folder;
        std::string why;
        if (!c.prepare(folder, why)) {
            skipped += std::string(c.what) + ": " + why + "\n";
            continue;
        }
        EXPECT_EQ(folder.Run(), 0) << c.what;
        EXPECT_EQ(FolderEntries(folder.Path()), std::vector<std::string>{kProbeName}) << c.what;
    }
    if (!skipped.empty()) GTEST_SKIP() << skipped;
}
