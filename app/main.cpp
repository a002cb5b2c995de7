#include "app/Headless.h"
#include "app/Parlivo.h"
#include "app/Startup.h"
#include "modes/MyMessageBox.h"
#include "settings/Settings.h"
#include "shop/Shop.h"
#include "speech/AudioOutput.h"

#include <QApplication>
#include <QProcess>
#include <QScreen>

#include <cstdio>
#include <cstring>

namespace {

bool HasArgument(int argc, char *argv[], const char *name)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return true;
    return false;
}

const char kHelp[] =
    "Usage: parlivo [--headless [--port N] [--lan] [--no-timer]]\n"
    "Voice announcements for a shop.\n\n"
    "  (no option)    the window\n"
    "  --headless     no window: the shop driven over HTTP (the remote interface\n"
    "                 must be on in settings.xml); ends cleanly on SIGTERM\n"
    "  --port N       listen on port N for this run\n"
    "  --lan          listen on the shop network for this run (not only this PC)\n"
    "  --no-timer     do not start the timer's day at start-up\n"
    "  --help         this text\n"
    "  --version      the version\n";

int RunWindow(int argc, char *argv[])
{
    QApplication app(argc, argv);
    PrepareApplication(app);
    const QString interrupted = FinishInterruptedBackup();
    if (!interrupted.isEmpty())
        MyMessageBox::ShowNotice(QStringLiteral("提示"), interrupted);
    int code = 0;
    {
        Shop shop;
        Parlivo window(&shop);
        window.setGeometry(Parlivo::StartGeometry(app.primaryScreen()->availableGeometry(), window.width()));
        shop.StartMusic();
        window.show();
        code = app.exec();
    }
    // After a restore the program starts anew, once this instance has let
    // go of its lists and the sound device.
    if (Settings::RestartRequested()) {
        AudioOutput::Shutdown();
        QProcess::startDetached(QCoreApplication::applicationFilePath(), {});
    }
    return code;
}

} // namespace

int main(int argc, char *argv[])
{
    if (HasArgument(argc, argv, "--help") || HasArgument(argc, argv, "-h")) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (HasArgument(argc, argv, "--version")) {
        std::printf("parlivo %s\n", PARLIVO_VERSION);
        return 0;
    }
    if (HasArgument(argc, argv, "--headless")) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationVersion(QStringLiteral(PARLIVO_VERSION));
        return RunHeadless(app);
    }
    return RunWindow(argc, argv);
}
