#include "Palitra/hint_timing.h"

#include <QApplication>
#include <QKeyEvent>
#include <QStyleFactory>
#include <QToolTip>
#include <QWidget>

namespace {

// Qt's hint window ignores the modifier keys; every key hides a hint here.
class HideHintOnAnyKey : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress && QToolTip::isVisible())
            QToolTip::hideText();
        return QObject::eventFilter(watched, event);
    }
};

void installOnce()
{
    if (qobject_cast<THintStyle *>(QApplication::style()))
        return;
    QStyle *base = QStyleFactory::create(QApplication::style()->name());
    QApplication::setStyle(new THintStyle(base));
    qApp->installEventFilter(new HideHintOnAnyKey(qApp));
}

} // namespace

THintStyle::THintStyle(QStyle *base) : QProxyStyle(base) {}

int THintStyle::styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                          QStyleHintReturn *returnData) const
{
    switch (hint) {
    case SH_ToolTip_WakeUpDelay: return WakeUpDelay;
    // While a hint is showing the next control's hint comes at once; the
    // window for that is as long as a hint stays.
    case SH_ToolTip_FallAsleepDelay: return HideAfter;
    default: return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
}

void useHintTiming(QWidget *hinted)
{
    installOnce();
    hinted->setToolTipDuration(THintStyle::HideAfter);
}
