#include "WindowFigures.h"

#include "app/Parlivo.h"
#include "core/SettingsValues.h"
#include "modes/MyMessageBox.h"
#include "modes/SimplePlay.h"
#include "app/Startup.h"
#include "shop/Shop.h"
#include "shop/WordListModel.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScreen>
#include <QWindow>

#include <cstdio>

namespace {

constexpr int kRows = 10000;

void WriteWordList(const QString &path)
{
    QByteArray xml = "<records recycle=\"true\">\n";
    for (int i = 0; i < kRows; ++i)
        xml += "    <record>第" + QByteArray::number(i) + "条：西瓜1块9毛8一斤，欢迎选购</record>\n";
    xml += "</records>\n";
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(xml);
}

// Lets the window system show and paint the widget.
void WaitUntilShown(QWidget &widget)
{
    widget.show();
    while (!widget.windowHandle() || !widget.windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QCoreApplication::processEvents();
}

} // namespace

long WindowFigures::ResidentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

WindowFigures::WordListMs WindowFigures::WordList10k(const QString &dataFile)
{
    WordListMs figures;
    {
        Shop shop; // started untimed, over the bench's own list
        WriteWordList(dataFile);
        QElapsedTimer clock;
        clock.start();
        shop.Words()->Load();
        SimplePlay tab(&shop);
        WaitUntilShown(tab);
        figures.load = clock.nsecsElapsed() / 1e6;
        clock.restart();
        tab.SaveFile();
        figures.save = clock.nsecsElapsed() / 1e6;
        g_restorePending = true; // no second save on the way out
    }
    g_restorePending = false;
    return figures;
}

double WindowFigures::UnusableLoadMs(const QString &dataFile)
{
    QByteArray rows;
    {
        WriteWordList(dataFile);
        QFile file(dataFile);
        if (file.open(QIODevice::ReadOnly))
            rows = file.readAll();
    }
    QByteArray misspelt = rows;
    misspelt.replace(misspelt.lastIndexOf("</record>"), 9, "</recrd>");
    QByteArray attributes = "<records><record";
    for (int i = 0; i < 100000; ++i)
        attributes += " a" + QByteArray::number(i) + "=\"x\"";
    const QByteArray damaged[] = {
        misspelt,
        rows + QByteArray("\xff"),
        QByteArray("<a>").repeated(42000),
        attributes + ">t</record></records>",
        "<records a=\"" + QByteArray(3 * 1024 * 1024, 'x') + "\">",
        "<records a=\"" + QByteArray(8 * 1024 * 1024, 'x') + "\"/>",
    };
    double worst = 0;
    {
        Shop shop;
        for (const QByteArray &bytes : damaged) {
            QFile file(dataFile);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
                return -1;
            file.write(bytes);
            file.close();
            QElapsedTimer clock;
            clock.start();
            {
                shop.Words()->Load();
                SimplePlay tab(&shop);
                WaitUntilShown(tab);
                worst = qMax(worst, clock.nsecsElapsed() / 1e6);
            }
            for (QWidget *w : QApplication::topLevelWidgets())
                w->close(); // the notices
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        g_restorePending = true;
    }
    g_restorePending = false;
    return worst;
}

int WindowFigures::StartupChild()
{
    int argc = 1;
    char name[] = "parlivo";
    char *argv[] = {name, nullptr};
    QApplication app(argc, argv);
    PrepareApplication(app);
    const QString interrupted = FinishInterruptedBackup();
    if (!interrupted.isEmpty())
        MyMessageBox::ShowNotice(QStringLiteral("提示"), interrupted);
    Shop shop;
    Parlivo window(&shop);
    window.setGeometry(Parlivo::StartGeometry(app.primaryScreen()->availableGeometry(), window.width()));
    shop.StartMusic();
    WaitUntilShown(window);
    std::printf("shown %ld\n", ResidentKb());
    std::fflush(stdout);
    return 0;
}

WindowFigures::Startup WindowFigures::StartupFigures(const QString &program)
{
    Startup figures;
    QProcess child;
    QElapsedTimer clock;
    clock.start();
    child.start(program, {QStringLiteral("--startup-child")});
    while (child.waitForReadyRead(10000)) {
        const QByteArray line = child.readLine();
        if (line.startsWith("shown ")) {
            figures.ms = clock.nsecsElapsed() / 1e6;
            figures.rssMb = line.mid(6).trimmed().toDouble() / 1024.0;
            break;
        }
    }
    child.waitForFinished(10000);
    return figures;
}
