#include "app/Startup.h"

#include "core/Log.h"
#include "core/PendingSaves.h"
#include "settings/DataBackup.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QSocketNotifier>
#include <QTranslator>

#include <csignal>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void OnTerminate(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(g_signalPipe[0], &byte, 1);
}

// SIGTERM (log-out, shutdown), SIGINT and SIGHUP (the terminal or session
// went away) end the event loop like closing the window does, so the modes
// save their lists on the way out.
void QuitOnTerminateSignals(QCoreApplication &app)
{
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char byte = 0;
        [[maybe_unused]] const ssize_t n = read(g_signalPipe[1], &byte, 1);
        PLOG(LOG_INFO, "%s", "shutdown signal: closing");
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = OnTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    // Past a file size limit (ulimit -f) a write is short and the save
    // reports it; the signal would end the program instead.
    signal(SIGXFSZ, SIG_IGN);
}

// Qt ends the process with exit() when the display connection breaks; the
// window is never torn down then, so the lists are saved from here.
void SaveListsAtExit()
{
    std::atexit([] { PendingSaves::SaveAllNow(); });
}

// Qt's own texts (standard buttons, the input fields' menu) in Chinese.
void InstallQtTranslation(QCoreApplication &app)
{
    auto *translator = new QTranslator(&app);
    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (translator->load(QStringLiteral("qtbase_zh_CN"), dir))
        app.installTranslator(translator);
    else
        PLOG(LOG_WARNING, "no Qt translation qtbase_zh_CN in %s", qPrintable(dir));
}

} // namespace

void PrepareApplication(QCoreApplication &app)
{
    QCoreApplication::addLibraryPath(QStringLiteral("./plugins"));
    QCoreApplication::setApplicationName(QStringLiteral("Parlivo"));
    Q_INIT_RESOURCE(resources);
    InstallQtTranslation(app);
    QuitOnTerminateSignals(app);
    SaveListsAtExit();
}

QString FinishInterruptedBackup()
{
    return DataBackup::FinishInterrupted();
}
