#include "core/AppPaths.h"
#include "DialogDriver.h"
#include "modes/ExportJob.h"
#include "core/SettingsValues.h"
#include "modes/SimplePlay.h"
#include "shop/Shop.h"
#include "shop/WordListModel.h"
#include "speech/SpeechCache.h"
#include "speech/TTS.h"
#include "TestEnvironment.h"
#include "speech/WavFile.h"

#include <QLabel>
#include <QListView>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QtTest>

#include <csignal>
#include <memory>

namespace {

// What ffprobe says of a stream: "duration" or "channels".
QString Probe(const QString &path, const QString &entry)
{
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"), {"-v", "error", "-show_entries", "stream=" + entry, "-of",
                                            "default=noprint_wrappers=1:nokey=1", path});
    probe.waitForFinished(30000);
    return QString::fromLatin1(probe.readAllStandardOutput()).trimmed();
}

// The decoded length: the MP3 header's duration also counts the encoder's padding.
double DurationS(const QString &path)
{
    QProcess decode;
    decode.start(QStringLiteral("ffmpeg"), {"-v", "error", "-i", path, "-ac", "1", "-ar", "16000", "-f", "s16le", "-"});
    decode.waitForFinished(30000);
    return decode.readAllStandardOutput().size() / 32000.0;
}

// The texts of the notices now shown, closing them.
QStringList TakeNotices()
{
    QStringList texts;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *notice = qobject_cast<MyMessageBox *>(w); notice && notice->isVisible())
            texts << notice->windowTitle() + "|" + notice->findChild<QLabel *>("label")->text();
    CloseNotices();
    return texts;
}

// Peak level of 16-bit mono PCM decoded from a file, over a span of seconds.
int DecodedPeak(const QString &path, double fromS, double toS)
{
    QProcess decode;
    decode.start(QStringLiteral("ffmpeg"), {"-v", "error", "-i", path, "-ac", "1", "-ar", "16000", "-f", "s16le", "-"});
    decode.waitForFinished(30000);
    const QByteArray pcm = decode.readAllStandardOutput();
    return PeakOf(pcm.mid(qint64(fromS * 16000) * 2, qint64((toS - fromS) * 16000) * 2));
}

} // namespace

class TestExport : public QObject
{
    Q_OBJECT

private:
    QString m_dir;
    std::unique_ptr<Shop> m_shop;
    std::unique_ptr<SimplePlay> m_mode;
    QString m_target;

