// The screen read on real X servers: through shared memory where the server
// offers MIT-SHM, at 24 and 16 bits, and Qt's own read where it does not.
// Each case gives the desktop pixel for pixel.

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <cstdlib>
#include <memory>

#include "harness/harness.h"
#include "platform/platform.h"
#include "platform/x11_screen_read.h"

using namespace e2e;

namespace {

// A Qt application connected to one display for one case.
class QtOn {
public:
    explicit QtOn(const VirtualDisplay &display)
    {
        setenv("DISPLAY", display.name().c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        unsetenv("QT_SCALE_FACTOR");
        app_ = std::make_unique<QGuiApplication>(argc_, argv_);
    }

private:
    int argc_ = 1;
    char name_[16] = "screen_read";
    char *argv_[2] = {name_, nullptr};
    std::unique_ptr<QGuiApplication> app_;
};

Image toHarnessImage(const QImage &image)
{
    Image out(Rect{0, 0, image.width(), image.height()});
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x)
            out.setPixel(x, y, Rgb{std::uint8_t(qRed(line[x])), std::uint8_t(qGreen(line[x])), std::uint8_t(qBlue(line[x]))});
    }
    return out;
}

struct Case {
    int depth;
    bool sharedMemory;
    QImage::Format expected; // of the shared-memory read; Invalid: none
};

} // namespace

TEST(ScreenRead, GivesTheDesktopExactlyWithAndWithoutSharedMemory)
{
    for (const Case c : {Case{24, true, QImage::Format_RGB32}, Case{16, true, QImage::Format_RGB16},
                         Case{24, false, QImage::Format_Invalid}}) {
        SCOPED_TRACE("depth " + std::to_string(c.depth) + (c.sharedMemory ? " with" : " without") + " MIT-SHM");
        VirtualDisplay display({640, 480, c.depth, false, c.sharedMemory});
        display.paintDesktop(Pattern::B);
        QtOn qt(display);

        const QImage shared = platform::readRootThroughSharedMemory();
        if (c.expected == QImage::Format_Invalid) {
            EXPECT_TRUE(shared.isNull()) << "a read through an extension the server does not offer";
        } else {
            ASSERT_FALSE(shared.isNull());
            EXPECT_EQ(shared.format(), c.expected);
            EXPECT_EQ(shared.size(), QSize(640, 480));
            const DesktopDiff diff = compareWithDesktop(toHarnessImage(shared), Pattern::B);
            EXPECT_TRUE(diff.matches()) << diff;
        }

        // Whatever the path, the program's reading is the desktop, and the
        // same as Qt's own read.
        ASSERT_TRUE(platform::readScreenBeforeMapping());
        const Image reading = toHarnessImage(platform::screenReading());
        const DesktopDiff diff = compareWithDesktop(reading, Pattern::B);
        EXPECT_TRUE(diff.matches()) << diff;
        EXPECT_EQ(reading, toHarnessImage(QGuiApplication::primaryScreen()->grabWindow(0).toImage()));
        platform::forgetScreenReading();
    }
}
