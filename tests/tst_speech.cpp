#include "core/AppPaths.h"
#include "speech/AudioOutput.h"
#include "speech/Speake.h"
#include "speech/CloudEngine.h"
#include "core/SettingsValues.h"
#include "speech/SpeechBudget.h"
#include "speech/SpeechCache.h"
#include "speech/SpeechEngines.h"
#include "speech/TTS.h"
#include "TestEnvironment.h"
#include "speech/TtsSession.h"
#include "speech/WavFile.h"
#include "speech/WavPlayer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QThread>
#include <QtEndian>
#include <QtTest>

#include <SDL_mixer.h>
#include <functional>
#include <future>
#include <utime.h>

namespace {

quint32 LE32(const QByteArray &bytes, int offset)
{
    return qFromLittleEndian<quint32>(bytes.constData() + offset);
}

// Root mean square of 16-bit samples.
double Rms(const QByteArray &pcm)
{
    const auto *s = reinterpret_cast<const qint16 *>(pcm.constData());
    const int n = pcm.size() / 2;
    double sum = 0;
    for (int i = 0; i < n; ++i)
        sum += double(s[i]) * s[i];
    return n ? std::sqrt(sum / n) : 0;
}

constexpr int kTenMinutes = 10 * 60 * 32000; // bytes of 16 kHz mono

// True when play returned true before the hang guard, which is far shorter
// than the ten minutes the file would take to play through.
bool ReturnsWithoutPlaying(const std::function<bool()> &play)
{
    auto done = std::async(std::launch::async, play);
    return done.wait_for(std::chrono::minutes(2)) == std::future_status::ready && done.get();
}

} // namespace

class TestSpeech : public QObject
{
    Q_OBJECT

private:
    QString m_work; // current directory of the engines (tmp.txt, param.txt)

private slots:
    void initTestCase()
    {
        IsolateUserDirs();
        QVERIFY(AppPaths::EnsureSpeechCacheDir());
        m_work = IsolateUserDirs().path() + "/work";
        QVERIFY(QDir().mkpath(m_work));
        QVERIFY(QDir::setCurrent(m_work));
        QCOMPARE(TTS::Init(), 0);
    }
    void init()
    {
        g_settings.yusheng = QStringLiteral("xf_xiaoyan");
        g_settings.speed = 6;
        g_settings.volume = 10;
        QFile::remove(m_work + "/param.txt");
    }

    void cacheDirIsOwnerOnly()
    {
        const QFileInfo info(AppPaths::SpeechCacheDir());
        QVERIFY(info.isDir());
        QCOMPARE(info.permissions() & (QFile::ReadGroup | QFile::WriteOther | QFile::ReadOther), 0);
    }

    void headerLayout()
    {
        const QByteArray h = WavFile::Header(8000);
        QCOMPARE(h.size(), 44);
        QCOMPARE(h.left(4), QByteArray("RIFF"));
        QCOMPARE(LE32(h, 4), 8036u);
        QCOMPARE(h.mid(8, 8), QByteArray("WAVEfmt "));
        QCOMPARE(LE32(h, 16), 16u);
        QCOMPARE(h.mid(20, 4), QByteArray::fromHex("01000100"));
        QCOMPARE(LE32(h, 24), 16000u);
        QCOMPARE(LE32(h, 28), 32000u);
        QCOMPARE(h.mid(32, 4), QByteArray::fromHex("02001000"));
        QCOMPARE(h.mid(36, 4), QByteArray("data"));
        QCOMPARE(LE32(h, 40), 8000u);
        // Written before synthesis with both sizes 0.
        QCOMPARE(LE32(WavFile::Header(0), 4), 0u);
        // Lengths beyond 134 s (2^32 / 32000 ms) are computed in 64 bits.
        WavFile::Info info;
        info.byteRate = 32000;
        info.dataSize = 0xFFFFFFF0u;
        QCOMPARE(info.DurationMs(), qint64(0xFFFFFFF0u) * 1000 / 32000);
    }

