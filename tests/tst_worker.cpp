#include "core/AppPaths.h"
#include "speech/Chime.h"
#include "speech/WavPlayer.h"
#include "core/SettingsValues.h"
#include "speech/Speake.h"
#include "speech/SpeechCache.h"
#include "TestEnvironment.h"
#include "speech/WavFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <memory>

namespace {

// A cached speech file of the given length holding a 440 Hz tone.
void CacheTone(const QString &text, int ms)
{
    QByteArray pcm(ms * WavFile::kByteRate / 1000, '\0');
    auto *s = reinterpret_cast<qint16 *>(pcm.data());
    for (int i = 0; i < pcm.size() / 2; ++i)
        s[i] = qint16(8000 * std::sin(2 * M_PI * 440 * i / WavFile::kSampleRate));
    QFile file(SpeechCache::PathFor(text));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(WavFile::Header(quint32(pcm.size())) + pcm);
}

QList<int> Indexes(const QSignalSpy &spy)
{
    QList<int> out;
    for (const QList<QVariant> &args : spy)
        out << args.at(0).toInt();
    return out;
}

} // namespace

class TestWorker : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Speake> m_worker;
    QString m_diskFile;

    QByteArray DiskOutput() const
    {
        QFile file(m_diskFile);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private slots:
    void initTestCase()
    {
        // The mixed output lands in a file: what was really heard.
        m_diskFile = IsolateUserDirs().path() + "/output.raw";
        qputenv("SDL_AUDIODRIVER", "disk");
        qputenv("SDL_DISKAUDIOFILE", m_diskFile.toLocal8Bit());
        QVERIFY(AppPaths::EnsureSpeechCacheDir());
        QVERIFY(QDir::setCurrent(IsolateUserDirs().path()));
        CacheTone("short", 100);
        CacheTone("long", 2000);
        // Far longer than any hang guard below: whether it was cut shows in
        // the outcome, not in how fast the machine is.
        CacheTone("endless", 60000);
        m_worker = std::make_unique<Speake>();
        // Reopening the disk driver would restart its file mid-test.
        m_worker->SetDeviceReleaseMs(-1);
        m_worker->start();
    }
    void init()
    {
        g_settings.yusheng = QStringLiteral("xf_xiaoyan");
    }
    void cleanupTestCase()
    {
        // Stopping cuts a day-long wait in hand: the worker ends (the
        // test's own timeout is the hang guard).
        m_worker->SpeakAudio(1, 1, "86400000", true);
        QTest::qWait(50);
        m_worker.reset();
        QVERIFY(!m_worker);
    }

    void requestsRunInOrderAcrossModes()
    {
        QSignalSpy spy(m_worker.get(), &Speake::ActionFinished);
        m_worker->SpeakAudio(5, 0, "short", true);
        m_worker->SpeakAudio(0x1000005, 1, "10", true);
        m_worker->SpeakAudio(0x1000006, 1, "10", false);
        m_worker->SpeakAudio(0x2000005, 0, "short", true);
        m_worker->SpeakAudio(-1, 2, "unknown type", true); // logged and dropped
        m_worker->SpeakAudio(-2, 1, "-5000", true);        // negative wait counts as 0
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 4, 5000);
        QTest::qWait(50);
        QCOMPARE(Indexes(spy), QList<int>({5, 0x1000005, 0x2000005, -2}));
    }

    // Texts from outside wait behind a timed announcement that comes later;
    // everything else keeps its turn.
    void timedRequestsGoAheadOfRemoteTexts()
    {
        QSignalSpy spy(m_worker.get(), &Speake::ActionFinished);
        m_worker->SpeakAudio(1, 1, "300", true); // keeps the worker busy
        m_worker->Queue(2, 1, "10", true, SpeechRequest::Remote);
        m_worker->Queue(3, 1, "10", true, SpeechRequest::InTurn);
        m_worker->Queue(4, 1, "10", true, SpeechRequest::Remote);
        m_worker->Queue(5, 1, "10", true, SpeechRequest::Timed);
        m_worker->Queue(6, 1, "10", true, SpeechRequest::Timed);
        m_worker->Queue(7, 1, "10", true, SpeechRequest::InTurn);
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 7, 5000);
        QCOMPARE(Indexes(spy), QList<int>({1, 5, 6, 2, 3, 4, 7}));
    }

    void deleteRecordTakesTheEarlierFirst()
    {
        QSignalSpy spy(m_worker.get(), &Speake::ActionFinished);
        m_worker->SpeakAudio(99, 1, "300", true); // keeps the worker busy
        m_worker->SpeakAudio(7, 0, "endless", true);
        m_worker->SpeakAudio(7, 0, "short", true);
        m_worker->SpeakAudio(8, 1, "0", false);
        m_worker->SpeakAudio(8, 1, "0", true);
        m_worker->DeleteRecord(7);
        m_worker->DeleteRecord(8); // the one without a report is simply gone
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 4, 60000); // a hang guard
        // The long text was dropped but still reported; the short one played.
        QCOMPARE(Indexes(spy), QList<int>({99, 7, 7, 8}));

        spy.clear();
        m_worker->SpeakAudio(99, 1, "200", true);
        m_worker->SpeakAudio(7, 0, "endless", true);
        m_worker->SpeakAudio(7, 0, "endless", true);
        m_worker->DeleteRecord(7);
        m_worker->DeleteRecord(7);
        m_worker->DeleteRecord(7); // nothing left to match
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 3, 50000);
    }

    // A cancel cuts the matching request in hand and drops the matching
    // queued ones (reported all the same); what does not match, and what
    // comes after, is not cut.
    void waitsAndCancels()
    {
        QSignalSpy spy(m_worker.get(), &Speake::ActionFinished);
        QElapsedTimer clock;
        clock.start();
        m_worker->SpeakAudio(1, 1, "800", true);
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 1, 20000);
        QVERIFY2(clock.elapsed() >= 800, QByteArray::number(clock.elapsed()));

        m_worker->SpeakAudio(2, 1, "600000", true);
        m_worker->SpeakAudio(3, 1, "600000", true);
        m_worker->SpeakAudio(4, 1, "300", true);
        QTest::qWait(100);
        m_worker->Cancel([](int index) { return index == 2 || index == 3; });
        clock.restart();
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 4, 50000);
        QVERIFY2(clock.elapsed() >= 300, QByteArray::number(clock.elapsed()));
        QCOMPARE(Indexes(spy), QList<int>({1, 2, 3, 4}));
    }

    // Stopping the worker cuts a long synthesis short; no half file is cached.
    void stopCutsSynthesis()
    {
        Speake worker;
        worker.SetDeviceReleaseMs(-1);
        worker.start();
        const QString text = QStringLiteral("今天的特价商品有西瓜、苹果和香蕉，欢迎选购。").repeated(150);
        worker.SpeakAudio(1, 0, text, true);
        QTest::qWait(200); // synthesis under way (it takes seconds)
        QElapsedTimer clock;
        clock.start();
        worker.Stop();
        QVERIFY(worker.wait(50000));
        QVERIFY(!QFile::exists(SpeechCache::PathFor(text)));
    }

    // The chime sounds before a text after quiet, not between the rows of a
    // loop, and a pause cuts it like speech.
    void chimeAfterQuiet()
    {
        const QString silent = QStringLiteral("静音");
        QFile file(SpeechCache::PathFor(silent));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(WavFile::Header(32000) + QByteArray(32000, '\0'));
        file.close();
        g_settings.chime = QStringLiteral("builtin");
        Speake worker;
        worker.SetDeviceReleaseMs(-1);
        QSignalSpy spy(&worker, &Speake::ActionFinished);
        worker.start();
        QTest::qWait(100);
        const qint64 firstMs = DiskOutput().size() / kDiskBytesPerMs;
        worker.SpeakAudio(1, 0, silent, true);
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 1, 20000);
        const qint64 secondMs = DiskOutput().size() / kDiskBytesPerMs;
        worker.SpeakAudio(2, 0, silent, true); // right after: no chime
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 2, 20000);
        QTest::qWait(200);
        const QByteArray out = DiskOutput();
        QVERIFY2(DiskPeak(out, firstMs, secondMs) > 3000, "no chime before the first text");
        QCOMPARE(DiskPeak(out, secondMs + 50, out.size() / kDiskBytesPerMs), 0);

        // An operator's long chime file, cut by a pause.
        CacheTone("chime file", 60000);
        g_settings.chime = SpeechCache::PathFor("chime file");
        worker.SpeakAudio(3, 0, silent, true); // not after quiet: no chime yet
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 3, 20000);
        QTest::qWait(int(Chime::kQuietMs) + 200);
        worker.SpeakAudio(4, 0, silent, true);
        QTest::qWait(500);
        worker.Cancel([](int index) { return index == 4; });
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 4, 30000); // far less than the minute-long chime
        g_settings.chime = QString();
    }

    void failedSynthesisIsStillReported()
    {
        QSignalSpy spy(m_worker.get(), &Speake::ActionFinished);
        QSignalSpy spoken(m_worker.get(), &Speake::Spoken);
        g_settings.yusheng = QStringLiteral("xf_nosuchvoice");
        m_worker->SpeakAudio(4, 0, "无法合成", true);
        g_settings.yusheng = QStringLiteral("nothing");
        m_worker->SpeakAudio(5, 0, "没有引擎", true);
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 2, 5000);
        QVERIFY(!QFile::exists(SpeechCache::PathFor("无法合成")));
        QCOMPARE(spoken.size(), 2); // both told as not heard
        QVERIFY(!spoken.at(0).at(1).toBool() && !spoken.at(1).at(1).toBool());
    }

    // A damaged cached file is synthesised again, a deleted cache folder is
    // made again: both texts are heard, not skipped in silence.
    void cacheTroubleIsMended()
    {
        QSignalSpy spoken(m_worker.get(), &Speake::Spoken);
        const QStringList texts = {QStringLiteral("损坏的缓存"), QStringLiteral("缓存目录没了")};
        QVERIFY(WriteFile(SpeechCache::PathFor(texts[0]), QByteArray("RIFF\0\0", 6)));
        for (int i = 0; i < texts.size(); ++i) {
            if (i == 1)
                QVERIFY(QDir(AppPaths::SpeechCacheDir()).removeRecursively());
            const qint64 startMs = DiskOutput().size() / kDiskBytesPerMs;
            m_worker->SpeakAudio(20 + i, 0, texts[i], true);
            QTRY_COMPARE_WITH_TIMEOUT(spoken.size(), i + 1, 30000);
            QCOMPARE(spoken.at(i), QList<QVariant>({20 + i, true}));
            QVERIFY2(DiskPeak(DiskOutput(), startMs, DiskOutput().size() / kDiskBytesPerMs) > 3000, qPrintable(texts[i]));
            WavFile::Info info;
            QVERIFY(WavFile::ReadInfo(SpeechCache::PathFor(texts[i]), &info) && info.DurationMs() > 500);
        }
    }

    void chineseTextIsHeardThenCut()
    {
        QSignalSpy spy(m_worker.get(), &Speake::ActionFinished);
        const QString text = QStringLiteral("欢迎光临，今天西瓜1块9毛8一斤。, .");
        QTest::qWait(100);
        const qint64 startMs = DiskOutput().size() / kDiskBytesPerMs;
        QElapsedTimer clock;
        clock.start();
        m_worker->SpeakAudio(10, 0, text, true);
        QVERIFY(spy.wait(10000));
        WavFile::Info info;
        QVERIFY(WavFile::ReadInfo(SpeechCache::PathFor(text), &info));
        const qint64 speechMs = info.DurationMs() - 250;
        QVERIFY(speechMs > 1500);
        // Reported after the speech and its 800 ms tail.
        QVERIFY(clock.elapsed() >= info.DurationMs() + 800);

        // Speech is heard over its whole length, and the tail is quiet.
        const QByteArray out = DiskOutput();
        const qint64 synthMs = clock.elapsed() - info.DurationMs() - 800;
        const qint64 heardFrom = startMs + synthMs;
        QVERIFY2(DiskPeak(out, heardFrom, heardFrom + speechMs / 3) > 3000, "no speech at the start");
        QVERIFY2(DiskPeak(out, heardFrom + speechMs * 2 / 3, heardFrom + speechMs) > 3000, "no speech at the end");
        QCOMPARE(DiskPeak(out, heardFrom + info.DurationMs() + 150, heardFrom + info.DurationMs() + 600), 0);

        // Cached now: the same text is cut 300 ms in.
        m_worker->SpeakAudio(11, 0, text, true);
        QTest::qWait(300);
        QCOMPARE(spy.size(), 1);
        m_worker->Cancel([](int index) { return index == 11; });
        const qint64 cutMs = DiskOutput().size() / kDiskBytesPerMs;
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 2, 2000);
        QTest::qWait(400);
        const QByteArray after = DiskOutput();
        QVERIFY(DiskPeak(after, cutMs - 250, cutMs) > 3000);
        QCOMPARE(DiskPeak(after, cutMs + 100, cutMs + 400), 0);
    }
};

QTEST_GUILESS_MAIN(TestWorker)
#include "tst_worker.moc"
