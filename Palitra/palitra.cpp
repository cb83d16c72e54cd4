#include "Palitra/palitra.h"

#include <QPixmap>
#include <QWindow>

#include <utility>

#include "Palitra/hint_timing.h"
#include "SkarvelKod/skarvel_kod.h"
#include "SkarvelKod/timage.h"
#include "canvas/tbitmap.h"
#include "canvas/tcanvas.h"
#include "saving/bmp_writer.h"
#include "saving/save_command.h"
#include "shell/tapplication.h"
#include "shell/guard.h"
#include "shell/look.h"

// The glyphs and arrows are built into the program as a Qt resource; a
// resource in a static library has to be pulled in by name.
static void initPalitraResources() { Q_INIT_RESOURCE(palitra); }

TfrmPalitra *frmPalitra = nullptr;

using shell::designFont;
using shell::fitCaption;
using shell::setLook;

namespace {

// Every control gets its name (shown by the tests and accessibility tools)
// and its place in the parent's client area; one with a hint of its own
// shows it with the program's hint timing.
template <class T>
T *placed(T *widget, const char *name, const QRect &geometry, const char *hint = nullptr)
{
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(geometry);
    if (hint) {
        widget->setToolTip(QString::fromUtf8(hint));
        useHintTiming(widget);
    }
    return widget;
}

TSpeedButton *speedButton(QWidget *parent, const char *name, const QRect &geometry, const QString &caption)
{
    auto *button = placed(new TSpeedButton(parent), name, geometry);
    button->SetCaption(caption);
    setLook(button, designFont("MS Sans Serif", 11), clBlue);
    fitCaption(button, caption, geometry.width() - 4);
    return button;
}

// A label sized to its text from its top-left corner.
QLabel *label(QWidget *parent, const char *name, const QRect &geometry, const QString &text, const QFont &font,
              ColorRef colour)
{
    auto *label = placed(new QLabel(text, parent), name, geometry);
    setLook(label, font, colour);
    fitCaption(label, text, geometry.width());
    label->resize(label->sizeHint());
    return label;
}

// A colour slider, 0 to 255. Its hint shows the value once it has moved.
TScrollBar *slider(QWidget *parent, const char *name, const QRect &geometry)
{
    auto *bar = placed(new TScrollBar(Qt::Vertical, parent), name, geometry, "");
    bar->setMaximum(255);
    return bar;
}

QLabel *glyph(QWidget *parent, const char *name, const QRect &geometry, const char *resource, const char *hint)
{
    auto *glyph = placed(new QLabel(parent), name, geometry, hint);
    glyph->setPixmap(QPixmap(QString::fromLatin1(resource)));
    glyph->setAutoFillBackground(false);
    return glyph;
}

TSpinEdit *spinEdit(QWidget *parent, const char *name, const QRect &geometry, int value)
{
    auto *field = placed(new TSpinEdit(parent), name, geometry);
    field->SetColor(clWhite);
    field->SetMinValue(1);
    field->SetMaxValue(100);
    field->SetIncrement(1);
    field->SetValue(value);
    return field;
}

} // namespace

