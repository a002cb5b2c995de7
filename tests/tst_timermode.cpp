#include "speech/AudioOutput.h"
#include "core/Clock.h"
#include "DialogDriver.h"
#include "modes/EditTaskDialog.h"
#include "core/SettingsValues.h"
#include "speech/Speake.h"
#include "speech/SpeechCache.h"
#include "TestEnvironment.h"
#include "DaySimulation.h"
#include "core/XmlFile.h"
#include "shop/ListJson.h"

#include <tinyxml.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QJsonDocument>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTextEdit>
#include <QTimeEdit>
#include <QtTest>

#include <deque>
#include <memory>

namespace {

} // namespace

class TestTimerMode : public QObject
{
    Q_OBJECT

private:
    // The shop's lists with timer.xml as given (none: the defaults).
    static std::unique_ptr<ShopLists> Fresh(const QByteArray *contents)
    {
        QFile::remove(TaskListModel::FilePath());
        if (contents)
            WriteFile(TaskListModel::FilePath(), *contents);
        return std::make_unique<ShopLists>();
    }
    // What the timer tab shows in a cell.
    static QString Cell(const ShopLists &shop, int row, int column)
    {
        return shop.tasks.index(row, column).data().toString();
    }
    static bool Ticked(const ShopLists &shop, int row) { return shop.tasks.List().At(row).enabled; }

private slots:
    void initTestCase()
    {
        IsolateUserDirs();
        MyMessageBox::ShowRaisedNotices();
    }
    void init()
    {
        g_restorePending = false;
        g_settings.musicStartType = 0;
        g_settings.smallWhenPlaying = 0;
    }
    void cleanup()
    {
        Clock::Set(nullptr);
        CloseNotices();
    }

    void editorDefaultsPresetsAndCoupling()
    {
        EditTaskDialog dialog;
        auto *start = dialog.findChild<QTimeEdit *>("timeEdit_startTime");
        auto *end = dialog.findChild<QTimeEdit *>("timeEdit_endTime");
        auto *title = dialog.findChild<QComboBox *>("comboBox_title");
        QCOMPARE(dialog.windowTitle(), QStringLiteral("定时任务编辑"));
        QCOMPARE(start->time(), QTime(8, 0));
        QCOMPARE(end->time(), QTime(9, 0));
        QCOMPARE(title->currentText(), QStringLiteral("员工准备通知"));
        QVERIFY(dialog.GetText().startsWith(QStringLiteral("各位同事早上好")));
        QVERIFY(!dialog.findChild<QLineEdit *>("lineEdit_timeAfterLastTask")->isEnabled());
        QVERIFY(!dialog.findChild<QLineEdit *>("lineEdit_lastTaskExecTimes")->isEnabled());

        dialog.SetText(QStringLiteral("自己写的"));
        title->setCurrentIndex(1);
        QVERIFY(dialog.GetText().startsWith(QStringLiteral("亲爱的顾客朋友")));

        start->setTime(QTime(10, 0));
        QCOMPARE(end->time(), QTime(10, 0));
        end->setTime(QTime(7, 0));
        QCOMPARE(start->time(), QTime(7, 0));

        // Counts take whole numbers only.
        auto *times = dialog.findChild<QLineEdit *>("lineEdit_lastTaskExecTimes");
        dialog.SetLastTaskExecTimes(3);
        QTest::keyClicks(times, "a5");
        QCOMPARE(times->text(), QStringLiteral("35"));
        QTime time;
        int count = 0;
        QVERIFY(!dialog.GetEndCondition(&time, &count));
        QCOMPARE(count, 35);
    }

