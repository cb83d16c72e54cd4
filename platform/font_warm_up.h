#pragma once

#include <thread>

namespace platform {

// Reads the system's font configuration on a second thread while the
// application object connects to the display. The first window with text
// would otherwise wait for it before the surface can be shown; nothing else
// changes, the configuration is the one the windows would have read. Made
// before the application object; wait() returns once the reading is done.
class FontWarmUp {
public:
    FontWarmUp();
    ~FontWarmUp();
    FontWarmUp(const FontWarmUp &) = delete;
    FontWarmUp &operator=(const FontWarmUp &) = delete;

    void wait();

private:
    std::thread thread_;
};

} // namespace platform
