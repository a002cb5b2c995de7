#include "Startup.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void OnTerminate(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(g_signalPipe[0], &byte, 1);
}

// SIGTERM (log-out, shutdown) and SIGINT end the event loop like closing the
// window does, so the modes save their lists on the way out.
void QuitOnTerminateSignals(QApplication &app)
{
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char byte = 0;
        [[maybe_unused]] const ssize_t n = read(g_signalPipe[1], &byte, 1);
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = OnTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

} // namespace

void PrepareApplication(QApplication &app)
{
    QCoreApplication::addLibraryPath(QStringLiteral("./plugins"));
    QCoreApplication::setApplicationName(QStringLiteral("Parlivo"));
    Q_INIT_RESOURCE(resources);
    QuitOnTerminateSignals(app);
}
