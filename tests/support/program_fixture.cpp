#include "tests/support/program_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

namespace fs = std::filesystem;

std::string Utf8(const char8_t* text)
{
    return reinterpret_cast<const char*>(text);
}

const std::string kWindowTitle = Utf8(u8"霜岭群英录青柚修改器v3.6最新版");
const std::string kUpdateBoxTitle = Utf8(u8"信息：");
const std::string kFatalBoxTitle = Utf8(u8"错误");
const std::string kEngineName = "SkinH_EL.dll";

std::string ReadFile(const std::string& path)
{
    std::ifstream input(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>()};
}

std::string Describe(const ExitStatus& status)
{
    return (status.exited ? "exit code " : "signal ") + std::to_string(status.code);
}

void ProgramRun::SetUp()
{
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "needs an X display: run under xvfb-run";
    runDirectory_ = scratch_.Path() + "/run";
    for (const std::string& folder : {runDirectory_, scratch_.Path() + "/cache", scratch_.Path() + "/data",
                                      scratch_.Path() + "/config"})
        fs::create_directories(folder);
}

void ProgramRun::TearDown()
{
    if (HasFailure()) {
        std::cout << "--- program output\n" << ReadFile(OutputPath());
        std::cout << "--- server output\n" << ReadFile(scratch_.Path() + "/server.out");
    }
}

void ProgramRun::StartServer(const std::vector<std::string>& arguments)
{
    using namespace std::chrono_literals;
    const std::string ready = scratch_.Path() + "/server.ready";
    std::vector<std::string> argv = {"python3", files_.localServer, "--port", "8713", "--ready-file", ready};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    // Another run on this machine may hold the port for a while: try again until it is free.
    for (int attempt = 0; attempt < 12; ++attempt) {
        server_.emplace(ChildProcess::Options{argv, "", {}, scratch_.Path() + "/server.out"});
        if (WaitForFile(ready, 20s))
            return;
        if (server_->WaitForExit(0ms))
            std::this_thread::sleep_for(5s);
    }
    FAIL() << "the local server did not start (is port 8713 taken?)";
}

std::vector<std::pair<std::string, std::string>> ProgramRun::ProgramEnvironment(const std::string& libraryPath) const
{
    return {{"LD_LIBRARY_PATH", libraryPath},
            {"PATH", opener_.SearchPath()},
            {"XDG_CACHE_HOME", scratch_.Path() + "/cache"},
            {"XDG_DATA_HOME", scratch_.Path() + "/data"},
            {"XDG_CONFIG_HOME", scratch_.Path() + "/config"}};
}

std::string ProgramRun::ProgramInRunDirectory() const
{
    return runDirectory_ + "/" + fs::path(files_.program).filename().string();
}
