#include "About/about_box.h"

#include <QCloseEvent>
#include <QFile>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <span>

#include "About/about_controls.h"
#include "About/jpeg_decoder.h"
#include "shell/guard.h"
#include "SkarvelKod/skarvel_kod.h"
#include "canvas/errors.h"
#include "platform/platform.h"
#include "platform/window_placement.h"
#include "shell/speed_button.h"

TAboutBox *AboutBox = nullptr;

namespace {

// The addresses behind the two link lines.
constexpr char mailAddress[] = "skarvel@example.org";
constexpr char webAddress[] = "http://www.example.org";

// --- The layout ---------------------------------------------------------------

constexpr char windowCaption[] = "О программе";
constexpr int clientWidth = 298, clientHeight = 223;
constexpr ColorRef windowColor = clWindowKhaki;
constexpr char defaultFontFamily[] = "MS Sans Serif";
constexpr int fontPixels = 11; // 8 pt at 96 dots per inch

enum class Kind { SpeedButton, Panel, Picture, Label, Bevel };
enum class MoveHandler { None, Panel1MouseMove, Label1MouseMove, Label3MouseMove };
enum class ClickHandler { None, SpeedButton1Click, Label1Click, Label3Click };

struct Row {
    const char *name;
    Kind kind;
    const char *parent; // nullptr: the window
    int left, top, width, height;
    const char *text;
    const char *font; // nullptr: the window's font
    ColorRef color;   // the font's colour
    bool autoSize;
    bool wordWrap;
    bool handCursor;
    MoveHandler move;
    ClickHandler click;
};

// In creation order: a later control lies above an earlier one where they
// overlap (Label4 over Bevel1). Sizes of labels sized to their text are
// replaced by those of the text in the font the system gives for the family.
const Row layoutTable[] = {
    // name, kind, parent, left, top, width, height, text, font, colour, auto size, word wrap, hand, move, click
    {"SpeedButton1", Kind::SpeedButton, nullptr, 16, 184, 265, 28, "Выход", "MS Sans Serif", clBlue, false, false,
     false, MoveHandler::Panel1MouseMove, ClickHandler::SpeedButton1Click},
    {"Panel1", Kind::Panel, nullptr, 8, 8, 281, 169, "", nullptr, clBlack, false, false, false,
     MoveHandler::Panel1MouseMove, ClickHandler::None},
    {"ProgramIcon", Kind::Picture, "Panel1", 8, 8, 73, 97, "", nullptr, clBlack, true, false, false,
     MoveHandler::Panel1MouseMove, ClickHandler::None},
    {"ProductName", Kind::Label, "Panel1", 88, 8, 127, 13, "Скарвел", "Tahoma", clBlack, true, false, false,
     MoveHandler::Panel1MouseMove, ClickHandler::None},
    {"Author", Kind::Label, "Panel1", 88, 48, 169, 13, "Автор: команда Скарвела", "Tahoma", clLinkRest, true, false,
     false, MoveHandler::None, ClickHandler::None},
    {"Comments", Kind::Label, "Panel1", 8, 112, 150, 26, "г. Примерск, Примерная область", "Tahoma", clTeal, true,
     true, false, MoveHandler::None, ClickHandler::None},
    {"Label1", Kind::Label, "Panel1", 88, 72, 131, 13, "E-mail: skarvel@example.org", "Tahoma", clLinkRest, true,
     false, true, MoveHandler::Label1MouseMove, ClickHandler::Label1Click},
    {"Label2", Kind::Label, "Panel1", 88, 24, 54, 13, "Версия 1.8", "Tahoma", clBlack, true, false, false,
     MoveHandler::Panel1MouseMove, ClickHandler::None},
    {"Label3", Kind::Label, "Panel1", 88, 88, 115, 13, "сайт: http://www.example.org", "Tahoma", clLinkRest, true,
     false, true, MoveHandler::Label3MouseMove, ClickHandler::Label3Click},
    {"Bevel1", Kind::Bevel, "Panel1", 8, 144, 257, 9, "", nullptr, clBlack, false, false, false, MoveHandler::None,
     ClickHandler::None},
    {"Label4", Kind::Label, "Panel1", 8, 150, 152, 13, "Дата компиляции: 12.06.2003", "Tahoma", clBlack, true, false,
     false, MoveHandler::Panel1MouseMove, ClickHandler::None},
};

QFont layoutFont(const char *family)
{
    QFont font(QString::fromUtf8(family));
    font.setPixelSize(fontPixels);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    return font;
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

TAboutBox::TAboutBox(QWidget *parent) : TForm(parent)
{
    // A fixed frame whose caption bar has no buttons at all.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowTitle(QString::fromUtf8(windowCaption));
    setFixedSize(clientWidth, clientHeight);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, about::toQColor(windowColor));
    colours.setColor(QPalette::WindowText, about::toQColor(clBlack));
    setPalette(colours);
    setAutoFillBackground(true);
    setFont(layoutFont(defaultFontFamily));
    // No keyboard interface: nothing here takes the focus.
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);

