#include "core/AppPaths.h"
#include "core/RemoteAccess.h"
#include "settings/PhonePairing.h"
#include "settings/DataBackup.h"
#include "DialogDriver.h"
#include "MessageAnswerer.h"
#include "music/MusicManager.h"
#include "settings/Settings.h"
#include "core/SettingsValues.h"
#include "shop/ShopSettings.h"
#include "shop/WordListModel.h"
#include "speech/SpeechCache.h"
#include "TestEnvironment.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QListWidget>
#include <QSlider>
#include <QtTest>

#include <csignal>
#include <memory>
#include <vector>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void ResetSettings()
{
    g_settings.yusheng = QStringLiteral("xf_xiaoyan");
    g_settings.speed = 6;
    g_settings.volume = 10;
    g_settings.fontSize = 30;
    g_settings.pageTime = QStringLiteral("30秒");
    g_settings.musicVol = 50;
    g_settings.musicPlayType = 0;
    g_settings.musicStartType = 0;
    g_settings.smallWhenPlaying = 0;
    g_settings.musicList.clear();
}

int g_crashAtStep = 0;
int g_stepsTaken = 0;

void CrashAtChosenStep()
{
    if (++g_stepsTaken == g_crashAtStep)
        _exit(9);
}

// Runs a backup or a restore in a child process that dies (as under
// kill -9) before its change number `step`; true when it died.
bool RunCrashingAt(bool backup, int step)
{
    const pid_t child = fork();
    if (child == 0) {
        g_crashAtStep = step;
        DataBackup::SetStepHookForTests(CrashAtChosenStep);
        if (backup)
            DataBackup::Backup();
        else
            DataBackup::Restore();
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 9;
}

int CacheFiles()
{
    return int(QDir(AppPaths::SpeechCacheDir()).entryList(QDir::Files).size());
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private:
    QString m_file;
    // The settings each form was made over, kept while any form may use them.
    std::vector<std::unique_ptr<ShopSettings>> m_stores;

    // A form over the settings read from the given file (none when null).
    std::unique_ptr<Settings> Fresh(const QByteArray *contents)
    {
        ResetSettings();
        QFile::remove(m_file);
        if (contents)
            WriteFile(m_file, *contents);
        m_stores.push_back(std::make_unique<ShopSettings>());
        m_stores.back()->Load();
        return std::make_unique<Settings>(m_stores.back().get());
    }

private slots:
    void initTestCase()
    {
        MyMessageBox::ShowRaisedNotices();
        m_file = IsolateUserDirs().path() + "/app/settings.xml";
        ShopSettings::UseFilePath(m_file);
        QVERIFY(AppPaths::EnsureSpeechCacheDir());
    }
    void cleanup() { CloseNotices(); }

    void voiceTable()
    {
        auto settings = Fresh(nullptr);
        const auto *voices = settings->findChild<QComboBox *>("comboBox_yusheng");
        QCOMPARE(voices->count(), Settings::kVoiceCount);
        QCOMPARE(voices->itemText(0), QStringLiteral("普通话女声"));
        QCOMPARE(voices->itemText(12), QStringLiteral("小华（精品通用男声)"));
        QCOMPARE(voices->itemText(13), QStringLiteral("小蕾（精品客服女声）"));
        QCOMPARE(voices->itemText(16), QStringLiteral("小雪（精品新闻女声)"));
        for (int i = 0; i < Settings::kVoiceCount; ++i)
            QCOMPARE(settings->SpeakerTransform(settings->SpeakerTransform(i)), i);
        QCOMPARE(settings->SpeakerTransform(15), QStringLiteral("tx_102002"));
        QCOMPARE(settings->SpeakerTransform(17), QStringLiteral("xf_xiaoyan"));
        QCOMPARE(settings->SpeakerTransform(-1), QStringLiteral("xf_xiaoyan"));
        QCOMPARE(settings->SpeakerTransform(QStringLiteral("tx_999")), 0);
    }

    // No file: the defaults, shown in the form and its labels.
    void defaultsWithoutAFile()
    {
        auto settings = Fresh(nullptr);
        QCOMPARE(settings->findChild<QComboBox *>("comboBox_yusheng")->currentIndex(), 0);
        QCOMPARE(settings->findChild<QLabel *>("label_spd")->text(), QStringLiteral("语速（当前值:6)"));
        QCOMPARE(settings->findChild<QLabel *>("label_vol")->text(), QStringLiteral("音量（当前值:10)"));
        QCOMPARE(g_settings.yusheng.Get(), QStringLiteral("xf_xiaoyan"));
        QVERIFY(!QFile::exists(m_file));
    }

    // Read leniently, written back exactly; the page interval rule. A text
    // spoken before a change of voice, speed or volume is not heard again
    // from the cache after it (its file is another), and nothing is wiped.
    void roundTripAndCacheCleaning()
    {
        const QByteArray in = "<s yusheng=\"tx_101003\" speed=\"4\" volume=\"7\">"
                              "<screen fontSize=\"44\" titleBGColor=\"蓝\" titleColor=\"白\" priceBgColor=\"黑\""
                              " priceColor=\"黄\" pageTime=\"20秒\"/>"
                              "<m musicVol=\"70\" musicPlayType=\"2\" musicStartType=\"1\" smallWhenPlaying=\"1\">"
                              "<x name=\"/music/a b.mp3\"/><x/><x name=\"/music/&amp;.mp3\"/></m></s>";
        auto settings = Fresh(&in);
        QCOMPARE(g_settings.musicList, QStringList({"/music/a b.mp3", "/music/&.mp3"}));
        QCOMPARE(settings->findChild<QComboBox *>("comboBox_yusheng")->currentIndex(), 5);
        const QString text = QStringLiteral("欢迎光临, .");
        QStringList paths{SpeechCache::PathFor(text)};
        QVERIFY(WriteFile(paths.last(), "x"));
        MessageAnswerer answers;
        settings->Save();
        const QByteArray expected = "<settings yusheng=\"tx_101003\" speed=\"4\" volume=\"7\">\n"
                                    "    <priceScreen fontSize=\"44\" titleBGColor=\"蓝\" titleColor=\"白\" "
                                    "priceBgColor=\"黑\" priceColor=\"黄\" pageTime=\"15秒\" />\n"
                                    "    <musicConfig musicVol=\"70\" musicPlayType=\"2\" musicStartType=\"1\" "
                                    "smallWhenPlaying=\"1\">\n"
                                    "        <music name=\"/music/a b.mp3\" />\n"
                                    "        <music name=\"/music/&amp;.mp3\" />\n"
                                    "    </musicConfig>\n"
                                    "</settings>\n";
        QCOMPARE(ReadFile(m_file), expected);
        QVERIFY(answers.seen.value(0).startsWith(QStringLiteral("配置保存成功！\r\n注意")));
        QCOMPARE(SpeechCache::PathFor(text), paths.last()); // nothing changed: the cached text is used

        settings->findChild<QSlider *>("horizontalSlider_vol")->setValue(3);
        settings->Save();
        QCOMPARE(g_settings.volume.load(), 3);
        paths << SpeechCache::PathFor(text); // texts already spoken would keep the old volume
        settings->findChild<QSlider *>("horizontalSlider_spd")->setValue(9);
        settings->Save();
        paths << SpeechCache::PathFor(text);
        settings->findChild<QComboBox *>("comboBox_yusheng")->setCurrentIndex(1);
        settings->Save();
        paths << SpeechCache::PathFor(text);
        QCOMPARE(paths.size(), 4);
        paths.removeDuplicates();
        QCOMPARE(paths.size(), 4); // each way of saying it has its own file
        QVERIFY(QFile::exists(paths.first()));
        QCOMPARE(answers.seen.last(), QStringLiteral("配置保存成功！"));

        // An unknown voice shows as the first and is stored as it.
        const QByteArray unknown = "<settings yusheng=\"tx_nobody\" speed=\"99\" volume=\"-1\"/>";
        settings = Fresh(&unknown);
        QCOMPARE(g_settings.speed.load(), 10); // clamped on reading
        QCOMPARE(g_settings.volume.load(), 0);
        settings->Save();
        QVERIFY(ReadFile(m_file).startsWith("<settings yusheng=\"xf_xiaoyan\" speed=\"10\" volume=\"0\">"));
    }

    // The manager edits a copy; only "保存并关闭" changes the settings,
    // which are then written.
    void musicManager()
    {
        auto settings = Fresh(nullptr);
        g_settings.musicList = {"/a.mp3", "/b.mp3", "/c.mp3"};
        AnswerNextDialog([](QWidget *dialog) {
            auto *manager = qobject_cast<MusicManager *>(dialog);
            QVERIFY(manager);
            auto *list = manager->findChild<QListWidget *>("listWidget");
            list->setCurrentRow(0);
            manager->MusicUp(); // the first row stays
            manager->MusicDown();
            QCOMPARE(list->item(1)->text(), QStringLiteral("/a.mp3"));
            list->setCurrentRow(2);
            manager->MusicDown(); // the last row stays
            manager->DelMusic();
            manager->AppendMusic({"/d.mp3", "/d.mp3"});
            QCOMPARE(list->currentRow(), 0);
            manager->reject();
        });
        settings->ShowMusicManager();
        QCOMPARE(g_settings.musicList, QStringList({"/a.mp3", "/b.mp3", "/c.mp3"}));
        QVERIFY(!QFile::exists(m_file));

        AnswerNextDialog([](QWidget *dialog) {
            auto *manager = qobject_cast<MusicManager *>(dialog);
            QVERIFY(manager);
            manager->findChild<QListWidget *>("listWidget")->setCurrentRow(0);
            manager->MusicDown();
            manager->findChild<QComboBox *>("comboBox_playType")->setCurrentIndex(1);
            manager->SaveConfig();
        });
        settings->ShowMusicManager();
        QCOMPARE(g_settings.musicList, QStringList({"/b.mp3", "/a.mp3", "/c.mp3"}));
        QCOMPARE(g_settings.musicPlayType, 1);
        const QByteArray stored = ReadFile(m_file);
        QVERIFY2(stored.indexOf("/b.mp3") >= 0 && stored.indexOf("/b.mp3") < stored.indexOf("/a.mp3")
                     && stored.contains("musicPlayType=\"1\""),
                 stored.constData());
    }

    // Backup asks once when copies exist; restore is all or nothing, and
    // after it the closing program does not write over the restored lists.
    void backupAndRestore()
    {
        const QString dir = AppPaths::DataDir();
        const QStringList names = {"/price.xml", "/SimpleMode.xml", "/timer.xml"};
        for (const QString &name : names)
            QVERIFY(WriteFile(dir + name, "<current f=\"" + name.toUtf8() + "\"/>"));
        auto settings = Fresh(nullptr);
        MessageAnswerer answers;
        settings->Backup();
        QCOMPARE(answers.seen, QStringList{QStringLiteral(" 数据备份成功!")});
        for (const QString &name : names)
            QCOMPARE(ReadFile(dir + name + ".bak"), ReadFile(dir + name));
        answers.answerNo = true;
        QVERIFY(WriteFile(dir + "/price.xml", "<changed/>"));
        settings->Backup();
        QCOMPARE(answers.seen.last(), QStringLiteral("数据备份文件已存在，是否覆盖？"));
        QCOMPARE(ReadFile(dir + "/price.xml.bak"), QByteArray("<current f=\"/price.xml\"/>"));
        answers.answerNo = false;

        // A copy that fails (a full disk for the second list) changes nothing.
        QVERIFY(WriteFile(dir + "/SimpleMode.xml.bak", "<big>" + QByteArray(100000, 'x') + "</big>"));
        {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit old{};
            getrlimit(RLIMIT_FSIZE, &old);
            rlimit full = old;
            full.rlim_cur = 50000;
            setrlimit(RLIMIT_FSIZE, &full);
            settings->Restore();
            setrlimit(RLIMIT_FSIZE, &old);
        }
        QCOMPARE(answers.seen.last(), QStringLiteral("数据还原失败，可能是没有文件操作权限！请以重新管理员权限运行本程序再试！"));
        QCOMPARE(ReadFile(dir + "/price.xml"), QByteArray("<changed/>"));
        QCOMPARE(ReadFile(dir + "/SimpleMode.xml"), QByteArray("<current f=\"/SimpleMode.xml\"/>"));
        QVERIFY(!g_restorePending && !Settings::RestartRequested());
        QCOMPARE(QDir(dir).entryList({"*.staged"}, QDir::Files), QStringList());

        // A damaged backup is refused by name before anything is replaced.
        QVERIFY(WriteFile(dir + "/SimpleMode.xml.bak", "<records><record>cut sh"));
        settings->Restore();
        QVERIFY2(answers.seen.last().startsWith(QStringLiteral("备份文件已损坏，无法还原：")) && answers.seen.last().contains("SimpleMode.xml.bak"),
                 qPrintable(answers.seen.last()));
        QCOMPARE(ReadFile(dir + "/price.xml"), QByteArray("<changed/>"));
        QVERIFY(!g_restorePending);

        // A list never saved yet (fresh install) is left out of the backup, and said so.
        QFile::rename(dir + "/timer.xml", dir + "/timer.xml.away");
        QFile::remove(dir + "/timer.xml.bak");
        settings->Backup();
        QVERIFY2(answers.seen.last().contains(QStringLiteral("未备份：timer.xml")), qPrintable(answers.seen.last()));
        QVERIFY(!QFileInfo::exists(dir + "/timer.xml.bak"));
        QFile::rename(dir + "/timer.xml.away", dir + "/timer.xml");
        QVERIFY(WriteFile(dir + "/timer.xml.bak", "<current f=\"/timer.xml\"/>"));

        // A good restore; the word list still open does not save over it.
        QVERIFY(WriteFile(dir + "/SimpleMode.xml.bak", "<records><record>还原的</record></records>"));
        auto word = std::make_unique<WordListModel>();
        word->Load();
        word->Append(QStringLiteral("关闭时不该写入"));
        settings->Restore();
        QCOMPARE(answers.seen.last(), QStringLiteral(" 数据还原成功，请软件将自动重启!"));
        QVERIFY(g_restorePending && Settings::RestartRequested());
        QTest::qWait(1500); // the word list's pending save would fire now
        word.reset();
        QVERIFY(QFileInfo::exists(dir + "/price.xml.before-restore"));
        for (const QString &name : names)
            QCOMPARE(ReadFile(dir + name), ReadFile(dir + name + ".bak"));
        g_restorePending = false;
    }

    // A backup or a restore killed between any two of its changes leaves,
    // after the next start, one whole set: the old or the new, and the
    // operator is told which.
    void interruptedBackupAndRestore()
    {
        const QString dir = AppPaths::DataDir();
        const QStringList names = {"/price.xml", "/SimpleMode.xml", "/timer.xml"};
        auto setOf = [&](const QString &suffix) {
            QByteArrayList set;
            for (const QString &name : names)
                set << ReadFile(dir + name + suffix);
            return set;
        };
        const QByteArrayList lists = {"<list v=\"now\" n=\"1\"/>", "<list v=\"now\" n=\"2\"/>", "<list v=\"now\" n=\"3\"/>"};
        const QByteArrayList backups = {"<list v=\"bak\" n=\"1\"/>", "<list v=\"bak\" n=\"2\"/>", "<list v=\"bak\" n=\"3\"/>"};
        for (const bool backup : {true, false}) {
            bool died = true;
            for (int step = 1; died; ++step) {
                for (int i = 0; i < names.size(); ++i) {
                    QVERIFY(WriteFile(dir + names[i], lists[i]));
                    QVERIFY(WriteFile(dir + names[i] + ".bak", backups[i]));
                }
                died = RunCrashingAt(backup, step);
                const QString notice = DataBackup::FinishInterrupted();
                const QByteArrayList after = setOf(backup ? ".bak" : "");
                const QByteArrayList untouched = setOf(backup ? "" : ".bak");
                const QString where = QStringLiteral("%1, step %2").arg(backup ? "backup" : "restore").arg(step);
                QVERIFY2(after == lists || after == backups, qPrintable(where));
                QVERIFY2(untouched == (backup ? lists : backups), qPrintable(where));
                if (!died)
                    QVERIFY2(after == (backup ? lists : backups) && notice.isEmpty(), qPrintable(where));
                else if (step > 1)
                    QVERIFY2(notice.contains(after == backups ? (backup ? "撤销" : "完成") : (backup ? "完成" : "撤销")),
                             qPrintable(where + ": " + notice));
                QCOMPARE(QDir(dir).entryList({"*.staged", "*.unfinished"}, QDir::Files), QStringList());
                QVERIFY2(step < 40, "the operation never finished");
            }
        }
    }

    // "配对手机": nothing without the interface on; then a QR code of the
    // page's address and a code the interface takes once.
    void pairingCodeShown()
    {
        auto settings = Fresh(nullptr);
        auto *pair = settings->findChild<QPushButton *>("pushButton_pair");
        auto *qr = settings->findChild<QLabel *>("label_qr");
        auto *text = settings->findChild<QLabel *>("label_pairCode");
        g_settings.remoteEnabled = false;
        pair->click();
        QVERIFY(text->text().contains(QStringLiteral("请先开启远程控制")));
        g_settings.remoteEnabled = true;
        pair->click();
        const QString code = text->text().section(QStringLiteral("配对码 "), 1).left(8);
        QCOMPARE(code.size(), 8);
        QVERIFY(!qr->pixmap().isNull() && qr->pixmap().width() == qr->pixmap().height());
        QCOMPARE(PhonePairing::PageAddress(code), QStringLiteral("http://127.0.0.1:%1/#pair=%2").arg(g_settings.remotePort).arg(code));
        QVERIFY(RemoteAccess::TakePairingCode(code));
        QVERIFY(!RemoteAccess::TakePairingCode(code));
        g_settings.remoteEnabled = false;
    }

    void cleaningCountsFiles()
    {
        auto settings = Fresh(nullptr);
        QDir(AppPaths::SpeechCacheDir()).removeRecursively();
        MessageAnswerer answers;
        settings->ProcessClean();
        QCOMPARE(answers.seen.last(), QStringLiteral(" 共删除0个文件!"));
        QVERIFY(AppPaths::EnsureSpeechCacheDir());
        QVERIFY(WriteFile(AppPaths::SpeechCacheDir() + "/1.wav", "1"));
        QVERIFY(WriteFile(AppPaths::SpeechCacheDir() + "/2.wav", "2"));
        settings->ProcessClean();
        QCOMPARE(answers.seen.last(), QStringLiteral(" 共删除2个文件!"));
        QCOMPARE(CacheFiles(), 0);
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