TfrmPalitra::TfrmPalitra(QWidget *parent)
    : TForm(parent), saveDialog_(std::make_unique<TSaveDialog>()), savedPicture_(std::make_unique<bmp::DibDescription>())
{
    initPalitraResources();

    // A fixed single border with the caption and no title-bar buttons. As a
    // dialog of the surface (see Show) the window manager keeps it in front
    // of the full-screen surface, also while the user draws there, so that a
    // stroke can pass over it and the window stays in sight.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowTitle(QStringLiteral("Опции"));
    setFixedSize(208, 300);
    // Outer top-left corner; after the first showing it stays wherever the
    // user leaves it.
    move(152, 120);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, toQColor(clWindowKhaki));
    setPalette(palette);
    setAutoFillBackground(true);
    setFont(designFont("MS Sans Serif", 11));
    // Hints show while any window of the program is active, not only this one.
    setAttribute(Qt::WA_AlwaysShowToolTips);

    SPD_Skarvel = saveDialog_.get();
    SPD_Skarvel->Title = QStringLiteral("Сохранить рисунок рабочего стола");
    SPD_Skarvel->Filter = QStringLiteral("Bitmaps (*.bmp)|*.bmp");

    // The controls in creation order, which is also the painting order.
    // Positions and sizes are in pixels within the parent's client area.
    SpeedButton1 = speedButton(this, "SpeedButton1", {112, 272, 89, 22}, QStringLiteral("Закрыть окно"));
    shell::bindGuarded(SpeedButton1->OnClick, [this] { SpeedButton1Click(); });
    sColor = placed(new TShape(this), "sColor", {120, 16, 73, 81}, "Цвет");
    sColor->SetBrushColor(clBlack);
    const QFont letterFont = designFont("Arial", 12, true);
    Label1 = label(this, "Label1", {24, 0, 8, 15}, QStringLiteral("R"), letterFont, clRed);
    Label2 = label(this, "Label2", {56, 0, 8, 15}, QStringLiteral("G"), letterFont, clGreen);
    Label3 = label(this, "Label3", {88, 0, 8, 15}, QStringLiteral("B"), letterFont, clBlue);
    Shape1 = placed(new TShape(this), "Shape1", {0, 112, 209, 1});
    Shape1->SetBrushColor(clWhite);
    SpeedButton2 = speedButton(this, "SpeedButton2", {7, 272, 89, 22}, QStringLiteral("Сохранить как..."));
    shell::bindGuarded(SpeedButton2->OnClick, [this] { SpeedButton2Click(); });
    R = slider(this, "R", {24, 16, 16, 89});
    G = slider(this, "G", {56, 16, 16, 89});
    B = slider(this, "B", {88, 16, 16, 89});
    // A slider reports a change only when its position really changed.
    for (TScrollBar *bar : {R, G, B})
        shell::connectGuarded(bar, &QScrollBar::valueChanged, this, [this] { RChange(); });

    GroupBox1 = placed(new QGroupBox(QStringLiteral("Элементы рисования"), this), "GroupBox1", {16, 120, 177, 145});
    GroupBox1->setFocusPolicy(Qt::NoFocus);
    setLook(GroupBox1, designFont("MS Sans Serif", 11), clBlack);
    const QFont fieldLabelFont = designFont("Tahoma", 11);
    Label4 = label(GroupBox1, "Label4", {8, 96, 95, 13}, QStringLiteral("Толщина стержня:"), fieldLabelFont, clBlack);
    Label5 = label(GroupBox1, "Label5", {8, 120, 40, 13}, QStringLiteral("Радиус:"), fieldLabelFont, clBlack);
    im1 = glyph(GroupBox1, "im1", {32, 24, 32, 32}, ":/palitra/pencil.bmp", "Карандаш");
    im2 = glyph(GroupBox1, "im2", {72, 24, 32, 32}, ":/palitra/spray.bmp", "Распылитель");
    im3 = glyph(GroupBox1, "im3", {112, 24, 32, 32}, ":/palitra/line.bmp", "Линии");
    tl = spinEdit(GroupBox1, "tl", {112, 92, 49, 22}, 1);
    tl2 = spinEdit(GroupBox1, "tl2", {56, 115, 49, 22}, 10);
    tl2->setEnabled(false);
    rb1 = placed(new TRadioButton(GroupBox1), "rb1", {40, 64, 17, 17});
    rb2 = placed(new TRadioButton(GroupBox1), "rb2", {80, 64, 17, 17});
    rb3 = placed(new TRadioButton(GroupBox1), "rb3", {120, 64, 17, 17});
    rb1->setChecked(true);
    const std::pair<TRadioButton *, void (TfrmPalitra::*)()> radios[] = {
        {rb1, &TfrmPalitra::rb1Click}, {rb2, &TfrmPalitra::rb2Click}, {rb3, &TfrmPalitra::rb3Click}};
    for (const auto &[radio, click] : radios)
        shell::connectGuarded(radio, &QAbstractButton::toggled, this, [this, click](bool checked) {
            if (checked)
                (this->*click)();
        });

    // Qt's focus chain does the rest: Tab and Shift+Tab walk this list round,
    // stopping only where a control takes the focus now (see TRadioButton),
    // and the first activation focuses the first of them.
    tabOrder_ = {R, G, B, tl, tl2, rb1, rb2, rb3};
    for (qsizetype i = 1; i < tabOrder_.size(); ++i)
        QWidget::setTabOrder(tabOrder_[i - 1], tabOrder_[i]);
}

TfrmPalitra::~TfrmPalitra() = default;

QList<QWidget *> TfrmPalitra::TabOrder() const
{
    QList<QWidget *> stops;
    for (QWidget *control : tabOrder_)
        if ((control->focusPolicy() & Qt::TabFocus) && control->isEnabled())
            stops.append(control);
    return stops;
}

void TfrmPalitra::Show()
{
    if (Form1 && !isVisible()) {
        winId();
        windowHandle()->setTransientParent(Form1->isVisible() ? Form1->windowHandle() : nullptr);
    }
    if (windowState() & Qt::WindowMinimized)
        setWindowState(windowState() & ~Qt::WindowMinimized);
    TForm::Show();
}

// --- Handlers -----------------------------------------------------------------------

void TfrmPalitra::SpeedButton1Click()
{
    Hide();
    const ColorRef colour = sColor->BrushColor();
    Form1->Image1->Canvas().Pen().SetColor(colour);
}

void TfrmPalitra::RChange()
{
    const ColorRef colour = makeColorRef(std::uint8_t(R->value()), std::uint8_t(G->value()), std::uint8_t(B->value()));
    sColor->SetBrushColor(colour);
    R->setToolTip(QString::number(R->value()));
    G->setToolTip(QString::number(G->value()));
    B->setToolTip(QString::number(B->value()));
}

void TfrmPalitra::rb1Click()
{
    tl2->setEnabled(false);
    tl->setEnabled(true);
}

void TfrmPalitra::rb2Click()
{
    tl2->setEnabled(true);
    tl->setEnabled(false);
}

void TfrmPalitra::rb3Click()
{
    tl2->setEnabled(false);
    tl->setEnabled(true);
}

void TfrmPalitra::SpeedButton2Click()
{
    // Without a surface there is no picture: the empty bitmap in its place
    // is refused by the writer rather than saved as nothing.
    TBitmap none;
    // The dialog opens on the main window's monitor.
    SPD_Skarvel->Anchor = Application ? Application->MainForm() : nullptr;
    saveCommand(Form1 ? Form1->Image1->Picture.Bitmap() : none, *savedPicture_, *SPD_Skarvel);
}
