// Starts a program without a shell and collects its "key=value" report lines.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct ProgramRun {
    bool started = false;
    int exitCode = -1;  // 128 + signal when it was killed
    std::string errorOutput;
    std::vector<std::pair<std::string, std::string>> lines;  // in the order reported, unescaped

    // The first value reported under the key, or "<none>".
    std::string Value(const std::string& key) const;
    size_t Count(const std::string& key) const;
    // The position of the first line with this key and value, or -1.
    int PositionOf(const std::string& key, const std::string& value) const;
};

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::string& workingDirectory = {});

inline ProgramRun RunProbe(const std::vector<std::string>& arguments, const std::string& workingDirectory = {})
{
    return RunProgram(PROBE_PROGRAM, arguments, workingDirectory);
}

// Text of the form the probe reports, for messages and comparisons.
std::string Describe(const ProgramRun& run);
