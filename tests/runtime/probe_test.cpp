// Binding by name, the ends of the program and the run directory, seen from a probe process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/runtime/probe_runner.h"
#include "tests/runtime/temporary_folder.h"

namespace {

namespace fs = std::filesystem;

std::string U8(const char8_t* text)
{
    return reinterpret_cast<const char*>(text);
}

std::string ProbeFolder()
{
    return fs::canonical(PROBE_PROGRAM).parent_path().string();
}

bool HaveDisplay()
{
    const char* display = std::getenv("DISPLAY");
    return display && *display;
}

void ExpectSearchPathIsSet()
{
    const char* path = std::getenv("LD_LIBRARY_PATH");
    ASSERT_TRUE(path && std::string(path).find(PROBE_SEARCH_DIRECTORY) != std::string::npos)
        << "run through ctest, which puts " << PROBE_SEARCH_DIRECTORY << " on LD_LIBRARY_PATH";
}

struct BindingCase {
    const char* what;
    std::vector<std::string> arguments;
    const char* expectedCopy;
};

TEST(LibraryBinding, FindsTheCopyThatTheSearchOrderNames)
{
    ExpectSearchPathIsSet();
    const BindingCase cases[] = {
        {"the copy in the run directory wins over the search path", {"bind", "probe.dll"}, "beside-probe"},
        {"a library only on the search path is found", {"bind", "searchonly.dll"}, "search-only"},
        {"a name holding a slash is loaded by that name alone",
         {"bind", std::string(PROBE_SEARCH_DIRECTORY) + "/probe.dll"}, "search-path"},
        // Preloading on a thread of its own must not change which copy is bound.
        {"preloaded, the run directory still wins", {"bind-preloaded", "probe.dll"}, "beside-probe"},
        {"preloaded, a library only on the search path", {"bind-preloaded", "searchonly.dll"}, "search-only"},
    };
    for (const BindingCase& c : cases) {
        ProgramRun run = RunProbe(c.arguments, "/");
        EXPECT_EQ(run.exitCode, 0) << c.what << "\n" << Describe(run);
        EXPECT_EQ(run.Value("which"), c.expectedCopy) << c.what << "\n" << Describe(run);
    }
}

TEST(LibraryBinding, BindsAtTheFirstCallAndNeverLooksAgain)
{
    TemporaryFolder folder;
    std::string copy = folder / "probe.dll";
    fs::copy_file(std::string(PROBE_SEARCH_DIRECTORY) + "/probe.dll", copy);

    ProgramRun run = RunProbe({"bind-twice", copy});
    EXPECT_EQ(run.exitCode, 0) << Describe(run);
    EXPECT_EQ(run.Value("first"), "search-path") << Describe(run);
    EXPECT_EQ(run.Value("removed"), "yes") << Describe(run);
    EXPECT_EQ(run.Value("second"), "search-path") << Describe(run);
    EXPECT_EQ(run.Value("same-address"), "yes") << Describe(run);
}

TEST(LibraryBinding, EachDeclarationHoldsItsOwnModule)
{
    ProgramRun run = RunProbe({"own-modules", "probe.dll"});
    EXPECT_EQ(run.exitCode, 0) << Describe(run);
    EXPECT_EQ(run.Value("loaded-after-first-release"), "yes") << Describe(run);
    EXPECT_EQ(run.Value("second-still-answers"), "beside-probe") << Describe(run);
    EXPECT_EQ(run.Value("loaded-after-second-release"), "no") << Describe(run);
}

TEST(LibraryBinding, UnloadingReleasesTheProgramsDeclarations)
{
    ProgramRun run = RunProbe({"unload-table"});
    EXPECT_EQ(run.exitCode, 0) << Describe(run);
    EXPECT_EQ(run.Value("attach"), "43") << Describe(run);
    EXPECT_EQ(run.Value("bound-from"), ProbeFolder() + "/SkinH_EL.dll") << Describe(run);
    EXPECT_EQ(run.Value("loaded-after-unload"), "no") << Describe(run);
    EXPECT_EQ(run.Value("bound-after-unload"), "no") << Describe(run);
}

struct FatalCase {
    const char* what;
    std::vector<std::string> arguments;
    std::string expectedText;  // UTF-8
};

std::string BindingFailure(const char8_t* library, const char8_t* exportName)
{
    return U8(u8"运行时出错!\r\n\r\n错误信息：无法找到指定DLL库文件“") + U8(library) + U8(u8"”中的输出命令“") +
           U8(exportName) + U8(u8"”\r\n");
}

TEST(FatalRuntimeError, ShowsTheErrorBoxThenEndsWithoutTheExitCallback)
{
    const FatalCase cases[] = {
        // a declaration that cannot be bound
        {"export missing", {"bind", "probe.dll", "Missing"}, BindingFailure(u8"probe.dll", u8"Missing")},
        {"library missing", {"bind", "absent.dll", "WhichCopy"}, BindingFailure(u8"absent.dll", u8"WhichCopy")},
        {"preloaded, export missing", {"bind-preloaded", "probe.dll", "Missing"},
         BindingFailure(u8"probe.dll", u8"Missing")},
        {"preloaded, library missing", {"bind-preloaded", "absent.dll", "WhichCopy"},
         BindingFailure(u8"absent.dll", u8"WhichCopy")},
        {"an ordinal", {"bind", "probe.dll", "#1"}, BindingFailure(u8"probe.dll", u8"#1")},
        {"a path that is not there, though the bare name would be found",
         {"bind", "/nonexistent/probe.dll"}, BindingFailure(u8"/nonexistent/probe.dll", u8"WhichCopy")},
        // the error code line and the message line
        {"error code 6", {"fatal", "6", "调用DLL命令后发现堆栈错误"},
         U8(u8"运行时出错!\r\n\r\n错误代码：6\r\n\r\n错误信息：调用DLL命令后发现堆栈错误\r\n")},
        {"no code, no message", {"fatal", "0", ""}, U8(u8"运行时出错!\r\n\r\n")},
    };
    for (const FatalCase& c : cases) {
        SCOPED_TRACE(c.what);
        ProgramRun run = RunProbe(c.arguments);
        EXPECT_EQ(run.exitCode, 255) << Describe(run);
        EXPECT_EQ(run.Count("callback"), 0u) << Describe(run);
        EXPECT_EQ(run.Count("which"), 0u) << Describe(run);
        if (!HaveDisplay()) {
            // Without a display the box text goes to standard error.
            EXPECT_NE(run.errorOutput.find(c.expectedText), std::string::npos) << Describe(run);
            continue;
        }
        EXPECT_EQ(run.Value("box.text"), c.expectedText) << Describe(run);
        EXPECT_EQ(run.Value("box.caption"), U8(u8"错误")) << Describe(run);
        EXPECT_EQ(run.Value("box.icon"), "dialog-error") << Describe(run);
        EXPECT_EQ(run.Value("box.buttons"), U8(u8"确定")) << Describe(run);
        EXPECT_EQ(run.Count("box.text"), 1u) << Describe(run);
    }
}

TEST(EndProgram, RunsTheExitCallbackOnceBeforeReleasingLibraries)
{
    ProgramRun run = RunProbe({"end-program", "7"});
    EXPECT_EQ(run.exitCode, 7) << Describe(run);
    EXPECT_EQ(run.Count("callback"), 1u) << Describe(run);
    int callback = run.PositionOf("callback", "ran");
    int unloaded = run.PositionOf("library", "unloaded");
    EXPECT_GE(unloaded, 0) << "the bound library was never released\n" << Describe(run);
    EXPECT_LT(callback, unloaded) << Describe(run);
    EXPECT_EQ(run.Count("box"), 0u) << Describe(run);
}

TEST(RunDirectory, IsTheProgramsFolderAndBecomesTheCurrentDirectory)
{
    ProgramRun run = RunProbe({"run-directory"}, "/");
    EXPECT_EQ(run.exitCode, 0) << Describe(run);
    EXPECT_EQ(run.Value("run-directory"), ProbeFolder()) << Describe(run);
    EXPECT_EQ(run.Value("current-directory"), ProbeFolder()) << Describe(run);
}

TEST(RunDirectory, SurvivesAFolderPathLongerThanOldPathBuffers)
{
    TemporaryFolder base;
    fs::path folder = base.Path();
    for (char c : {'a', 'b', 'c'})
        folder /= std::string(100, c);
    fs::create_directories(folder);
    ASSERT_GT(folder.string().size(), 300u);
    fs::copy_file(PROBE_PROGRAM, folder / "runtime_probe");
    fs::copy_file(ProbeFolder() + "/probe.dll", folder / "probe.dll");
    std::string program = (folder / "runtime_probe").string();

    std::string expected = fs::canonical(folder).string();
    ProgramRun run = RunProgram(program, {"run-directory"}, "/");
    EXPECT_EQ(run.Value("run-directory"), expected) << Describe(run);
    EXPECT_EQ(run.Value("current-directory"), expected) << Describe(run);

    // The copy beside it is bound through the long run directory.
    ProgramRun bound = RunProgram(program, {"bind", "probe.dll"}, "/");
    EXPECT_EQ(bound.Value("which"), "beside-probe") << Describe(bound);
}

TEST(ProcessPendingEvents, APendingQuitStopsTheDispatchAndStaysForTheMessageLoop)
{
    ProgramRun run = RunProbe({"quit-pending"});
    EXPECT_EQ(run.exitCode, 0) << Describe(run);
    EXPECT_EQ(run.Count("idle"), 0u) << "an event was dispatched past the pending quit\n" << Describe(run);
    EXPECT_EQ(run.Value("quit-still-pending"), "yes") << Describe(run);
    EXPECT_EQ(run.Value("message-loop"), "returned") << Describe(run);
}

}  // namespace
