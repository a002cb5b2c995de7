#include "speech/AudioOutput.h"
#include "core/SettingsValues.h"
#include "TestEnvironment.h"
#include "speech/WavFile.h"
#include "speech/WavPlayer.h"

#include <QFile>
#include <QtEndian>
#include <QThread>
#include <QtTest>

#include <SDL_mixer.h>

#include <memory>

#include <cmath>

namespace {


// A WAV file of a 440 Hz tone in the given PCM format.
void WriteTone(const QString &path, int rate, int channels, int bits, int ms)
{
    const int frames = rate * ms / 1000;
    const int bytesPerSample = bits / 8;
    QByteArray data(frames * channels * bytesPerSample, '\0');
    for (int i = 0; i < frames; ++i) {
        const double v = std::sin(2 * M_PI * 440 * i / rate);
        for (int c = 0; c < channels; ++c) {
            char *at = data.data() + (i * channels + c) * bytesPerSample;
            if (bits == 8)
                *reinterpret_cast<quint8 *>(at) = quint8(128 + 60 * v);
            else
                qToLittleEndian<qint16>(qint16(8000 * v), at);
        }
    }
    QByteArray header = WavFile::Header(quint32(data.size()));
    qToLittleEndian<quint16>(quint16(channels), header.data() + 22);
    qToLittleEndian<quint32>(quint32(rate), header.data() + 24);
    qToLittleEndian<quint32>(quint32(rate * channels * bytesPerSample), header.data() + 28);
    qToLittleEndian<quint16>(quint16(channels * bytesPerSample), header.data() + 32);
    qToLittleEndian<quint16>(quint16(bits), header.data() + 34);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(header + data);
}

// Where the first sound lies in the output, in ms; -1 when all is silent.
qint64 FirstSoundMs(const QByteArray &out)
{
    const auto *s = reinterpret_cast<const qint16 *>(out.constData());
    for (qint64 i = 0; i < out.size() / 2; ++i)
        if (std::abs(int(s[i])) > 500)
            return i * 2 / kDiskBytesPerMs;
    return -1;
}

} // namespace

class TestAudio : public QObject
{
    Q_OBJECT

private:
    QString m_dir;

    QString UseDiskDriver(const QString &name)
    {
        const QString file = m_dir + "/" + name + ".raw";
        qputenv("SDL_AUDIODRIVER", "disk");
        qputenv("SDL_DISKAUDIOFILE", file.toLocal8Bit());
        return file;
    }
    static QByteArray ReadAll(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private slots:
    void initTestCase()
    {
        m_dir = IsolateUserDirs().path();
    }
    void cleanup()
    {
        AudioOutput::CloseIfIdle();
    }

    // A failed open falls back to the dummy driver, and the next open that
    // can reach the real device is heard again: the fallback never sticks.
    void failedOpenFallsBackThenSoundReturns_data()
    {
        QTest::addColumn<QByteArray>("driver");
        QTest::addColumn<QByteArray>("diskFile");
        QTest::newRow("unknown driver") << QByteArray("nosuchdriver") << QByteArray();
        QTest::newRow("disk file cannot be made") << QByteArray("disk") << QByteArray("/nonexistent/dir/out.raw");
    }
    void failedOpenFallsBackThenSoundReturns()
    {
        QFETCH(QByteArray, driver);
        QFETCH(QByteArray, diskFile);
        qputenv("SDL_AUDIODRIVER", driver);
        qputenv("SDL_DISKAUDIOFILE", diskFile);
        QVERIFY(AudioOutput::Open());
        QCOMPARE(AudioOutput::DriverName(), QByteArray("dummy"));
        AudioOutput::CloseIfIdle();
        QVERIFY(!AudioOutput::IsOpen());

        const QString heard = UseDiskDriver(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_'));
        const QString tone = m_dir + "/tone.wav";
        WriteTone(tone, 16000, 1, 16, 300);
        QVERIFY(WavPlayer::PlayWav(tone));
        QCOMPARE(AudioOutput::DriverName(), QByteArray("disk"));
        AudioOutput::CloseIfIdle();
        QVERIFY(FirstSoundMs(ReadAll(heard)) >= 0);
    }

    // A cut silences the speech channel in the call itself, before the
    // player's thread has seen its abort flag; the player then ends as usual.
    void interruptHaltsAtOnce()
    {
        UseDiskDriver(QStringLiteral("interrupt"));
        const QString tone = m_dir + "/minute.wav";
        WriteTone(tone, 16000, 1, 16, 60000);
        std::atomic<bool> abort{false};
        std::unique_ptr<QThread> player(QThread::create([tone, &abort] { WavPlayer::PlayWav(tone, &abort); }));
        player->start();
        // The mixer may only be asked once the player has opened the device.
        QTRY_VERIFY_WITH_TIMEOUT(AudioOutput::IsOpen() && Mix_Playing(AudioOutput::kSpeechChannel) != 0, 20000);
        WavPlayer::HaltNow();
        QCOMPARE(Mix_Playing(AudioOutput::kSpeechChannel), 0);
        abort = true;
        QVERIFY(player->wait(30000));
        AudioOutput::CloseIfIdle();
    }

    // Files are streamed in pieces: every format the engines may write is
    // heard whole, without gaps at the pieces' joins, then silence.
    void streamedFilesAreHeardWhole_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("bits");
        QTest::newRow("16 kHz mono 16-bit") << 16000 << 1 << 16;
        QTest::newRow("22.05 kHz stereo 16-bit") << 22050 << 2 << 16;
        QTest::newRow("8 kHz mono 8-bit") << 8000 << 1 << 8;
    }
    void streamedFilesAreHeardWhole()
    {
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(int, bits);
        constexpr int kToneMs = 2500; // several read-ahead pieces
        const QString heard = UseDiskDriver(QStringLiteral("stream%1_%2_%3").arg(rate).arg(channels).arg(bits));
        const QString tone = m_dir + "/stream.wav";
        WriteTone(tone, rate, channels, bits, kToneMs);
        QVERIFY(WavPlayer::PlayWav(tone));
        AudioOutput::CloseIfIdle();

        const QByteArray out = ReadAll(heard);
        const qint64 start = FirstSoundMs(out);
        QVERIFY(start >= 0);
        for (qint64 ms = start; ms < start + kToneMs - 100; ms += 50)
            QVERIFY2(DiskPeak(out, ms, ms + 50) > 3000, qPrintable(QStringLiteral("gap at %1 ms").arg(ms - start)));
        QCOMPARE(DiskPeak(out, start + kToneMs + 100, start + kToneMs + 600), 0);
    }
};

QTEST_GUILESS_MAIN(TestAudio)
#include "tst_audio.moc"
