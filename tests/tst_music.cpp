#include "speech/AudioOutput.h"
#include "speech/Announcer.h"
#include "music/MusicPlayer.h"
#include "music/PlayList.h"
#include "core/SettingsValues.h"
#include "shop/PriceListModel.h"
#include "shop/Shop.h"
#include "shop/ShopSettings.h"
#include "shop/WordListModel.h"
#include "shop/WordPlayer.h"
#include "speech/Speake.h"
#include "speech/SpeechCache.h"
#include "TestEnvironment.h"
#include "music/TrackLoudness.h"
#include "speech/WavFile.h"

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
    std::unique_ptr<Shop> m_shop;

    // A shop whose music plays the given list by the given play type.
    void Open(const QStringList &list, int playType, int smallWhenPlaying = 0, int startType = 0)
    {
        m_shop.reset();
        AudioOutput::Shutdown(); // a fresh disk file for each case
        m_heard = m_dir + QStringLiteral("/music%1.raw").arg(QDateTime::currentMSecsSinceEpoch());
        qputenv("SDL_DISKAUDIOFILE", m_heard.toLocal8Bit());
        g_settings.musicList = list;
        g_settings.musicPlayType = playType;
        g_settings.musicStartType = startType;
        g_settings.smallWhenPlaying = smallWhenPlaying;
        g_settings.musicVol = 50;
        g_settings.volume = 10;
        m_shop = std::make_unique<Shop>();
        m_shop->StartMusic();
    }

