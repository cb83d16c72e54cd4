#include "Palitra/palitra.h"

#include <QApplication>
#include <QEvent>
#include <QPixmap>
#include <QWindow>

#include <algorithm>
#include <stdexcept>

#include "Palitra/hint_timing.h"
#include "SkarvelKod/skarvel_kod.h"
#include "SkarvelKod/timage.h"
#include "canvas/tbitmap.h"
#include "canvas/tcanvas.h"
#include "saving/save_command.h"
#include "shell/tapplication.h"
#include "shell/guard.h"

// The glyphs and arrows are built into the program as a Qt resource; a
// resource in a static library has to be pulled in by name.
static void initPalitraResources() { Q_INIT_RESOURCE(palitra); }

TfrmPalitra *frmPalitra = nullptr;

namespace {

enum class Kind { SpeedButton, Shape, Label, ScrollBar, GroupBox, Glyph, SpinEdit, RadioButton };

// A font of the layout; an empty family inherits the parent's font.
struct FontLook {
    const char *family = nullptr;
    int pixelSize = 0;
    bool bold = false;
    ColorRef colour = clBlack;
};

using Handler = void (TfrmPalitra::*)();

// One control of the layout. Positions and sizes are in pixels within the
// parent's client area at 96 dpi; a tab order of -1 means no tab stop.
struct ControlRow {
    const char *name;
    Kind kind;
    const char *parent; // nullptr: the window itself
    QRect geometry;
    const char *text = nullptr;
    FontLook font = {};
    const char *hint = nullptr; // not null: the control shows its own hint
    int tabOrder = -1;
    Handler event = nullptr;    // OnClick, or OnChange for a slider
    ColorRef colour = clWhite;  // a shape's brush, a spin field's background
    int minValue = 0;
    int maxValue = 0;
    int value = 0;
    bool enabled = true;
    bool checked = false;
    const char *glyph = nullptr;
};

const FontLook windowFont{"MS Sans Serif", 11, false, clBlack};
const FontLook buttonFont{"MS Sans Serif", 11, false, clBlue};

// The window, control by control, in creation order (also the painting order).
const ControlRow windowLayout[] = {
    {.name = "SpeedButton1", .kind = Kind::SpeedButton, .parent = nullptr, .geometry = {112, 272, 89, 22},
     .text = "Закрыть окно", .font = buttonFont, .event = &TfrmPalitra::SpeedButton1Click},
    {.name = "sColor", .kind = Kind::Shape, .parent = nullptr, .geometry = {120, 16, 73, 81}, .hint = "Цвет",
     .colour = clBlack},
    {.name = "Label1", .kind = Kind::Label, .parent = nullptr, .geometry = {24, 0, 8, 15}, .text = "R",
     .font = {"Arial", 12, true, clRed}},
    {.name = "Label2", .kind = Kind::Label, .parent = nullptr, .geometry = {56, 0, 8, 15}, .text = "G",
     .font = {"Arial", 12, true, clGreen}},
    {.name = "Label3", .kind = Kind::Label, .parent = nullptr, .geometry = {88, 0, 8, 15}, .text = "B",
     .font = {"Arial", 12, true, clBlue}},
    {.name = "Shape1", .kind = Kind::Shape, .parent = nullptr, .geometry = {0, 112, 209, 1}, .colour = clWhite},
    {.name = "SpeedButton2", .kind = Kind::SpeedButton, .parent = nullptr, .geometry = {7, 272, 89, 22},
     .text = "Сохранить как...", .font = buttonFont, .event = &TfrmPalitra::SpeedButton2Click},
    {.name = "R", .kind = Kind::ScrollBar, .parent = nullptr, .geometry = {24, 16, 16, 89}, .hint = "",
     .tabOrder = 0, .event = &TfrmPalitra::RChange, .maxValue = 255},
    {.name = "G", .kind = Kind::ScrollBar, .parent = nullptr, .geometry = {56, 16, 16, 89}, .hint = "",
     .tabOrder = 1, .event = &TfrmPalitra::RChange, .maxValue = 255},
    {.name = "B", .kind = Kind::ScrollBar, .parent = nullptr, .geometry = {88, 16, 16, 89}, .hint = "",
     .tabOrder = 2, .event = &TfrmPalitra::RChange, .maxValue = 255},
    {.name = "GroupBox1", .kind = Kind::GroupBox, .parent = nullptr, .geometry = {16, 120, 177, 145},
     .text = "Элементы рисования", .font = windowFont, .tabOrder = 3},
    {.name = "Label4", .kind = Kind::Label, .parent = "GroupBox1", .geometry = {8, 96, 95, 13},
     .text = "Толщина стержня:", .font = {"Tahoma", 11, false, clBlack}},
    {.name = "Label5", .kind = Kind::Label, .parent = "GroupBox1", .geometry = {8, 120, 40, 13}, .text = "Радиус:",
     .font = {"Tahoma", 11, false, clBlack}},
    {.name = "im1", .kind = Kind::Glyph, .parent = "GroupBox1", .geometry = {32, 24, 32, 32}, .hint = "Карандаш",
     .glyph = ":/palitra/pencil.bmp"},
    {.name = "im2", .kind = Kind::Glyph, .parent = "GroupBox1", .geometry = {72, 24, 32, 32}, .hint = "Распылитель",
     .glyph = ":/palitra/spray.bmp"},
    {.name = "im3", .kind = Kind::Glyph, .parent = "GroupBox1", .geometry = {112, 24, 32, 32}, .hint = "Линии",
     .glyph = ":/palitra/line.bmp"},
    {.name = "tl", .kind = Kind::SpinEdit, .parent = "GroupBox1", .geometry = {112, 92, 49, 22}, .tabOrder = 0,
     .colour = clWhite, .minValue = 1, .maxValue = 100, .value = 1, .enabled = true},
    {.name = "tl2", .kind = Kind::SpinEdit, .parent = "GroupBox1", .geometry = {56, 115, 49, 22}, .tabOrder = 1,
     .colour = clWhite, .minValue = 1, .maxValue = 100, .value = 10, .enabled = false},
    {.name = "rb1", .kind = Kind::RadioButton, .parent = "GroupBox1", .geometry = {40, 64, 17, 17}, .tabOrder = 2,
     .event = &TfrmPalitra::rb1Click, .checked = true},
    {.name = "rb2", .kind = Kind::RadioButton, .parent = "GroupBox1", .geometry = {80, 64, 17, 17}, .tabOrder = 3,
     .event = &TfrmPalitra::rb2Click},
    {.name = "rb3", .kind = Kind::RadioButton, .parent = "GroupBox1", .geometry = {120, 64, 17, 17}, .tabOrder = 4,
     .event = &TfrmPalitra::rb3Click},
};

QFont fontOf(const FontLook &look)
{
    QFont font{QString::fromUtf8(look.family)};
    font.setPixelSize(look.pixelSize);
    font.setBold(look.bold);
    return font;
}

// The layout's fonts are narrower than what fontconfig substitutes for them;
// a caption that would not fit its designed width is condensed until it does.
void fitCaption(QWidget *widget, const QString &text, int width)
{
    QFont font = widget->font();
    const int advance = QFontMetrics(font).horizontalAdvance(text);
    if (advance <= width || advance <= 0)
        return;
    font.setStretch(std::max(50, 100 * width / advance));
    widget->setFont(font);
}

void applyFont(QWidget *widget, const FontLook &look)
{
    if (!look.family)
        return;
    widget->setFont(fontOf(look));
    // A disabled control keeps the platform's greyed text.
    QPalette palette = widget->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::WindowText, toQColor(look.colour));
        palette.setColor(group, QPalette::Text, toQColor(look.colour));
    }
    widget->setPalette(palette);
}

