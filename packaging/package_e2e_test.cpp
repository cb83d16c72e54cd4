// The program as the package installs it: started from the unpacked package
// the way the desktop menu starts it (the Exec line of its .desktop entry,
// found on the package's bin folder), on a private X display.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "harness/harness.h"

#include <X11/keysym.h>

using namespace e2e;

namespace {

const std::filesystem::path root = SKARVEL_PACKAGE_ROOT; // what dpkg-deb -x unpacked

// The value of key= in the [Desktop Entry] group of the package's entry.
std::string desktopEntryValue(const std::string &key)
{
    std::istringstream entry(readFile(root / "usr/share/applications/skarvel.desktop"));
    std::string line, group;
    while (std::getline(entry, line)) {
        if (!line.empty() && line.front() == '[')
            group = line;
        else if (group == "[Desktop Entry]" && line.rfind(key + "=", 0) == 0)
            return line.substr(key.size() + 1);
    }
    throw Error("the package's .desktop entry has no " + key + "= line");
}

} // namespace

TEST(Package, TheMenuEntryStartsTheProgramThatFreezesTheDesktopAndAltF4EndsIt)
{
    const std::string exec = desktopEntryValue("Exec");
    ASSERT_EQ(exec.find_first_of(" /%"), std::string::npos) << "Exec=" << exec;
    const std::filesystem::path program = root / "usr/bin" / exec;
    ASSERT_TRUE(std::filesystem::is_regular_file(program)) << program;

    VirtualDisplay display;
    display.paintDesktop(Pattern::A);
    Program app(display, program);
    WindowInfo surface;
    ASSERT_TRUE(waitUntil([&] {
        for (const WindowInfo &w : display.windowsWithTitle("Скарвел"))
            if (w.viewable() && w.rect == display.screenRect()) {
                surface = w;
                return true;
            }
        return false;
    })) << "no window titled Скарвел covers the screen: " << app.output();
    ASSERT_TRUE(waitUntil([&] { return display.compareDesktop(Pattern::A, display.screenRect()).matches(); }))
        << display.compareDesktop(Pattern::A, display.screenRect());

    // Frozen: the desktop below changes, the surface keeps the old one.
    display.paintDesktop(Pattern::B);
    display.sync();
    waitUntil([&] { return !display.compareDesktop(Pattern::A, display.screenRect()).matches(); }, 1500ms);
    EXPECT_TRUE(display.compareDesktop(Pattern::A, display.screenRect()).matches())
        << display.compareDesktop(Pattern::A, display.screenRect());

    display.activateWindow(surface);
    display.key(XK_F4, AltModifier);
    EXPECT_EQ(app.waitExit(), 0) << app.output();
}
