#include "DaySimulation.h"
#include "DialogDriver.h"
#include "TestEnvironment.h"
#include "core/Clock.h"
#include "modes/MyMessageBox.h"
#include "shop/StoredList.h"
#include "shop/TextRules.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QtTest>

#include <functional>
#include <memory>

// The shop with no widgets at all: its lists as stored data, and the word
// and price loops judged by what is spoken and in which order, the clock
// and the speech worker simulated.
class TestShop : public QObject
{
    Q_OBJECT

private:
    // The shop over these stored files (none: no file).
    static std::unique_ptr<ShopLists> Fresh(const QByteArray &words, const QByteArray &prices = {})
    {
        g_restorePending = false;
        QFile::remove(WordListModel::FilePath());
        QFile::remove(PriceListModel::FilePath());
        QFile::remove(TaskListModel::FilePath());
        if (!words.isEmpty())
            WriteFile(WordListModel::FilePath(), words);
        if (!prices.isEmpty())
            WriteFile(PriceListModel::FilePath(), prices);
        return std::make_unique<ShopLists>();
    }
    static QByteArray Words(const QStringList &rows, bool loop)
    {
        QByteArray xml = "<records recycle=\"" + QByteArray(loop ? "true" : "false") + "\">";
        for (const QString &row : rows)
            xml += "<record>" + row.toUtf8() + "</record>";
        return xml + "</records>";
    }
    // What was heard, in order, without the word loop's trailing ", .".
    static QStringList Heard(const SimulatedWorker &worker)
    {
        QStringList texts;
        for (const SimulatedWorker::Heard &h : worker.heard)
            texts << QString(h.text).remove(QStringLiteral(", ."));
        return texts;
    }

private slots:
    void initTestCase()
    {
        IsolateUserDirs();
        MyMessageBox::ShowRaisedNotices();
    }
    void cleanup()
    {
        Clock::Set(nullptr);
        g_restorePending = false;
        CloseNotices();
    }

    // The rules every road applies to a text, and price sentences.
    void textRules()
    {
        const struct
        {
            const char *text;
            bool isWait;
            int ms;
        } waits[] = {
            {"延时3秒", true, 3000},           {"延时2分", true, 120000},          {"延时 30 秒", true, 30000},
            {"延时abc秒", true, 0},            {"延时5", false, 0},                {"请延时5秒钟", false, 0},
            {"延时99999999999秒", true, 2147483000}, {"延时40000分", true, 2147460000},
        };
        for (const auto &w : waits) {
            int ms = 0;
            QCOMPARE(ParseWaitText(QString::fromUtf8(w.text), &ms), w.isWait);
            QCOMPARE(ms, w.ms);
        }
        // Counted and cut in characters: an emoji is one, never split.
        const QString melons = QString(QStringLiteral("🍉")).repeated(2500);
        QCOMPARE(TextRules::CharacterCount(melons), 2500);
        QCOMPARE(TextRules::CharacterCount(LimitTextLength(melons)), kMaxTextLength);
        QCOMPARE(LimitTextLength(melons), QString(QStringLiteral("🍉")).repeated(kMaxTextLength));
        QCOMPARE(LimitTextLength(QString(kMaxTextLength, QLatin1Char('a'))).size(), kMaxTextLength);

        const QList<QPair<QString, QString>> prices = {
            {"1.98", "1块9毛8"}, {"2.50", "两块5毛"}, {"3.05", "3块零5分"}, {"0.05", "5分"},  {"0.5", "5毛"},
            {"12.00", "12块"},   {"2", "两块"},       {"2.05", "两块零5分"}, {"0.8", "8毛"},   {"3.10", "3块1毛"},
            {"0", ""},           {"0.00", ""},        {"012", "012块"},      {"1.9", "1块9毛"}, {".5", "5毛"},
            {"22.2", "22块2毛"},
        };
        for (const auto &[price, spoken] : prices)
            QCOMPARE(PricePlayer::PriceToSpeech(price), spoken);
    }

