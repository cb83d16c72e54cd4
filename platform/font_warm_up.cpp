#include "platform/font_warm_up.h"

#include <system_error>

#if defined(SKARVEL_FONTCONFIG)
#include <fontconfig/fontconfig.h>
#endif

namespace platform {

FontWarmUp::FontWarmUp()
{
#if defined(SKARVEL_FONTCONFIG)
    try {
        // FcInit is safe to call from any thread; whoever asks later gets
        // the configuration read here.
        thread_ = std::thread([] { FcInit(); });
    } catch (const std::system_error &) {
        // No thread: the first window reads the configuration itself.
    }
#endif
}

FontWarmUp::~FontWarmUp() { wait(); }

void FontWarmUp::wait()
{
    if (thread_.joinable())
        thread_.join();
}

} // namespace platform
