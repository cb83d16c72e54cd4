#include "Palitra/tspin_edit.h"

#include <QApplication>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>

#include <climits>

#include "Palitra/spin_value.h"
#include "platform/platform.h"
#include "platform/qt_color.h"
#include "shell/guard.h"

namespace {

constexpr int arrowPairWidth = 15;

QPixmap loadGlyph(const char *resource)
{
    return QPixmap::fromImage(transparentGlyph(QImage(QString::fromLatin1(resource))));
}

char32_t localeDecimalSeparator()
{
    const QString point = QLocale().decimalPoint();
    const QList<uint> codes = point.toUcs4();
    return codes.size() == 1 ? char32_t(codes.front()) : U'.';
}

} // namespace

QImage transparentGlyph(const QImage &glyph)
{
    if (glyph.isNull())
        return glyph;
    QImage image = glyph.convertToFormat(QImage::Format_ARGB32);
    const QRgb background = image.pixel(0, image.height() - 1);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (line[x] == background)
                line[x] = qRgba(0, 0, 0, 0);
    }
    return image;
}

// --- TSpinButton ---------------------------------------------------------------

TSpinButton::TSpinButton(QWidget *parent, const QPixmap &glyph) : QWidget(parent), glyph_(glyph)
{
    setFocusPolicy(Qt::NoFocus);
    repeat_.setTimerType(Qt::PreciseTimer);
    shell::connectGuarded(&repeat_, &QTimer::timeout, this, [this] { repeat(); });
}

void TSpinButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QStyleOptionButton option;
    option.initFrom(this);
    option.state |= ShownPressed() ? QStyle::State_Sunken : QStyle::State_Raised;
    style()->drawControl(QStyle::CE_PushButtonBevel, &option, &painter, this);
    if (glyph_.isNull())
        return;
    QPoint at((width() - glyph_.width()) / 2, (height() - glyph_.height()) / 2);
    if (ShownPressed())
        at += QPoint(1, 1);
    if (!isEnabled())
        painter.setOpacity(0.35);
    painter.drawPixmap(at, glyph_);
}

void TSpinButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    if (OnPress)
        OnPress();
    held_ = true;
    inside_ = rect().contains(event->position().toPoint());
    update();
    repeat_.start(FirstRepeatDelay);
}

void TSpinButton::mouseMoveEvent(QMouseEvent *event)
{
    if (!held_)
        return;
    const bool inside = rect().contains(event->position().toPoint());
    if (inside != inside_) {
        inside_ = inside;
        update();
    }
}

void TSpinButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !held_)
        return;
    repeat_.stop();
    held_ = false;
    const bool over = rect().contains(event->position().toPoint());
    inside_ = false;
    update();
    if (over && OnStep)
        OnStep();
}

void TSpinButton::repeat()
{
    if (repeat_.interval() != RepeatInterval)
        repeat_.setInterval(RepeatInterval);
    if (ShownPressed() && OnStep)
        OnStep();
}

// --- TSpinEditor ---------------------------------------------------------------

TSpinEditor::TSpinEditor(TSpinEdit *field) : QLineEdit(field), field_(field)
{
    setFrame(false);
}

QString TSpinEditor::filterTyped(const QString &text) const
{
    const char32_t separator = localeDecimalSeparator();
    QString accepted;
    for (char32_t c : text.toUcs4()) {
        const spin::TypedChar verdict = field_->EditorEnabled() ? spin::checkTypedChar(c, separator)
                                                                : spin::checkTypedCharEditorOff(c);
        if (verdict == spin::TypedChar::Accept)
            accepted += QString::fromUcs4(&c, 1);
        else
            platform::MessageBeep();
    }
    return accepted;
}

void TSpinEditor::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Up:
        field_->UpClick();
        QLineEdit::keyPressEvent(event);
        event->accept();
        return;
    case Qt::Key_Down:
        field_->DownClick();
        QLineEdit::keyPressEvent(event);
        event->accept();
        return;
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
        // Editing keys rather than typed characters; only a switched-off
        // editor refuses them.
        if (!field_->EditorEnabled()) {
            platform::MessageBeep();
            return;
        }
        QLineEdit::keyPressEvent(event);
        return;
    default:
        break;
    }
    if ((event->matches(QKeySequence::Paste) || event->matches(QKeySequence::Cut)) &&
        (field_->ReadOnly() || !field_->EditorEnabled()))
        return;

    QString text = event->text();
    // Ctrl with a letter types the matching control character, as it does
    // on the platforms that report it so.
    if ((event->modifiers() & Qt::ControlModifier) && !(event->modifiers() & Qt::AltModifier) && text.size() == 1 &&
        text[0].unicode() >= 0x40 && text[0].unicode() < 0x80)
        text = QString(QChar(text[0].unicode() & 0x1F));
    if (text.isEmpty()) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    const QString accepted = filterTyped(text);
    if (accepted == text) {
        QLineEdit::keyPressEvent(event); // the original event: shortcuts such as Ctrl+V work on it
    } else if (!accepted.isEmpty()) {
        QKeyEvent filtered(event->type(), event->key(), event->modifiers(), accepted, event->isAutoRepeat());
        QLineEdit::keyPressEvent(&filtered);
    }
}

void TSpinEditor::inputMethodEvent(QInputMethodEvent *event)
{
    const QString commit = event->commitString();
    if (commit.isEmpty()) {
        QLineEdit::inputMethodEvent(event);
        return;
    }
    const QString accepted = filterTyped(commit);
    if (accepted == commit) {
        QLineEdit::inputMethodEvent(event);
        return;
    }
    QInputMethodEvent filtered(event->preeditString(), event->attributes());
    filtered.setCommitString(accepted, event->replacementStart(), event->replacementLength());
    QLineEdit::inputMethodEvent(&filtered);
}

