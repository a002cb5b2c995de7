#include "core/AppPaths.h"
#include "speech/AudioOutput.h"
#include "DialogDriver.h"
#include "modes/PriceMode.h"
#include "core/SettingsValues.h"
#include "speech/Speake.h"
#include "speech/SpeechCache.h"
#include "TestEnvironment.h"

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTableWidget>
#include <QPushButton>
#include <QtTest>

#include <memory>

namespace {

struct Request
{
    int index;
    int type;
    QString content;
};

QList<Request> Requests(const QSignalSpy &spy)
{
    QList<Request> out;
    for (const QList<QVariant> &a : spy)
        out.append({a.at(0).toInt(), a.at(1).toInt(), a.at(2).toString()});
    return out;
}

} // namespace

// Counts the style changes of the widgets it watches.
class StyleChangeCounter : public QObject
{
public:
    explicit StyleChangeCounter(int *count) : m_count(count) {}
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::StyleChange)
            ++*m_count;
        return false;
    }

private:
    int *m_count;
};

class TestPriceMode : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<PriceMode> m_mode;

    QTableWidget *Table() const { return m_mode->findChild<QTableWidget *>("tableWidget"); }
    QCheckBox *Loop() const { return m_mode->findChild<QCheckBox *>("checkBox_recycle"); }
    void Untick(int row) const { Table()->item(row, 0)->setCheckState(Qt::Unchecked); }
    void Reload(const QByteArray *contents)
    {
        g_restorePending = true;
        m_mode.reset();
        g_restorePending = false;
        QFile::remove(PriceMode::FilePath());
        if (contents)
            QVERIFY(WriteFile(PriceMode::FilePath(), *contents));
        m_mode = std::make_unique<PriceMode>(0x1000000);
    }
    // A table of price rows ("name|price|unit") and text rows (plain text).
    void LoadRows(const QStringList &rows, bool loop)
    {
        QByteArray xml = "<PriceRecords>";
        for (const QString &row : rows) {
            const QStringList parts = row.split('|');
            xml += parts.size() == 3 ? "<record name=\"" + parts[0].toUtf8() + "\" price=\"" + parts[1].toUtf8()
                                           + "\" unit=\"" + parts[2].toUtf8() + "\"/>"
                                     : "<record text=\"" + row.toUtf8() + "\"/>";
        }
        xml += "</PriceRecords>";
        Reload(&xml);
        Loop()->setChecked(loop);
    }
    // Answers the last text request of the mode.
    void Finish(const QSignalSpy &out) { m_mode->ActionFinished(Requests(out).last().index); }

