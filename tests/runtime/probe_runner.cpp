#include "tests/runtime/probe_runner.h"

#include <glib.h>
#include <sys/wait.h>

#include <algorithm>
#include <sstream>

namespace {

std::string Unescape(const std::string& value)
{
    std::string plain;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            plain += value[i];
            continue;
        }
        char next = value[++i];
        plain += next == 'r' ? '\r' : next == 'n' ? '\n' : next;
    }
    return plain;
}

}  // namespace

std::string ProgramRun::Value(const std::string& key) const
{
    for (const auto& [k, v] : lines) {
        if (k == key)
            return v;
    }
    return "<none>";
}

size_t ProgramRun::Count(const std::string& key) const
{
    return std::count_if(lines.begin(), lines.end(), [&](const auto& line) { return line.first == key; });
}

int ProgramRun::PositionOf(const std::string& key, const std::string& value) const
{
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].first == key && lines[i].second == value)
            return static_cast<int>(i);
    }
    return -1;
}

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::string& workingDirectory)
{
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    ProgramRun run;
    gchar* out = nullptr;
    gchar* err = nullptr;
    gint status = 0;
    GError* error = nullptr;
    run.started = g_spawn_sync(workingDirectory.empty() ? nullptr : workingDirectory.c_str(), argv.data(), nullptr,
                               G_SPAWN_DEFAULT, nullptr, nullptr, &out, &err, &status, &error);
    if (!run.started) {
        run.errorOutput = error ? error->message : "spawn failed";
        g_clear_error(&error);
        return run;
    }
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.errorOutput = err ? err : "";
    std::istringstream output(out ? out : "");
    for (std::string line; std::getline(output, line);) {
        size_t equals = line.find('=');
        if (equals != std::string::npos)
            run.lines.emplace_back(line.substr(0, equals), Unescape(line.substr(equals + 1)));
    }
    g_free(out);
    g_free(err);
    return run;
}

std::string Describe(const ProgramRun& run)
{
    std::string text = "exit code " + std::to_string(run.exitCode) + "\n";
    for (const auto& [key, value] : run.lines)
        text += "  " + key + "=" + value + "\n";
    if (!run.errorOutput.empty())
        text += "standard error:\n" + run.errorOutput;
    return text;
}
