#include "shell/tform.h"

#include <QCloseEvent>
#include <QEvent>
#include <QPointer>

#include "platform/window_placement.h"
#include "shell/tapplication.h"

TForm::TForm(QWidget *parent) : QWidget(parent, Qt::Window)
{
    // On Wayland a window that opens above the full-screen surface asks for
    // the keyboard itself (see askForKeyboardWhenShown).
    platform::askForKeyboardWhenShown(this);
    if (Application)
        Application->RegisterForm(this);
}

void TForm::Show()
{
    // A window that comes onto the screen gets the keyboard from the window
    // manager, as every window a person opens does. Asking for it instead
    // would do harm: i3 takes an application's request to activate another
    // window as the end of the full-screen surface's full-screen state. So a
    // window that is on the screen but not active comes onto it anew.
    // Without a window manager nobody hands the keyboard over, so the window
    // takes it itself.
    if (!platform::windowManagerFrames()) {
        if (!isVisible())
            show();
        raise();
        activateWindow();
        return;
    }
    // A window just shown is left alone until the window manager has handed
    // it the keyboard: a second Show in that moment (two quick right clicks)
    // would unmap it again while the window manager is still mapping it.
    if (isVisible() && !isActiveWindow() && !awaitingActivation_)
        hide();
    if (!isVisible()) {
        show();
        awaitingActivation_ = true;
    }
    raise();
}

void TForm::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        awaitingActivation_ = false;
    QWidget::changeEvent(event);
}

void TForm::hideEvent(QHideEvent *event)
{
    awaitingActivation_ = false;
    QWidget::hideEvent(event);
}

void TForm::Hide() { hide(); }

bool TForm::IsMainForm() const { return Application && Application->MainForm() == this; }

void TForm::Close()
{
    if (IsMainForm())
        Application->Terminate();
    else
        Hide();
}

void TForm::closeEvent(QCloseEvent *event)
{
    // Accepting the event hides the window; on the main window the program
    // ends as well.
    event->accept();
    if (!Application)
        return;
    if (IsMainForm()) {
        Application->Terminate();
        return;
    }
    // Once the surface has been left, nothing can show a window again: when
    // a close request hides the last visible window of the program, the
    // program ends as a close of the main window (or "Выход") ends it,
    // instead of running on unseen.
    for (const QPointer<TForm> &form : Application->Forms())
        if (form && form != this && form->isVisible())
            return;
    Application->Terminate();
}
