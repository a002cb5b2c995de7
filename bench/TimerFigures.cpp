#include "TimerFigures.h"

#include "DaySimulation.h"
#include "modes/PriceMode.h"
#include "core/SettingsValues.h"
#include "shop/Shop.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QWindow>

namespace {

constexpr int kPriceRows = 10000;
constexpr int kTasks = 1000;
constexpr int kSteps = 20000;

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

// The scheduler's trace lines would time the terminal, not the scheduler.
class QuietDebug
{
public:
    QuietDebug() : m_old(qInstallMessageHandler(&Drop)) {}
    ~QuietDebug() { qInstallMessageHandler(m_old); }

private:
    static void Drop(QtMsgType, const QMessageLogContext &, const QString &) {}
    QtMessageHandler m_old;
};

} // namespace

TimerFigures::PriceListMs TimerFigures::PriceList(int rows, bool oddPrices)
{
    QByteArray xml = "<PriceRecords recycle=\"true\">\n";
    for (int i = 0; i < rows; ++i)
        xml += "    <record name=\"第" + QByteArray::number(i) + "号西瓜\" price=\""
               + (oddPrices ? "面议" + QByteArray::number(i) : QByteArray("1.98")) + "\" unit=\"一斤\" />\n";
    const QuietDebug quiet;
    PriceListMs figures;
    {
        Shop shop; // started untimed, over the bench's own list
        WriteFile(PriceListModel::FilePath(), xml + "</PriceRecords>\n");
        QElapsedTimer clock;
        clock.start();
        shop.Prices()->Load();
        PriceMode mode(&shop);
        mode.show();
        while (!mode.windowHandle() || !mode.windowHandle()->isExposed())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::processEvents();
        figures.load = clock.nsecsElapsed() / 1e6;
        clock.restart();
        mode.SaveFile();
        figures.save = clock.nsecsElapsed() / 1e6;
        g_restorePending = true;
    }
    g_restorePending = false;
    return figures;
}

double TimerFigures::TimerStepUs()
{
    // Tasks that wait for a start time late in the day: every step reads a row.
    QByteArray xml = "<TimerRecords>";
    for (int i = 0; i < kTasks; ++i)
        xml += "<record title=\"任务" + QByteArray::number(i) + "\" start=\"23:59\" end=\"2s\">通知</record>";
    WriteFile(TaskListModel::FilePath(), xml + "</TimerRecords>");
    const QuietDebug quiet;
    SimulatedClock clock;
    clock.ms = 12 * 3600000;
    Clock::Set(&clock);
    double us = 0;
    {
        ShopLists lists;
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < kSteps; ++i)
            lists.timer.RunSchedule();
        us = timer.nsecsElapsed() / 1e3 / kSteps;
        g_restorePending = true;
    }
    g_restorePending = false;
    Clock::Set(nullptr);
    return us;
}

double TimerFigures::SimulatedDayMs()
{
    return SimulatedDaysMs(1, false);
}

double TimerFigures::SimulatedWeekMs()
{
    return SimulatedDaysMs(7, true);
}

double TimerFigures::SimulatedDaysMs(int days, bool dailyRestart)
{
    QFile::remove(TaskListModel::FilePath());
    QFile::remove(PriceListModel::FilePath());
    const QuietDebug quiet;
    SimulatedClock clock;
    Clock::Set(&clock);
    QElapsedTimer timer;
    timer.start();
    {
        ShopLists lists;
        lists.tasks.SetDailyRestart(dailyRestart);
        SimulatedWorker worker(clock, lists);
        RunSimulatedSeconds(lists.timer, worker, qint64(days) * 24 * 3600);
        g_restorePending = true;
    }
    g_restorePending = false;
    Clock::Set(nullptr);
    return timer.nsecsElapsed() / 1e6;
}
