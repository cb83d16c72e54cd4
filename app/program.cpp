#include "app/program.h"

#include <QIcon>
#include <QSocketNotifier>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "About/about_box.h"
#include "Palitra/palitra.h"
#include "SkarvelKod/skarvel_kod.h"
#include "platform/font_warm_up.h"
#include "platform/native_pointer.h"
#include "platform/platform.h"
#include "platform/portal_screenshot.h"
#include "shell/tapplication.h"

namespace app {

namespace {

std::function<void()> &startupHook()
{
    static std::function<void()> hook;
    return hook;
}

#ifdef Q_OS_UNIX
int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    // The loop does not run while the screen read waits for the desktop.
    platform::endIfWaitingForPortal();
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &c, 1);
}

// Log-off, shutdown and a plain kill end the loop as a close of the main
// window does, with exit code 0.
void endOnTerminationSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, Application);
    QObject::connect(notifier, &QSocketNotifier::activated, Application, [] {
        char c;
        [[maybe_unused]] ssize_t n = ::read(signalPipe[0], &c, 1);
        Application->Terminate();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}
#else
void endOnTerminationSignals() {}
#endif

} // namespace

void setStartupHook(std::function<void()> hook) { startupHook() = std::move(hook); }

void createForms()
{
    // The program icon MAINICON; every window without an icon of its own
    // (none has one) shows it, and so does the task bar.
    Application->setWindowIcon(QIcon(QStringLiteral(":/main_icon.ico")));
    Application->CreateForm(Form1);
    Application->CreateForm(AboutBox);
    Application->CreateForm(frmPalitra);
}

int runProgram(int argc, char **argv)
{
    QString why;
    if (!platform::displayAvailable(&why)) {
        std::fprintf(stderr,
                     "skarvel: %s.\nСкарвел draws on a copy of the desktop and needs a graphical (X11 or Wayland) "
                     "display.\n",
                     why.toLocal8Bit().constData());
        return 1;
    }
    if (!platform::displayPaintable(&why)) {
        std::fprintf(stderr, "skarvel: %s.\n", why.toLocal8Bit().constData());
        return 1;
    }
    platform::fitHeapToLimits();
    platform::FontWarmUp fonts;
    TApplication application(argc, argv);
    // The screen read may take a while (the desktop portal): it starts now
    // and is collected when the surface is first shown.
    platform::startScreenRead();
    try {
        Application->SetTitle(QStringLiteral("Скарвел"));
        // The program's own texts are Russian whatever the language; Qt's
        // follow the person's language (LANGUAGE, LC_ALL, LC_MESSAGES, LANG).
        Application->LoadToolkitTranslations(QLocale::system());
        setDisplayPixelFormat(platform::displayPixelFormat());
        endOnTerminationSignals();
        platform::watchNativePointer();
        const int showCommand = platform::launcherShowCommand(argc, argv);

        fonts.wait();
        createForms();

        if (startupHook())
            startupHook()();
        return Application->Run(showCommand);
    } catch (const std::exception &error) {
        Application->ShowStartupFailure(error);
        return 1;
    }
}

} // namespace app