    // A text found in the cache is played from there: the engine never sees it again.
    void cachedTextIsNotSynthesizedAgain()
    {
        Speake worker;
        worker.SetDeviceReleaseMs(-1);
        QSignalSpy spy(&worker, &Speake::ActionFinished);
        worker.start();
        const QString text = QStringLiteral("已缓存的广播");
        const QByteArray marker = WavFile::Header(3200) + QByteArray(3200, '\x11');
        QVERIFY(WriteFile(SpeechCache::PathFor(text), marker));
        worker.SpeakAudio(1, 0, text, true);
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 1, 20000);
        QCOMPARE(ReadFile(SpeechCache::PathFor(text)), marker);
    }

    void localSynthesisWritesHeaderAudioAndSilence()
    {
        const QString path = SpeechCache::PathFor(QStringLiteral("西瓜1块9毛8一斤"));
        QCOMPARE(TTS::TextToSpeech("西瓜1块9毛8一斤", "xiaoyan", path.toLocal8Bit()), 0);
        const QByteArray wav = ReadFile(path);
        QVERIFY(wav.size() > 44 + WavFile::kSilenceBytes + 16000); // more than half a second of speech
        QCOMPARE(LE32(wav, 40), quint32(wav.size() - 44));
        QCOMPARE(LE32(wav, 4), quint32(wav.size() - 8));
        QCOMPARE(wav.right(WavFile::kSilenceBytes), QByteArray(WavFile::kSilenceBytes, '\0'));
        QVERIFY(Rms(wav.mid(44, wav.size() - 44 - WavFile::kSilenceBytes)) > 500);
    }

    // The budget's estimate against what the engine really speaks (the WAV's
    // length less its closing silence): within a factor of two for texts of
    // full-width digits, units and signs, abbreviations and plain ones.
    void budgetMatchesSpokenLength_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("speed");
        QTest::newRow("full-width digits and square metres") << QString::fromUtf8("５㎡").repeated(40) << 6;
        QTest::newRow("full-width numbers") << QString::fromUtf8("１２３４５６７８９０，").repeated(10) << 6;
        QTest::newRow("signs and units") << QString::fromUtf8("８５％，３℃，５ｋｇ，２０ｍｌ，").repeated(8) << 6;
        QTest::newRow("prices") << QString::fromUtf8("西瓜１．９８元一斤，苹果３元５角。").repeated(6) << 6;
        QTest::newRow("abbreviations") << QString::fromUtf8("请到ATM和VIP柜台，").repeated(8) << 6;
        QTest::newRow("plain text, slow") << QString::fromUtf8("欢迎光临本店，今日蔬菜水果全场八折。").repeated(4) << 2;
        QTest::newRow("plain text, fast") << QString::fromUtf8("欢迎光临本店，今日蔬菜水果全场八折。").repeated(4) << 9;
        QTest::newRow("capitals") << QString("W").repeated(60) << 6;
        QTest::newRow("consonants") << QString("xkcd qrst ").repeated(10) << 6;
        QTest::newRow("english") << QString("hello world, special offer today. ").repeated(5) << 6;
        QTest::newRow("times and phone") << QString::fromUtf8("营业时间０８:３０到２２:００，电话１３８１２３４５６７８。").repeated(4) << 6;
    }
    void budgetMatchesSpokenLength()
    {
        QFETCH(QString, text);
        QFETCH(int, speed);
        const int oldSpeed = g_settings.speed;
        g_settings.speed = speed;
        const QString path = m_work + "/budget.wav";
        QCOMPARE(TTS::TextToSpeech(text.toUtf8().constData(), "xiaoyan", path.toLocal8Bit()), 0);
        const double estimate = SpeechBudget::Seconds(text);
        g_settings.speed = oldSpeed;
        WavFile::Info info;
        QVERIFY(WavFile::ReadInfo(path, &info));
        const double spoken = double(info.dataSize - WavFile::kSilenceBytes) / info.byteRate;
        QVERIFY2(estimate > spoken / 2 && estimate < spoken * 2,
                 qPrintable(QStringLiteral("estimated %1 s, spoken %2 s").arg(estimate).arg(spoken)));
        qInfo("estimated %.1f s, spoken %.1f s", estimate, spoken);
    }

    void volumeAndSpeedShapeTheAudio()
    {
        const QByteArray text = "欢迎光临";
        auto synth = [&](int speed, int volume) {
            g_settings.speed = speed;
            g_settings.volume = volume;
            const QString path = m_work + QString("/v%1_%2.wav").arg(speed).arg(volume);
            [&] { QCOMPARE(TTS::TextToSpeech(text, "xiaoyu", path.toLocal8Bit()), 0); }();
            const QByteArray wav = ReadFile(path);
            return wav.mid(44, wav.size() - 44 - WavFile::kSilenceBytes);
        };
        const QByteArray silent = synth(5, 0), quiet = synth(5, 3), loud = synth(5, 10);
        QCOMPARE(Rms(silent), 0.0);
        QVERIFY(Rms(loud) > Rms(quiet) * 2);
        QVERIFY(synth(0, 10).size() > synth(10, 10).size() * 3 / 2);
    }

    void noAudioLeavesNoFile()
    {
        const QString path = m_work + "/empty.wav";
        QVERIFY(WriteFile(path, "stale"));
        QCOMPARE(TTS::TextToSpeech("", "xiaoyan", path.toLocal8Bit()), -1);
        QVERIFY(!QFile::exists(path));
        QVERIFY(TTS::TextToSpeech("你好", "nosuchvoice", path.toLocal8Bit()) > 0);
        QVERIFY(!QFile::exists(path));
        QCOMPARE(TTS::TextToSpeech(nullptr, "xiaoyan", path.toLocal8Bit()), -1);
    }

    void sessionParameters()
    {
        QCOMPARE(TTS::SessionParams("xiaoyan", 5, 5), QByteArray("vcn=xiaoyan, spd = 5, vol = 5"));
        QVERIFY(WriteFile(m_work + "/param.txt", "pit = 8\n" + QByteArray(200, 'z')));
        const QByteArray params = TTS::SessionParams("xiaoyan", 5, 5);
        QCOMPARE(params, "vcn=xiaoyan, spd = 5, vol = 5,pit = 8\n" + QByteArray(120, 'z'));
        TtsVoice voice;
        QCOMPARE(TtsSession::ParseParams("vcn=xiaoyu, spd = 0, vol = 10,vcn = xiaoyan, pit = 10, rdn=2", &voice),
                 int(TtsSession::Ok));
        QVERIFY(voice.espeakVoice.startsWith("cmn-latn-pinyin+f")); // the later vcn wins
        QCOMPARE(voice.rate, 100);
        QCOMPARE(voice.amplitude, 150);
        QCOMPARE(TtsSession::ParseParams("spd = 5", &voice), int(TtsSession::ErrorInvalidParams));
    }

    void cacheNames()
    {
        // A lower-case hex MD5; another text, voice, speed or volume is
        // another file, the same ones the same file.
        const QString hello = SpeechCache::PathFor(QStringLiteral("你好"), QStringLiteral("xf_xiaoyan"), 6, 10);
        QVERIFY(QFileInfo(hello).fileName().contains(QRegularExpression(QStringLiteral("^[0-9a-f]{32}\\.wav$"))));
        QCOMPARE(SpeechCache::PathFor(QStringLiteral("你好"), QStringLiteral("xf_xiaoyan"), 6, 10), hello);
        for (const QString &other : {SpeechCache::PathFor(QStringLiteral("你好 "), QStringLiteral("xf_xiaoyan"), 6, 10),
                                     SpeechCache::PathFor(QStringLiteral("你好"), QStringLiteral("xf_xiaoyu"), 6, 10),
                                     SpeechCache::PathFor(QStringLiteral("你好"), QStringLiteral("xf_xiaoyan"), 5, 10),
                                     SpeechCache::PathFor(QStringLiteral("你好"), QStringLiteral("xf_xiaoyan"), 6, 3)})
            QVERIFY(other != hello);
        QVERIFY(SpeechCache::PathFor("x").startsWith(AppPaths::SpeechCacheDir()));
    }

    void trimmingAboveTheLimit()
    {
        const QString dir = m_work + "/trim/";
        QVERIFY(QDir().mkpath(dir));
        const time_t base = time(nullptr) - 100000;
        for (int i = 0; i < SpeechCache::kTrimAbove; ++i) {
            const QString path = dir + QString::number(i) + ".wav";
            QVERIFY(WriteFile(path, "x"));
            const utimbuf times{base + i, base + i};
            utime(path.toLocal8Bit().constData(), &times);
        }
        SpeechCache::Trim(dir);
        QCOMPARE(QDir(dir).count() - 2, uint(SpeechCache::kTrimAbove)); // at the limit: kept
        QVERIFY(WriteFile(dir + "newest.wav", "x"));
        SpeechCache::Trim(dir);
        QCOMPARE(QDir(dir).count() - 2, uint(SpeechCache::kTrimAbove + 1 - SpeechCache::kTrimCount));
        for (int i = 0; i < 5; ++i)
            QVERIFY(!QFile::exists(dir + QString::number(i) + ".wav"));
        QVERIFY(QFile::exists(dir + "5.wav"));
        QDir(dir).removeRecursively();
    }

    void engineChoice_data()
    {
        QTest::addColumn<QString>("voiceId");
        QTest::addColumn<int>("engine");
        QTest::addColumn<QString>("voice");
        using E = SpeechEngines::Engine;
        QTest::newRow("local") << "xf_xiaoyan" << int(E::Local) << "xiaoyan";
        QTest::newRow("cloud") << "tx_101003" << int(E::Cloud) << "101003";
        QTest::newRow("second part only") << "xf_xiaoyu_extra" << int(E::Local) << "xiaoyu";
        QTest::newRow("no underscore") << "xiaoyan" << int(E::None) << "";
        QTest::newRow("other prefix") << "ms_anna" << int(E::None) << "";
        QTest::newRow("case matters") << "XF_xiaoyan" << int(E::None) << "";
    }
    void engineChoice()
    {
        QFETCH(QString, voiceId);
        QFETCH(int, engine);
        QFETCH(QString, voice);
        const SpeechEngines::Choice choice = SpeechEngines::Choose(voiceId);
        QCOMPARE(int(choice.engine), engine);
        QCOMPARE(choice.voice, voice);
    }

    void unknownEngineSynthesizesNothing()
    {
        g_settings.yusheng = QStringLiteral("nothing");
        const QString path = m_work + "/none.wav";
        SpeechEngines::SynthesizeToFile(QStringLiteral("你好"), path);
        QVERIFY(!QFile::exists(path));
    }

    void cloudSpeedValues()
    {
        const QStringList expected = {"-0.9999", "-0.7999", "-0.5999", "-0.3999", "-0.1999", "0.0001",
                                      "0.2001",  "0.4001",  "0.6001",  "0.8001",  "1.0001"};
        for (int speed = 0; speed <= 10; ++speed)
            QCOMPARE(CloudEngine::SpeedValue(speed), expected.at(speed));
        QCOMPARE(CloudEngine::Arguments("/c/a b.wav", "101000", 5, 7),
                 QStringList({"/c/a b.wav", "101000", "0.0001", "7"}));
    }

    void cloudEngineWritesDistinctVoices()
    {
        CloudEngine::ForgetProcesses();
        QByteArray previous;
        for (const QString &voice : {QStringLiteral("101000"), QStringLiteral("101001")}) {
            g_settings.yusheng = "tx_" + voice;
            // A quote and a semicolon in the path stay part of the file name.
            const QString path = m_work + "/cloud \"" + voice + "\";.wav";
            SpeechEngines::SynthesizeToFile(QStringLiteral("今天特价"), path);
            QCOMPARE(ReadFile(m_work + "/tmp.txt"), QStringLiteral("今天特价").toLocal8Bit());
            const QByteArray wav = ReadFile(path);
            QVERIFY2(wav.size() > 44 + 16000, qPrintable(path));
            QCOMPARE(LE32(wav, 28), 32000u);
            QCOMPARE(LE32(wav, 40), quint32(wav.size() - 44));
            QVERIFY(wav != previous);
            previous = wav;
        }
        // Once both programs have ended their ids are forgotten, so cleaning
        // never signals an id that may belong to another process by now.
        QTRY_VERIFY_WITH_TIMEOUT(CloudEngine::StartedProcesses().isEmpty(), 20000);
        QCOMPARE(CloudEngine::EndStartedProcesses(), 0);
    }

    // Both engines read through the same normaliser: a number gives the
    // same audio as its written-out form.
    void enginesReadNumbersAsWritten_data()
    {
        QTest::addColumn<QString>("voice");
        QTest::newRow("local") << "xf_xiaoyan";
        QTest::newRow("cloud") << "tx_101001";
    }
    void enginesReadNumbersAsWritten()
    {
        QFETCH(QString, voice);
        g_settings.yusheng = voice;
        const QString digits = m_work + "/digits.wav", words = m_work + "/words.wav";
        SpeechEngines::SynthesizeToFile(QStringLiteral("西瓜2斤，105块，22:00关门"), digits);
        SpeechEngines::SynthesizeToFile(QStringLiteral("西瓜两斤，一百零五块，二十二点整关门"), words);
        const qint64 a = ReadFile(digits).size(), b = ReadFile(words).size();
        QVERIFY(a > 44 + 32000);
        if (voice.startsWith("tx_")) {
            QCOMPARE(ReadFile(digits), ReadFile(words)); // a fresh synthesizer each time: the very same audio
        } else {
            // In one process the synthesizer varies by a few samples from run to run.
            QVERIFY2(qAbs(a - b) < b / 50, qPrintable(QStringLiteral("%1 %2").arg(a).arg(b)));
        }
    }

    // A comma gives a pause that can be heard; no voice clips at volume 10.
    void pausesAndPeaks()
    {
        const QString path = m_work + "/pause.wav";
        QCOMPARE(TTS::TextToSpeech("欢迎光临，本店今天开业", "xiaoyan", path.toLocal8Bit()), 0);
        const QByteArray pcm = ReadFile(path).mid(44);
        const auto *s = reinterpret_cast<const qint16 *>(pcm.constData());
        int longest = 0, run = 0;
        const int samples = int(pcm.size() / 2) - WavFile::kSilenceBytes / 2;
        for (int i = 0; i < samples; ++i) {
            run = std::abs(int(s[i])) < 100 ? run + 1 : 0;
            longest = qMax(longest, run);
        }
        QVERIFY2(longest >= 16000 * 200 / 1000, qPrintable(QString::number(longest)));

        g_settings.volume = 10;
        for (const char *voice : {"101000", "101001", "101002", "101003", "101004", "101005", "101006", "101007",
                                  "101008", "101009", "101010", "102000", "102001", "102002", "102003"}) {
            const QString out = m_work + "/loud" + voice + ".wav";
            CloudEngine::Synthesize(QStringLiteral("欢迎光临，今天全场九五折！"), QString::fromLatin1(voice), out);
            const QByteArray audio = ReadFile(out).mid(44);
            QVERIFY2(audio.size() > 16000, voice);
            QVERIFY2(PeakOf(audio) < 32000, voice);
        }
    }

    // A slow program that writes its file in pieces is waited for until the
    // file stops growing.
    void slowCloudWriterIsWaitedFor()
    {
        const QString path = m_work + "/slow.wav";
        QFile::remove(path);
        constexpr int kPieces = 4;
        std::unique_ptr<QThread> writer(QThread::create([path] {
            QThread::msleep(300);
            for (int i = 0; i < kPieces; ++i) {
                QFile file(path);
                if (file.open(QIODevice::Append))
                    file.write(QByteArray(1000, 'w'));
                file.close();
                QThread::msleep(CloudEngine::kWatchIntervalMs + 50);
            }
        }));
        writer->start();
        CloudEngine::WaitUntilStable(path, nullptr);
        QCOMPARE(QFileInfo(path).size(), qint64(kPieces * 1000));
        QVERIFY(writer->wait(20000));

        // The companion program, watched while it runs, may pause longer
        // than four readings between its pieces: the file is whole when it
        // has ended, not when its size held still.
        QFile::remove(path);
        std::atomic<bool> running{true};
        std::unique_ptr<QThread> program(QThread::create([path, &running] {
            for (int i = 0; i < 2; ++i) {
                QFile file(path);
                if (file.open(QIODevice::Append))
                    file.write(QByteArray(1000, 'w'));
                file.close();
                QThread::msleep(5 * CloudEngine::kWatchIntervalMs);
            }
            running = false;
        }));
        program->start();
        CloudEngine::WaitUntilStable(path, nullptr, [&running] { return running.load(); });
        QCOMPARE(QFileInfo(path).size(), qint64(2 * 1000));
        QVERIFY(program->wait(20000));
    }

    void playerTiming()
    {
        const QString path = m_work + "/second.wav";
        QVERIFY(WriteFile(path, WavFile::Header(32000) + QByteArray(32000, '\0')));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(WavPlayer::PlayWav(path));
        QVERIFY2(clock.elapsed() >= 1800, QByteArray::number(clock.elapsed()));

        // Ten minutes of audio, cut at once by its abort flag.
        const QString long_ = m_work + "/ten-minutes.wav";
        QVERIFY(WriteFile(long_, WavFile::Header(kTenMinutes) + QByteArray(kTenMinutes, '\0')));
        const std::atomic<bool> abort{true};
        QVERIFY(ReturnsWithoutPlaying([&] { return WavPlayer::PlayWav(long_, &abort); }));
    }

    void idleWorkerReleasesTheDevice()
    {
        Speake worker;
        worker.SetDeviceReleaseMs(100);
        QSignalSpy spy(&worker, &Speake::ActionFinished);
        worker.start();
        const QString text = QStringLiteral("设备");
        QVERIFY(WriteFile(SpeechCache::PathFor(text), WavFile::Header(3200) + QByteArray(3200, '\0')));
        worker.SpeakAudio(1, 0, text, true);
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 1, 20000);
        QVERIFY(AudioOutput::IsOpen());
        QTRY_VERIFY_WITH_TIMEOUT(!AudioOutput::IsOpen(), 20000);
        // The next request opens it again and is heard in full.
        QElapsedTimer clock;
        clock.start();
        worker.SpeakAudio(2, 0, text, true);
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 2, 20000);
        QVERIFY(clock.elapsed() >= 900);
    }

    void playerRejectsBrokenFiles()
    {
        QVERIFY(!WavPlayer::PlayWav(m_work + "/missing.wav"));
        const QString zeroRate = m_work + "/zero.wav";
        QByteArray header = WavFile::Header(kTenMinutes);
        qToLittleEndian<quint32>(0, header.data() + 28);
        QVERIFY(WriteFile(zeroRate, header + QByteArray(kTenMinutes, '\0')));
        // Ten minutes of data, no length: nothing plays.
        QVERIFY(ReturnsWithoutPlaying([&] { return WavPlayer::PlayWav(zeroRate); }));
        QVERIFY(WriteFile(m_work + "/short.wav", "RIFF"));
        QVERIFY(WavPlayer::PlayWav(m_work + "/short.wav"));
    }
};

QTEST_GUILESS_MAIN(TestSpeech)
#include "tst_speech.moc"
