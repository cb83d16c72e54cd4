#pragma once

// Every handler of the program is bound through one guard: a signal
// connection with connectGuarded, a std::function event with bindGuarded.
// An error leaving the handler is handled where it is raised, as
// TApplication::notify handles one leaving an event handler: the stroke in
// progress ends, the error box shows it and the loop goes on. No error ever
// unwinds through Qt's own code, which is not made for it.

#include <QObject>

#include <functional>
#include <type_traits>
#include <utility>

#include "shell/tapplication.h"

namespace shell {

// Runs the handler under the guard (without an application object, as in
// some tests, the error goes on to the caller).
template <class F>
void runGuarded(F &&handler)
{
    if (Application)
        Application->RunHandler(std::forward<F>(handler));
    else
        std::forward<F>(handler)();
}

// Connects `handler` to the signal under the guard. The handler takes the
// signal's arguments, or none.
template <class Sender, class Owner, class... SignalArgs, class Context, class F>
QMetaObject::Connection connectGuarded(const Sender *sender, void (Owner::*signal)(SignalArgs...),
                                       const Context *context, F handler)
{
    return QObject::connect(sender, signal, context, [handler = std::move(handler)](SignalArgs... args) {
        runGuarded([&] {
            if constexpr (std::is_invocable_v<const F &, SignalArgs...>)
                handler(args...);
            else
                handler();
        });
    });
}

// Binds `handler` to a std::function event under the guard.
template <class... Args, class F>
void bindGuarded(std::function<void(Args...)> &event, F handler)
{
    event = [handler = std::move(handler)](Args... args) { runGuarded([&] { handler(args...); }); };
}

} // namespace shell
