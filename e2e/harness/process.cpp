#include "process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <linux/close_range.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace e2e::detail {

namespace {

std::filesystem::path resolveExecutable(const std::filesystem::path &name)
{
    if (name.string().find('/') != std::string::npos)
        return name;
    const char *path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/local/bin:/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (dir.empty())
            dir = ".";
        const auto candidate = std::filesystem::path(dir) / name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    throw Error("cannot start " + name.string() + ": not found in PATH");
}

// What the child reports through the close-on-exec pipe when it fails
// before or at exec.
struct ChildFailure {
    int stage;  // 0 output file, 1 working directory, 2 exec
    int error;
};

[[noreturn]] void childFail(int pipeFd, int stage)
{
    const ChildFailure failure{stage, errno};
    [[maybe_unused]] auto written = write(pipeFd, &failure, sizeof failure);
    _exit(127);
}

} // namespace

pid_t spawn(const SpawnRequest &request)
{
    const auto executable = resolveExecutable(request.executable);

    // Everything the child needs is prepared here: between fork and exec only
    // async-signal-safe calls are allowed.
    std::vector<std::string> argStrings{request.executable.string()};
    argStrings.insert(argStrings.end(), request.args.begin(), request.args.end());
    std::vector<char *> argv;
    for (auto &a : argStrings)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStrings = request.environment;
    std::vector<char *> envp;
    for (auto &e : envStrings)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string outputPath = request.outputFile.empty() ? "/dev/null" : request.outputFile.string();
    const std::string workDir = request.workingDirectory.string();

    int failurePipe[2];
    if (pipe2(failurePipe, O_CLOEXEC) != 0)
        throw Error(std::string("pipe2: ") + std::strerror(errno));
    const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t parent = getpid();

    const pid_t pid = fork();
    if (pid < 0) {
        const int error = errno;
        close(failurePipe[0]);
        close(failurePipe[1]);
        if (devNull >= 0)
            close(devNull);
        throw Error("cannot start " + executable.string() + ": fork: " + std::strerror(error));
    }
    if (pid == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(127); // the test died before we could ask to follow it
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int sig : {SIGPIPE, SIGCHLD, SIGINT, SIGTERM, SIGHUP, SIGQUIT})
            signal(sig, SIG_DFL);

        int failFd = failurePipe[1];
        const int out = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (out < 0)
            childFail(failFd, 0);
        if (devNull >= 0)
            dup2(devNull, 0);
        dup2(out, 1);
        dup2(out, 2);
        if (request.passFd >= 0) {
            if (failFd == 3)
                failFd = fcntl(failFd, F_DUPFD_CLOEXEC, 4); // fd 3 is for passFd
            if (request.passFd == 3)
                fcntl(3, F_SETFD, 0);
            else
                dup2(request.passFd, 3); // the duplicate is not close-on-exec
        }
        // Nothing else of the test's leaks into the child.
        close_range(request.passFd >= 0 ? 4 : 3, ~0U, CLOSE_RANGE_CLOEXEC);
        if (!workDir.empty() && chdir(workDir.c_str()) != 0)
            childFail(failFd, 1);
        execve(executable.c_str(), argv.data(), envp.data());
        childFail(failFd, 2);
    }

    setpgid(pid, pid); // also from here, so the group exists before we return
    close(failurePipe[1]);
    if (devNull >= 0)
        close(devNull);
    ChildFailure failure{};
    ssize_t got;
    do
        got = read(failurePipe[0], &failure, sizeof failure);
    while (got < 0 && errno == EINTR);
    close(failurePipe[0]);
    if (got == static_cast<ssize_t>(sizeof failure)) {
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        const std::string what = failure.stage == 0   ? "cannot open output file " + outputPath
                                 : failure.stage == 1 ? "cannot enter " + workDir
                                                      : std::string("cannot execute it");
        throw Error("cannot start " + executable.string() + ": " + what + ": " + std::strerror(failure.error));
    }
    return pid;
}

std::vector<std::string> currentEnvironment()
{
    std::vector<std::string> result;
    for (char **e = environ; e && *e; ++e)
        result.emplace_back(*e);
    return result;
}

void unsetVariable(std::vector<std::string> &environment, const std::string &name)
{
    const std::string prefix = name + "=";
    std::erase_if(environment, [&](const std::string &e) { return e.starts_with(prefix); });
}

void setVariable(std::vector<std::string> &environment, const std::string &name, const std::string &value)
{
    unsetVariable(environment, name);
    environment.push_back(name + "=" + value);
}

std::optional<int> peekExit(pid_t pid, int *signal)
{
    siginfo_t info{};
    int rc;
    do
        rc = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
    while (rc < 0 && errno == EINTR);
    if (rc < 0)
        throw Error("waitid(" + std::to_string(pid) + "): " + std::strerror(errno));
    if (info.si_pid == 0)
        return std::nullopt;
    const bool exited = info.si_code == CLD_EXITED;
    if (signal)
        *signal = exited ? 0 : info.si_status;
    return exited ? info.si_status : 128 + info.si_status;
}

std::optional<int> stopProcessGroup(pid_t pid, int first, Milliseconds grace, int *signal)
{
    if (pid <= 0)
        return std::nullopt;
    std::optional<int> status;
    bool ours = true;
    auto exited = [&] {
        try {
            status = peekExit(pid, signal);
        } catch (const Error &) {
            ours = false; // not our child (any more): nothing to wait for
        }
        return status || !ours;
    };
    if (!exited()) {
        killpg(pid, first);
        const auto deadline = std::chrono::steady_clock::now() + grace;
        while (!exited() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(5ms);
    }
    if (!ours)
        return std::nullopt;
    // The unreaped leader keeps the group id reserved, so this reaches only
    // our own leftovers.
    killpg(pid, SIGKILL);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        int raw = 0;
        const pid_t rc = waitpid(pid, &raw, WNOHANG);
        if (rc == pid) {
            if (!status) {
                const bool normal = WIFEXITED(raw);
                if (signal)
                    *signal = normal ? 0 : WTERMSIG(raw);
                status = normal ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            }
            return status;
        }
        if (rc < 0 && errno != EINTR)
            return status;
        std::this_thread::sleep_for(5ms);
    }
    return status;
}

std::string logTail(const std::filesystem::path &path, int lines)
{
    std::string text;
    try {
        text = readFile(path);
    } catch (const Error &) {
        return "(no log)";
    }
    std::size_t pos = text.size();
    for (int n = 0; n <= lines && pos != std::string::npos && pos > 0; ++n)
        pos = text.rfind('\n', pos - 1);
    if (pos != std::string::npos && pos > 0)
        text = text.substr(pos + 1);
    return text.empty() ? "(empty log)" : text;
}

} // namespace e2e::detail