    void editorRefusals_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("message"); // empty: accepted
        QTest::newRow("title without text") << "text=" << "请输入标题和播放内容！";
        QTest::newRow("text without title") << "title=" << "请输入标题和播放内容！";
        // The edits keep start ≤ end themselves: moving the end back moves the start.
        QTest::newRow("end moved before start") << "start=12:00,end=11:00" << "";
        QTest::newRow("price by repetitions") << "price,times=2" << "播报价格时必须设置结束时间！";
        QTest::newRow("price with empty title and text") << "price,title=,text=" << "";
        QTest::newRow("equal times") << "start=12:00,end=12:00" << "";
        QTest::newRow("campaign ends before it starts") << "from=2026-12-20,until=2026-12-19" << "活动结束日期不能早于开始日期！";
        QTest::newRow("one-day campaign") << "from=2026-12-20,until=2026-12-20" << "";
    }
    void editorRefusals()
    {
        QFETCH(QString, setup);
        QFETCH(QString, message);
        EditTaskDialog dialog;
        for (const QString &step : setup.split(',')) {
            const QString value = step.section('=', 1);
            if (step == "price")
                dialog.SetPlayPrice(true);
            else if (step.startsWith("text="))
                dialog.SetText(value);
            else if (step.startsWith("title="))
                dialog.SetTitle(value);
            else if (step.startsWith("start="))
                dialog.SetStartTime(QTime::fromString(value, "hh:mm"));
            else if (step.startsWith("end="))
                dialog.findChild<QTimeEdit *>("timeEdit_endTime")->setTime(QTime::fromString(value, "hh:mm"));
            else if (step.startsWith("times="))
                dialog.SetLastTaskExecTimes(value.toInt());
            else if (step.startsWith("from="))
                dialog.SetDates(QDate::fromString(value, Qt::ISODate), dialog.GetUntil());
            else if (step.startsWith("until="))
                dialog.SetDates(dialog.GetFrom(), QDate::fromString(value, Qt::ISODate));
        }
        QString shown;
        QTimer watcher; // answers the refusal, then leaves the dialog
        connect(&watcher, &QTimer::timeout, &dialog, [&] {
            if (auto *critical = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                shown = critical->text();
                critical->accept();
                dialog.reject();
            }
        });
        watcher.start(10);
        QTimer::singleShot(0, dialog.findChild<QPushButton *>("pushButton_yes"), &QPushButton::click);
        const int result = dialog.exec();
        QCOMPARE(shown, message);
        QCOMPARE(result, message.isEmpty() ? int(QDialog::Accepted) : int(QDialog::Rejected));
        if (setup.startsWith("price")) {
            QString title;
            QVERIFY(!dialog.GetTitle(&title));
            QCOMPARE(title, QStringLiteral("PriceReport"));
        }
    }

    // Campaign dates and weekdays decide the days a task runs; the lists'
    // JSON carries the dates and refuses them malformed, by row and field.
    void campaignDates_data()
    {
        QTest::addColumn<QString>("task"); // the "from"/"until"/"weekdays" of a JSON task
        QTest::addColumn<QString>("fault"); // "row field" of the refusal, empty when taken
        QTest::addColumn<QStringList>("runsOn"); // of the days 2026-12-19 … 2027-01-04
        const QStringList all{"2026-12-19", "2026-12-20", "2026-12-25", "2027-01-03", "2027-01-04"};
        QTest::newRow("no dates") << "" << "" << all;
        QTest::newRow("a campaign") << R"("from":"2026-12-20","until":"2027-01-03")" << ""
                                    << QStringList{"2026-12-20", "2026-12-25", "2027-01-03"};
        QTest::newRow("open end") << R"("from":"2026-12-25")" << "" << QStringList{"2026-12-25", "2027-01-03", "2027-01-04"};
        QTest::newRow("open start") << R"("until":"2026-12-19")" << "" << QStringList{"2026-12-19"};
        QTest::newRow("weekends of a campaign") << R"("from":"2026-12-20","until":"2027-01-03","weekdays":[6,7])" << ""
                                                << QStringList{"2026-12-20", "2027-01-03"};
        QTest::newRow("one day") << R"("from":"2026-12-25","until":"2026-12-25")" << "" << QStringList{"2026-12-25"};
        QTest::newRow("ends before it starts") << R"("from":"2026-12-25","until":"2026-12-24")" << "1 until" << QStringList();
        QTest::newRow("no such day") << R"("from":"2026-02-30")" << "1 from" << QStringList();
        QTest::newRow("another format") << R"("until":"03.01.2027")" << "1 until" << QStringList();
        QTest::newRow("a number") << R"("from":20261220)" << "1 from" << QStringList();
    }
    void campaignDates()
    {
        QFETCH(QString, task);
        QFETCH(QString, fault);
        QFETCH(QStringList, runsOn);
        const QString json = QString(R"({"tasks":[{"title":"早","text":"早上好","start":"08:00","times":1},)"
                                     R"({"title":"节","text":"节日快乐","start":"09:00","times":1%1%2}]})")
                                 .arg(task.isEmpty() ? "" : ",", task);
        TaskList list;
        ListJson::Fault why;
        const bool taken = ListJson::ToTasks(QJsonDocument::fromJson(json.toUtf8()).object(), &list, &why);
        QCOMPARE(taken ? QString() : QString("%1 %2").arg(why.row).arg(why.field), fault);
        if (!taken)
            return;
        QStringList days;
        for (const char *day : {"2026-12-19", "2026-12-20", "2026-12-25", "2027-01-03", "2027-01-04"})
            if (list.At(1).RunsOn(QDate::fromString(day, Qt::ISODate)))
                days << day;
        QCOMPARE(days, runsOn);
        QVERIFY(list.At(0).RunsOn(QDate(2026, 12, 19)));
        // Back to JSON and through timer.xml, the dates unchanged.
        TaskList again;
        QVERIFY(ListJson::ToTasks(ListJson::FromTasks(list), &again, &why));
        TiXmlDocument doc;
        again.ToXml(&doc);
        const TaskList read = TaskList::FromXml(*doc.RootElement());
        QCOMPARE(read.At(1).from, list.At(1).from);
        QCOMPARE(read.At(1).until, list.At(1).until);
        QCOMPARE(XmlFile::Print(doc).contains("from="), list.At(1).from.isValid());
    }

    // The file: the three default tasks give the five documented lines;
    // delays and counts are written with "s"; a price task loses any text.
    void fileLayout()
    {
        auto mode = Fresh(nullptr);
        QCOMPARE(mode->tasks.rowCount(), 3);
        QCOMPARE(Cell(*mode, 1, 1), QStringLiteral("延时5秒"));
        QCOMPARE(Cell(*mode, 0, 3), QStringLiteral("重复2次"));
        QCOMPARE(Cell(*mode, 1, 2), QStringLiteral("播报价格"));
        QVERIFY(!QFile::exists(TaskListModel::FilePath())); // defaults are saved only by the next save
        mode->tasks.Store().SaveNow();
        const QList<QByteArray> lines = ReadFile(TaskListModel::FilePath()).split('\n');
        QCOMPARE(lines.size(), 6);
        QCOMPARE(lines[0], QByteArray("<TimerRecords>"));
        QVERIFY(lines[1].startsWith("    <record title=\"开始营业通知\" start=\"07:55\" end=\"2s\">各位同事早上好"));
        QVERIFY(lines[1].endsWith("谢谢！</record>"));
        QVERIFY(lines[1].contains("让我们 以饱满"));
        QCOMPARE(lines[2], QByteArray("    <record title=\"PriceReport\" start=\"5s\" end=\"12:00\" />"));
        QVERIFY(lines[3].startsWith("    <record title=\"下班通知\" start=\"22:00\" end=\"2s\">各位亲爱的顾客您好,欢迎"));
        QCOMPARE(lines[4], QByteArray("</TimerRecords>"));

        const QByteArray odd = "<T><record title=\"PriceReport\" start=\"30s\" end=\"3s\">丢弃</record>"
                               "<record title=\"坏\" start=\"99:99\" end=\"-5s\">x</record>"
                               "<record title=\"大\" start=\"999999999s\" end=\"12:00\">y</record></T>";
        mode = Fresh(&odd);
        QCOMPARE(Cell(*mode, 0, 1), QStringLiteral("延时30秒"));
        QCOMPARE(Cell(*mode, 0, 3), QStringLiteral("重复3次"));
        QCOMPARE(Cell(*mode, 1, 1), QString()); // an invalid time shows empty
        QCOMPARE(Cell(*mode, 1, 3), QStringLiteral("重复0次")); // clamped to 0
        QCOMPARE(Cell(*mode, 2, 1), QStringLiteral("延时99999秒"));
        mode->tasks.Store().SaveNow();
        QVERIFY(ReadFile(TaskListModel::FilePath())
                    .contains("<record title=\"PriceReport\" start=\"30s\" end=\"3s\" />"));

        // A file as the program writes it comes back byte for byte, waits
        // and counts of 0 included.
        const QByteArray canonical = "<TimerRecords dailyRestart=\"true\">\n"
                                     "    <record title=\"开门\" start=\"07:55\" end=\"0s\">开门 &amp; 欢迎</record>\n"
                                     "    <record title=\"PriceReport\" start=\"0s\" end=\"12:00\" />\n"
                                     "    <record title=\"周末\" start=\"5s\" end=\"3s\" days=\"67\">周末</record>\n"
                                     "    <record title=\"圣诞\" start=\"09:00\" end=\"1s\" days=\"6\" from=\"2026-12-20\" until=\"2027-01-03\">圣诞快乐</record>\n"
                                     "</TimerRecords>\n";
        mode = Fresh(&canonical);
        QCOMPARE(Cell(*mode, 0, 3), QStringLiteral("重复0次"));
        QCOMPARE(Cell(*mode, 1, 1), QStringLiteral("延时0秒"));
        QVERIFY(Cell(*mode, 3, 2).startsWith(QStringLiteral("圣诞（")));
        QVERIFY(Cell(*mode, 3, 2).endsWith(QStringLiteral("至2027-01-03）")));
        mode->tasks.Store().SaveNow();
        QCOMPARE(ReadFile(TaskListModel::FilePath()), canonical);
        mode = Fresh(&canonical); // and read again, the same
        QCOMPARE(Cell(*mode, 1, 1), QStringLiteral("延时0秒"));

        // An edit made just before quitting is saved on the way out.
        mode->tasks.Remove(1);
        mode.reset();
        QVERIFY(!ReadFile(TaskListModel::FilePath()).contains("PriceReport"));
    }

    // A whole shop day through the real timer and price modes, the clock
    // and the worker simulated.
    void simulatedDay()
    {
        const QByteArray plan =
            "<TimerRecords>"
            "<record title=\"开始\" start=\"07:55\" end=\"2s\">开始营业</record>"
            "<record title=\"PriceReport\" start=\"5s\" end=\"12:00\"/>"
            "<record title=\"午间\" start=\"5s\" end=\"3s\">午间通知</record>"
            "<record title=\"过期\" start=\"09:00\" end=\"10:00\">不该播</record>"
            "<record title=\"禁用\" start=\"13:00\" end=\"1s\">被禁用</record>"
            "<record title=\"下班\" start=\"22:00\" end=\"2s\">下班通知</record>"
            "<record title=\"午夜\" start=\"23:58\" end=\"2s\">午夜前</record>"
            "</TimerRecords>";
        QFile::remove(PriceListModel::FilePath()); // the price list's four default rows
        auto shop = Fresh(&plan);
        shop->tasks.SetEnabled(4, false);
        SimulatedClock clock;
        Clock::Set(&clock);
        SimulatedWorker worker(clock, *shop);

        RunSimulatedSeconds(shop->timer, worker, 24 * 3600 + 600); // into the next day

        QStringList timerTexts;
        QList<qint64> firstAt;
        qint64 lastPrice = -1, firstPrice = -1;
        for (const SimulatedWorker::Heard &h : worker.heard) {
            if (h.fromTimer) {
                if (timerTexts.isEmpty() || timerTexts.last() != h.text)
                    firstAt << h.at;
                timerTexts << h.text;
            } else {
                if (firstPrice < 0)
                    firstPrice = h.at;
                lastPrice = h.at;
            }
        }
        QCOMPARE(timerTexts, QStringList({"开始营业", "开始营业", "午间通知", "午间通知", "午间通知", "下班通知",
                                          "下班通知", "午夜前", "午夜前"}));
        // Each first announcement after its 900 ms lead-in.
        QCOMPARE(At(firstAt[0]), QStringLiteral("07:55:00.900"));
        QCOMPARE(At(firstAt[2]), QStringLiteral("22:00:00.900"));
        QCOMPARE(At(firstAt[3]), QStringLiteral("23:58:00.900"));
        // The price list starts 5 s after the second opening notice ended
        // (07:55:17.9) and stops when 12:00 has fully passed: its last row
        // started before 12:01, and the midday notice follows 5 s after the stop.
        QCOMPARE(At(firstPrice), QStringLiteral("07:55:23.000"));
        QVERIFY2(lastPrice < 12 * 3600000 + 60000 && lastPrice >= 12 * 3600000 + 60000 - SimulatedWorker::kTextMs,
                 qPrintable(At(lastPrice)));
        QVERIFY2(firstAt[1] >= 12 * 3600000 + 65000 && firstAt[1] < 12 * 3600000 + 65000 + SimulatedWorker::kTextMs + 1000,
                 qPrintable(At(firstAt[1])));
        QCOMPARE(shop->price.GetState(), PricePlayer::Stopped);
        // Ended tasks stay unticked; the disabled one was never touched.
        for (int row = 0; row < shop->tasks.rowCount(); ++row)
            QVERIFY(!Ticked(*shop, row));
        QCOMPARE(shop->timer.RepetitionsDone(2), 3);
    }

    // A week that runs itself: the daily restart, weekday sets, a date
    // change in the middle of a task, the PC asleep from 06:00 to 09:00 on
    // Wednesday, and the clock set back.
    void simulatedWeek()
    {
        const QByteArray plan =
            "<TimerRecords dailyRestart=\"true\">"
            "<record title=\"早班\" start=\"06:30\" end=\"06:30\">早班</record>"
            "<record title=\"开门\" start=\"07:55\" end=\"1s\">开门</record>"
            "<record title=\"工作日\" start=\"08:00\" end=\"1s\" days=\"12345\">工作日</record>"
            "<record title=\"周末\" start=\"09:00\" end=\"1s\" days=\"67\">周末</record>"
            "<record title=\"跨夜\" start=\"23:59\" end=\"10s\">跨夜</record>"
            "</TimerRecords>";
        QFile::remove(PriceListModel::FilePath());
        auto shop = Fresh(&plan);
        TimerSchedule *timer = &shop->timer;
        SimulatedClock clock;
        Clock::Set(&clock);
        SimulatedWorker worker(clock, *shop);
        timer->Play();
        constexpr qint64 kDay = 86400;
        for (qint64 second = 1; second <= 7 * kDay; ++second) {
            const qint64 inDay = second % kDay;
            if (second / kDay == 2 && inDay > 6 * 3600 && inDay < 9 * 3600)
                continue; // Wednesday morning asleep: no ticks, the clock jumps
            worker.RunUntil(second * 1000);
            timer->TimerOut();
        }
        // Per day: how often each text was heard, and when first.
        QMap<QPair<int, QString>, int> count;
        QMap<QPair<int, QString>, qint64> first;
        for (const SimulatedWorker::Heard &h : worker.heard) {
            const QPair<int, QString> key(int(h.at / (kDay * 1000)), h.text);
            if (!count.contains(key))
                first[key] = h.at % (kDay * 1000);
            ++count[key];
        }
        for (int day = 0; day < 7; ++day) {
            const bool weekend = day >= 5, wednesday = day == 2;
            QVERIFY2((count.value({day, "早班"}) > 0) == !wednesday, qPrintable(QString::number(day)));
            QCOMPARE(count.value({day, "开门"}), 1);
            QCOMPARE(At(first.value({day, "开门"})), wednesday ? At(first.value({day, "开门"})) : QString("07:55:00.900"));
            QVERIFY(!wednesday || first.value({day, "开门"}) < 9 * 3600000 + 60000); // at once on waking
            QCOMPARE(count.value({day, "工作日"}), weekend ? 0 : 1);
            QCOMPARE(count.value({day, "周末"}), weekend ? 1 : 0);
            // Ten wanted from 23:59, one every nine seconds: the seventh is
            // still speaking at midnight, and the new day starts after it.
            QCOMPARE(count.value({day, "跨夜"}), 7);
        }

        // The clock set back over midnight, then forward again: the day
        // that has already started is not started a second time.
        auto run = [&](qint64 seconds) {
            for (qint64 second = 0; second < seconds; ++second) {
                worker.RunUntil(clock.ms + 1000);
                timer->TimerOut();
            }
        };
        run(60); // Monday 00:01 of the next week, the night's last text done
        const qsizetype before = worker.heard.size();
        clock.ms -= 6 * 3600 * 1000 + 60000; // Sunday 18:00
        run(3600);
        clock.ms += 13 * 3600 * 1000 - 10 * 60000; // Monday 07:50
        run(3600);
        QStringList after;
        for (qsizetype i = before; i < worker.heard.size(); ++i)
            after << worker.heard[i].text;
        // Started tasks run by their own rules (passed start times start at
        // once, Sunday skips 工作日); nothing is heard twice.
        QCOMPARE(after, QStringList({"开门", "周末"}));

        // The options are written back; a table without them writes none.
        shop->tasks.Store().SaveNow();
        const QByteArray saved = ReadFile(TaskListModel::FilePath());
        QVERIFY(saved.startsWith("<TimerRecords dailyRestart=\"true\">"));
        QVERIFY(saved.contains("<record title=\"工作日\" start=\"08:00\" end=\"1s\" days=\"12345\">"));
        QVERIFY(saved.contains("<record title=\"开门\" start=\"07:55\" end=\"1s\">"));
        QCOMPARE(Cell(*shop, 2, 2), QStringLiteral("工作日（一二三四五）"));
    }

    // Days on the simulated clock where the schedule used to lose its way.
    // Each runs the real timer and price modes; what is heard is compared.
    void dayTimelines_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("a task inserted above the running one") << "insert";
        QTest::newRow("20,000 announcements of a clock-end task") << "many";
        QTest::newRow("two price tasks back to back, a long row") << "prices";
        QTest::newRow("an end at 23:59 spoken past midnight") << "midnight";
        QTest::newRow("the running task edited") << "edit";
        QTest::newRow("an ended task ticked again, the timer restarted, then edited") << "rearm";
        QTest::newRow("the running task edited into the other kind and back") << "kind";
    }
    void dayTimelines()
    {
        QFETCH(QString, name);
        const QMap<QString, QByteArray> plans = {
            {"insert", "<record title=\"十点\" start=\"10:00\" end=\"10:30\">十点的通知</record>"},
            {"many", "<record title=\"全天\" start=\"00:00\" end=\"23:00\">短</record>"},
            {"prices", "<record title=\"PriceReport\" start=\"08:00\" end=\"08:10\" />"
                       "<record title=\"PriceReport\" start=\"5s\" end=\"08:30\" />"},
            {"midnight", "<record title=\"夜\" start=\"23:50\" end=\"23:59\">夜间通知</record>"},
            {"edit", "<record title=\"五次\" start=\"10:00\" end=\"5s\">旧的文字</record>"},
            {"rearm", "<record title=\"两次\" start=\"10:00\" end=\"2s\">两次通知</record>"},
            {"kind", "<record title=\"文字\" start=\"10:00\" end=\"10:30\">文字任务</record>"
                     "<record title=\"PriceReport\" start=\"11:00\" end=\"11:30\" />"},
        };
        const QByteArray plan = "<TimerRecords>" + plans.value(name) + "</TimerRecords>";
        QVERIFY(WriteFile(PriceListModel::FilePath(), "<PriceRecords recycle=\"true\"><record text=\"很长的一行\" /></PriceRecords>"));
        auto shop = Fresh(&plan);
        TimerSchedule *timer = &shop->timer;
        SimulatedClock clock;
        Clock::Set(&clock);
        SimulatedWorker worker(clock, *shop);
        auto heard = [&](const QString &text, qint64 from, qint64 to) {
            int n = 0;
            for (const SimulatedWorker::Heard &h : worker.heard)
                n += h.text == text && h.at >= from * 1000 && h.at < to * 1000;
            return n;
        };
        constexpr qint64 H = 3600, M = 60;
        if (name == "insert") {
            RunSimulatedSeconds(*timer, worker, 10 * H + 5 * M);
            TimerTask later;
            later.startTime = QTime(21, 0);
            later.endTime = QTime(21, 5);
            later.title = later.text = QStringLiteral("九点的通知");
            shop->tasks.Insert(0, later);
            RunSimulatedSeconds(*timer, worker, 21 * H + 10 * M, 10 * H + 5 * M + 1);
            QVERIFY(heard("十点的通知", 10 * H + 25 * M, 10 * H + 31 * M) > 0);
            QCOMPARE(heard("九点的通知", 0, 21 * H), 0);
            QVERIFY(heard("九点的通知", 21 * H, 21 * H + 6 * M) > 0);
        } else if (name == "many") {
            worker.textMs = 1000;
            RunSimulatedSeconds(*timer, worker, 23 * H + 10 * M);
            QVERIFY2(heard("短", 0, 24 * H) > 20000, qPrintable(QString::number(heard("短", 0, 24 * H))));
            QVERIFY(heard("短", 22 * H + 59 * M, 23 * H + M) > 0);
            QCOMPARE(heard("短", 23 * H + M, 24 * H), 0);
        } else if (name == "prices") {
            worker.textMs = 20000;
            RunSimulatedSeconds(*timer, worker, 8 * H + 40 * M);
            QVERIFY(heard("很长的一行", 8 * H, 8 * H + 11 * M) > 0);
            QVERIFY(heard("很长的一行", 8 * H + 12 * M, 8 * H + 30 * M) > 20);
            QCOMPARE(heard("很长的一行", 8 * H + 32 * M, 9 * H), 0);
        } else if (name == "midnight") {
            clock.ms = (23 * H + 49 * M) * 1000;
            RunSimulatedSeconds(*timer, worker, 25 * H, 23 * H + 49 * M);
            QVERIFY(heard("夜间通知", 23 * H + 58 * M, 24 * H) > 0);
            QCOMPARE(heard("夜间通知", 24 * H + 10, 25 * H), 0);
        } else if (name == "edit") {
            RunSimulatedSeconds(*timer, worker, 10 * H + 15);
            QCOMPARE(heard("旧的文字", 0, 24 * H), 2);
            TimerTask task = shop->tasks.List().At(0);
            task.text = QStringLiteral("新的文字");
            shop->tasks.Replace(0, task);
            RunSimulatedSeconds(*timer, worker, 11 * H, 10 * H + 16);
            QCOMPARE(heard("新的文字", 0, 24 * H), 3);
        } else if (name == "rearm") {
            RunSimulatedSeconds(*timer, worker, 10 * H + M);
            QCOMPARE(heard("两次通知", 0, 24 * H), 2);
            QVERIFY(!shop->tasks.List().At(0).enabled); // ended: unticked
            shop->tasks.SetEnabled(0, true);
            timer->Pause();
            RunSimulatedSeconds(*timer, worker, 11 * H, 10 * H + M + 1);
            QCOMPARE(heard("两次通知", 10 * H + M, 11 * H), 2); // both repetitions again
            QVERIFY(!shop->tasks.List().At(0).enabled);
            TimerTask task = shop->tasks.List().At(0);
            task.text = QStringLiteral("改过的通知");
            shop->tasks.Replace(0, task); // an ended task edited runs again
            RunSimulatedSeconds(*timer, worker, 12 * H, 11 * H + 1);
            QCOMPARE(heard("改过的通知", 11 * H, 12 * H), 2);
        } else if (name == "kind") {
            RunSimulatedSeconds(*timer, worker, 10 * H + 5 * M);
            QVERIFY(heard("文字任务", 10 * H, 10 * H + 5 * M) > 10);
            TimerTask task = shop->tasks.List().At(0);
            task.playPrice = true;
            shop->tasks.Replace(0, task);
            RunSimulatedSeconds(*timer, worker, 11 * H + 10 * M, 10 * H + 5 * M + 1);
            // The text is cut at once and the price list takes over until 10:30.
            QCOMPARE(heard("文字任务", 10 * H + 5 * M + 1, 24 * H), 0);
            QVERIFY(heard("很长的一行", 10 * H + 5 * M, 10 * H + 6 * M) > 0);
            QCOMPARE(heard("很长的一行", 10 * H + 32 * M, 11 * H), 0);
            QVERIFY(heard("很长的一行", 11 * H, 11 * H + 10 * M) > 0);
            task = shop->tasks.List().At(1);
            task.playPrice = false;
            task.title = task.text = QStringLiteral("改成文字");
            shop->tasks.Replace(1, task);
            RunSimulatedSeconds(*timer, worker, 12 * H, 11 * H + 10 * M + 1);
            // The price row in hand is cut at once; the text follows within seconds.
            QCOMPARE(heard("很长的一行", 11 * H + 10 * M + 1, 24 * H), 0);
            QVERIFY(heard("改成文字", 11 * H + 10 * M, 11 * H + 10 * M + 10) > 0);
            QCOMPARE(heard("改成文字", 11 * H + 31 * M, 24 * H), 0);
            QCOMPARE(shop->price.GetState(), PricePlayer::Stopped);
        }
    }

    // Reports for a row that is gone (deleted while it spoke) are harmless.
    void reportForADeletedRow()
    {
        const QByteArray plan = "<TimerRecords><record title=\"甲\" start=\"00:00\" end=\"3s\">甲</record></TimerRecords>";
        auto shop = Fresh(&plan);
        TimerSchedule *mode = &shop->timer;
        QSignalSpy out(mode, &TimerSchedule::OutAudio);
        mode->Play();
        mode->TimerOut();
        QCOMPARE(out.size(), 2);
        shop->tasks.Remove(0);
        mode->ActionFinished(out.last().at(0).toInt());
        mode->TimerOut(); // an empty table: nothing happens
        QCOMPARE(out.size(), 2);
    }

    // The real clock and the real worker: a task's text is heard.
    void taskIsHeard()
    {
        const QString heard = IsolateUserDirs().path() + "/timer.raw";
        qputenv("SDL_AUDIODRIVER", "disk");
        qputenv("SDL_DISKAUDIOFILE", heard.toLocal8Bit());
        QVERIFY(QDir::setCurrent(IsolateUserDirs().path()));
        const QByteArray plan = "<TimerRecords><record title=\"通知\" start=\"00:00\" end=\"1s\">请注意</record></TimerRecords>";
        auto shop = Fresh(&plan);
        Speake worker;
        worker.SetDeviceReleaseMs(-1);
        connect(&shop->timer, &TimerSchedule::OutAudio, &worker, &Speake::SpeakAudio);
        connect(&worker, &Speake::ActionFinished, &shop->timer, &TimerSchedule::ActionFinished);
        worker.start();
        shop->timer.Play();
        QTRY_VERIFY_WITH_TIMEOUT(!Ticked(*shop, 0), 60000);
        worker.Stop();
        worker.wait();
        AudioOutput::CloseIfIdle();
        QVERIFY(QFile::exists(SpeechCache::PathFor(QStringLiteral("请注意"))));
        const QByteArray out = ReadFile(heard);
        QVERIFY2(PeakOf(out) > 3000, "the task's text was not heard");
    }
};

QTEST_MAIN(TestTimerMode)
#include "tst_timermode.moc"
