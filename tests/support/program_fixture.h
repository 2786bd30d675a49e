// Shared by the suites that run the real program: its titles, and a fixture with a scratch run directory and the local server.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/program_runner.h"

// The bytes of a u8 literal, whatever the execution character set of the test.
std::string Utf8(const char8_t* text);

extern const std::string kWindowTitle;
extern const std::string kUpdateBoxTitle;
extern const std::string kFatalBoxTitle;
extern const std::string kEngineName;
inline constexpr int kFatalExitCode = 255;

std::string ReadFile(const std::string& path);
// "exit code N" or "signal N", for failure messages.
std::string Describe(const ExitStatus& status);

// Where the build put what the fixture runs.
struct ProgramFiles {
    std::string program;       // the built executable, copied into the run directory
    std::string libraryDir;    // the built libraries, found by name through LD_LIBRARY_PATH
    std::string localServer;   // server/local_server.py
};

class ProgramRun : public ::testing::Test {
protected:
    explicit ProgramRun(ProgramFiles files) : files_(std::move(files)) {}

    void SetUp() override;
    // Shows the program's and the server's output when the test failed.
    void TearDown() override;

    // Starts the local server with these arguments and waits until it listens.
    void StartServer(const std::vector<std::string>& arguments);

    // The environment of a start: libraries not beside the program are looked for in `libraryPath`.
    std::vector<std::pair<std::string, std::string>> ProgramEnvironment(const std::string& libraryPath) const;
    std::string ProgramInRunDirectory() const;
    std::string OutputPath() const { return scratch_.Path() + "/program.out"; }

    ProgramFiles files_;
    TemporaryDirectory scratch_;
    RecordingOpener opener_;
    std::string runDirectory_;
    std::optional<ChildProcess> server_;
};
