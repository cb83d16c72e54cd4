#include "session_processes.h"

#include "process.h"

#include <cerrno>
#include <cstdio>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace e2e::detail {

namespace {
std::string errnoText() { return std::strerror(errno); }
} // namespace

SessionProcesses::~SessionProcesses() { stopAll(); }

pid_t SessionProcesses::start(const std::string &name, const std::filesystem::path &executable,
                              std::vector<std::string> args, std::vector<std::string> env, int passFd)
{
    SpawnRequest request;
    request.executable = executable;
    request.args = std::move(args);
    request.environment = std::move(env);
    request.workingDirectory = dir->path();
    request.outputFile = dir->path() / (name + ".log");
    request.passFd = passFd;
    const pid_t pid = spawn(request);
    children.push_back({pid, name, request.outputFile});
    return pid;
}

std::string SessionProcesses::run(const std::filesystem::path &executable, std::vector<std::string> args,
                                  int *status, Milliseconds timeout) const
{
    SpawnRequest request;
    request.executable = executable;
    request.args = std::move(args);
    request.environment = clientEnvironment();
    request.outputFile = dir->path() / ("tool-" + std::to_string(counter++) + ".out");
    const pid_t pid = spawn(request);
    std::optional<int> code;
    waitUntil([&] { return (code = peekExit(pid)).has_value(); }, timeout, 2ms);
    const auto final = stopProcessGroup(pid, SIGKILL, 1s);
    std::string out;
    try {
        out = readFile(request.outputFile);
    } catch (const Error &) {
    }
    std::filesystem::remove(request.outputFile);
    const int rc = code ? *code : final.value_or(-1);
    if (status)
        *status = rc;
    else if (rc != 0)
        throw Error(executable.string() + " failed (" + std::to_string(rc) + "): " + out);
    return out;
}

void SessionProcesses::expectAlive(const SessionChild &child) const
{
    if (peekExit(child.pid))
        throw Error(child.name + " has exited: " + logTail(child.log));
}

bool SessionProcesses::busHasName(const std::string &name) const
{
    int status = 0;
    const std::string out =
        run("dbus-send", {"--session", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                          "org.freedesktop.DBus.NameHasOwner", "string:" + name},
            &status);
    return status == 0 && out.find("boolean true") != std::string::npos;
}

void SessionProcesses::waitBusName(const SessionChild &child, const std::string &name, Milliseconds timeout) const
{
    if (!waitUntil([&] {
            expectAlive(child);
            return busHasName(name);
        }, timeout, 50ms))
        throw Error(child.name + " did not take " + name + ": " + logTail(child.log));
}

std::string SessionProcesses::startBus(const std::string &type, const std::string &listen)
{
    const auto config = dir->path() / (type + "-bus.conf");
    std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                             " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                          << "<busconfig><type>" << type << "</type><keep_umask/>\n"
                          << "<listen>" << listen << "</listen>\n"
                          << "<auth>EXTERNAL</auth>\n"
                             "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                             "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw Error("pipe2: " + errnoText());
    try {
        start("dbus-daemon-" + type, "dbus-daemon",
              {"--config-file=" + config.string(), "--nofork", "--nopidfile", "--print-address=3"},
              clientEnvironment(), fds[1]);
    } catch (...) {
        close(fds[0]);
        close(fds[1]);
        throw;
    }
    close(fds[1]);
    std::string address;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n')
        address += c;
    close(fds[0]);
    if (address.empty())
        throw Error("dbus-daemon gave no address: " + logTail(children.back().log));
    return address;
}

void SessionProcesses::startInput(const std::filesystem::path &executable, std::vector<std::string> env)
{
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        throw Error("socketpair: " + errnoText());
    try {
        start("input", executable, {"--fd", "3"}, std::move(env), pair[1]);
    } catch (...) {
        close(pair[0]);
        close(pair[1]);
        throw;
    }
    close(pair[1]);
    inputFd = pair[0];
    const std::string hello = readLine(30s);
    if (hello != "ready")
        throw Error("the input tool did not start: " + hello + " " + logTail(children.back().log));
}

std::string SessionProcesses::readLine(Milliseconds timeout) const
{
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + scaledTimeout(timeout);
    char c;
    while (std::chrono::steady_clock::now() < deadline) {
        const ssize_t n = recv(inputFd, &c, 1, MSG_DONTWAIT);
        if (n == 1) {
            if (c == '\n')
                return line;
            line += c;
        } else if (n == 0) {
            return line.empty() ? "(the input tool has exited)" : line;
        } else {
            std::this_thread::sleep_for(1ms);
        }
    }
    return line + " (no answer from the input tool)";
}

std::string SessionProcesses::command(const std::string &text, Milliseconds timeout) const
{
    const std::string line = text + "\n";
    if (send(inputFd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size()))
        throw Error("the input tool is gone: " + errnoText());
    const std::string answer = readLine(timeout);
    if (answer == "ok")
        return {};
    if (answer.starts_with("ok "))
        return answer.substr(3);
    throw Error("input \"" + text + "\": " + answer);
}

void SessionProcesses::stopAll()
{
    if (inputFd >= 0) {
        close(inputFd);
        inputFd = -1;
    }
    for (auto it = children.rbegin(); it != children.rend(); ++it)
        stopProcessGroup(it->pid, SIGTERM, 3s);
    children.clear();
}

void ToolInput::press(int button) { inputCommand("press " + std::to_string(button)); }
void ToolInput::release(int button) { inputCommand("release " + std::to_string(button)); }

void ToolInput::click(Point p, int button)
{
    moveTo(p);
    press(button);
    release(button);
}

void ToolInput::drag(Point from, Point to, int steps, int button)
{
    moveTo(from);
    press(button);
    for (int i = 1; i <= steps; ++i)
        moveTo(from.x + (to.x - from.x) * static_cast<double>(i) / steps,
               from.y + (to.y - from.y) * static_cast<double>(i) / steps);
    release(button);
}

void ToolInput::key(const std::string &name, unsigned modifiers)
{
    inputCommand("key " + std::to_string(modifiers) + " " + name);
}

void ToolInput::typeText(const std::string &utf8)
{
    const std::string names = keysymNames(utf8);
    if (!names.empty())
        inputCommand("key 0 " + names);
}

std::string keysymNames(const std::string &utf8)
{
    std::string names;
    for (std::size_t i = 0; i < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        char32_t code = c;
        int length = 1;
        if (c >= 0xF0)
            code = c & 0x07, length = 4;
        else if (c >= 0xE0)
            code = c & 0x0F, length = 3;
        else if (c >= 0xC0)
            code = c & 0x1F, length = 2;
        for (int k = 1; k < length && i + static_cast<std::size_t>(k) < utf8.size(); ++k)
            code = (code << 6) | (static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]) & 0x3F);
        i += static_cast<std::size_t>(length);
        std::string name;
        if (code == '\n')
            name = "Return";
        else if (code == '\t')
            name = "Tab";
        else if (code == ' ')
            name = "space";
        else if ((code >= 'a' && code <= 'z') || (code >= 'A' && code <= 'Z') || (code >= '0' && code <= '9'))
            name = std::string(1, static_cast<char>(code));
        else {
            char buffer[16];
            std::snprintf(buffer, sizeof buffer, "U%04X", static_cast<unsigned>(code));
            name = buffer;
        }
        names += (names.empty() ? "" : " ") + name;
    }
    return names;
}

} // namespace e2e::detail