void TSpinEditor::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    // Entered by the keyboard (or by pressing an arrow): the whole text is
    // selected. A click in the text places the caret instead, and getting the
    // focus back with the window, or after a popup menu, changes nothing.
    const Qt::FocusReason reason = event->reason();
    if (field_->AutoSelect() && reason != Qt::MouseFocusReason && reason != Qt::ActiveWindowFocusReason &&
        reason != Qt::PopupFocusReason)
        selectAll();
}

void TSpinEditor::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    // Only leaving for another control of the same window counts: when the
    // window loses the activation or is hidden there is no new focus widget
    // in it, and an out-of-range text stays as it is.
    QWidget *next = QApplication::focusWidget();
    if (next && next != this && next->window() == window() && !field_->isAncestorOf(next))
        field_->CheckValue();
}

// --- TSpinEdit -----------------------------------------------------------------

TSpinEdit::TSpinEdit(QWidget *parent) : QFrame(parent)
{
    // The platform's sunken 3-D border, two pixels wide.
    setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    setAutoFillBackground(true);

    editor_ = new TSpinEditor(this);
    up_ = new TSpinButton(this, loadGlyph(":/palitra/SpinUp.bmp"));
    down_ = new TSpinButton(this, loadGlyph(":/palitra/SpinDown.bmp"));
    shell::bindGuarded(up_->OnPress, [this] { focusEditorForArrow(); });
    shell::bindGuarded(down_->OnPress, [this] { focusEditorForArrow(); });
    shell::bindGuarded(up_->OnStep, [this] { UpClick(); });
    shell::bindGuarded(down_->OnStep, [this] { DownClick(); });

    setFocusProxy(editor_);
    setFocusPolicy(Qt::StrongFocus);
    SetMaxLength(0);
    SetColor(clWhite);
    editor_->setText(QStringLiteral("0"));
    updateMinimumHeight();
}

std::int32_t TSpinEdit::Value() const
{
    const QString text = editor_->text();
    return spin::readValue(std::u16string_view(reinterpret_cast<const char16_t *>(text.utf16()), size_t(text.size())),
                           minValue_);
}

void TSpinEdit::SetValue(std::int32_t value)
{
    editor_->setText(QString::number(spin::clampValue(value, minValue_, maxValue_)));
}

QString TSpinEdit::Text() const { return editor_->text(); }

void TSpinEdit::SetText(const QString &text) { editor_->setText(text); }

void TSpinEdit::SetEditorEnabled(bool on)
{
    editorEnabled_ = on;
    updateReadOnly();
}

void TSpinEdit::SetReadOnly(bool on)
{
    readOnly_ = on;
    updateReadOnly();
}

void TSpinEdit::updateReadOnly() { editor_->setReadOnly(readOnly_ || !editorEnabled_); }

void TSpinEdit::SetMaxLength(int length)
{
    maxLength_ = length;
    editor_->setMaxLength(length > 0 ? length : INT_MAX);
}

void TSpinEdit::SetColor(ColorRef color)
{
    color_ = color;
    QPalette p = palette();
    const QColor c = platform::toQColor(color);
    p.setColor(QPalette::Base, c);
    p.setColor(QPalette::Window, c);
    setPalette(p);
    // The arrow buttons keep the standard button colours.
    up_->setPalette(QApplication::palette(up_));
    down_->setPalette(QApplication::palette(down_));
}

void TSpinEdit::UpClick()
{
    if (readOnly_) {
        platform::MessageBeep();
        return;
    }
    SetValue(spin::stepValue(Value(), increment_, minValue_, maxValue_));
}

void TSpinEdit::DownClick()
{
    if (readOnly_) {
        platform::MessageBeep();
        return;
    }
    // The down step subtracts the increment; 64-bit arithmetic keeps -INT_MIN defined.
    SetValue(spin::clampValue(std::int64_t(Value()) - increment_, minValue_, maxValue_));
}

void TSpinEdit::CheckValue()
{
    std::int32_t clamped = 0;
    if (spin::valueOnLeaving(Value(), minValue_, maxValue_, &clamped))
        SetValue(clamped);
}

void TSpinEdit::focusEditorForArrow()
{
    if (editor_->hasFocus() || !editor_->isEnabled() || !editor_->isVisible())
        return;
    editor_->setFocus(Qt::OtherFocusReason);
}

void TSpinEdit::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    // The arrow pair sits inside the field, 15 pixels wide, at field width
    // minus 20 from the client area's left and field height minus 5 high; the
    // upper button takes the upper half and the lower one the rest from one
    // pixel above the half, so they overlap by a pixel. The text stays left
    // of the pair with a two-pixel gap.
    const QRect client = contentsRect();
    const int pairLeft = client.left() + width() - arrowPairWidth - 5;
    const int pairHeight = std::max(2, height() - 5);
    const int upperHeight = pairHeight / 2;
    up_->setGeometry(pairLeft, client.top(), arrowPairWidth, upperHeight);
    down_->setGeometry(pairLeft, client.top() + upperHeight - 1, arrowPairWidth, pairHeight - upperHeight + 1);
    down_->raise();
    editor_->setGeometry(client.left(), client.top(), std::max(0, client.width() - arrowPairWidth - 2),
                         client.height());
}

void TSpinEdit::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        updateMinimumHeight();
    QFrame::changeEvent(event);
}

void TSpinEdit::updateMinimumHeight()
{
    const int line = QFontMetrics(font()).height();
    const int system = QFontMetrics(QApplication::font()).height();
    setMinimumHeight(spin::minimumFieldHeight(line, system, 1));
}