    QListView *List() const { return m_mode->findChild<QListView *>("listView_Record"); }
    // A word list of these rows; rows in `played` have their speech cached.
    void Rows(const QStringList &rows, const QStringList &played)
    {
        g_restorePending = true;
        m_mode.reset();
        m_shop.reset();
        g_restorePending = false;
        QByteArray xml = "<records>";
        for (const QString &row : rows)
            xml += "<record>" + row.toUtf8() + "</record>";
        QFile file(WordListModel::FilePath());
        QDir().mkpath(QFileInfo(file).absolutePath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(xml + "</records>");
        file.close();
        for (const QString &text : played) {
            const QByteArray spoken = (text + ", .").toLocal8Bit();
            const QString cache = SpeechCache::PathFor(text + ", .");
            if (!QFile::exists(cache))
                QCOMPARE(TTS::TextToSpeech(spoken.constData(), "xiaoyan", cache.toLocal8Bit().constData()), 0);
        }
        m_shop = std::make_unique<Shop>();
        m_mode = std::make_unique<SimplePlay>(m_shop.get());
        m_mode->SetExportFileChooser([this](const QString &) { return m_target; });
    }
    void Select(const QList<int> &rows)
    {
        QItemSelectionModel *selection = List()->selectionModel();
        selection->clearSelection();
        for (int row : rows)
            selection->select(List()->model()->index(row, 0), QItemSelectionModel::Select);
        selection->setCurrentIndex(List()->model()->index(rows.first(), 0), QItemSelectionModel::Current);
    }

private slots:
    void initTestCase()
    {
        m_dir = IsolateUserDirs().path();
        QVERIFY(AppPaths::EnsureSpeechCacheDir());
        QVERIFY(QDir::setCurrent(m_dir));
        QCOMPARE(TTS::Init(), 0);
        QVERIFY2(!ExportJob::FfmpegPath().isEmpty(), "FFmpeg is needed");
    }
    void init()
    {
        g_settings.musicList.clear();
        g_settings.musicVol = 50;
        ExportJob::UseProgram(QString());
    }
    void cleanup() { CloseNotices(); }
    void cleanupTestCase()
    {
        m_mode.reset();
        m_shop.reset();
    }

    void nothingSelected()
    {
        Rows({"甲"}, {});
        List()->clearSelection();
        m_mode->ExportToFile();
        QCOMPARE(TakeNotices(), QStringList{"温馨提示|请选中需要导出的行！"});
    }

    // One played row alone: its speech, as long as the cached WAV.
    void oneRow()
    {
        Rows({"欢迎光临本店"}, {"欢迎光临本店"});
        m_target = m_dir + "/一行"; // the proposed name accepted as it is
        Select({0});
        m_mode->ExportToFile();
        QCOMPARE(TakeNotices(), QStringList{"提示|导出文件成功！"});
        m_target += ".mp3";
        WavFile::Info info;
        QVERIFY(WavFile::ReadInfo(SpeechCache::PathFor("欢迎光临本店, ."), &info));
        QVERIFY(qAbs(DurationS(m_target) - info.DurationMs() / 1000.0) < 0.1);

        Rows({"没有播放过"}, {});
        Select({0});
        m_mode->ExportToFile();
        QCOMPARE(TakeNotices(), QStringList{"错误提示|文件不存在，请先播放当前行以产生音频文件！"});
    }

    // A, a 5 s wait, B: the list FFmpeg joins, and the length it adds up to.
    void rowsWithAWait()
    {
        Rows({"甲乙丙", "延时5秒", "丁戊己"}, {"甲乙丙", "丁戊己"});
        QFile::remove(SpeechCache::PathFor("延时5秒, ."));
        m_target = m_dir + "/three.mp3";
        Select({0, 1, 2});
        int ticks = 0;
        QTimer ticker; // the window keeps processing events meanwhile
        connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
        ticker.start(1);
        m_mode->ExportToFile();
        ticker.stop();
        QVERIFY(ticks > 0);
        QCOMPARE(TakeNotices(), QStringList{"提示|导出文件成功！"});
        auto name = [](const QString &text) { return QFileInfo(SpeechCache::PathFor(text + ", .")).fileName(); };
        QByteArray expected;
        for (const QString &row : {"甲乙丙", "延时5秒", "丁戊己"})
            expected += "file 'interval.wav'\r\nfile '" + name(row).toLatin1() + "'\r\n";
        expected += QByteArray("file 'interval.wav'\r\n").repeated(5);
        QCOMPARE(ReadFile(AppPaths::SpeechCacheDir() + "/concat.txt"), expected);
        WavFile::Info a, b;
        QVERIFY(WavFile::ReadInfo(SpeechCache::PathFor("甲乙丙, ."), &a));
        QVERIFY(WavFile::ReadInfo(SpeechCache::PathFor("丁戊己, ."), &b));
        const double expectedS = 1 + a.DurationMs() / 1000.0 + 1 + 5 + 1 + b.DurationMs() / 1000.0 + 5;
        QVERIFY2(qAbs(DurationS(m_target) - expectedS) < 0.1,
                 qPrintable(QStringLiteral("%1 s, expected %2 s").arg(DurationS(m_target)).arg(expectedS)));
    }

    void unplayedSecondRowStartsNoFfmpeg()
    {
        Rows({"甲乙丙", "从未播放", "丁戊己"}, {"甲乙丙", "丁戊己"});
        m_target = m_dir + "/never.mp3";
        Select({0, 1, 2});
        const int runs = ExportJob::RunsStarted();
        m_mode->ExportToFile();
        QCOMPARE(TakeNotices(), QStringList{"错误提示|选中的第2项文件不存在，请先播放一遍再导出！"});
        QCOMPARE(ExportJob::RunsStarted(), runs);
        QVERIFY(!QFile::exists(m_target));
    }

    // With background music: stereo, 6 s of music alone, then the speech;
    // an awkward output path.
    void withMusicAndAnAwkwardPath()
    {
        const QString music = m_dir + "/music.mp3";
        QProcess::execute("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", "sine=frequency=300:duration=60",
                                     "-af", "volume=6", "-c:a", "libmp3lame", music});
        g_settings.musicList = {music};
        Rows({"欢迎光临本店"}, {"欢迎光临本店"});
        QVERIFY(QDir().mkpath(m_dir + "/导出 文件夹"));
        m_target = m_dir + "/导出 文件夹/店 \"庆\" 's.mp3";
        Select({0});
        m_mode->ExportToFile();
        QCOMPARE(TakeNotices(), QStringList{"提示|导出文件成功！"});
        QCOMPARE(Probe(m_target, "channels"), QStringLiteral("2"));
        WavFile::Info info;
        QVERIFY(WavFile::ReadInfo(SpeechCache::PathFor("欢迎光临本店, ."), &info));
        QVERIFY(qAbs(DurationS(m_target) - (6 + info.DurationMs() / 1000.0)) < 0.2);
        QVERIFY(DecodedPeak(m_target, 0.5, 5.5) > 1000); // the music alone

        // A first track gone from the disk: the next readable one is used,
        // and with none readable the export has no music; both said.
        const QString gone = m_dir + "/gone.mp3";
        g_settings.musicList = {gone, music};
        m_mode->ExportToFile();
        QCOMPARE(TakeNotices(), QStringList{"提示|导出文件成功！\n背景音乐文件无法读取：" + gone + "\n已改用：" + music});
        QVERIFY(DecodedPeak(m_target, 0.5, 5.5) > 1000);
        g_settings.musicList = {gone};
        m_mode->ExportToFile();
        QCOMPARE(TakeNotices(), QStringList{"提示|导出文件成功！\n背景音乐文件都无法读取，导出的文件没有背景音乐。"});
        QVERIFY(qAbs(DurationS(m_target) - info.DurationMs() / 1000.0) < 0.2);
    }

