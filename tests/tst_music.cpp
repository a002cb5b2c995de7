#include "AudioOutput.h"
#include "MusicPlayer.h"
#include "Parlivo.h"
#include "PriceMode.h"
#include "Settings.h"
#include "SettingsValues.h"
#include "SimplePlay.h"
#include "Speake.h"
#include "SpeechCache.h"
#include "TestEnvironment.h"
#include "TrackLoudness.h"
#include "WavFile.h"

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <memory>

namespace {


// An MP3 of a sine tone, at three quarters of full scale by default, made with FFmpeg.
QString MakeMp3(const QString &dir, int frequency, int seconds, int gain = 6)
{
    const QString path = QStringLiteral("%1/tone%2_%3_%4.mp3").arg(dir).arg(frequency).arg(seconds).arg(gain);
    if (!QFile::exists(path))
        QProcess::execute(QStringLiteral("ffmpeg"),
                          {"-v", "error", "-y", "-f", "lavfi", "-i",
                           QStringLiteral("sine=frequency=%1:duration=%2").arg(frequency).arg(seconds), "-af",
                           QStringLiteral("volume=%1").arg(gain), "-c:a", "libmp3lame", "-b:a", "64k", path});
    return path;
}

// Peak level of the disk output over a span of milliseconds ending `beforeEndMs` before its end.
int RecentPeak(const QString &file, qint64 spanMs, qint64 beforeEndMs = 0)
{
    QFile out(file);
    if (!out.open(QIODevice::ReadOnly))
        return -1;
    const qint64 end = qMax<qint64>(0, out.size() - beforeEndMs * kDiskBytesPerMs) & ~3;
    const qint64 start = qMax<qint64>(0, end - spanMs * kDiskBytesPerMs) & ~3;
    out.seek(start);
    return PeakOf(out.read(end - start));
}

} // namespace

class TestMusic : public QObject
{
    Q_OBJECT

private:
    QString m_dir;
    QString m_heard;
    std::unique_ptr<Parlivo> m_window;

    // A window whose music plays the given list by the given play type.
    void Open(const QStringList &list, int playType, int smallWhenPlaying = 0, int startType = 0)
    {
        m_window.reset();
        AudioOutput::Shutdown(); // a fresh disk file for each case
        m_heard = m_dir + QStringLiteral("/music%1.raw").arg(QDateTime::currentMSecsSinceEpoch());
        qputenv("SDL_DISKAUDIOFILE", m_heard.toLocal8Bit());
        g_settings.musicList = list;
        g_settings.musicPlayType = playType;
        g_settings.musicStartType = startType;
        g_settings.smallWhenPlaying = smallWhenPlaying;
        g_settings.musicVol = 50;
        g_settings.volume = 10;
        m_window = std::make_unique<Parlivo>();
    }

private slots:
    void initTestCase()
    {
        m_dir = IsolateUserDirs().path();
        qputenv("SDL_AUDIODRIVER", "disk");
        Settings::UseFilePath(m_dir + "/settings.xml"); // none: the window takes g_settings as set here
        QVERIFY(QDir::setCurrent(m_dir));
        QVERIFY(QFile::exists(MakeMp3(m_dir, 440, 1)));
    }
    void cleanupTestCase()
    {
        m_window.reset();
        AudioOutput::Shutdown();
    }

