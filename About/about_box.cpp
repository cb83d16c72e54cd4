#include "About/about_box.h"

#include <QFile>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>

#include <span>

#include "About/about_controls.h"
#include "About/jpeg_decoder.h"
#include "About/link_highlight.h"
#include "shell/guard.h"
#include "SkarvelKod/skarvel_kod.h"
#include "canvas/errors.h"
#include "platform/platform.h"
#include "platform/window_placement.h"
#include "shell/look.h"
#include "shell/speed_button.h"

TAboutBox *AboutBox = nullptr;

namespace {

// The addresses behind the two link lines.
constexpr char mailAddress[] = "skarvel@example.org";
constexpr char webAddress[] = "http://www.example.org";

// Every control gets its name (shown by the tests and accessibility tools)
// and its place in the parent's client area.
template <class T>
T *placed(T *control, const char *name, int left, int top, int width, int height)
{
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(left, top, width, height);
    return control;
}

// A line of the panel in Tahoma, sized to its text; the size given is the
// one it had in the design font.
about::Label *label(QWidget *parent, const char *name, int left, int top, int width, int height, const char *text,
                    ColorRef colour, bool wordWrap = false)
{
    auto *label = placed(new about::Label(parent), name, left, top, width, height);
    label->setFont(shell::designFont("Tahoma", 11));
    label->SetFontColor(colour);
    label->SetWordWrap(wordWrap);
    label->SetCaption(QString::fromUtf8(text));
    label->SetAutoSize(true);
    return label;
}

QImage toQImage(const about::RgbImage &rgb)
{
    const QImage view(rgb.pixels.data(), rgb.width, rgb.height, rgb.width * 3, QImage::Format_RGB888);
    return view.copy();
}

// The logo's pixels, or a null image when the JPEG data is damaged: a
// damaged logo is no reason to lose the way out of the program.
QImage decodeLogo(const QByteArray &jpeg)
{
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t *>(jpeg.constData()),
                                              std::size_t(jpeg.size()));
    try {
        return toQImage(about::decodeJpeg(bytes));
    } catch (const EInvalidGraphic &) {
        return QImage();
    }
}

} // namespace

// The link lines' colours as the highlighting reads and sets them.
class TAboutBox::Links : public about::LinkLines {
public:
    explicit Links(TAboutBox *box) : box_(box) {}
    ColorRef MailColor() const override { return box_->Label1->FontColor(); }
    void SetMailColor(ColorRef color) override { box_->Label1->SetFontColor(color); }
    ColorRef WebColor() const override { return box_->Label3->FontColor(); }
    void SetWebColor(ColorRef color) override { box_->Label3->SetFontColor(color); }

private:
    TAboutBox *box_;
};

