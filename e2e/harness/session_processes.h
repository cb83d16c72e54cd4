#pragma once

// What the headless Wayland desktops of the tests (sway, GNOME Shell) share:
// the processes of one session in a private folder, started in order and
// stopped by PID in reverse order, private D-Bus buses on which nothing is
// started on demand, tools run to their end, and the line protocol of the
// input tool each session holds ("ready", then one command per line, each
// answered "ok" or "ok TEXT", or "error <why>"), and the pointer and keys a
// test drives through that tool.

#include "harness.h"

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace e2e::detail {

// Pointer and keys through a session's input tool: the same commands on
// every desktop. A session places the pointer in its own coordinates, and
// may wait before a press for what makes it land.
class ToolInput {
public:
    ToolInput() = default;
    virtual ~ToolInput() = default;
    ToolInput(const ToolInput &) = delete;
    ToolInput &operator=(const ToolInput &) = delete;

    virtual void moveTo(double x, double y) = 0;
    void moveTo(Point p) { moveTo(p.x, p.y); }
    virtual void press(int button = LeftButton);
    void release(int button = LeftButton);
    void click(Point p, int button = LeftButton);
    void drag(Point from, Point to, int steps = 10, int button = LeftButton);
    // A key by its XKB keysym name ("Escape", "Return", "F4", "a").
    void key(const std::string &name, unsigned modifiers = NoModifier);
    void typeText(const std::string &utf8);

protected:
    // One command to the input tool; what follows its "ok".
    virtual std::string inputCommand(const std::string &text) const = 0;
};

struct SessionChild {
    pid_t pid = 0;
    std::string name;
    std::filesystem::path log;
};

class SessionProcesses {
public:
    virtual ~SessionProcesses();

    // The environment of the session's clients, tools included.
    virtual std::vector<std::string> clientEnvironment() const = 0;

    // Starts a process of the session, its output in NAME.log.
    pid_t start(const std::string &name, const std::filesystem::path &executable, std::vector<std::string> args,
                std::vector<std::string> env, int passFd = -1);
    // Runs a tool to its end with the clients' environment; its output, or
    // throws naming it (or gives its exit status through *status).
    std::string run(const std::filesystem::path &executable, std::vector<std::string> args, int *status = nullptr,
                    Milliseconds timeout = 10s) const;
    // Throws, with its log, when the process has exited.
    void expectAlive(const SessionChild &child) const;
    bool busHasName(const std::string &name) const;
    // Waits until the process has the bus name, throwing when it exits or
    // the time is up.
    void waitBusName(const SessionChild &child, const std::string &name, Milliseconds timeout = 20s) const;
    // A private bus ("session" or "system") on which nothing is started on
    // demand: only what the session starts by hand answers. Its address.
    std::string startBus(const std::string &type, const std::string &listen);

    // The input tool, talking through a socket as its fd 3; waits for its
    // "ready".
    void startInput(const std::filesystem::path &executable, std::vector<std::string> env);
    // Sends one command and returns what follows "ok"; throws otherwise.
    std::string command(const std::string &text, Milliseconds timeout = 10s) const;

    // Stops the input tool and every process, by PID, newest first.
    void stopAll();

    std::unique_ptr<TempDir> dir;
    std::vector<SessionChild> children;  // in start order
    std::vector<std::string> baseEnvironment;
    int inputFd = -1;
    mutable std::atomic<int> counter{0};

private:
    std::string readLine(Milliseconds timeout) const;
};

// UTF-8 text as the input tools' key names, space-separated: "Return" for
// a line break, "Tab", "space", letters and digits as themselves, anything
// else as its Unicode keysym (U0436).
std::string keysymNames(const std::string &utf8);

} // namespace e2e::detail
