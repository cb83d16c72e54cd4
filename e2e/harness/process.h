#pragma once

// Starting and stopping child processes for the harness: each child leads its
// own process group and gets SIGTERM from the kernel when the test dies.

#include "harness.h"

#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace e2e::detail {

struct SpawnRequest {
    std::filesystem::path executable;        // searched in PATH when it has no '/'
    std::vector<std::string> args;           // argv[1..]
    std::vector<std::string> environment;    // complete, "NAME=value"
    std::filesystem::path workingDirectory;  // empty: the test's
    std::filesystem::path outputFile;        // stdout and stderr; empty: /dev/null
    int passFd = -1;                         // handed to the child as fd 3
};

// Starts the process; throws when it cannot be executed.
pid_t spawn(const SpawnRequest &request);

std::vector<std::string> currentEnvironment();
void setVariable(std::vector<std::string> &environment, const std::string &name, const std::string &value);
void unsetVariable(std::vector<std::string> &environment, const std::string &name);

// The exit status once the process has exited, without reaping it (so its
// process group id stays reserved): exit code, or 128 + signal. *signal gets
// the signal number or 0.
std::optional<int> peekExit(pid_t pid, int *signal = nullptr);

// Stops the process group led by pid: `first` to the group, up to `grace`
// for the leader to exit, then SIGKILL to what is left of the group, and
// reaps the leader. Safe to call for a leader that has already exited but
// has not been reaped. Returns the leader's exit status as peekExit does
// (std::nullopt if it could not be had).
std::optional<int> stopProcessGroup(pid_t pid, int first, Milliseconds grace, int *signal = nullptr);

// The last lines of a log file, for error messages.
std::string logTail(const std::filesystem::path &path, int lines = 15);

} // namespace e2e::detail
