#include "core/Log.h"
#include "TestEnvironment.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <sys/stat.h>

class TestLog : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QByteArray m_path;

    QByteArray ReadLog(const QByteArray &suffix = QByteArray()) const
    {
        QFile file(QString::fromLocal8Bit(m_path + suffix));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void FillLog(qint64 bytes) const
    {
        QFile file(QString::fromLocal8Bit(m_path));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        // Whole lines, so a log that was not really emptied shows.
        const QByteArray line = "filler line of an older day\r\n";
        QByteArray bytes_(line.repeated(int(bytes / line.size()) + 1));
        bytes_.truncate(bytes);
        QCOMPARE(file.write(bytes_), bytes);
    }

private slots:
    void init()
    {
        m_path = (m_dir.path() + "/parlivo.log").toLocal8Bit();
        QFile::remove(QString::fromLocal8Bit(m_path));
        QFile::remove(QString::fromLocal8Bit(m_path + "2"));
        LogFile::SetPath(m_path);
    }

    void levelsAndTags_data()
    {
        QTest::addColumn<int>("flags");
        QTest::addColumn<QByteArray>("tag");
        QTest::newRow("none") << 0 << QByteArray();
        QTest::newRow("bit 0x01 only") << 0x01 << QByteArray();
        QTest::newRow("debug") << 0x02 << QByteArray("[debug   ] - ");
        QTest::newRow("warning gets one blank") << 0x08 << QByteArray("[warning ] - ");
        QTest::newRow("emerg") << 0x20 << QByteArray("[emerg   ] - ");
        QTest::newRow("debug and error: lowest wins") << 0x12 << QByteArray("[debug   ] - ");
    }
    void levelsAndTags()
    {
        QFETCH(int, flags);
        QFETCH(QByteArray, tag);
        WriteLog(flags, "hello %d", 42);
        const QByteArray line = ReadLog();
        if (tag.isEmpty()) {
            QVERIFY(line.isEmpty());
            return;
        }
        QVERIFY(line.endsWith(tag + "hello 42\r\n"));
        QCOMPARE(line.count('\n'), 1);
    }

    void prefixNamesSourceAndFunction()
    {
        PLOG(LOG_INFO, "loaded %s", "x");
        const QByteArray line = ReadLog();
        QVERIFY2(line.contains("[info    ] - [tst_log("), line);
        QVERIFY2(line.contains("):TestLog::prefixNamesSourceAndFunction() ] loaded x\r\n"), line);
    }

    // Text from outside cannot forge a line: control characters are escaped.
    void controlCharactersCannotForgeLines()
    {
        WriteLog(LOG_INFO, "remote GET %s: 404\n", "/x\r\n2026-01-01 [error   ] - forged\x1b[2J");
        const QByteArray line = ReadLog();
        QCOMPARE(line.count('\n'), 1);
        QVERIFY2(line.endsWith("/x\\x0d\\x0a2026-01-01 [error   ] - forged\\x1b[2J: 404\r\n"), line);
    }

    void overlongLineIsCutButEnds()
    {
        const QByteArray big(40000, 'x');
        WriteLog(LOG_ERROR, "%s", big.constData());
        const QByteArray line = ReadLog();
        QCOMPARE(line.size(), LogFile::kLineBuffer - 1); // terminator not written
        QVERIFY(line.endsWith("xx\r\n"));
    }

    void rotationAtTheLimit()
    {
        QFile old(QString::fromLocal8Bit(m_path + "2"));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("older generation");
        old.close();

        FillLog(LogFile::kSizeLimit);
        WriteLog(LOG_DEBUG, "at the limit");
        QVERIFY(ReadLog().size() > LogFile::kSizeLimit);
        QCOMPARE(ReadLog("2"), QByteArray("older generation"));

        WriteLog(LOG_DEBUG, "one more");
        const QByteArray fresh = ReadLog();
        QVERIFY(fresh.endsWith("one more\r\n"));
        QCOMPARE(fresh.count('\n'), 1);
        QVERIFY(ReadLog("2").endsWith("at the limit\r\n"));
    }

    void failedRenameRestartsInPlace()
    {
        // A directory in place of the second generation makes the rename fail.
        QVERIFY(QDir().mkpath(QString::fromLocal8Bit(m_path + "2/blocker")));
        FillLog(LogFile::kSizeLimit + 1);
        WriteLog(LOG_DEBUG, "after failure");
        const QByteArray log = ReadLog();
        QVERIFY(log.endsWith("after failure\r\n"));
        QCOMPARE(log.count('\n'), 1);
        QVERIFY(!log.contains("filler"));
        QDir(QString::fromLocal8Bit(m_path + "2")).removeRecursively();
    }

    void concurrentLinesStayWhole()
    {
        constexpr int kLines = 3000;
        auto writer = [](char tag) {
            return QThread::create([tag] {
                for (int i = 0; i < kLines; ++i)
                    WriteLog(LOG_INFO, "%c%05d %s", tag, i, QByteArray(200, tag).constData());
            });
        };
        std::unique_ptr<QThread> a(writer('a')), b(writer('b'));
        a->start();
        b->start();
        QVERIFY(a->wait(60000) && b->wait(60000));
        const QList<QByteArray> lines = ReadLog().split('\n');
        QCOMPARE(lines.size(), 2 * kLines + 1);
        const QRegularExpression whole(QStringLiteral("^[^\\[\\]]* \\[info    \\] - ([ab])\\d{5} \\1{200}\\r$"));
        for (int i = 0; i < 2 * kLines; ++i)
            QVERIFY2(whole.match(QString::fromLatin1(lines.at(i))).hasMatch(), lines.at(i).constData());
    }

    void unopenableLogIsNotFatal()
    {
        LogFile::SetPath((m_dir.path() + "/missing/dir/parlivo.log").toLocal8Bit());
        WriteLog(LOG_ERROR, "goes to the debug output");
        QVERIFY(!QFile::exists(m_dir.path() + "/missing"));
    }
};

QTEST_GUILESS_MAIN(TestLog)
#include "tst_log.moc"
