#pragma once

#include <QApplication>
#include <QList>
#include <QLocale>
#include <QPointer>
#include <QString>

#include <exception>
#include <new>
#include <utility>

class QTranslator;
class TForm;

// The application object: its title, the main window (the first window
// created), the windows it owns, the loop and the error box. Errors raised
// while any window handles an event are caught where the event is dispatched
// (notify) and shown in the error box; the loop then goes on.
class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int &argc, char **argv);
    ~TApplication() override;

    QString Title() const;
    void SetTitle(const QString &title);

    TForm *MainForm() const;
    // Called by every window as it is made; the first becomes the main window.
    void RegisterForm(TForm *form);
    const QList<QPointer<TForm>> &Forms() const { return forms_; }

    // Makes a window owned by the application (destroyed after the loop) and
    // sets the global reference once it is made; its handlers, the creation
    // handler among them, reach the window itself through `this`. A
    // constructor that fails leaves the reference empty and no window behind,
    // the main window included.
    template <class T>
    void CreateForm(T *&instance)
    {
        instance = nullptr;
        T *form = new T();
        owned_.append(form);
        instance = form;
    }

    // Shows the main window as the launcher's show command says (full screen
    // as its layout asks, or minimised when started iconified) and runs the
    // loop until Terminate. Returns the exit code.
    int Run(int showCommand);
    // Ends the loop with exit code 0 (posts the quit).
    void Terminate();
    bool Terminated() const { return terminated_; }

    // The error box: caption the title, the message with the full-stop rule,
    // one OK button and the error icon. An EAbort shows nothing. An error that
    // is not one of the program's own kind is shown in the start-up failure
    // form, without ending the program.
    void ShowException(const std::exception &error);
    // The box of a failed start-up ("Application Error").
    void ShowStartupFailure(const std::exception &error);

    // The one guard of every handler (see shell/guard.h): an error leaving
    // it ends a drag in progress and goes to the error box, as one leaving an
    // event handler does in notify; the program goes on.
    template <class F>
    void RunHandler(F &&handler)
    {
        try {
            std::forward<F>(handler)();
        } catch (...) {
            ShowCurrentException();
        }
    }
    // A window's creation handler runs under the same guard.
    template <class F>
    void RunCreationHandler(F &&handler)
    {
        RunHandler(std::forward<F>(handler));
    }
    // Shows the exception being handled (call only inside a catch block).
    void ShowCurrentException();

    // Qt's own texts (the question box's buttons, the save dialog, the
    // fields' context menus) in the language of `locale`, from the toolkit's
    // installed translations. Without a translation for it, or without the
    // translations at all, they stay English. Replaces what an earlier call
    // loaded; returns whether a translation was found.
    bool LoadToolkitTranslations(const QLocale &locale);

    bool notify(QObject *receiver, QEvent *event) override;

private:
    QString title_;
    QPointer<TForm> mainForm_;
    QList<QPointer<TForm>> forms_;
    QList<QPointer<TForm>> owned_;
    bool terminated_ = false;
    QTranslator *toolkitTexts_ = nullptr;
};

extern TApplication *Application;
