#include "harness.h"
#include "process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sys/stat.h>
#include <thread>

namespace e2e {

namespace {

long statusField(pid_t pid, const std::string &field)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.starts_with(field + ":"))
            return std::stol(line.substr(field.size() + 1)); // "VmRSS:	  1234 kB"
    }
    throw Error("no " + field + " for process " + std::to_string(pid) + ": it has exited");
}

} // namespace

Program::Program(const VirtualDisplay &display, const std::filesystem::path &executable, ProgramOptions options)
{
    auto env = detail::currentEnvironment();
    for (const char *name : {"WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "SESSION_MANAGER", "DESKTOP_SESSION"})
        detail::unsetVariable(env, name);
    detail::setVariable(env, "DISPLAY", display.name());
    detail::setVariable(env, "QT_QPA_PLATFORM", "xcb");
    start(std::move(env), executable, std::move(options), RuntimeDir::Private);
}

void Program::start(std::vector<std::string> env, const std::filesystem::path &executable, ProgramOptions options,
                    RuntimeDir runtimeDir)
{
    private_ = std::make_unique<TempDir>("skarvel-e2e-program");
    home_ = private_->path() / "home";
    const auto runtime = private_->path() / "runtime";
    for (const auto &dir : {home_, home_ / ".config", home_ / ".cache", home_ / ".local/share", runtime})
        std::filesystem::create_directories(dir);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all); // what Qt insists on
    outputFile_ = options.outputFile.empty() ? private_->path() / "output.txt" : options.outputFile;

    for (const char *name : {"XDG_CURRENT_DESKTOP", "QT_QPA_PLATFORMTHEME", "QT_STYLE_OVERRIDE", "QT_SCALE_FACTOR",
                             "QT_SCREEN_SCALE_FACTORS", "QT_WAYLAND_DISABLE_WINDOWDECORATION"})
        detail::unsetVariable(env, name);
    detail::setVariable(env, "LC_ALL", "C.UTF-8");
    detail::setVariable(env, "HOME", home_.string());
    detail::setVariable(env, "XDG_CONFIG_HOME", (home_ / ".config").string());
    detail::setVariable(env, "XDG_CACHE_HOME", (home_ / ".cache").string());
    detail::setVariable(env, "XDG_DATA_HOME", (home_ / ".local/share").string());
    // A session's clients share its runtime folder (sockets, the document
    // portal); a program on a bare X server gets one of its own.
    if (runtimeDir == RuntimeDir::Private)
        detail::setVariable(env, "XDG_RUNTIME_DIR", runtime.string());
    for (const auto &[name, value] : options.env)
        detail::setVariable(env, name, value);
    for (const auto &name : options.unsetEnv)
        detail::unsetVariable(env, name);

    detail::SpawnRequest request;
    request.executable = executable;
    request.args = std::move(options.args);
    request.environment = std::move(env);
    request.workingDirectory = options.workingDirectory.empty() ? home_ : options.workingDirectory;
    request.outputFile = outputFile_;
    pid_ = detail::spawn(request);
}

Program::~Program()
{
    if (!reaped_)
        kill();
}

std::string Program::output() const
{
    try {
        return readFile(outputFile_);
    } catch (const Error &) {
        return {};
    }
}

bool Program::running()
{
    return !waitExit(0ms).has_value();
}

std::optional<int> Program::waitExit(Milliseconds timeout)
{
    if (!exitCode_) {
        // The exited process is not reaped here: its id keeps reserving the
        // process group id until kill() or the destructor.
        waitUntil(
            [&] {
                exitCode_ = detail::peekExit(pid_, &signal_);
                return exitCode_.has_value();
            },
            timeout, 10ms);
    }
    return exitCode_;
}

void Program::sendSignal(int signal)
{
    if (!reaped_ && ::kill(pid_, signal) != 0)
        throw Error("cannot signal process " + std::to_string(pid_) + ": " + std::strerror(errno));
}

void Program::kill()
{
    if (reaped_)
        return;
    int signal = 0;
    const auto status = detail::stopProcessGroup(pid_, SIGKILL, 5s, &signal);
    if (!exitCode_) {
        exitCode_ = status.value_or(128 + SIGKILL);
        signal_ = status ? signal : SIGKILL;
    }
    reaped_ = true;
}

long Program::residentMemoryKiB() const
{
    if (reaped_)
        throw Error("process " + std::to_string(pid_) + " has been stopped");
    return statusField(pid_, "VmRSS");
}

long Program::peakMemoryKiB() const
{
    if (reaped_)
        throw Error("process " + std::to_string(pid_) + " has been stopped");
    return statusField(pid_, "VmHWM");
}

long Program::peakAddressSpaceKiB() const
{
    if (reaped_)
        throw Error("process " + std::to_string(pid_) + " has been stopped");
    return statusField(pid_, "VmPeak");
}

std::string Program::threadStates() const
{
    if (reaped_ || detail::peekExit(pid_))
        return "the program has exited\n";
    std::string states;
    std::error_code error;
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid_) + "/task";
    for (const auto &task : std::filesystem::directory_iterator(tasks, error)) {
        auto read = [&](const char *name) {
            std::ifstream in(task.path() / name);
            std::string line;
            std::getline(in, line);
            return line;
        };
        // The state is the field after the name in parentheses.
        const std::string stat = read("stat");
        const std::size_t close = stat.rfind(')');
        states += task.path().filename().string() + " " + read("comm") + ": " +
                  (close != std::string::npos && close + 2 < stat.size() ? stat.substr(close + 2, 1) : "?") +
                  " in " + read("wchan") + "\n";
    }
    // Where each thread is, when a debugger is at hand.
    const auto log = outputFile_.parent_path() / "stacks.log";
    detail::SpawnRequest request;
    request.executable = "gdb";
    request.args = {"-batch", "-nx", "-p", std::to_string(pid_), "-ex", "thread apply all bt 25"};
    request.environment = detail::currentEnvironment();
    request.outputFile = log;
    try {
        const pid_t gdb = detail::spawn(request);
        waitUntil([&] { return detail::peekExit(gdb).has_value(); }, 30s, 50ms);
        detail::stopProcessGroup(gdb, SIGKILL, 0ms);
        states += readFile(log);
    } catch (const Error &) {
        states += "(no gdb here for the stacks)\n";
    }
    return states;
}

} // namespace e2e
