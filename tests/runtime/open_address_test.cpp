// Opening an address: handed over as one argument, without a shell, and not waited for.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "runtime/runtime.h"
#include "tests/runtime/temporary_folder.h"

namespace {

namespace fs = std::filesystem;

std::string U8(const char8_t* text)
{
    return reinterpret_cast<const char*>(text);
}

// Stands in for the desktop's opener. It waits until the test opens the gate, which the test
// does only once OpenAddress has returned, then reports what it was given.
constexpr const char* kStandIn = R"(#!/bin/sh
state=open
tries=0
while [ ! -e "$OPEN_ADDRESS_GATE" ]; do
    tries=$((tries + 1))
    if [ $tries -gt 300 ]; then state=never-opened; break; fi
    sleep 0.1
done
{ printf '%s\n%s\n%s\n' "$state" "$PPID" "$$"
  printf 'GDK_GL=%s WEBKIT_DISABLE_COMPOSITING_MODE=%s\n' "${GDK_GL-<unset>}" "${WEBKIT_DISABLE_COMPOSITING_MODE-<unset>}"
  printf '%s\0' "$@"; } > "$OPEN_ADDRESS_LOG.part"
mv "$OPEN_ADDRESS_LOG.part" "$OPEN_ADDRESS_LOG"
)";

struct OpenerReport {
    std::string state = "<no report>";
    pid_t parent = 0;
    pid_t self = 0;
    std::string toolkitSettings;  // as the opener saw them
    std::vector<std::string> arguments;
};

std::string ToolkitSettingsText(const char* gdkGl, const char* compositingMode)
{
    return std::string("GDK_GL=") + (gdkGl ? gdkGl : "<unset>") +
           " WEBKIT_DISABLE_COMPOSITING_MODE=" + (compositingMode ? compositingMode : "<unset>");
}

// As the user left them: read before any test starts the toolkit, which adds its own.
const std::string kUsersToolkitSettings =
    ToolkitSettingsText(std::getenv("GDK_GL"), std::getenv("WEBKIT_DISABLE_COMPOSITING_MODE"));

bool WaitFor(auto condition)
{
    // Only a limit against a hang; the order of events is what the test checks.
    for (int i = 0; i < 1200; ++i) {
        if (condition())
            return true;
        usleep(50 * 1000);
    }
    return false;
}

OpenerReport ReadReport(const std::string& path)
{
    OpenerReport report;
    std::ifstream file(path, std::ios::binary);
    std::string parent, self;
    if (!std::getline(file, report.state) || !std::getline(file, parent) || !std::getline(file, self) ||
        !std::getline(file, report.toolkitSettings))
        return report;
    report.parent = std::stoi(parent);
    report.self = std::stoi(self);
    for (std::string argument; std::getline(file, argument, '\0');)
        report.arguments.push_back(argument);
    return report;
}

bool GoneOrZombie(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string content;
    if (!std::getline(stat, content))
        return true;
    size_t end = content.rfind(')');
    return end != std::string::npos && content.substr(end + 2, 1) == "Z";
}

class OpenAddressTest : public testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directory(folder_ / "bin");
        std::ofstream(folder_ / "bin/xdg-open") << kStandIn;
        fs::permissions(folder_ / "bin/xdg-open", fs::perms::owner_all, fs::perm_options::add);
        const char* path = std::getenv("PATH");
        savedPath_ = path ? path : "";
        setenv("PATH", (folder_ / "bin:" + savedPath_).c_str(), 1);
        setenv("OPEN_ADDRESS_LOG", (folder_ / "opened").c_str(), 1);
        setenv("OPEN_ADDRESS_GATE", (folder_ / "gate").c_str(), 1);
    }
    void TearDown() override
    {
        setenv("PATH", savedPath_.c_str(), 1);
        unsetenv("OPEN_ADDRESS_LOG");
        unsetenv("OPEN_ADDRESS_GATE");
    }

    // Opens the address, then lets the stand-in go on, and returns its report.
    OpenerReport Open(const std::string& address)
    {
        std::string log = folder_ / "opened";
        std::remove(log.c_str());
        std::remove((folder_ / "gate").c_str());
        OpenAddress(address.c_str());
        EXPECT_FALSE(fs::exists(log)) << "the opener ran to its end before OpenAddress returned";
        std::ofstream(folder_ / "gate") << "";
        EXPECT_TRUE(WaitFor([&] { return fs::exists(log); })) << "the opener never reported";
        return ReadReport(log);
    }

    TemporaryFolder folder_;
    std::string savedPath_;
};

TEST_F(OpenAddressTest, HandsOverTheAddressAsOneUtf8ArgumentWithoutWaiting)
{
    std::string injected = folder_ / "injected";
    std::string tail = " x.exe?q=\"a b\";$(touch " + injected + ")&r='y'|`touch " + injected + "`";
    struct Case {
        const char* what;
        std::string address;  // code page 936, as the program holds it
        std::string expected;
    };
    const Case cases[] = {
        {"quotes, separators and substitutions", "http://127.0.0.1/下载/青柚" + tail,
         U8(u8"http://127.0.0.1/下载/青柚") + tail},
        {"the empty address", "", ""},
    };
    for (const Case& c : cases) {
        OpenerReport report = Open(c.address);
        EXPECT_EQ(report.state, "open") << c.what << ": OpenAddress waited for the opener";
        EXPECT_EQ(report.arguments, std::vector<std::string>{c.expected}) << c.what;
        EXPECT_NE(report.parent, getpid()) << c.what << ": the opener is our own child, left for us to reap";
        EXPECT_FALSE(fs::exists(injected)) << c.what << ": the address went through a shell";

        ASSERT_GT(report.self, 0) << c.what;
        EXPECT_TRUE(WaitFor([&] { return GoneOrZombie(report.self); })) << c.what;
        int status = 0;
        EXPECT_LE(waitpid(-1, &status, WNOHANG), 0) << c.what << ": a finished child of ours was not reaped";
    }
}

// The toolkit's settings are this process's own: the opener, and a browser it may start, get the
// environment the user gave us.
TEST_F(OpenAddressTest, TheOpenerGetsTheUsersEnvironmentNotTheToolkitSettings)
{
    platform::InitToolkit();
    EXPECT_NE(ToolkitSettingsText(std::getenv("GDK_GL"), std::getenv("WEBKIT_DISABLE_COMPOSITING_MODE")),
              ToolkitSettingsText(nullptr, nullptr))
        << "the toolkit started without its settings";
    OpenerReport report = Open("http://127.0.0.1/");
    EXPECT_EQ(report.state, "open");
    EXPECT_EQ(report.toolkitSettings, kUsersToolkitSettings);
}

}  // namespace