    // Three tracks in order wrap to the first; the music is heard.
    void inOrderWraps()
    {
        Open({MakeMp3(m_dir, 440, 1), MakeMp3(m_dir, 550, 1), MakeMp3(m_dir, 660, 1)}, 0);
        m_window->PlayMusic();
        QList<int> order{m_window->MusicIndex()};
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                if (order.last() != m_window->MusicIndex())
                    order << m_window->MusicIndex();
                return order.size() >= 4;
            }(),
            30000);
        QCOMPARE(order, QList<int>({0, 1, 2, 0}));
        QTRY_VERIFY_WITH_TIMEOUT(m_window->Player().GetStatus().playing && m_window->Player().PositionMs() > 400
                                     && m_window->Player().PositionMs() < 800,
                                 10000);
        QVERIFY(RecentPeak(m_heard, 300) > 3000);
    }

    void repeatOneAndRandomWithOneTrack_data()
    {
        QTest::addColumn<int>("playType");
        QTest::newRow("repeat one") << 1;
        QTest::newRow("random, one track") << 2;
    }
    void repeatOneAndRandomWithOneTrack()
    {
        QFETCH(int, playType);
        Open({MakeMp3(m_dir, 440, 1)}, playType);
        m_window->PlayMusic();
        QTest::qWait(2500); // more than two passes
        QCOMPARE(m_window->MusicIndex(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(m_window->Player().GetStatus().playing && m_window->Player().PositionMs() > 400
                                     && m_window->Player().PositionMs() < 800,
                                 10000);
        QVERIFY(RecentPeak(m_heard, 300) > 3000);
    }

    // A file the mixer cannot read is passed over; the music goes on.
    void unreadableFileIsSkipped()
    {
        const QString broken = m_dir + "/broken.mp3";
        QFile file(broken);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(5000, 'z'));
        file.close();
        Open({broken, MakeMp3(m_dir, 550, 1)}, 0);
        m_window->PlayMusic();
        QTRY_COMPARE_WITH_TIMEOUT(m_window->MusicIndex(), 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(m_window->Player().GetStatus().playing, 10000);
    }

    // Pause then play resumes the same track where it was.
    void pauseThenPlayResumes()
    {
        Open({MakeMp3(m_dir, 440, 5), MakeMp3(m_dir, 550, 1)}, 0);
        m_window->PlayMusic();
        QTRY_VERIFY_WITH_TIMEOUT(m_window->Player().PositionMs() > 1000, 10000);
        m_window->PauseMusic();
        const qint64 at = m_window->Player().PositionMs();
        QTest::qWait(300);
        QVERIFY(m_window->Player().GetStatus().paused);
        m_window->PlayMusic();
        QCOMPARE(m_window->MusicIndex(), 0);
        QVERIFY(m_window->Player().GetStatus().playing);
        QVERIFY2(m_window->Player().PositionMs() >= at && m_window->Player().PositionMs() < at + 1000,
                 qPrintable(QString::number(m_window->Player().PositionMs())));
    }

    // Turning down and up, pausing and playing glide: in the captured
    // output no 10 ms step exceeds 3 dB, and the levels end where they
    // belong. The track's own onset is not compared.
    void rampsAreSmooth()
    {
        Open({MakeMp3(m_dir, 440, 30)}, 0);
        m_window->PlayMusic();
        QTest::qWait(800);
        const int normal = RecentPeak(m_heard, 200);
        m_window->MusicSmaller();
        QTest::qWait(600);
        const int ducked = RecentPeak(m_heard, 200);
        m_window->MusicNormal();
        QTest::qWait(600);
        m_window->PauseMusic();
        QTest::qWait(600);
        m_window->PlayMusic();
        QTest::qWait(800);
        QVERIFY(qAbs(ducked * 10 - normal) < normal / 5); // speech volume 10 / 2 of music volume 50
        QVERIFY(RecentPeak(m_heard, 200) > normal * 9 / 10);

        QFile out(m_heard);
        QVERIFY(out.open(QIODevice::ReadOnly));
        const QByteArray pcm = out.readAll();
        const qint64 window = 10 * kDiskBytesPerMs;
        // The ramps reach silence through a floor 30 dB under the music
        // (-35.6 dBFS here): the mixer's whole-number volume has no finer
        // steps below it. Windows at or near the floor are not compared.
        constexpr double kCompared = -33.0;
        qint64 onset = 0;
        while (onset + 2 < pcm.size() && std::abs(*reinterpret_cast<const qint16 *>(pcm.constData() + onset)) < 100)
            onset += 2;
        double previous = 0;
        bool havePrevious = false;
        double worst = 0;
        for (qint64 at = (onset + 400 * kDiskBytesPerMs) & ~3; at + window <= pcm.size(); at += window) {
            const auto *s = reinterpret_cast<const qint16 *>(pcm.constData() + at);
            double sum = 0;
            for (qint64 i = 0; i < window / 2; ++i)
                sum += double(s[i]) * s[i];
            const double db = 10 * std::log10(sum / (window / 2) / (32768.0 * 32768.0) + 1e-12);
            if (db > kCompared && havePrevious && previous > kCompared)
                worst = qMax(worst, std::abs(db - previous));
            previous = db;
            havePrevious = true;
        }
        QVERIFY2(worst <= 3.0, qPrintable(QString::number(worst)));
    }

    // With loudness levelling on, a loud and a quiet track play alike; off,
    // they keep their difference (about 9.5 dB here).
    void loudnessLevelling()
    {
        const QString loud = MakeMp3(m_dir, 440, 20, 6), quiet = MakeMp3(m_dir, 440, 20, 2);
        QVERIFY(TrackLoudness::MeasureNow(loud) && TrackLoudness::MeasureNow(quiet));
        auto level = [&](const QString &track, int levelling) {
            Open({track}, 0);
            g_settings.musicLoudness = levelling;
            m_window->PlayMusic();
            QTest::qWait(1000);
            return RecentPeak(m_heard, 300);
        };
        auto db = [](int a, int b) { return 20 * std::log10(double(a) / double(b)); };
        QVERIFY(std::abs(db(level(loud, 0), level(quiet, 0))) > 8);
        QVERIFY2(std::abs(db(level(loud, 1), level(quiet, 1))) < 1.5,
                 qPrintable(QString::number(db(level(loud, 1), level(quiet, 1)))));
        g_settings.musicLoudness = 0;
    }

    // While a text is spoken the music is at speech volume / 2 (5 of 100
    // here, a tenth of its normal 50), and back after the finish report.
    // Music from start-up, a price list of one silent text row: what the
    // output holds is the music alone.
    void turnedDownWhileSpeaking()
    {
        m_window.reset(); // it would save its price list over the one written here
        const QString text = QStringLiteral("静音的广播");
        QFile cached(SpeechCache::PathFor(text));
        QVERIFY(QDir().mkpath(QFileInfo(cached).absolutePath()));
        QVERIFY(cached.open(QIODevice::WriteOnly));
        cached.write(WavFile::Header(3 * 32000) + QByteArray(3 * 32000, '\0'));
        cached.close();
        QFile list(PriceMode::FilePath());
        QVERIFY(QDir().mkpath(QFileInfo(list).absolutePath()));
        QVERIFY(list.open(QIODevice::WriteOnly));
        list.write("<PriceRecords recycle=\"false\"><record text=\"" + text.toUtf8() + "\"/></PriceRecords>");
        list.close();

        Open({MakeMp3(m_dir, 440, 30)}, 0, 1, 1);
        PriceMode *price = m_window->PricePage();
        price->findChild<QCheckBox *>("checkBox_recycle")->setChecked(false);
        QSignalSpy reports(m_window.get(), &Parlivo::PriceModeActionFinished);
        QTest::qWait(1000);
        const int normal = RecentPeak(m_heard, 300);
        QVERIFY(normal > 3000);
        QVERIFY(price->Play());
        QTest::qWait(1500);
        const int ducked = RecentPeak(m_heard, 300);
        QVERIFY2(ducked < normal / 6 && ducked > normal / 20, qPrintable(QStringLiteral("%1 %2").arg(normal).arg(ducked)));
        QTRY_VERIFY_WITH_TIMEOUT(!reports.isEmpty(), 20000);
        QTest::qWait(600);
        QVERIFY(RecentPeak(m_heard, 300) > normal * 8 / 10);
    }
};

QTEST_MAIN(TestMusic)
#include "tst_music.moc"
