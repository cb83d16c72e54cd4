#include "shell/tform.h"

#include <QCloseEvent>

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
    if (IsMainForm())
        Application->Terminate();
    event->accept();
}
