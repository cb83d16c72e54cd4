#include "saving/save_rules.h"

namespace saving {

std::string fileNameExtension(std::string_view fileName)
{
    const std::size_t at = fileName.find_last_of(".\\:/");
    if (at == std::string_view::npos || fileName[at] != '.')
        return {};
    return std::string(fileName.substr(at));
}

std::string saveTargetName(std::string_view fileName)
{
    std::string target(fileName);
    if (fileNameExtension(fileName).empty())
        target += ".bmp";
    return target;
}

std::optional<std::string> typedFileName(std::string_view fileName)
{
    while (!fileName.empty() && (fileName.back() == '\n' || fileName.back() == '\r'))
        fileName.remove_suffix(1);
    for (const char c : fileName)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return std::nullopt;
    return std::string(fileName);
}

Point saveDialogPosition(const Rect &monitor, int width, int height)
{
    const long long freeWidth = (long long)(monitor.right - monitor.left) - width;
    const long long freeHeight = (long long)(monitor.bottom - monitor.top) - height;
    return {int(monitor.left + freeWidth / 2), int(monitor.top + freeHeight / 3)};
}

} // namespace saving