    // Failures keep an existing file of the chosen name and say so.
    void failuresKeepTheOldFile()
    {
        Rows({"欢迎光临本店"}, {"欢迎光临本店"});
        m_target = m_dir + "/existing.mp3";
        QFile old(m_target);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("an older export");
        old.close();
        Select({0});

        const QString standIn = m_dir + "/failing-ffmpeg-standin";
        QFile script(standIn);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\necho 'stand-in failure' >&2\nexit 1\n");
        script.close();
        script.setPermissions(script.permissions() | QFile::ExeOwner);
        ExportJob::UseProgram(standIn);
        m_mode->ExportToFile();
        QCOMPARE(TakeNotices(), QStringList{"错误提示|导出文件失败,可能是没有操作权限！"});
        QCOMPARE(ReadFile(m_target), QByteArray("an older export"));

        // Cancelling a run ends our FFmpeg and leaves nothing behind.
        const QString slow = m_dir + "/slow-ffmpeg-standin";
        QFile slowScript(slow);
        QVERIFY(slowScript.open(QIODevice::WriteOnly));
        slowScript.write("#!/bin/sh\necho $$ > \"$0.pid\"\nexec sleep 600\n");
        slowScript.close();
        slowScript.setPermissions(slowScript.permissions() | QFile::ExeOwner);
        ExportJob::UseProgram(slow);
        QTimer canceller;
        connect(&canceller, &QTimer::timeout, [] { // the operator presses 取消
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *progress = qobject_cast<QProgressDialog *>(w); progress && progress->isVisible())
                    if (auto *button = progress->findChild<QPushButton *>())
                        button->click();
        });
        canceller.start(100);
        m_mode->ExportToFile();
        canceller.stop();
        const pid_t standInPid = ReadFile(slow + ".pid").trimmed().toInt();
        QVERIFY(standInPid > 0);
        QCOMPARE(::kill(standInPid, 0), -1); // ended and reaped, not left running
        QCOMPARE(TakeNotices(), QStringList());
        QCOMPARE(ReadFile(m_target), QByteArray("an older export"));
        QCOMPARE(QDir(m_dir).entryList({".existing.mp3.exporting-*"}, QDir::Files | QDir::Hidden), QStringList());

        ExportJob::UseProgram(m_dir + "/no-such-ffmpeg");
        m_mode->ExportToFile();
        QVERIFY(TakeNotices().value(0).startsWith("错误提示|未找到FFmpeg"));

        // The real FFmpeg into a folder that does not exist.
        ExportJob::UseProgram(QString());
        m_target = m_dir + "/missing folder/out.mp3";
        m_mode->ExportToFile();
        QCOMPARE(TakeNotices(), QStringList{"错误提示|导出文件失败,可能是没有操作权限！"});
    }

    void silenceFiles()
    {
        const QString path = m_dir + "/sleep.wav";
        QVERIFY(SimplePlay::WriteSleepWav(path, 120000));
        const QByteArray wav = ReadFile(path);
        QCOMPARE(wav.size(), 44 + 3840000);
        QCOMPARE(wav.left(44), WavFile::Header(3840000));
        QVERIFY(!SimplePlay::WriteSleepWav(m_dir + "/no/such/dir/x.wav", 10));

        // FFmpeg writes a LIST chunk before the data, as in the joined rows:
        // the length comes from the data chunk wherever it is.
        const QString joined = m_dir + "/joined.wav";
        QCOMPARE(QProcess::execute("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", "sine=duration=2.5", "-ar",
                                              "16000", "-ac", "1", joined}),
                 0);
        QVERIFY(ReadFile(joined).mid(12, 200).contains("LIST"));
        WavFile::Info info;
        QVERIFY(WavFile::ReadInfo(joined, &info));
        QCOMPARE(info.DurationMs(), 2500);
    }
};

QTEST_MAIN(TestExport)
#include "tst_export.moc"
