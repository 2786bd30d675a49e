// Storage that cannot be had ends the program with a message naming the size asked for.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>

#include "tests/values/fatal_error_capture.h"
#include "values/values.h"

namespace {

struct ChildOutcome {
    int exitCode = -1;  // -1 when the child did not exit normally
    std::string fatalMessage;
};

// Runs `body` in a child whose fatal errors come back through a pipe.
ChildOutcome RunInChild(const std::function<void()>& body) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        gFatalErrorMessageFd = fds[1];
        body();
        _exit(0);
    }
    close(fds[1]);
    ChildOutcome outcome;
    char buffer[256];
    ssize_t got;
    while ((got = read(fds[0], buffer, sizeof buffer)) > 0) outcome.fatalMessage.append(buffer, static_cast<size_t>(got));
    close(fds[0]);
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
    return outcome;
}

// "分配 <n> 字节内存失败!" in code page 936, spelt out so that the compiler's charset is checked too.
std::string AllocationMessage(const std::string& bytesAsked) {
    return "\xB7\xD6\xC5\xE4 " + bytesAsked + " \xD7\xD6\xBD\xDA\xC4\xDA\xB4\xE6\xCA\xA7\xB0\xDC!";
}

// A text of 2^30 - 1 'a's that takes 1 MiB of memory: one small file mapped again and again.
const char* HugeTextSharingOnePage() {
    constexpr size_t kChunk = size_t{1} << 20;
    constexpr size_t kTotal = size_t{1} << 30;
    int filled = memfd_create("letters", 0);
    int ending = memfd_create("letters_then_nul", 0);
    if (filled < 0 || ending < 0 || ftruncate(filled, kChunk) != 0 || ftruncate(ending, kChunk) != 0) return nullptr;
    std::string chunk(kChunk, 'a');
    if (pwrite(filled, chunk.data(), kChunk, 0) != static_cast<ssize_t>(kChunk)) return nullptr;
    chunk.back() = '\0';
    if (pwrite(ending, chunk.data(), kChunk, 0) != static_cast<ssize_t>(kChunk)) return nullptr;
    void* area = mmap(nullptr, kTotal, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (area == MAP_FAILED) return nullptr;
    auto* base = static_cast<char*>(area);
    for (size_t offset = 0; offset < kTotal; offset += kChunk) {
        int fd = offset + kChunk == kTotal ? ending : filled;
        if (mmap(base + offset, kChunk, PROT_READ, MAP_SHARED | MAP_FIXED, fd, 0) == MAP_FAILED) return nullptr;
    }
    return base;
}

TEST(AllocationFailure, EndsWithTheSizeAskedFor) {
    ChildOutcome outcome = RunInChild([] {
        rlimit limit{size_t{1} << 30, size_t{1} << 30};
        setrlimit(RLIMIT_AS, &limit);
        Text blanks = BlankText(2000000000);
    });
    EXPECT_EQ(outcome.exitCode, kFatalErrorExitCode) << "BlankText(2000000000) under a 1 GiB address-space limit";
    EXPECT_EQ(outcome.fatalMessage, AllocationMessage("2000000001"));
    EXPECT_EQ(outcome.fatalMessage, "分配 2000000001 字节内存失败!") << "the literal as the program writes it";
}

// Totals that do not fit a 32-bit count are refused before anything is copied.
TEST(AllocationFailure, JoinedTotalsBeyondACount) {
    ChildOutcome texts = RunInChild([] {
        const char* huge = HugeTextSharingOnePage();
        if (huge == nullptr) _exit(3);
        Text joined = JoinText({huge, huge, huge});
    });
    ASSERT_NE(texts.exitCode, 3) << "could not map the huge text";
    EXPECT_EQ(texts.exitCode, kFatalErrorExitCode) << "JoinText of three texts of 2^30 - 1 bytes";
    EXPECT_EQ(texts.fatalMessage, AllocationMessage("3221225470"));

    ChildOutcome arrays = RunInChild([] {
        // Blocks that only claim their counts: nothing behind the header may be read.
        const uint8_t claimsMost[8] = {1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F};
        const uint8_t claimsTwo[8] = {1, 0, 0, 0, 2, 0, 0, 0};
        ByteArray joined = JoinBytes({BytesRef(claimsMost), BytesRef(claimsTwo)});
    });
    EXPECT_EQ(arrays.exitCode, kFatalErrorExitCode) << "JoinBytes of counts 0x7FFFFFFF and 2";
    EXPECT_EQ(arrays.fatalMessage, AllocationMessage("2147483657"));
}

}  // namespace
