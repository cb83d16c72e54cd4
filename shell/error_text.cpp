#include "shell/error_text.h"

#include <cstdio>

std::string errorBoxText(const std::string &message)
{
    if (!message.empty() && static_cast<unsigned char>(message.back()) > 0x2E)
        return message + ".";
    return message;
}

std::string startupFailureText(const std::string &kind, const std::string &module, const void *address,
                               const std::string &message)
{
    char where[2 + 2 * sizeof(void *) + 1];
    std::snprintf(where, sizeof where, "%p", address);
    std::string text = "Exception " + kind + " in module " + module + " at " + where + ".\n" + message;
    if (!message.empty() && message.back() != '.')
        text += ".";
    return text;
}
