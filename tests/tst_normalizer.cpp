#include "TestEnvironment.h"
#include "speech/TextNormalizer.h"

#include <QtTest>

#include <sys/stat.h>

// The operator's pronunciation file. How texts are read is judged through
// the real synthesis in tst_heard.
class TestNormalizer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        IsolateUserDirs();
        TextNormalizer::UseOperatorFile(IsolateUserDirs().path() + "/none.txt");
    }

    // The operator's file overrides the built-in table; bad lines are
    // skipped; "1=yi1" reads 1 in codes as yī.
    void operatorFile()
    {
        const QString path = IsolateUserDirs().path() + "/pronunciation.txt";
        QVERIFY(WriteFile(path, "# brand names\n银行=yin2xing2\n马洛维克=ma3luo4wei2ke4\nno reading here\n=空\n"));
        TextNormalizer::UseOperatorFile(path);
        QCOMPARE(TextNormalizer::Normalize(QStringLiteral("马洛维克银行")), QStringLiteral("ma3luo4wei2ke4 yin2xing2"));
        QCOMPARE(TextNormalizer::Normalize(QStringLiteral("空调")), QStringLiteral("kong1tiao2"));
        QCOMPARE(TextNormalizer::Normalize(QStringLiteral("尾号1")), QStringLiteral("尾号 yao1"));
        QVERIFY(WriteFile(path, "1=yi1\n"));
        QCOMPARE(TextNormalizer::Normalize(QStringLiteral("尾号1")), QStringLiteral("尾号 yi1"));
        TextNormalizer::UseOperatorFile(IsolateUserDirs().path() + "/none.txt");
        QCOMPARE(TextNormalizer::Normalize(QStringLiteral("银行")), QStringLiteral("yin2hang2"));
    }

    // A FIFO, a link to a device or a huge file in the file's place is
    // not read: the reader neither blocks nor fills memory.
    void specialFiles()
    {
        const QString dir = IsolateUserDirs().path() + "/special";
        QDir().mkpath(dir);
        const QString fifo = dir + "/fifo.txt", device = dir + "/zero.txt", huge = dir + "/huge.txt";
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY(QFile::link("/dev/zero", device));
        QVERIFY(WriteFile(huge, QByteArray(TextNormalizer::kOperatorFileMaxBytes + 1, 'a')));
        for (const QString &path : {fifo, device, huge}) {
            TextNormalizer::UseOperatorFile(path);
            QCOMPARE(TextNormalizer::Normalize(QStringLiteral("银行")), QStringLiteral("yin2hang2"));
        }
        TextNormalizer::UseOperatorFile(IsolateUserDirs().path() + "/none.txt");
    }
};

QTEST_GUILESS_MAIN(TestNormalizer)
#include "tst_normalizer.moc"
