#include "TestEnvironment.h"
#include "TextNormalizer.h"
#include "TtsSession.h"

#include <espeak-ng/speak_lib.h>

#include <QtTest>

class TestNormalizer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        IsolateUserDirs();
        TextNormalizer::UseOperatorFile(IsolateUserDirs().path() + "/none.txt");
    }

    void readings_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("read");
        const QList<QPair<const char *, const char *>> cases = {
            // Whole numbers: 万/亿 grouping and 零.
            {"105块", "一百零五块"}, {"1005", "一千零五"}, {"1080", "一千零八十"}, {"10000", "一万"},
            {"12800", "一万二千八百"}, {"10", "十"}, {"15", "十五"}, {"110", "一百一十"}, {"100", "一百"},
            {"1000", "一千"}, {"101", "一百零一"}, {"1010", "一千零一十"}, {"10001", "一万零一"},
            {"100000", "十万"}, {"150000", "十五万"}, {"1000000", "一零零零零零零"}, {"0", "零"},
            {"30", "三十"}, {"99", "九十九"}, {"999", "九百九十九"}, {"20010", "两万零一十"},
            {"300000000", "三零零零零零零零零"}, {"1200", "一千二百"}, {"22", "二十二"}, {"12", "十二"},
            // 两 and 二.
            {"2斤", "两斤"}, {"2个", "两个"}, {"2毛", "两毛"}, {"2000", "两千"}, {"200", "两百"},
            {"20000", "两万"}, {"2500", "两千五百"}, {"2号", "二号"}, {"第2", "第二"}, {"第2名", "第二名"},
            {"5毛2", "五毛二"}, {"1块9毛2一斤", "一块九毛二一斤"}, {"2", "二"}, {"买2送1", "买二送一"},
            {"2件", "两件"}, {"2点", "两点"},
            // Decimals.
            {"1.98元", "一点九八元"}, {"0.5", "零点五"}, {"3.05", "三点零五"}, {"10.5公斤", "十点五公斤"},
            // Clock times.
            {"22:00", "二十二点整"}, {"7:30", "七点三十分"}, {"8:05", "八点零五分"}, {"2:00", "两点整"},
            {"12：15", "十二点十五分"}, {"营业到22:00结束", "营业到二十二点整结束"},
            // Years and digit strings.
            {"2024年", "二零二四年"}, {"13812345678", "一三八一二三四五六七八"}, {"400-800-1234", "四零零，八零零，一二三四"},
            {"尾号888", "尾号八八八"}, {"密码是12345", "密码是一二三四五"}, {"电话:5551234", "电话:五五五一二三四"},
            {"012", "零一二"},
            // Discounts and percentages.
            {"95折", "九五折"}, {"8折", "八折"}, {"2.5折", "二点五折"}, {"50%", "百分之五十"},
            {"12.5%", "百分之十二点五"}, {"100%", "百分之一百"},
            // Words the synthesizer misreads, and words it reads right.
            {"银行", "yin2hang2"}, {"行长", "hang2zhang3"}, {"家长", "jia1zhang3"}, {"店长", "dian4zhang3"},
            {"组长", "zu3zhang3"}, {"空调", "kong1tiao2"}, {"调整", "tiao2zheng3"}, {"音乐", "yin1yue4"},
            {"了解", "liao3jie3"}, {"散装", "san3zhuang1"}, {"重新", "chong2xin1"}, {"时间为", "shi2jian1wei2"},
            {"一只鸡", "yi4zhi1鸡"}, {"放假", "fang4jia4"}, {"地面", "di4mian4"}, {"扒窃", "pa2qie4"},
            {"欢迎光临", "huan1ying2光临"}, {"长城", "长城"}, {"行走", "行走"}, {"快乐", "快乐"},
            // Latin words.
            {"VIP会员", "wei1 ai4 pi1 会员"}, {"下载APP", "下载ei1 pi1 pi1"}, {"WiFi密码", "wifi密码"},
            {"Marlowick超市", "marlowick超市"},
            // Sentences.
            {"西瓜1块9毛8一斤", "西瓜一块九毛八一斤"}, {"今天全场95折，满100减20", "今天全场九五折，满一百减二十"},
        };
        for (const auto &[text, read] : cases)
            QTest::newRow(text) << QString::fromUtf8(text) << QString::fromUtf8(read);
    }
    void readings()
    {
        QFETCH(QString, text);
        QFETCH(QString, read);
        QCOMPARE(TextNormalizer::Normalize(text), read);
    }

    // What the synthesizer makes of the readings: the tones and sounds
    // that were wrong before.
    void phonemes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("phonemes");
        QTest::newRow("银行 hang2") << "银行" << "X'a35N";
        QTest::newRow("欢 first tone") << "欢迎" << "ua55n";
        QTest::newRow("店长 zhang3") << "店长" << "ts.'a214N";
        QTest::newRow("105 has its 零") << "105" << "l'i35N";
    }
    void phonemes()
    {
        QFETCH(QString, text);
        QFETCH(QString, phonemes);
        QCOMPARE(TtsSession::Login(QByteArray()), int(TtsSession::Ok));
        QVERIFY(espeak_SetVoiceByName("cmn-latn-pinyin") == EE_OK);
        const QByteArray read = TextNormalizer::Normalize(text).toUtf8();
        const void *cursor = read.constData();
        const QByteArray result(espeak_TextToPhonemes(&cursor, espeakCHARS_UTF8, espeakPHONEMES_SHOW));
        QVERIFY2(result.contains(phonemes.toLatin1()), result.constData());
    }

    // The operator's file overrides the built-in table; bad lines are skipped.
    void operatorFile()
    {
        const QString path = IsolateUserDirs().path() + "/pronunciation.txt";
        QVERIFY(WriteFile(path, "# brand names\n银行=yin2xing2\n马洛维克=ma3luo4wei2ke4\nno reading here\n=空\n"));
        TextNormalizer::UseOperatorFile(path);
        QCOMPARE(TextNormalizer::Normalize(QStringLiteral("马洛维克银行")), QStringLiteral("ma3luo4wei2ke4yin2xing2"));
        QCOMPARE(TextNormalizer::Normalize(QStringLiteral("空调")), QStringLiteral("kong1tiao2"));
        TextNormalizer::UseOperatorFile(IsolateUserDirs().path() + "/none.txt");
        QCOMPARE(TextNormalizer::Normalize(QStringLiteral("银行")), QStringLiteral("yin2hang2"));
    }
};

QTEST_GUILESS_MAIN(TestNormalizer)
#include "tst_normalizer.moc"
