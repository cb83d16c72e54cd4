#pragma once

#include <type_traits>
#include <utility>

// A non-owning reference to a callable: like std::function, but it never
// allocates, so it can sit on the pointer path. The callable must outlive it.
template <class Signature>
class FunctionRef;

template <class R, class... Args>
class FunctionRef<R(Args...)> {
public:
    template <class F, class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, FunctionRef>>>
    FunctionRef(F &&f) // NOLINT: implicit on purpose
        : object_(const_cast<void *>(static_cast<const void *>(std::addressof(f)))),
          call_([](void *o, Args... args) -> R {
              return (*static_cast<std::add_pointer_t<std::remove_reference_t<F>>>(o))(
                  std::forward<Args>(args)...);
          })
    {
    }
    R operator()(Args... args) const { return call_(object_, std::forward<Args>(args)...); }

private:
    void *object_;
    R (*call_)(void *, Args...);
};
