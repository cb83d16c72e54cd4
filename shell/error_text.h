#pragma once

// The texts of the error boxes. Plain C++, no Qt.

#include <string>

// The error box shows the message with a full stop appended when the message
// is not empty and its last character's code is above 0x2E ('.'): a letter,
// a digit, '?' or ':' get one; '.', '!', ',', '-', ')' or a space do not.
// Texts are UTF-8; any character beyond ASCII counts as above 0x2E.
std::string errorBoxText(const std::string &message);

// The text of the box shown when start-up fails (and for an error that is not
// one of the program's own kind): "Exception <kind> in module <module> at
// <address>.\n<message>" plus "." when the message is not empty and does not
// already end in '.'.
std::string startupFailureText(const std::string &kind, const std::string &module, const void *address,
                               const std::string &message);