TAboutBox::TAboutBox(QWidget *parent) : TForm(parent), links_(std::make_unique<Links>(this))
{
    // A fixed frame whose caption bar has no buttons at all.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowTitle(QStringLiteral("О программе"));
    setFixedSize(298, 223);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, about::toQColor(clWindowKhaki));
    colours.setColor(QPalette::WindowText, about::toQColor(clBlack));
    setPalette(colours);
    setAutoFillBackground(true);
    setFont(shell::designFont("MS Sans Serif", 11));
    // No keyboard interface: nothing here takes the focus.
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);

    // The controls in creation order: a later one lies above an earlier one
    // where they overlap (Label4 over Bevel1). Positions and sizes are in
    // pixels within the parent's client area. Moving the pointer over the
    // window, the panel and its plain lines is the neutral zone that puts
    // out a lit link line.
    const auto neutral = [this](TShiftState s, int x, int y) { Panel1MouseMove(s, x, y); };
    SpeedButton1 = placed(new TSpeedButton(this), "SpeedButton1", 16, 184, 265, 28);
    SpeedButton1->SetCaption(QStringLiteral("Выход"));
    shell::setLook(SpeedButton1, shell::designFont("MS Sans Serif", 11), clBlue);
    shell::bindGuarded(SpeedButton1->OnMouseMove, neutral);
    shell::bindGuarded(SpeedButton1->OnClick, [this] { SpeedButton1Click(); });
    Panel1 = placed(new about::Panel(this), "Panel1", 8, 8, 281, 169);
    shell::setTextColour(Panel1, clBlack);
    shell::bindGuarded(Panel1->OnMouseMove, neutral);
    ProgramIcon = placed(new about::Picture(Panel1), "ProgramIcon", 8, 8, 73, 97);
    shell::setTextColour(ProgramIcon, clBlack);
    shell::bindGuarded(ProgramIcon->OnMouseMove, neutral);
    ProductName = label(Panel1, "ProductName", 88, 8, 127, 13, "Скарвел", clBlack);
    shell::bindGuarded(ProductName->OnMouseMove, neutral);
    Author = label(Panel1, "Author", 88, 48, 169, 13, "Автор: команда Скарвела", clLinkRest);
    Comments = label(Panel1, "Comments", 8, 112, 150, 26, "г. Примерск, Примерная область", clTeal, true);
    Label1 = label(Panel1, "Label1", 88, 72, 131, 13, "E-mail: skarvel@example.org", clLinkRest);
    Label1->setCursor(Qt::PointingHandCursor);
    shell::bindGuarded(Label1->OnMouseMove, [this](TShiftState s, int x, int y) { Label1MouseMove(s, x, y); });
    shell::bindGuarded(Label1->OnClick, [this] { Label1Click(); });
    Label2 = label(Panel1, "Label2", 88, 24, 54, 13, "Версия 1.8", clBlack);
    shell::bindGuarded(Label2->OnMouseMove, neutral);
    Label3 = label(Panel1, "Label3", 88, 88, 115, 13, "сайт: http://www.example.org", clLinkRest);
    Label3->setCursor(Qt::PointingHandCursor);
    shell::bindGuarded(Label3->OnMouseMove, [this](TShiftState s, int x, int y) { Label3MouseMove(s, x, y); });
    shell::bindGuarded(Label3->OnClick, [this] { Label3Click(); });
    Bevel1 = placed(new about::Bevel(Panel1), "Bevel1", 8, 144, 257, 9);
    shell::setTextColour(Bevel1, clBlack);
    Label4 = label(Panel1, "Label4", 8, 150, 152, 13, "Дата компиляции: 12.06.2003", clBlack);
    shell::bindGuarded(Label4->OnMouseMove, neutral);

    // The logo is decoded when the window first shows it.
    ProgramIcon->SetImageLoader([] {
        QFile logo(QStringLiteral(":/about_logo.jpg"));
        if (!logo.open(QIODevice::ReadOnly))
            return QImage();
        return decodeLogo(logo.readAll());
    });

    // Centred on the screen, frame included, when it is first shown; after
    // that it keeps its place.
    platform::placeOnShow(this, [](const QSize &outer) {
        const QScreen *screen = QGuiApplication::primaryScreen();
        if (!screen)
            return QPoint();
        const QRect area = screen->geometry();
        return QPoint(area.x() + (area.width() - outer.width()) / 2, area.y() + (area.height() - outer.height()) / 2);
    });
}

TAboutBox::~TAboutBox() = default;

bool TAboutBox::LoadLogo(const QByteArray &jpeg)
{
    const QImage logo = decodeLogo(jpeg);
    ProgramIcon->SetImage(logo);
    return !logo.isNull();
}

QString TAboutBox::MailTarget() { return QStringLiteral("mailto:") + QString::fromUtf8(mailAddress); }

QString TAboutBox::WebTarget() { return QString::fromUtf8(webAddress); }

void TAboutBox::SpeedButton1Click()
{
    // Form1 is the main window: closing it ends the program, hidden or not.
    Form1->Close();
}

void TAboutBox::Label1Click() { platform::ShellOpen(MailTarget()); }

void TAboutBox::Label3Click() { platform::ShellOpen(WebTarget()); }

void TAboutBox::Label1MouseMove(TShiftState, int, int) { about::pointerOverMailLine(*links_); }

void TAboutBox::Label3MouseMove(TShiftState, int, int) { about::pointerOverWebLine(*links_); }

void TAboutBox::Panel1MouseMove(TShiftState, int, int) { about::pointerOverNeutralZone(*links_); }

void TAboutBox::mouseMoveEvent(QMouseEvent *event)
{
    // The window's own background is a neutral zone too.
    Panel1MouseMove(shiftStateOf(event), int(event->position().x()), int(event->position().y()));
}

