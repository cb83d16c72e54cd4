#pragma once

#include <QByteArray>

#include <memory>

#include "shell/events.h"
#include "shell/tform.h"

class QTimer;
class TSpeedButton;
namespace about {
class Bevel;
class Label;
class Panel;
class Picture;
} // namespace about

// The About window, the program's farewell screen: logo, product line,
// version, author, the e-mail and web link lines (lit blue under the
// pointer, opened through the platform's "open" when clicked), the location
// line, the compile date and the exit button "Выход". It is made hidden at
// start-up and shown by the leave confirmation on the drawing surface; it is
// centred on the screen the first time it is shown and keeps its place after.
class TAboutBox : public TForm {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget *parent = nullptr);
    ~TAboutBox() override;

    TSpeedButton *SpeedButton1 = nullptr;
    about::Panel *Panel1 = nullptr;
    about::Picture *ProgramIcon = nullptr;
    about::Label *ProductName = nullptr;
    about::Label *Author = nullptr;
    about::Label *Comments = nullptr;
    about::Label *Label1 = nullptr;
    about::Label *Label2 = nullptr;
    about::Label *Label3 = nullptr;
    about::Bevel *Bevel1 = nullptr;
    about::Label *Label4 = nullptr;

    void SpeedButton1Click();
    void Label1Click();
    void Label3Click();
    void Label1MouseMove(TShiftState Shift, int X, int Y);
    void Label3MouseMove(TShiftState Shift, int X, int Y);
    void Panel1MouseMove(TShiftState Shift, int X, int Y);

    // The link targets.
    static QString MailTarget();
    static QString WebTarget();

    // Shows the JPEG stream as the logo. A stream that does not decode
    // leaves the window without a logo and returns false; the window works
    // on as before.
    bool LoadLogo(const QByteArray &jpeg);

protected:
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    class Links;
    std::unique_ptr<Links> links_;
};

extern TAboutBox *AboutBox;
