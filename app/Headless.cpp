#include "app/Headless.h"

#include "app/ChainRoad.h"
#include "app/RemoteControl.h"
#include "app/Startup.h"
#include "core/Log.h"
#include "shop/Shop.h"
#include "shop/ShopSettings.h"
#include "shop/TimerSchedule.h"
#include "speech/AudioOutput.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

void Say(FILE *stream, const QString &text)
{
    std::fprintf(stream, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stream);
}

} // namespace

int RunHeadless(QCoreApplication &app)
{
    QCommandLineParser parser;
    const QCommandLineOption headless(QStringLiteral("headless"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("port"), QStringLiteral("port"));
    const QCommandLineOption lan(QStringLiteral("lan"));
    const QCommandLineOption noTimer(QStringLiteral("no-timer"));
    parser.addOptions({headless, port, lan, noTimer});
    if (!parser.parse(app.arguments())) {
        Say(stderr, parser.errorText());
        return 2;
    }
    PrepareApplication(app);
    const QString interrupted = FinishInterruptedBackup();
    if (!interrupted.isEmpty())
        Say(stdout, interrupted);

    int exitCode = 0;
    {
        Shop shop;
        const SettingsValues &settings = shop.Settings().Values();
        const bool chained = shop.Settings().Chain().Enabled();
        if (!settings.remoteEnabled && !chained) {
            Say(stderr, QStringLiteral("远程控制没有开启：无窗口运行需要它（或连锁总部）。请在 %1 中设置 remote=\"1\"，"
                                       "或在窗口的“设置”页勾选“开启远程控制”并保存。")
                            .arg(ShopSettings::FilePath()));
            return 3;
        }
        bool portOk = true;
        const int chosenPort = parser.isSet(port) ? parser.value(port).toInt(&portOk) : settings.remotePort;
        if (!portOk || chosenPort < 1 || chosenPort > 65535) {
            Say(stderr, QStringLiteral("--port needs a port number from 1 to 65535"));
            return 2;
        }
        const bool shopNetwork = parser.isSet(lan) || settings.remoteShopNetwork;
        RemoteControl remote(&shop);
        if (settings.remoteEnabled) {
            if (!remote.Start(quint16(chosenPort), shopNetwork, RemoteControl::Token())) {
                Say(stderr, QStringLiteral("端口 %1 无法使用（已被占用？）").arg(chosenPort));
                return 4;
            }
            Say(stdout, QStringLiteral("Parlivo %1: http://%2:%3/ (token in %4)")
                            .arg(QCoreApplication::applicationVersion(),
                                 shopNetwork ? QStringLiteral("<this machine>") : QStringLiteral("127.0.0.1"))
                            .arg(remote.Port())
                            .arg(RemoteControl::TokenFilePath()));
        }
        if (chained)
            Say(stdout, QStringLiteral("Parlivo %1: shop %2 of %3")
                            .arg(QCoreApplication::applicationVersion(), shop.Settings().Chain().shop,
                                 shop.Settings().Chain().broker));
        ChainRoad chain(&shop);
        chain.Apply();
        shop.StartMusic();
        // Nobody can press 开启 on a box without a screen: the day's tasks run.
        if (!parser.isSet(noTimer))
            shop.Timer()->Play();
        PLOG(LOG_INFO, "running without a window on port %d", remote.Port());
        exitCode = app.exec();
        PLOG(LOG_INFO, "%s", "ending: the lists are saved");
    }
    AudioOutput::Shutdown();
    return exitCode;
}
