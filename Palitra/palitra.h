#pragma once

#include <QGroupBox>
#include <QLabel>

#include <memory>

#include "Palitra/controls.h"
#include "Palitra/tspin_edit.h"
#include "saving/bmp_writer.h"
#include "saving/tsave_dialog.h"
#include "shell/speed_button.h"
#include "shell/tform.h"

// The options window "Опции": the colour mixer (sliders R, G, B and the
// swatch sColor), the tool selector (rb1 pencil, rb2 spray, rb3 line), the
// thickness field tl and the radius field tl2, "Сохранить как..." and
// "Закрыть окно". All of its state lives in its controls; the drawing
// surface reads them at each pointer event.
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

    // The tab order of the window: R, G, B, tl, tl2 and the checked radio
    // button, leaving out whatever cannot take the focus now.
    QList<QWidget *> TabOrder() const;

protected:
    bool focusNextPrevChild(bool next) override;
    void changeEvent(QEvent *event) override;

private:
    // The group box's controls in tab order: tl, tl2, rb1, rb2, rb3.
    QList<QWidget *> groupOrder() const;
    void moveFocusInGroup(QWidget *from, int direction);

    std::unique_ptr<TSaveDialog> saveDialog_;
    // The picture's converted image, kept from one save to the next.
    bmp::DibDescription savedPicture_;
};

extern TfrmPalitra *frmPalitra;