private slots:
    void initTestCase()
    {
        m_dir = IsolateUserDirs().path();
        qputenv("SDL_AUDIODRIVER", "disk");
        ShopSettings::UseFilePath(m_dir + "/settings.xml"); // none: the shop takes g_settings as set here
        QVERIFY(QDir::setCurrent(m_dir));
        QVERIFY(QFile::exists(MakeMp3(m_dir, 440, 1)));
    }
    void cleanupTestCase()
    {
        m_shop.reset();
        AudioOutput::Shutdown();
    }

    // Three tracks in order wrap to the first; the music is heard.
    void inOrderWraps()
    {
        Open({MakeMp3(m_dir, 440, 1), MakeMp3(m_dir, 550, 1), MakeMp3(m_dir, 660, 1)}, 0);
        m_shop->Music()->Play();
        QList<int> order{m_shop->Music()->Index()};
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                if (order.last() != m_shop->Music()->Index())
                    order << m_shop->Music()->Index();
                return order.size() >= 4;
            }(),
            30000);
        QCOMPARE(order, QList<int>({0, 1, 2, 0}));
        QTRY_VERIFY_WITH_TIMEOUT(m_shop->Music()->Player().GetStatus().playing && m_shop->Music()->Player().PositionMs() > 400
                                     && m_shop->Music()->Player().PositionMs() < 800,
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
        m_shop->Music()->Play();
        QTest::qWait(2500); // more than two passes
        QCOMPARE(m_shop->Music()->Index(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(m_shop->Music()->Player().GetStatus().playing && m_shop->Music()->Player().PositionMs() > 400
                                     && m_shop->Music()->Player().PositionMs() < 800,
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
        m_shop->Music()->Play();
        QTRY_COMPARE_WITH_TIMEOUT(m_shop->Music()->Index(), 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(m_shop->Music()->Player().GetStatus().playing, 10000);
    }

    // Pause then play resumes the same track where it was.
    void pauseThenPlayResumes()
    {
        Open({MakeMp3(m_dir, 440, 5), MakeMp3(m_dir, 550, 1)}, 0);
        m_shop->Music()->Play();
        QTRY_VERIFY_WITH_TIMEOUT(m_shop->Music()->Player().PositionMs() > 1000, 10000);
        m_shop->Music()->Pause();
        const qint64 at = m_shop->Music()->Player().PositionMs();
        QTest::qWait(300);
        QVERIFY(m_shop->Music()->Player().GetStatus().paused);
        m_shop->Music()->Play();
        QCOMPARE(m_shop->Music()->Index(), 0);
        QVERIFY(m_shop->Music()->Player().GetStatus().playing);
        QVERIFY2(m_shop->Music()->Player().PositionMs() >= at && m_shop->Music()->Player().PositionMs() < at + 1000,
                 qPrintable(QString::number(m_shop->Music()->Player().PositionMs())));
    }

    // Turning down and up, pausing and playing glide: in the captured
    // output no 10 ms step exceeds 3 dB, and the levels end where they
    // belong. The track's own onset is not compared.
    void rampsAreSmooth()
    {
        Open({MakeMp3(m_dir, 440, 30)}, 0);
        m_shop->Music()->Play();
        QTest::qWait(800);
        const int normal = RecentPeak(m_heard, 200);
        m_shop->Music()->TurnDown(true);
        QTest::qWait(600);
        const int ducked = RecentPeak(m_heard, 200);
        m_shop->Music()->TurnDown(false);
        QTest::qWait(600);
        m_shop->Music()->Pause();
        QTest::qWait(600);
        m_shop->Music()->Play();
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
            m_shop->Music()->Play();
            QTest::qWait(1000);
            return RecentPeak(m_heard, 300);
        };
        auto db = [](int a, int b) { return 20 * std::log10(double(a) / double(b)); };
        QVERIFY(std::abs(db(level(loud, 0), level(quiet, 0))) > 8);
        QVERIFY2(std::abs(db(level(loud, 1), level(quiet, 1))) < 1.5,
                 qPrintable(QString::number(db(level(loud, 1), level(quiet, 1)))));
        g_settings.musicLoudness = 0;
    }

    // The music follows what is heard, whichever source speaks. Every text
    // is a cached silent one (2 s of zeros), so the output holds the music
    // alone: its level before, while the text sounds, 2.5 s after the
    // last sound (past the quiet of about 1.5 s), and what a pause does.
    void musicFollowsWhatIsHeard_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<int>("startType"); // 1 from start-up, 0 with the broadcasts
        QTest::addColumn<int>("musicVol");
        QTest::addColumn<bool>("chime");
        QTest::addColumn<QString>("after"); // "normal", "paused"
        QTest::newRow("one word row") << "word" << 1 << 50 << false << "normal";
        QTest::newRow("an HTTP text") << "remote" << 1 << 50 << false << "normal";
        QTest::newRow("a price loop paused") << "price loop paused" << 1 << 50 << false << "normal";
        QTest::newRow("following, loop emptied") << "word loop emptied" << 0 << 50 << false << "paused";
        QTest::newRow("quiet music stays quiet") << "word" << 1 << 2 << false << "normal";
        QTest::newRow("a chime first") << "remote" << 1 << 50 << true << "normal";
    }
    void musicFollowsWhatIsHeard()
    {
        QFETCH(QString, source);
        QFETCH(int, startType);
        QFETCH(int, musicVol);
        QFETCH(bool, chime);
        QFETCH(QString, after);
        m_shop.reset(); // it would save its lists over the ones written here
        const QString text = QStringLiteral("静音的广播");
        for (const QString &spoken : {text, text + QStringLiteral(", .")})
            QVERIFY(WriteFile(SpeechCache::PathFor(spoken), WavFile::Header(2 * 32000) + QByteArray(2 * 32000, '\0')));
        const bool loop = source.contains("loop");
        QVERIFY(WriteFile(PriceListModel::FilePath(), "<PriceRecords recycle=\"" + QByteArray(loop ? "true" : "false")
                                                     + "\"><record text=\"" + text.toUtf8() + "\"/></PriceRecords>"));
        QVERIFY(WriteFile(WordListModel::FilePath(), "<records recycle=\"" + QByteArray(loop ? "true" : "false") + "\"><record>"
                                                      + text.toUtf8() + "</record><record>" + text.toUtf8() + "</record></records>"));
        g_settings.chime = chime ? QStringLiteral("builtin") : QString();
        Open({MakeMp3(m_dir, 440, 60)}, 0, 1, startType);
        g_settings.musicVol = musicVol;
        m_shop->Music()->TurnDown(false); // the new music volume
        auto start = [&] {
            if (source == "remote") {
                m_shop->Speech()->From(Announcer::Remote)->Request(0x3000000, 0, text, true);
            } else if (source.startsWith("price")) {
                QVERIFY(m_shop->PlayMode(Shop::Mode::Price));
            } else {
                m_shop->WordLoop()->SetCursor(0);
                QVERIFY(m_shop->PlayMode(Shop::Mode::Word));
            }
        };
        int normal = 0;
        if (startType == 1) {
            // From start-up: the level before any speech.
            QTest::qWait(1200);
            normal = RecentPeak(m_heard, 300);
            QVERIFY2(normal > (musicVol > 10 ? 3000 : 50), qPrintable(QString::number(normal)));
        }
        start();
        QTRY_VERIFY_WITH_TIMEOUT(m_shop->Speech()->MusicDucked(), 20000);
        QTest::qWait(chime ? 1500 : 800);
        const int during = RecentPeak(m_heard, 300);
        if (startType == 0)
            QVERIFY2(during > 100, qPrintable(QString::number(during))); // started with the announcement
        else if (musicVol > 10)
            QVERIFY2(during < normal / 6 && during > normal / 20, qPrintable(QStringLiteral("%1 %2").arg(normal).arg(during)));
        else
            QVERIFY2(during <= normal * 11 / 10, qPrintable(QStringLiteral("%1 %2").arg(normal).arg(during)));

        if (source == "price loop paused") {
            QVERIFY(m_shop->PauseMode(Shop::Mode::Price));
        } else if (source == "word loop emptied") {
            m_shop->Words()->Clear();
        }
        // The last sound ends (a loop's next row never comes), then the quiet.
        QTRY_VERIFY_WITH_TIMEOUT(m_shop->Speech()->Outstanding() == 0, 20000);
        QTest::qWait(2500);
        const int later = RecentPeak(m_heard, 300);
        if (after == "paused")
            QVERIFY2(later < 50, qPrintable(QString::number(later)));
        else
            QVERIFY2(later > normal * 8 / 10 && later < normal * 12 / 10, qPrintable(QStringLiteral("%1 %2").arg(normal).arg(later)));
        g_settings.chime = QString();
    }
};

QTEST_MAIN(TestMusic)
#include "tst_music.moc"
