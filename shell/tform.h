#pragma once

#include <QWidget>

// What the program's three windows share: showing, hiding and the close rule.
// A close on the main window (the first window created) ends the program,
// even while it is hidden; a close on any other window only hides it.
class TForm : public QWidget {
    Q_OBJECT
public:
    explicit TForm(QWidget *parent = nullptr);

    // Made visible, brought to the front and given the keyboard.
    virtual void Show();
    void Hide();
    // The close rule, as for a close request from the window manager.
    void Close();
    bool IsMainForm() const;

    // Sent before an error box is shown to the window that holds the mouse,
    // so that a drag in progress ends.
    virtual void CancelMode() {}

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    // Shown by Show and not yet given the keyboard by the window manager.
    bool awaitingActivation_ = false;
};
