#pragma once

// The screen read through the X server's shared-memory extension (MIT-SHM):
// the server writes the root window's pixels straight into memory the
// returned image owns, with no copy through the connection.

#include <QImage>

namespace platform {

// The whole root window at device resolution in a Qt format over the shared
// segment (released with the image). A null image when the program is not
// on X11, the server has no MIT-SHM or cannot reach the segment (another
// host), the display's pixel layout has no Qt format, or the read fails: the
// caller then reads the screen the ordinary way. When the segment cannot be
// mapped for want of memory (or would leave the toolkit too little), the
// image is null and *outOfMemory is set: the ordinary way, which takes the
// frame as one reply through the display connection, would then fail inside
// the connection and end it.
QImage readRootThroughSharedMemory(bool *outOfMemory = nullptr);

} // namespace platform