// The controls of one parent that are tab stops, in their tab order.
std::vector<const ControlRow *> tabStopsOf(const char *parent)
{
    std::vector<const ControlRow *> rows;
    for (const ControlRow &row : windowLayout)
        if (row.tabOrder >= 0 && ((!parent && !row.parent) || (parent && row.parent && qstrcmp(parent, row.parent) == 0)))
            rows.push_back(&row);
    std::stable_sort(rows.begin(), rows.end(),
                     [](const ControlRow *a, const ControlRow *b) { return a->tabOrder < b->tabOrder; });
    return rows;
}

} // namespace

TfrmPalitra::TfrmPalitra(QWidget *parent) : TForm(parent), saveDialog_(std::make_unique<TSaveDialog>())
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
    setFont(fontOf(windowFont));
    // Hints show while any window of the program is active, not only this one.
    setAttribute(Qt::WA_AlwaysShowToolTips);

    SPD_Skarvel = saveDialog_.get();
    SPD_Skarvel->Title = QStringLiteral("Сохранить рисунок рабочего стола");
    SPD_Skarvel->Filter = QStringLiteral("Bitmaps (*.bmp)|*.bmp");

    buildFromLayout();
    bindEvents();
}

TfrmPalitra::~TfrmPalitra() = default;

void TfrmPalitra::buildFromLayout()
{
    for (const ControlRow &row : windowLayout) {
        QWidget *parent = row.parent ? findControl(row.parent) : this;
        QWidget *widget = nullptr;
        switch (row.kind) {
        case Kind::SpeedButton: {
            auto *button = new TSpeedButton(parent);
            button->SetCaption(QString::fromUtf8(row.text));
            widget = button;
            break;
        }
        case Kind::Shape: {
            auto *shape = new TShape(parent);
            shape->SetBrushColor(row.colour);
            widget = shape;
            break;
        }
        case Kind::Label: {
            auto *label = new QLabel(QString::fromUtf8(row.text), parent);
            widget = label;
            break;
        }
        case Kind::ScrollBar: {
            auto *bar = new TScrollBar(Qt::Vertical, parent);
            bar->setRange(row.minValue, row.maxValue);
            bar->setValue(row.value);
            // Every step is one unit: arrows, arrow keys, trough clicks and pages.
            bar->setSingleStep(1);
            bar->setPageStep(1);
            bar->setFocusPolicy(Qt::StrongFocus);
            widget = bar;
            break;
        }
        case Kind::GroupBox: {
            auto *box = new QGroupBox(QString::fromUtf8(row.text), parent);
            box->setFocusPolicy(Qt::NoFocus);
            widget = box;
            break;
        }
        case Kind::Glyph: {
            auto *glyph = new QLabel(parent);
            glyph->setPixmap(QPixmap(QString::fromLatin1(row.glyph)));
            glyph->setAutoFillBackground(false);
            widget = glyph;
            break;
        }
        case Kind::SpinEdit: {
            auto *field = new TSpinEdit(parent);
            field->SetColor(row.colour);
            field->SetMinValue(row.minValue);
            field->SetMaxValue(row.maxValue);
            field->SetIncrement(1);
            field->SetValue(row.value);
            widget = field;
            break;
        }
        case Kind::RadioButton: {
            auto *radio = new TRadioButton(parent);
            radio->setChecked(row.checked);
            radio->setFocusPolicy(row.checked ? Qt::StrongFocus : Qt::ClickFocus);
            widget = radio;
            break;
        }
        }
        widget->setObjectName(QString::fromLatin1(row.name));
        applyFont(widget, row.font);
        widget->setEnabled(row.enabled);
        if (row.hint) {
            widget->setToolTip(QString::fromUtf8(row.hint));
            useHintTiming(widget);
        }
        widget->setGeometry(row.geometry);
        if (row.kind == Kind::SpeedButton)
            fitCaption(widget, QString::fromUtf8(row.text), row.geometry.width() - 4);
        if (row.kind == Kind::Label)
            fitCaption(widget, QString::fromUtf8(row.text), row.geometry.width());
        // Labels size themselves to their text, from their top-left corner.
        if (row.kind == Kind::Label)
            widget->resize(widget->sizeHint());
    }

    SpeedButton1 = control<TSpeedButton>("SpeedButton1");
    R = control<TScrollBar>("R");
    G = control<TScrollBar>("G");
    B = control<TScrollBar>("B");
    sColor = control<TShape>("sColor");
    Label1 = control<QLabel>("Label1");
    Label2 = control<QLabel>("Label2");
    Label3 = control<QLabel>("Label3");
    GroupBox1 = control<QGroupBox>("GroupBox1");
    Label4 = control<QLabel>("Label4");
    tl = control<TSpinEdit>("tl");
    Label5 = control<QLabel>("Label5");
    tl2 = control<TSpinEdit>("tl2");
    im1 = control<QLabel>("im1");
    im2 = control<QLabel>("im2");
    im3 = control<QLabel>("im3");
    rb1 = control<TRadioButton>("rb1");
    rb2 = control<TRadioButton>("rb2");
    rb3 = control<TRadioButton>("rb3");
    Shape1 = control<TShape>("Shape1");
    SpeedButton2 = control<TSpeedButton>("SpeedButton2");

    // Qt's own focus chain in the same order, for whatever walks it.
    const QList<QWidget *> order = {R, G, B, tl, tl2, rb1, rb2, rb3};
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void TfrmPalitra::bindEvents()
{
    for (const ControlRow &row : windowLayout) {
        if (!row.event)
            continue;
        const Handler handler = row.event;
        QWidget *widget = findControl(row.name);
        if (auto *button = qobject_cast<TSpeedButton *>(widget)) {
            shell::bindGuarded(button->OnClick, [this, handler] { (this->*handler)(); });
        } else if (auto *bar = qobject_cast<TScrollBar *>(widget)) {
            // A slider reports a change only when its position really changed.
            shell::connectGuarded(bar, &QScrollBar::valueChanged, this, [this, handler] { (this->*handler)(); });
        } else if (auto *radio = qobject_cast<TRadioButton *>(widget)) {
            shell::connectGuarded(radio, &QAbstractButton::toggled, this, [this, radio, handler](bool checked) {
                radioToggled(radio, checked);
                if (checked)
                    (this->*handler)();
            });
            shell::bindGuarded(radio->OnArrowKey,
                               [this](TRadioButton *from, int direction) { moveFocusInGroup(from, direction); });
        }
    }
}

QWidget *TfrmPalitra::findControl(const char *name) const
{
    auto *widget = findChild<QWidget *>(QString::fromLatin1(name));
    if (!widget)
        throw std::logic_error(std::string("the options window has no control ") + name);
    return widget;
}

template <class T>
T *TfrmPalitra::control(const char *name) const
{
    auto *widget = qobject_cast<T *>(findControl(name));
    if (!widget)
        throw std::logic_error(std::string("the options window's control ") + name + " is of another kind");
    return widget;
}

void TfrmPalitra::radioToggled(TRadioButton *button, bool checked)
{
    // The checked radio button is the group's only tab stop; the others can
    // still be clicked.
    button->setFocusPolicy(checked ? Qt::StrongFocus : Qt::ClickFocus);
}

QList<QWidget *> TfrmPalitra::TabOrder() const
{
    QList<QWidget *> order;
    auto add = [&](const char *parent, auto &self) -> void {
        for (const ControlRow *row : tabStopsOf(parent)) {
            QWidget *widget = findControl(row->name);
            if (row->kind == Kind::GroupBox) {
                if (widget->isEnabled())
                    self(row->name, self);
                continue;
            }
            if (row->kind == Kind::RadioButton && !static_cast<TRadioButton *>(widget)->isChecked())
                continue;
            if (widget->isEnabled())
                order.append(widget);
        }
    };
    add(nullptr, add);
    return order;
}

bool TfrmPalitra::focusNextPrevChild(bool next)
{
    const QList<QWidget *> order = TabOrder();
    if (order.isEmpty())
        return false;
    QWidget *current = QApplication::focusWidget();
    qsizetype at = -1;
    for (qsizetype i = 0; i < order.size(); ++i)
        if (current && (order[i] == current || order[i]->isAncestorOf(current)))
            at = i;
    qsizetype to;
    if (at < 0)
        to = next ? 0 : order.size() - 1;
    else
        to = (at + (next ? 1 : order.size() - 1)) % order.size();
    order[to]->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

void TfrmPalitra::moveFocusInGroup(QWidget *from, int direction)
{
    // Every control of the group box in tab order, tab stop or not; the
    // arrows skip only what is disabled.
    QList<QWidget *> group;
    for (const ControlRow *row : tabStopsOf(from->parentWidget()->objectName().toLatin1().constData()))
        group.append(findControl(row->name));
    const qsizetype at = group.indexOf(from);
    if (at < 0)
        return;
    for (qsizetype step = 1; step < group.size(); ++step) {
        const qsizetype n = group.size();
        QWidget *candidate = group[((at + direction * step) % n + n) % n];
        if (candidate->isEnabled() && candidate->isVisible()) {
            candidate->setFocus(direction > 0 ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return;
        }
    }
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

void TfrmPalitra::changeEvent(QEvent *event)
{
    // The first activation puts the focus on the first control of the tab
    // order; afterwards the window gives it back to the control that had it.
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && !focusWidget()) {
        const QList<QWidget *> order = TabOrder();
        if (!order.isEmpty())
            order.front()->setFocus(Qt::ActiveWindowFocusReason);
    }
    TForm::changeEvent(event);
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
    saveCommand(Form1 ? Form1->Image1->Picture.Bitmap() : none, *SPD_Skarvel);
}
