#include "platform/native_pointer.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QWindow>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

#ifdef SKARVEL_X11
#include <QtGui/qguiapplication_platform.h>
#include <X11/Xlib.h>
#endif

namespace platform {

namespace {

// The latest pointer events, a ring without allocation.
struct Seen {
    std::uint32_t time = 0;
    QPoint position;
    bool used = false;
};
std::array<Seen, 64> seen;
std::size_t next = 0;

void remember(std::uint32_t time, QPoint position)
{
    seen[next] = {time, position, true};
    next = (next + 1) % seen.size();
}

#ifdef SKARVEL_X11
// The few bytes of the X events that carry a pointer position. Core events
// give the root position as 16-bit integers; XInput 2 events (what Qt uses
// where the server has them) as 16.16 fixed point. The XInput 2 layout is
// libxcb's, with the full sequence number inserted at byte 32.
constexpr std::uint8_t coreButtonPress = 4, coreButtonRelease = 5, coreMotion = 6;
constexpr std::uint8_t genericEvent = 35;
constexpr std::uint16_t xiButtonPress = 4, xiButtonRelease = 5, xiMotion = 6;

template <class T>
T read(const unsigned char *bytes, int offset)
{
    T value;
    std::memcpy(&value, bytes + offset, sizeof value);
    return value;
}

class PointerFilter : public QAbstractNativeEventFilter {
public:
    explicit PointerFilter(int xinputOpcode) : xinputOpcode_(xinputOpcode) {}

    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        if (type != "xcb_generic_event_t")
            return false;
        const auto *bytes = static_cast<const unsigned char *>(message);
        const std::uint8_t kind = bytes[0] & 0x7F;
        if (kind == coreButtonPress || kind == coreButtonRelease || kind == coreMotion) {
            remember(read<std::uint32_t>(bytes, 4), QPoint(read<std::int16_t>(bytes, 20), read<std::int16_t>(bytes, 22)));
        } else if (kind == genericEvent && xinputOpcode_ >= 0 && bytes[1] == xinputOpcode_) {
            const std::uint16_t xiType = read<std::uint16_t>(bytes, 8);
            if (xiType == xiButtonPress || xiType == xiButtonRelease || xiType == xiMotion)
                remember(read<std::uint32_t>(bytes, 12),
                         QPoint(read<std::int32_t>(bytes, 36) >> 16, read<std::int32_t>(bytes, 40) >> 16));
        }
        return false;
    }

private:
    int xinputOpcode_;
};
#endif

// On Wayland positions come in 1/256 of a logical pixel, and the window
// receives them so; Qt rounds them only for the widgets. The window's
// events are seen here first.
class WindowPointerFilter : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject *receiver, QEvent *event) override
    {
        const QEvent::Type type = event->type();
        if ((type == QEvent::MouseMove || type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease) &&
            receiver->isWindowType()) {
            const auto *window = static_cast<const QWindow *>(receiver);
            const auto *mouse = static_cast<const QMouseEvent *>(event);
            const qreal ratio = window->devicePixelRatio();
            const QPointF global = QPointF(window->mapToGlobal(QPoint(0, 0))) + mouse->position();
            remember(std::uint32_t(mouse->timestamp()),
                     QPoint(int(std::floor(global.x() * ratio)), int(std::floor(global.y() * ratio))));
        }
        return false;
    }
};

} // namespace

void watchNativePointer()
{
    static bool watchingWindows = false;
    if (!watchingWindows && qApp && QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        watchingWindows = true;
        qApp->installEventFilter(new WindowPointerFilter(qApp));
        return;
    }
#ifdef SKARVEL_X11
    static bool watching = false;
    auto *x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (watching || !x11 || !x11->display())
        return;
    watching = true;
    int opcode = -1, firstEvent = 0, firstError = 0;
    if (!XQueryExtension(x11->display(), "XInputExtension", &opcode, &firstEvent, &firstError))
        opcode = -1;
    qApp->installNativeEventFilter(new PointerFilter(opcode));
#endif
}

std::optional<QPoint> nativePointerPosition(const QPointF &logicalGlobal, qreal ratio, unsigned long timestamp)
{
    if (ratio <= 0)
        return std::nullopt;
    // Newest first: the latest event with that time and a matching position.
    for (std::size_t i = 0; i < seen.size(); ++i) {
        const Seen &s = seen[(next + seen.size() - 1 - i) % seen.size()];
        if (!s.used || s.time != std::uint32_t(timestamp))
            continue;
        const QPointF logical(s.position.x() / ratio, s.position.y() / ratio);
        if (std::abs(logical.x() - logicalGlobal.x()) < 1.0 && std::abs(logical.y() - logicalGlobal.y()) < 1.0)
            return s.position;
    }
    return std::nullopt;
}

} // namespace platform
