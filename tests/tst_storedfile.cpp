#include "core/AppPaths.h"
#include "DialogDriver.h"
#include "modes/MyMessageBox.h"
#include "core/Notices.h"
#include "shop/StoredList.h"
#include "shop/WordListModel.h"
#include "core/StoredFile.h"
#include "TestEnvironment.h"
#include "core/XmlFile.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QtTest>

#include <tinyxml.h>

#include <csignal>
#include <sys/resource.h>

namespace {

QStringList KeptCopies(const QString &path)
{
    const QFileInfo info(path);
    return QDir(info.absolutePath()).entryList({info.fileName() + ".unreadable-*"}, QDir::AllEntries | QDir::System);
}

QByteArray Rows(int n)
{
    QByteArray xml = "<records recycle=\"true\">\n";
    for (int i = 0; i < n; ++i)
        xml += "    <record>第" + QByteArray::number(i) + "条：西瓜1块9毛8一斤</record>\n";
    return xml + "</records>\n";
}

// Makes writes beyond a size fail, as on a full disk (root ignores folder
// permissions, so a read-only folder cannot stand in here).
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_old); }

private:
    rlimit m_old{};
};

} // namespace

class TestStoredFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        IsolateUserDirs();
        MyMessageBox::ShowRaisedNotices();
    }
    void cleanup()
    {
        CloseNotices();
        QDir dir(AppPaths::DataDir());
        dir.removeRecursively();
    }

    // Damaged word lists: never a crash or a freeze; the list starts empty,
    // the damaged file is kept byte for byte beside it, the operator gets
    // one notice, and the next save writes a fresh file.
    void damagedListIsKeptAndReported_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray rows = Rows(10000);
        QByteArray misspelt = rows;
        misspelt.replace(misspelt.indexOf("</record>", rows.size() / 2), 9, "</recrd>");
        QByteArray flipped = Rows(50);
        for (int at = 40; at < flipped.size(); at += 97)
            flipped[at] = char(~flipped[at]);
        QTest::newRow("misspelt closing tag in 10,000 rows") << misspelt;
        QTest::newRow("cut in a tag") << rows.left(rows.size() / 2 + 3);
        QTest::newRow("flipped bytes") << flipped;
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("blanks only") << QByteArray(" \n\t ");
        QTest::newRow("NUL byte") << QByteArray("<records><record>a\0b</record></records>", 40);
        QTest::newRow("invalid UTF-8") << QByteArray("<records><record>\xff\xfe\xc3</record></records>");
        QTest::newRow("no root element") << QByteArray("<!-- only a comment -->");
        QTest::newRow("deep nesting") << QByteArray("<a>").repeated(42000) + QByteArray("</a>").repeated(42000);
        QTest::newRow("closing tags before the nesting") << QByteArray("</x>").repeated(200000) + QByteArray("<a>").repeated(200000);
        QTest::newRow("mismatched closing tags") << QByteArray("<a></b>").repeated(100000);
        QByteArray attributes = "<records><record";
        for (int i = 0; i < 100000; ++i)
            attributes += " a" + QByteArray::number(i) + "=\"x\"";
        QTest::newRow("100,000 attributes") << attributes + ">t</record></records>";
        QTest::newRow("huge attribute value")
            << "<records a=\"" + QByteArray(XmlFile::kMaxBytes, 'x') + "\"><record>t</record></records>";
    }
    void damagedListIsKeptAndReported()
    {
        QFETCH(QByteArray, bytes);
        const QString path = WordListModel::FilePath();
        QVERIFY(WriteFile(path, bytes));
        WordListModel list;
        list.Load();
        QCOMPARE(list.rowCount(), 0);
        const QStringList kept = KeptCopies(path);
        QCOMPARE(kept.size(), 1);
        QVERIFY(ReadFile(QFileInfo(path).absolutePath() + "/" + kept.first()) == bytes);
        QCOMPARE(CloseNotices(), 1);

        list.Store().SaveNow();
        QCOMPARE(ReadFile(path), QByteArray("<records recycle=\"false\" />\n"));
        QCOMPARE(KeptCopies(path).size(), 1);
    }

    // Unusable twice in the same second: the second copy never replaces the first.
    void keptCopiesNeverOverwriteEachOther()
    {
        const QString path = AppPaths::DataDir() + "/list.xml";
        for (int i = 0; i < 3; ++i) {
            QVERIFY(WriteFile(path, "<broken" + QByteArray::number(i)));
            StoredFile file(path, QStringLiteral("列表"));
            TiXmlDocument doc;
            QCOMPARE(file.Load(&doc), XmlFile::ReadResult::Unusable);
        }
        QCOMPARE(KeptCopies(path).size(), 3);
        QCOMPARE(CloseNotices(), 3);
    }

    // What cannot be read as a file, or cannot be moved aside, is never
    // saved over in this run.
    void unmovableFileIsNotSavedOver()
    {
        // A name so long that the kept name would not fit.
        const QString path = AppPaths::DataDir() + "/" + QString(240, QLatin1Char('n')) + ".xml";
        QVERIFY(WriteFile(path, "<records><record>"));
        StoredFile file(path, QStringLiteral("列表"));
        TiXmlDocument doc;
        // Raised before anyone shows notices: kept, then shown.
        Notices::SetHandler({});
        QCOMPARE(file.Load(&doc), XmlFile::ReadResult::Unusable);
        QCOMPARE(CloseNotices(), 0);
        MyMessageBox::ShowRaisedNotices();
        QCOMPARE(CloseNotices(), 1);
        TiXmlDocument fresh;
        fresh.LinkEndChild(new TiXmlElement("records"));
        QCOMPARE(file.Save(fresh), StoredFile::SaveResult::Skipped);
        QCOMPARE(ReadFile(path), QByteArray("<records><record>"));

        // A folder where the list should be is not a list, and is kept too.
        const QString folder = AppPaths::DataDir() + "/folder.xml";
        QVERIFY(QDir().mkpath(folder + "/inside"));
        StoredFile notAFile(folder, QStringLiteral("列表"));
        QCOMPARE(notAFile.Load(&doc), XmlFile::ReadResult::Unusable);
        QCOMPARE(KeptCopies(folder).size(), 1);
        QCOMPARE(CloseNotices(), 1);
    }

    // A failed save keeps the old file, is told once however often the
    // save is tried, and a later good save clears it.
    void failedSaveIsToldOnce()
    {
        const QByteArray old = "<records recycle=\"false\">\n    <record>旧</record>\n</records>\n";
        QVERIFY(WriteFile(WordListModel::FilePath(), old));
        WordListModel list;
        list.Load();
        for (int i = 0; i < 20; ++i)
            list.Append(QStringLiteral("新的一行"));
        {
            const FileSizeLimit full(64);
            list.Store().SaveNow();
            list.Store().SaveNow();
            list.Store().SaveNow();
        }
        QVERIFY(list.Store().SaveFailed());
        QCOMPARE(StoredFile::FailedFiles(), QStringList{WordListModel::FilePath()});
        QCOMPARE(ReadFile(WordListModel::FilePath()), old);
        QCOMPARE(QDir(AppPaths::DataDir()).entryList(QDir::Files), QStringList{"SimpleMode.xml"});
        QCOMPARE(CloseNotices(), 1);

        list.Store().SaveNow();
        QVERIFY(!list.Store().SaveFailed());
        QVERIFY(StoredFile::FailedFiles().isEmpty());
        QVERIFY(ReadFile(WordListModel::FilePath()).contains("新的一行"));
        QCOMPARE(CloseNotices(), 0);
    }
};

QTEST_MAIN(TestStoredFile)
#include "tst_storedfile.moc"
