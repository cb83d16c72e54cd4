#include "shell/tform.h"

#include <QCloseEvent>
#include <QPointer>

#include "shell/tapplication.h"

TForm::TForm(QWidget *parent) : QWidget(parent, Qt::Window)
{
    if (Application)
        Application->RegisterForm(this);
}

void TForm::Show()
{
    if (!isVisible())
        show();
    raise();
    activateWindow();
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
