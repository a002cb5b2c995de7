#include "TestEnvironment.h"
#include "speech/TextNormalizer.h"

#include <QRegularExpression>
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
        // The operator's readings win over the built-in lexicon too.
        QVERIFY(WriteFile(path, "部分=bu4fen1\n还书=hai2shu1\n"));
        QCOMPARE(TextNormalizer::Normalize(QStringLiteral("部分还书")), QStringLiteral("bu4fen1 hai2shu1"));
        TextNormalizer::UseOperatorFile(IsolateUserDirs().path() + "/none.txt");
        QCOMPARE(TextNormalizer::Normalize(QStringLiteral("银行")), QStringLiteral("yin2hang2"));
    }

    // Signs between numbers and words are read as words or pauses: none
    // is left for a voice to spell out in English.
    void separatorsAreWords()
    {
        const QStringList texts = {
            QStringLiteral("散装红枣12.80元/斤"), QStringLiteral("3~5岁"),        QStringLiteral("周一—周五营业"),
            QStringLiteral("粤B·D1234的车主"),   QStringLiteral("C3-118车位"),   QStringLiteral("3-1-502的业主"),
            QStringLiteral("9:00-21:00"),        QStringLiteral("按50:1兑水"),   QStringLiteral("气温-3~4℃"),
            QStringLiteral("电话：0591-8765 4321"), QStringLiteral("微信/支付宝"), QStringLiteral("2026-10-01起"),
            QStringLiteral("2027/1/15至2027/2/15"), QStringLiteral("限速5km/h"), QStringLiteral("3点-5点"),
            QStringLiteral("5%-10%"),            QStringLiteral("约翰·史密斯"),  QStringLiteral("22:00-次日2:00"),
        };
        static const QRegularExpression sign(QStringLiteral("[/~—–\\-·:]"));
        for (const QString &text : texts) {
            const QString read = TextNormalizer::Normalize(text);
            QVERIFY2(!read.contains(sign), qPrintable(text + QStringLiteral(" → ") + read));
        }
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