    // The stored lists, byte for byte as they have always been written,
    // awkward texts included; lenient reading; defaults on a fresh install.
    void storedLists()
    {
        const QStringList rows = {"50% off & more", "a<b>c", "say \"hi\" 'now'", "", "西瓜1块9毛8一斤"};
        auto shop = Fresh({});
        shop->words.Clear();
        for (const QString &row : rows)
            shop->words.Append(row);
        shop->words.SetLoop(true);
        shop->words.Store().SaveNow();
        QCOMPARE(ReadFile(WordListModel::FilePath()),
                 QByteArray("<records recycle=\"true\">\n"
                            "    <record>50% off &amp; more</record>\n"
                            "    <record>a&lt;b&gt;c</record>\n"
                            "    <record>say &quot;hi&quot; &apos;now&apos;</record>\n"
                            "    <record></record>\n"
                            "    <record>西瓜1块9毛8一斤</record>\n"
                            "</records>\n"));
        const QStringList awkward = {"< & \" ' ]]>", "&lt;b&gt;", "买一  送一", "a\tb", "🍉西瓜", "一\r二",
                                     "特价\u00a0西瓜", "<b>特价</b> 西瓜"};
        shop->words.Clear();
        for (const QString &row : awkward)
            shop->words.Append(row);
        shop.reset(); // the pending change is written on the way out
        shop = std::make_unique<ShopLists>();
        QCOMPARE(shop->words.List().Texts(), awkward);

        const QList<std::tuple<QByteArray, QStringList, bool>> lenient = {
            {"<list recycle=\"TRUE\"><a>一</a><b>二</b></list>", {"一", "二"}, true},
            {"<records recycle=\"True\"><record>一</record></records>", {"一"}, true},
            {"<records recycle=\"false\"><record/></records>", {""}, false},
            {"<records><record>一" + QByteArray("<x/>").repeated(20000) + "</record></records>", {"一"}, false},
            {"<records><record>" + QByteArray(2500, 'a') + "</record></records>", {QString(kMaxTextLength, 'a')}, false},
        };
        for (const auto &[xml, texts, loop] : lenient) {
            shop = Fresh(xml);
            QCOMPARE(shop->words.List().Texts(), texts);
            QCOMPARE(shop->words.List().loop, loop);
        }

        const QByteArray in = "<list recycle=\"TRUE\"><r unit=\"一斤\" price=\"1.98\" name=\"西瓜\"/>"
                              "<r text=\"  欢迎光临  \"/><r text=\"   \"/><r name=\"没价\" unit=\"个\"/>"
                              "<r text=\"延时5秒\">丢弃的内容</r><r name=\"a&amp;b\" price=\"2\" unit=\"\"/></list>";
        shop = Fresh({}, in);
        QCOMPARE(shop->prices.rowCount(), 6);
        shop->prices.Store().SaveNow();
        QCOMPARE(ReadFile(PriceListModel::FilePath()),
                 QByteArray("<PriceRecords recycle=\"true\">\n"
                            "    <record name=\"西瓜\" price=\"1.98\" unit=\"一斤\" />\n"
                            "    <record text=\"欢迎光临\" />\n"
                            "    <record text=\"延时5秒\" />\n"
                            "    <record name=\"a&amp;b\" price=\"2\" unit=\"\" />\n"
                            "</PriceRecords>\n"));
        const QByteArray canonical = "<PriceRecords recycle=\"true\">\n"
                                     "    <record text=\"欢迎光临 &amp; 再见\" />\n"
                                     "    <record name=\"西瓜\" price=\"1.98\" unit=\"一斤\" />\n"
                                     "    <record name=\"散装\" price=\"面议\" unit=\"\" />\n"
                                     "    <record text=\"延时0秒\" />\n"
                                     "</PriceRecords>\n";
        shop = Fresh({}, canonical);
        shop->prices.Store().SaveNow();
        QCOMPARE(ReadFile(PriceListModel::FilePath()), canonical);
        QVERIFY(Fresh({}, "<PriceRecords recycle=\"false\"/>")->prices.List().recycle); // "false" leaves the loop on

        shop = Fresh({});
        QCOMPARE(shop->words.rowCount(), 3);
        QCOMPARE(shop->prices.rowCount(), 4);
        QCOMPARE(shop->prices.index(1, PriceListModel::ColumnName).data().toString(), QStringLiteral("西瓜"));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(WordListModel::FilePath()) && QFile::exists(PriceListModel::FilePath()),
                                 5000);
    }

    // Changes are written a second after the last one, at once when asked,
    // on the way out when still pending, never while a restore is pending,
    // and a failed save keeps the list.
    void savesFollowChanges()
    {
        auto shop = Fresh(Words({}, false));
        QFile::remove(WordListModel::FilePath());
        for (int i = 0; i < 10; ++i) {
            shop->words.Append(QString::number(i));
            QTest::qWait(50);
        }
        QVERIFY(!QFile::exists(WordListModel::FilePath()));
        QTRY_VERIFY_WITH_TIMEOUT(ReadFile(WordListModel::FilePath()).count("<record>") == 10, 3000);

        shop->words.Append(QStringLiteral("马上退出"));
        shop.reset();
        QVERIFY(ReadFile(WordListModel::FilePath()).contains("马上退出"));

        const QByteArray restored = Words({"restored"}, false);
        shop = Fresh(restored);
        shop->words.Append(QStringLiteral("in memory only"));
        g_restorePending = true;
        shop->words.Store().SaveNow();
        shop.reset();
        QCOMPARE(ReadFile(WordListModel::FilePath()), restored);
        g_restorePending = false;

        shop = Fresh({});
        QFile::remove(WordListModel::FilePath());
        QVERIFY(QDir().mkpath(WordListModel::FilePath())); // a folder where the file should be
        shop->words.Clear();
        shop->words.Append(QStringLiteral("保留"));
        shop->words.Store().SaveNow();
        QVERIFY(shop->words.Store().SaveFailed());
        QCOMPARE(shop->words.List().Texts(), QStringList{"保留"});
        shop.reset();
        QVERIFY(QDir().rmdir(WordListModel::FilePath()));
    }

    // Loops on the simulated clock: what staff or a remote list do around
    // the row in hand, and what is heard next.
    void loops_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("heard");
        QTest::newRow("word loop from the chosen row") << "word" << QStringList{"乙", "丙", "甲", "乙"};
        QTest::newRow("word: the row in hand deleted") << "word-delete" << QStringList{"乙", "丙", "甲", "乙"};
        QTest::newRow("word: the last row deleted while read") << "word-delete-last" << QStringList{"丙", "甲", "乙", "甲"};
        QTest::newRow("word: a row inserted above") << "word-insert" << QStringList{"乙", "丙", "甲", "新"};
        QTest::newRow("word: the row in hand edited") << "word-edit" << QStringList{"乙", "丙", "改"};
        QTest::newRow("word: list replaced whole") << "word-replace" << QStringList{"乙", "丁", "新", "乙"};
        QTest::newRow("word: pause and play again") << "word-pause" << QStringList{"乙", "乙", "丙"};
        QTest::newRow("word: once") << "word-once" << QStringList{"乙"};
        QTest::newRow("price: the row in hand deleted") << "price-delete"
                                                        << QStringList{"梨两块", "苹果3块", "西瓜1块9毛8一斤", "苹果3块"};
        QTest::newRow("price: unticked rows passed over") << "price-untick"
                                                          << QStringList{"西瓜1块9毛8一斤", "苹果3块", "西瓜1块9毛8一斤"};
        QTest::newRow("price: a row without a price passed over") << "price-noprice"
                                                                  << QStringList{"西瓜1块9毛8一斤", "苹果3块", "西瓜1块9毛8一斤"};
    }
    void loops()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, heard);
        const QByteArray prices = "<PriceRecords recycle=\"true\"><record name=\"西瓜\" price=\"1.98\" unit=\"一斤\"/>"
                                  "<record name=\"梨\" price=\"2\" unit=\"\"/><record name=\"苹果\" price=\"3\" unit=\"\"/>"
                                  "</PriceRecords>";
        auto shop = Fresh(Words({"甲", "乙", "丙"}, name != "word-once"), prices);
        SimulatedClock clock;
        Clock::Set(&clock);
        SimulatedWorker worker(clock, *shop);
        const qint64 row = SimulatedWorker::kTextMs + WordPlayer::kGapMs;
        auto runRows = [&](double rows) { worker.RunUntil(clock.ms + qint64(rows * row)); };
        const QMap<QString, std::function<void()>> scenarios = {
            {"word", [&] { shop->word.SetCursor(1); shop->word.Play(); runRows(3.5); }},
            {"word-delete", [&] { shop->word.SetCursor(1); shop->word.Play(); runRows(2.5); shop->words.Remove(0); runRows(1); }},
            {"word-delete-last", [&] { shop->word.SetCursor(2); shop->word.Play(); runRows(0.5); shop->words.Remove(2); runRows(3); }},
            {"word-insert", [&] { shop->word.SetCursor(1); shop->word.Play(); runRows(1.5); shop->words.Insert(1, "新"); runRows(2); }},
            {"word-edit", [&] { shop->word.SetCursor(1); shop->word.Play(); runRows(1.5); shop->words.SetText(0, "改"); runRows(1); }},
            {"word-replace", [&] {
                 shop->word.SetCursor(1);
                 shop->word.Play();
                 runRows(0.5);
                 WordList list;
                 for (const char *text : {"新", "乙", "丁"})
                     list.Insert(list.Size(), QString::fromUtf8(text));
                 list.loop = true;
                 shop->words.Replace(list);
                 runRows(3);
             }},
            {"word-pause", [&] {
                 shop->word.SetCursor(1);
                 shop->word.Play();
                 runRows(0.5);
                 QVERIFY(shop->word.Pause());
                 runRows(2);
                 QCOMPARE(shop->word.GetState(), WordPlayer::Paused);
                 shop->word.Play();
                 runRows(1.5);
             }},
            {"word-once", [&] { shop->word.SetCursor(1); shop->word.Play(); runRows(3); QCOMPARE(shop->word.GetState(), WordPlayer::Stopped); }},
            {"price-delete", [&] { shop->price.SetCursor(1); shop->price.Play(); runRows(0.5); shop->prices.Remove(1); runRows(3); }},
            {"price-untick", [&] { shop->prices.SetTicked(1, false); shop->price.Play(); runRows(2.5); }},
            {"price-noprice", [&] {
                 shop->prices.setData(shop->prices.index(1, PriceListModel::ColumnPrice), QString());
                 shop->price.Play();
                 runRows(2.5);
             }},
        };
        scenarios.value(name)();
        QCOMPARE(Heard(worker), heard);
    }

    // The timer holds the price loop: staff cannot pause it, and it stops
    // when the timer lets it go.
    void timerHoldsThePriceLoop()
    {
        auto shop = Fresh({}, "<PriceRecords recycle=\"false\"><record text=\"甲\"/><record text=\"乙\"/></PriceRecords>");
        SimulatedClock clock;
        Clock::Set(&clock);
        SimulatedWorker worker(clock, *shop);
        shop->price.StartUnderTimer();
        QVERIFY(!shop->price.Pause());
        worker.RunUntil(3 * SimulatedWorker::kTextMs - 1); // loops although its list does not
        QCOMPARE(Heard(worker), QStringList({"甲", "乙", "甲"}));
        shop->price.StopUnderTimer();
        worker.RunUntil(10 * SimulatedWorker::kTextMs);
        QCOMPARE(Heard(worker).size(), 3);
        QCOMPARE(shop->price.GetState(), PricePlayer::Stopped);
    }
};

QTEST_MAIN(TestShop)
#include "tst_shop.moc"
