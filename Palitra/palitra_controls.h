#pragma once

// The options window as the other windows see it. The drawing surface shows
// it and, at every pointer event, reads the chosen tool (rb1, rb2, rb3), the
// thickness tl, the radius tl2 and the swatch sColor, so the types of those
// controls are complete here; the labels, the group box, the flat buttons
// and the save dialog are only named. Palitra's own code and tests include
// Palitra/palitra.h, which completes the rest.

#include <memory>

#include "Palitra/controls.h"
#include "Palitra/tspin_edit.h"
#include "shell/tform.h"

class QGroupBox;
class QLabel;
class TSaveDialog;
class TSpeedButton;
namespace bmp {
struct DibDescription;
}

// The options window "Опции": the colour mixer (sliders R, G, B and the
// swatch sColor), the tool selector (rb1 pencil, rb2 spray, rb3 line), the
// thickness field tl and the radius field tl2, "Сохранить как..." and
// "Закрыть окно". All of its state lives in its controls.
class TfrmPalitra : public TForm {
    Q_OBJECT
public:
    explicit TfrmPalitra(QWidget *parent = nullptr);
    ~TfrmPalitra() override;

    TSpeedButton *SpeedButton1 = nullptr;
    TScrollBar *R = nullptr;
    TScrollBar *G = nullptr;
    TScrollBar *B = nullptr;
    TShape *sColor = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QGroupBox *GroupBox1 = nullptr;
    QLabel *Label4 = nullptr;
    TSpinEdit *tl = nullptr;
    QLabel *Label5 = nullptr;
    TSpinEdit *tl2 = nullptr;
    QLabel *im1 = nullptr;
    QLabel *im2 = nullptr;
    QLabel *im3 = nullptr;
    TRadioButton *rb1 = nullptr;
    TRadioButton *rb2 = nullptr;
    TRadioButton *rb3 = nullptr;
    TShape *Shape1 = nullptr;
    TSpeedButton *SpeedButton2 = nullptr;
    TSaveDialog *SPD_Skarvel = nullptr;

    // "Закрыть окно": hides the window and hands the swatch colour to the pen
    // of the picture.
    void SpeedButton1Click();
    // Any slider changed: packs the colour, sets the swatch and the three hints.
    void RChange();
    void rb1Click();
    void rb2Click();
    void rb3Click();
    // "Сохранить как...".
    void SpeedButton2Click();

    // Shows the window in front and activates it; a window the window manager
    // minimised comes back as well.
    void Show() override;

    // Where Tab stops now: R, G, B, tl, tl2 and the checked radio button,
    // leaving out whatever cannot take the focus.
    QList<QWidget *> TabOrder() const;

private:
    QList<QWidget *> tabOrder_;
    std::unique_ptr<TSaveDialog> saveDialog_;
    // The picture's converted image, kept from one save to the next.
    std::unique_ptr<bmp::DibDescription> savedPicture_;
};

extern TfrmPalitra *frmPalitra;
