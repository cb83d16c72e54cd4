#include "shell/tapplication.h"

#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>
#include <QWidget>

#include <cstdlib>
#if defined(__GNUC__)
#include <cxxabi.h>
#endif
#include <memory>
#include <typeinfo>

#include "canvas/errors.h"
#include "platform/platform.h"
#include "shell/error_text.h"
#include "shell/tform.h"

TApplication *Application = nullptr;

namespace {

std::string kindName(const std::exception &error)
{
    if (auto *own = dynamic_cast<const Exception *>(&error))
        return own->kindName();
#if defined(__GNUC__)
    int status = 0;
    std::unique_ptr<char, void (*)(void *)> name(abi::__cxa_demangle(typeid(error).name(), nullptr, nullptr, &status),
                                                 std::free);
    if (status == 0 && name)
        return name.get();
#endif
    return typeid(error).name();
}

} // namespace

TApplication::TApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    Application = this;
    // Hiding the last visible window does not end the program; only a close
    // on the main window does.
    setQuitOnLastWindowClosed(false);
}

TApplication::~TApplication()
{
    for (qsizetype i = owned_.size() - 1; i >= 0; --i)
        delete owned_[i].data();
    if (Application == this)
        Application = nullptr;
}

QString TApplication::Title() const { return title_.left(255); }

void TApplication::SetTitle(const QString &title)
{
    title_ = title;
    setApplicationName(title);
}

TForm *TApplication::MainForm() const { return mainForm_.data(); }

void TApplication::RegisterForm(TForm *form)
{
    if (!mainForm_)
        mainForm_ = form;
    forms_.append(form);
}

int TApplication::Run(int showCommand)
{
    if (mainForm_) {
        if (showCommand == platform::SW_SHOWMAXIMIZED)
            mainForm_->setWindowState(mainForm_->windowState() | Qt::WindowMaximized);
        else if (showCommand == platform::SW_SHOWMINNOACTIVE)
            mainForm_->setWindowState(mainForm_->windowState() | Qt::WindowMinimized);
        if (mainForm_->windowState() & Qt::WindowMinimized)
            mainForm_->showMinimized();
        else
            mainForm_->Show();
    }
    if (terminated_)
        return 0;
    return exec();
}

void TApplication::Terminate()
{
    terminated_ = true;
    exit(0);
}

void TApplication::ShowException(const std::exception &error)
{
    // A drag in progress ends before the box takes the input.
    for (const QPointer<TForm> &form : forms_)
        if (form)
            form->CancelMode();
    if (QWidget *grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();

    if (dynamic_cast<const EAbort *>(&error))
        return;
    if (auto *own = dynamic_cast<const Exception *>(&error)) {
        platform::MessageBox(QString::fromStdString(errorBoxText(own->Message())), Title(),
                             platform::MB_OK | platform::MB_ICONERROR);
        return;
    }
    ShowStartupFailure(error);
}

void TApplication::ShowStartupFailure(const std::exception &error)
{
    const std::string module = QFileInfo(applicationFilePath()).fileName().toStdString();
    const std::string text = startupFailureText(kindName(error), module, &error, error.what());
    platform::MessageBox(QString::fromStdString(text), QStringLiteral("Application Error"),
                         platform::MB_OK | platform::MB_ICONERROR | platform::MB_TASKMODAL);
}

bool TApplication::LoadToolkitTranslations(const QLocale &locale)
{
    if (toolkitTexts_) {
        removeTranslator(toolkitTexts_);
        delete toolkitTexts_;
        toolkitTexts_ = nullptr;
    }
    auto translator = std::make_unique<QTranslator>(this);
    if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    toolkitTexts_ = translator.release();
    installTranslator(toolkitTexts_);
    return true;
}

void TApplication::ShowCurrentException()
{
    try {
        throw;
    } catch (const std::exception &error) {
        ShowException(error);
    } catch (...) {
        ShowException(Exception("Unknown error"));
    }
}

bool TApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowCurrentException();
    }
    return false;
}
