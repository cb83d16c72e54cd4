#include "harness.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <ostream>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace e2e {

Milliseconds scaledTimeout(Milliseconds timeout)
{
    static const double scale = [] {
        const char *text = std::getenv("SKARVEL_E2E_TIMEOUT_SCALE");
        if (!text || !*text)
            return 1.0;
        char *end = nullptr;
        const double value = std::strtod(text, &end);
        return (end && *end == '\0' && value > 0) ? value : 1.0;
    }();
    return Milliseconds(static_cast<Milliseconds::rep>(static_cast<double>(timeout.count()) * scale));
}

bool waitUntil(const std::function<bool()> &predicate, Milliseconds timeout, Milliseconds pollInterval)
{
    const auto deadline = std::chrono::steady_clock::now() + scaledTimeout(timeout);
    while (std::chrono::steady_clock::now() < deadline) {
        if (predicate())
            return true;
        std::this_thread::sleep_for(pollInterval);
    }
    return predicate();
}

Rect Rect::intersected(const Rect &other) const
{
    const int left = std::max(x, other.x);
    const int top = std::max(y, other.y);
    const int r = std::min(right(), other.right());
    const int b = std::min(bottom(), other.bottom());
    if (r <= left || b <= top)
        return {};
    return {left, top, r - left, b - top};
}

std::ostream &operator<<(std::ostream &out, const Point &p)
{
    return out << "(" << p.x << ", " << p.y << ")";
}

std::ostream &operator<<(std::ostream &out, const Rect &r)
{
    return out << r.width << "x" << r.height << "+" << r.x << "+" << r.y;
}

std::ostream &operator<<(std::ostream &out, const Rgb &c)
{
    std::ostringstream text;
    text << "#" << std::hex << std::setfill('0') << std::setw(2) << int(c.r) << std::setw(2) << int(c.g)
         << std::setw(2) << int(c.b);
    return out << text.str();
}

std::ostream &operator<<(std::ostream &out, const WindowInfo &w)
{
    static const char *const states[] = {"unmapped", "unviewable", "viewable"};
    std::ostringstream text;
    text << "0x" << std::hex << w.id << std::dec;
    return out << "window " << text.str() << " \"" << w.title << "\" " << w.rect << " (frame " << w.frameRect
               << ", " << states[static_cast<int>(w.mapState)] << (w.popup ? ", pop-up" : "") << ")";
}

TempDir::TempDir(const std::string &prefix)
{
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/" + prefix + "-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw Error("cannot create a temporary directory " + pattern + ": " + std::strerror(errno));
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string readFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw Error("cannot read " + path.string());
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace e2e