private slots:
    void initTestCase()
    {
        IsolateUserDirs();
        MyMessageBox::ShowRaisedNotices();
    }
    void init()
    {
        g_settings.musicStartType = 0;
        g_settings.smallWhenPlaying = 0;
        LoadRows({}, true);
    }
    void cleanup()
    {
        g_restorePending = true;
        m_mode.reset();
        g_restorePending = false;
        CloseNotices();
    }

    void spokenPrices_data()
    {
        QTest::addColumn<QString>("price");
        QTest::addColumn<QString>("spoken");
        QTest::newRow("1.98") << "1.98" << "1块9毛8";
        QTest::newRow("2.50") << "2.50" << "两块5毛";
        QTest::newRow("3.05") << "3.05" << "3块零5分";
        QTest::newRow("0.05") << "0.05" << "5分";
        QTest::newRow("0.5") << "0.5" << "5毛";
        QTest::newRow("12.00") << "12.00" << "12块";
        QTest::newRow("2") << "2" << "两块";
        QTest::newRow("2.05") << "2.05" << "两块零5分";
        QTest::newRow("0.8") << "0.8" << "8毛";
        QTest::newRow("3.10") << "3.10" << "3块1毛";
        QTest::newRow("0") << "0" << "";
        QTest::newRow("0.00") << "0.00" << "";
        QTest::newRow("012 as written") << "012" << "012块";
        QTest::newRow("1.9") << "1.9" << "1块9毛";
        QTest::newRow(".5 has no bare 块") << ".5" << "5毛";
        QTest::newRow("22.2") << "22.2" << "22块2毛";
    }
    void spokenPrices()
    {
        QFETCH(QString, price);
        QFETCH(QString, spoken);
        QCOMPARE(PriceMode::PriceToSpeech(price), spoken);
    }

    // Each kind of row becomes exactly one request.
    void rowsBecomeRequests()
    {
        g_settings.smallWhenPlaying = 1;
        LoadRows({"西瓜|2|一斤", "欢迎光临", "延时3秒", "西瓜|2.05|一斤", "延时2分"}, true);
        QSignalSpy out(m_mode.get(), &PriceMode::OutAudio);
        QSignalSpy start(m_mode.get(), &PriceMode::StartPlay);
        QVERIFY(m_mode->Play());
        for (int i = 0; i < 4; ++i)
            Finish(out);
        const QList<Request> requests = Requests(out);
        QCOMPARE(requests.size(), 5);
        QStringList contents;
        QList<int> types;
        for (int i = 0; i < requests.size(); ++i) {
            contents << requests[i].content;
            types << requests[i].type;
            QCOMPARE(requests[i].index, 0x1000000 + i);
        }
        QCOMPARE(contents, QStringList({"西瓜两块一斤", "欢迎光临", "3000", "西瓜两块零5分一斤", "120000"}));
        QCOMPARE(types, QList<int>({0, 0, 1, 0, 1}));
        QCOMPARE(start.size(), 5);
    }

    void loopAdvanceAndStop()
    {
        LoadRows({"甲|1|一个", "乙||一个", "丙|3|一个", "丁|4|一个"}, false);
        QSignalSpy out(m_mode.get(), &PriceMode::OutAudio);
        QSignalSpy active(m_mode.get(), &PriceMode::Active);
        // Without the loop box one row is read, then the mode stops.
        QVERIFY(m_mode->Play());
        Finish(out);
        QCOMPARE(out.size(), 1);
        QCOMPARE(m_mode->PlayState(), int(PriceMode::Stopped));
        QCOMPARE(active.last().at(0).toBool(), false);

        // Looping skips the row without a price and the unticked row, and wraps.
        Loop()->setChecked(true);
        Untick(2);
        Table()->selectRow(0);
        out.clear();
        QVERIFY(m_mode->Play());
        Finish(out);
        Finish(out);
        QStringList spoken;
        for (const Request &r : Requests(out))
            spoken << r.content;
        QCOMPARE(spoken, QStringList({"甲1块一个", "丁4块一个", "甲1块一个"}));

        // Every row unticked: each is tried once, the mode stops and says so.
        for (int row = 0; row < 4; ++row)
            Untick(row);
        out.clear();
        active.clear();
        m_mode->ActionFinished(0x1000000 + 1000);
        QCOMPARE(out.size(), 0);
        QCOMPARE(m_mode->PlayState(), int(PriceMode::Stopped));
        QCOMPARE(active.size(), 1);
        QCOMPARE(active.last().at(0).toBool(), false);
    }

    // Row after row of a loop the play button stays lit without being
    // restyled: a style change per row kept memory for ever.
    void loopLeavesTheButtonsAlone()
    {
        LoadRows({"甲|1|一个", "乙|2|一个", "丙|3|一个"}, true);
        QSignalSpy out(m_mode.get(), &PriceMode::OutAudio);
        auto *play = m_mode->findChild<QPushButton *>("pushButton_play");
        QVERIFY(m_mode->Play());
        QTRY_COMPARE(play->styleSheet(), QStringLiteral("background-color:#00FF00"));
        int restyled = 0;
        StyleChangeCounter counter(&restyled);
        play->installEventFilter(&counter);
        for (int row = 0; row < 30; ++row) {
            Finish(out);
            QCoreApplication::processEvents();
        }
        QCOMPARE(out.size(), 31);
        QCOMPARE(restyled, 0);
        QCOMPARE(play->styleSheet(), QStringLiteral("background-color:#00FF00"));
    }

    // Timer mode's hold: pause is refused; a stop in the middle of a row
    // lets the row finish, then stops; a stop while idle pauses at once.
    void timerModeHandshake()
    {
        LoadRows({"甲|1|一个", "乙|2|一个"}, false);
        QSignalSpy out(m_mode.get(), &PriceMode::OutAudio);
        QSignalSpy cancels(m_mode.get(), &PriceMode::CancelSpeech);
        m_mode->StartTimerModeControl();
        QCOMPARE(out.size(), 1);
        QVERIFY(!m_mode->Pause());
        QCOMPARE(cancels.size(), 0);
        Finish(out); // loops whatever the loop box says
        QCOMPARE(out.size(), 2);
        m_mode->StopTimerModeControl();
        QCOMPARE(cancels.size(), 0); // the row in hand is not cut
        Finish(out);
        QCOMPARE(out.size(), 2);
        QCOMPARE(m_mode->PlayState(), int(PriceMode::Stopped));
        QCOMPARE(cancels.size(), 1);

        Loop()->setChecked(true);
        QVERIFY(m_mode->Play());
        Finish(out);
        m_mode->StopTimerModeControl(); // a row is out: break after it
        Finish(out);
        QCOMPARE(m_mode->PlayState(), int(PriceMode::Stopped));
    }

    // The list replaced whole while it loops: the row being read is found
    // again by what it holds, and the loop goes on after it.
    void replacedWhilePlaying()
    {
        LoadRows({"甲|1|一个", "乙|2|一个", "丙|3|一个"}, true);
        QSignalSpy out(m_mode.get(), &PriceMode::OutAudio);
        Table()->selectRow(1);
        QVERIFY(m_mode->Play());
        PriceList list;
        list.recycle = true;
        for (const char *name : {"新", "乙", "丁"})
            list.Insert(list.Size(), PriceRow::Goods(QString::fromUtf8(name), QString::fromUtf8(name) == "乙" ? "2" : "5", "一个"));
        m_mode->ReplaceList(list);
        QVERIFY(ReadFile(PriceMode::FilePath()).contains("丁")); // saved at once
        Finish(out);
        QCOMPARE(Requests(out).last().content, QStringLiteral("丁5块一个"));
    }

    void priceEditorCommits()
    {
        LoadRows({"西瓜|1.98|一斤"}, false);
        QTableWidget *table = Table();
        table->setCurrentCell(0, 2);
        m_mode->ProcessTableDoubleClick(0, 2);
        auto *editor = qobject_cast<QLineEdit *>(table->cellWidget(0, 2));
        QVERIFY(editor);
        editor->clear();
        QTest::keyClicks(editor, "7a.");
        QCOMPARE(editor->text(), QStringLiteral("7."));
        editor->setText("7");
        table->setCurrentCell(0, 1); // leaving the cell commits
        QVERIFY(!table->cellWidget(0, 2));
        QCOMPARE(table->item(0, 2)->text(), QStringLiteral("7.00"));
        QSignalSpy out(m_mode.get(), &PriceMode::OutAudio);
        QVERIFY(m_mode->Play());
        QCOMPARE(Requests(out).value(0).content, QStringLiteral("西瓜7块一斤"));

        // The edit is saved a second later, and so is every change after
        // another double-click (an editor opened is no reason to wait).
        QTRY_VERIFY_WITH_TIMEOUT(ReadFile(PriceMode::FilePath()).contains("price=\"7.00\""), 10000);
        m_mode->ProcessTableDoubleClick(0, 3);
        table->setCurrentCell(0, 1);
        m_mode->AddPriceRow(QStringLiteral("苹果"), QStringLiteral("3.5"), QStringLiteral("一斤"));
        QTRY_VERIFY_WITH_TIMEOUT(ReadFile(PriceMode::FilePath()).contains("苹果"), 10000);
    }

    // The file: attribute order, indentation, trimmed texts, rows without
    // price or text dropped, the loop box read leniently.
    void fileRoundTrip()
    {
        const QByteArray in = "<list recycle=\"TRUE\"><r unit=\"一斤\" price=\"1.98\" name=\"西瓜\"/>"
                              "<r text=\"  欢迎光临  \"/><r text=\"   \"/><r name=\"没价\" unit=\"个\"/>"
                              "<r text=\"延时5秒\">丢弃的内容</r><r name=\"a&amp;b\" price=\"2\" unit=\"\"/></list>";
        Reload(&in);
        QVERIFY(Loop()->isChecked());
        QCOMPARE(Table()->rowCount(), 6);
        m_mode->SaveFile();
        QCOMPARE(ReadFile(PriceMode::FilePath()),
                 QByteArray("<PriceRecords recycle=\"true\">\n"
                            "    <record name=\"西瓜\" price=\"1.98\" unit=\"一斤\" />\n"
                            "    <record text=\"欢迎光临\" />\n"
                            "    <record text=\"延时5秒\" />\n"
                            "    <record name=\"a&amp;b\" price=\"2\" unit=\"\" />\n"
                            "</PriceRecords>\n"));
        // A file as the program writes it comes back byte for byte.
        const QByteArray canonical = "<PriceRecords recycle=\"true\">\n"
                                     "    <record text=\"欢迎光临 &amp; 再见\" />\n"
                                     "    <record name=\"西瓜\" price=\"1.98\" unit=\"一斤\" />\n"
                                     "    <record name=\"散装\" price=\"面议\" unit=\"\" />\n"
                                     "    <record text=\"延时0秒\" />\n"
                                     "</PriceRecords>\n";
        Reload(&canonical);
        QCOMPARE(m_mode->List().Size(), 4);
        QVERIFY(m_mode->List().At(3).isText);
        m_mode->SaveFile();
        QCOMPARE(ReadFile(PriceMode::FilePath()), canonical);

        const QByteArray off = "<PriceRecords recycle=\"false\"/>";
        Reload(&off);
        QVERIFY(Loop()->isChecked()); // ticked at construction, "false" leaves it

        Reload(nullptr); // no file: the four default rows
        QCOMPARE(Table()->rowCount(), 4);
        QCOMPARE(Table()->item(1, 1)->text(), QStringLiteral("西瓜"));
        QCOMPARE(Table()->item(3, 1)->text(), QStringLiteral("延时5秒"));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(PriceMode::FilePath()), 5000);
    }

    void deleteAllWhileSpeaking()
    {
        LoadRows({"甲|1|一个", "乙|2|一个"}, true);
        QSignalSpy out(m_mode.get(), &PriceMode::OutAudio);
        QVERIFY(m_mode->Play());
        AnswerNextDialog([](QWidget *box) { qobject_cast<QMessageBox *>(box)->button(QMessageBox::Ok)->click(); });
        m_mode->DelAll();
        QCOMPARE(Table()->rowCount(), 0);
        Finish(out);
        QCOMPARE(out.size(), 1);
        QCOMPARE(m_mode->PlayState(), int(PriceMode::Stopped));
    }

    // A price row goes through the real worker and is heard.
    void priceRowIsHeard()
    {
        const QString heard = IsolateUserDirs().path() + "/price.raw";
        qputenv("SDL_AUDIODRIVER", "disk");
        qputenv("SDL_DISKAUDIOFILE", heard.toLocal8Bit());
        QVERIFY(QDir::setCurrent(IsolateUserDirs().path()));
        LoadRows({"西瓜|1.98|一斤"}, false);
        Speake worker;
        worker.SetDeviceReleaseMs(-1);
        connect(m_mode.get(), &PriceMode::OutAudio, &worker, &Speake::SpeakAudio);
        connect(&worker, &Speake::ActionFinished, m_mode.get(), &PriceMode::ActionFinished);
        worker.start();
        QVERIFY(m_mode->Play());
        QTRY_COMPARE_WITH_TIMEOUT(m_mode->PlayState(), int(PriceMode::Stopped), 60000);
        QVERIFY(QFile::exists(SpeechCache::PathFor(QStringLiteral("西瓜1块9毛8一斤"))));
        worker.Stop();
        worker.wait();
        AudioOutput::CloseIfIdle();
        const QByteArray out = ReadFile(heard);
        QVERIFY2(PeakOf(out) > 3000, "the price sentence was not heard");
    }
};

QTEST_MAIN(TestPriceMode)
#include "tst_pricemode.moc"