    build();
    links_ = new Links(this);
    bind();

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

TAboutBox::~TAboutBox() { delete links_; }

void TAboutBox::build()
{
    for (const Row &row : layoutTable) {
        QWidget *parent = row.parent ? findChild<QWidget *>(QString::fromLatin1(row.parent)) : this;
        Q_ASSERT(parent);
        const QString text = QString::fromUtf8(row.text);
        QWidget *control = nullptr;
        switch (row.kind) {
        case Kind::SpeedButton: {
            auto *button = new TSpeedButton(parent);
            button->SetCaption(text);
            control = button;
            break;
        }
        case Kind::Panel: control = new about::Panel(parent); break;
        case Kind::Picture: control = new about::Picture(parent); break;
        case Kind::Bevel: control = new about::Bevel(parent); break;
        case Kind::Label: control = new about::Label(parent); break;
        }
        control->setObjectName(QString::fromLatin1(row.name));
        control->setGeometry(row.left, row.top, row.width, row.height);
        if (row.font)
            control->setFont(layoutFont(row.font));
        if (auto *label = qobject_cast<about::Label *>(control)) {
            label->SetFontColor(row.color);
            label->SetWordWrap(row.wordWrap);
            label->SetCaption(text);
            label->SetAutoSize(row.autoSize);
        } else {
            QPalette colours = control->palette();
            colours.setColor(QPalette::WindowText, about::toQColor(row.color));
            control->setPalette(colours);
        }
        if (row.handCursor)
            control->setCursor(Qt::PointingHandCursor);
    }

    SpeedButton1 = findChild<TSpeedButton *>(QStringLiteral("SpeedButton1"));
    Panel1 = findChild<about::Panel *>(QStringLiteral("Panel1"));
    ProgramIcon = findChild<about::Picture *>(QStringLiteral("ProgramIcon"));
    ProductName = findChild<about::Label *>(QStringLiteral("ProductName"));
    Author = findChild<about::Label *>(QStringLiteral("Author"));
    Comments = findChild<about::Label *>(QStringLiteral("Comments"));
    Label1 = findChild<about::Label *>(QStringLiteral("Label1"));
    Label2 = findChild<about::Label *>(QStringLiteral("Label2"));
    Label3 = findChild<about::Label *>(QStringLiteral("Label3"));
    Bevel1 = findChild<about::Bevel *>(QStringLiteral("Bevel1"));
    Label4 = findChild<about::Label *>(QStringLiteral("Label4"));
}

// Binds the handlers the layout names to each control's events.
void TAboutBox::bind()
{
    for (const Row &row : layoutTable) {
        QWidget *control = findChild<QWidget *>(QString::fromLatin1(row.name));
        std::function<void(TShiftState, int, int)> move;
        switch (row.move) {
        case MoveHandler::None: break;
        case MoveHandler::Panel1MouseMove:
            shell::bindGuarded(move, [this](TShiftState s, int x, int y) { Panel1MouseMove(s, x, y); });
            break;
        case MoveHandler::Label1MouseMove:
            shell::bindGuarded(move, [this](TShiftState s, int x, int y) { Label1MouseMove(s, x, y); });
            break;
        case MoveHandler::Label3MouseMove:
            shell::bindGuarded(move, [this](TShiftState s, int x, int y) { Label3MouseMove(s, x, y); });
            break;
        }
        std::function<void()> click;
        switch (row.click) {
        case ClickHandler::None: break;
        case ClickHandler::SpeedButton1Click: shell::bindGuarded(click, [this] { SpeedButton1Click(); }); break;
        case ClickHandler::Label1Click: shell::bindGuarded(click, [this] { Label1Click(); }); break;
        case ClickHandler::Label3Click: shell::bindGuarded(click, [this] { Label3Click(); }); break;
        }
        if (auto *button = qobject_cast<TSpeedButton *>(control)) {
            button->OnMouseMove = move;
            button->OnClick = click;
        } else if (auto *label = qobject_cast<about::Label *>(control)) {
            label->OnMouseMove = move;
            label->OnClick = click;
        } else if (auto *panel = qobject_cast<about::Panel *>(control)) {
            panel->OnMouseMove = move;
        } else if (auto *picture = qobject_cast<about::Picture *>(control)) {
            picture->OnMouseMove = move;
        }
    }
}

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

