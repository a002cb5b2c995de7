// Performance figures of the speech road, one "name value unit" line each on
// stdout. Runs without a display, in throw-away data, cache and log folders,
// on SDL's dummy audio driver unless SDL_AUDIODRIVER names another.

#include "core/AppPaths.h"
#include "speech/AudioOutput.h"
#include "speech/Chime.h"
#include "speech/CloudEngine.h"
#include "core/Log.h"
#include "LongTextFigures.h"
#include "core/SettingsValues.h"
#include "speech/Speake.h"
#include "speech/SpeechCache.h"
#include "speech/TTS.h"
#include "speech/TextNormalizer.h"
#include "speech/WavFile.h"
#include "speech/WavPlayer.h"
#include "speech/WordReadings.h"
#include "ChainFigures.h"
#include "ExportFigures.h"
#include "HeardReading.h"
#include "MusicFigures.h"
#include "RemoteFigures.h"
#include "shop/ShopSettings.h"
#include "shop/WordListModel.h"
#include "TimerFigures.h"
#include "WindowFigures.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>

#include <SDL_mixer.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWarmUpSamples = 5;
constexpr int kLatencySamples = 200;
// After a report the worker only has to return to its wait; this is ample.
constexpr int kSettleMs = 20;
constexpr int kReportTimeoutMs = 10000;
constexpr auto kPlaybackTimeout = std::chrono::seconds(5);
constexpr int kIdleSeconds = 5;
constexpr int kCloudRuns = 3;

// A typical announcement (6.7 s), played from the cache in the latency figures.
const char kAnnouncement[] = "欢迎光临，今天西瓜1块9毛8一斤，新鲜又甜，欢迎选购。";

const char *const kShopSentences[] = {
    "欢迎光临，本店今天全场商品九折优惠。",
    "西瓜1块9毛8一斤，新鲜又甜，欢迎选购。",
    "苹果3块5一斤，买两斤送半斤。",
    "本店营业时间为早上8点到晚上10点。",
    "各位顾客，本店将于30分钟后停止营业，请抓紧时间选购。",
    "今日特价：鸡蛋4块9毛9一斤，每人限购两斤。",
    "猪肉12块8一斤，牛肉36块一斤。",
    "会员日到了，持会员卡购物满100元减20元。",
    "请注意，3号收银台现在开放，欢迎前来结账。",
    "新到的香蕉2块5一斤，数量有限，先到先得。",
    "早上好，欢迎光临，祝您购物愉快。",
    "本店支持微信和支付宝付款。",
    "牛奶买一箱送一盒，活动截止到本周日。",
    "大米5公斤装39块9毛，欢迎选购。",
    "请看管好您的随身物品，谨防丢失。",
    "晚上7点以后，面包和蔬菜全部八折。",
    "草莓19块8一盒，今天早上刚到货。",
    "顾客朋友们，本店即将打烊，感谢您的光临，欢迎明天再来。",
    "饮料第二瓶半价，冰柜在店铺左侧。",
    "食用油满两桶立减10元，数量有限。",
};

const char *const kCloudSentences[kCloudRuns] = {
    "今天特价，香蕉2块5一斤。",
    "本店将于晚上10点关门。",
    "会员购物满100元减20元。",
};

double Milliseconds(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// Nearest-rank percentile; p in 0..100.
double Percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    const auto rank = size_t(std::ceil(p / 100.0 * double(values.size())));
    return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

void PrintFigure(const char *name, double value, const char *unit, int decimals)
{
    std::printf("%s %.*f %s\n", name, decimals, value, unit);
    std::fflush(stdout);
}

double ProcessCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

bool SpeechPlaying()
{
    return Mix_Playing(AudioOutput::kSpeechChannel) != 0;
}

// Polls until the speech channel reaches the wanted state; the moment it
// did, or nothing on timeout. Each turn yields the core: a plain spin can
// keep a worker woken on this core waiting for the next scheduler tick
// (4 ms at 250 Hz), which would then be measured as the worker's latency.
std::optional<Clock::time_point> SpinUntilPlaying(bool wanted)
{
    const Clock::time_point deadline = Clock::now() + kPlaybackTimeout;
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (SpeechPlaying() == wanted)
            return now;
        if (now > deadline)
            return std::nullopt;
        std::this_thread::yield();
    }
}

// Points data, cache and log into a temporary folder that is also the
// current directory (the cloud engine writes tmp.txt there).
class Sandbox
{
public:
    Sandbox()
    {
        qputenv("XDG_DATA_HOME", (m_root.path() + "/data").toLocal8Bit());
        qputenv("XDG_CACHE_HOME", (m_root.path() + "/cache").toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", (m_root.path() + "/config").toLocal8Bit());
        QCoreApplication::setApplicationName(QStringLiteral("Parlivo"));
        LogFile::SetPath((m_root.path() + "/parlivo.log").toLocal8Bit());
        QDir::setCurrent(m_root.path());
    }
    // Creates the speech cache folder; false when the folders are unusable.
    bool Prepare() const { return m_root.isValid() && AppPaths::EnsureSpeechCacheDir(); }
    QString FilePath(const QString &name) const { return m_root.filePath(name); }

private:
    QTemporaryDir m_root;
};

// The speech worker under measurement, counting the reports it sends.
class Worker
{
public:
    Worker()
    {
        // Runs on the worker thread; the semaphore outlives the worker.
        QObject::connect(&m_speake, &Speake::ActionFinished, [this](int) { m_reports.release(); });
        m_speake.start();
    }

    void Speak(const QString &text) { m_speake.SpeakAudio(++m_index, 0, text, true); }
    // Cuts what the worker has in hand, as a mode's pause does.
    void Cut() { m_speake.Cancel([](int) { return true; }); }
    bool AwaitReport() { return m_reports.tryAcquire(1, kReportTimeoutMs); }

    // Waits for the request in hand to be reported and gives the worker
    // time to go back to sleep.
    bool Settle()
    {
        const bool reported = AwaitReport();
        QThread::msleep(kSettleMs);
        return reported;
    }

    // Start-up done (engine, cache folder, sound device) and sleeping.
    bool WaitUntilReady()
    {
        m_speake.SpeakAudio(++m_index, 1, QStringLiteral("0"), true);
        return Settle();
    }

private:
    QSemaphore m_reports;
    Speake m_speake; // declared last: stopped before the semaphore goes
    int m_index = 0;
};

bool CacheAnnouncement(const QString &text)
{
    const QString path = SpeechCache::PathFor(text);
    return TTS::TextToSpeech(text.toLocal8Bit().constData(), "xiaoyan", path.toLocal8Bit().constData()) == 0;
}

// One request for a cached text, from the call to the channel playing;
// the playback is then cut and the worker left idle again.
std::optional<double> StartLatencySample(Worker &worker, const QString &text)
{
    const Clock::time_point requested = Clock::now();
    worker.Speak(text);
    const std::optional<Clock::time_point> started = SpinUntilPlaying(true);
    worker.Cut();
    if (!worker.Settle() || !started)
        return std::nullopt;
    return Milliseconds(*started - requested);
}

// A cached text is cut at a random point of its first 150 ms; from the
// cut to the channel falling silent.
std::optional<double> InterruptLatencySample(Worker &worker, const QString &text)
{
    worker.Speak(text);
    std::optional<double> latency;
    if (SpinUntilPlaying(true)) {
        QThread::usleep(5000 + QRandomGenerator::global()->bounded(145000));
        const bool stillPlaying = SpeechPlaying();
        const Clock::time_point set = Clock::now();
        worker.Cut();
        const std::optional<Clock::time_point> stopped = SpinUntilPlaying(false);
        if (stillPlaying && stopped)
            latency = Milliseconds(*stopped - set);
    }
    worker.Cut();
    return worker.Settle() ? latency : std::nullopt;
}

using LatencySample = std::optional<double> (*)(Worker &, const QString &);

// Runs a sample function kWarmUpSamples times unrecorded, then kLatencySamples times.
std::vector<double> Latencies(LatencySample sample, Worker &worker, const QString &text)
{
    std::vector<double> samples;
    for (int i = 0; i < kWarmUpSamples + kLatencySamples; ++i) {
        const std::optional<double> ms = sample(worker, text);
        if (ms && i >= kWarmUpSamples)
            samples.push_back(*ms);
    }
    return samples;
}

// Local engine time per second of produced audio (the file's full length).
double SynthesisRealTimeFactor(const Sandbox &sandbox)
{
    QDir().mkpath(sandbox.FilePath(QStringLiteral("synth")));
    // Untimed: the first text loads the voice and dictionary.
    const QByteArray warmUp = sandbox.FilePath(QStringLiteral("synth/warmup.wav")).toLocal8Bit();
    TTS::TextToSpeech("你好", "xiaoyan", warmUp.constData());

    double synthSeconds = 0;
    double audioSeconds = 0;
    int n = 0;
    for (const char *sentence : kShopSentences) {
        const QString path = sandbox.FilePath(QStringLiteral("synth/%1.wav").arg(n++));
        const QByteArray text = QString::fromUtf8(sentence).toLocal8Bit();
        const Clock::time_point begin = Clock::now();
        const int ret = TTS::TextToSpeech(text.constData(), "xiaoyan", path.toLocal8Bit().constData());
        synthSeconds += Milliseconds(Clock::now() - begin) / 1000.0;
        WavFile::Info info;
        if (ret != 0 || !WavFile::ReadInfo(path, &info) || info.byteRate == 0) {
            qWarning("synthesis of \"%s\" failed (%d)", sentence, ret);
            continue;
        }
        audioSeconds += double(info.dataSize) / double(info.byteRate);
    }
    return audioSeconds > 0 ? synthSeconds / audioSeconds : NAN;
}

// The normaliser over 1,000 shop sentences, per sentence.
double NormalizeMicroseconds()
{
    std::vector<QString> sentences;
    for (int round = 0; round < 50; ++round)
        for (const char *sentence : kShopSentences)
            sentences.push_back(QString::fromUtf8(sentence));
    const Clock::time_point begin = Clock::now();
    qsizetype keep = 0;
    for (const QString &sentence : sentences)
        keep += TextNormalizer::Normalize(sentence).size();
    const double us = Milliseconds(Clock::now() - begin) * 1000.0 / double(sentences.size());
    return keep > 0 ? us : NAN;
}

// The share of an announcement file that the real synthesis path reads
// as an announcer would, syllable and tone; with eSpeakAlone, the share
// eSpeak NG reads right from the raw text with the same voice.
double HeardRightPercent(const char *file, bool eSpeakAlone = false)
{
    const QList<Announcement> corpus = LoadAnnouncements(QStringLiteral(PARLIVO_TEST_DATA "/") + QLatin1String(file));
    TtsVoice voice;
    if (corpus.isEmpty() || TtsSession::ParseParams("vcn=xiaoyan", &voice) != TtsSession::Ok)
        return NAN;
    int right = 0;
    for (const Announcement &a : corpus) {
        QStringList heard;
        if (eSpeakAlone) {
            char *buffer = nullptr;
            size_t size = 0;
            FILE *stream = open_memstream(&buffer, &size);
            espeak_SetVoiceByName(voice.espeakVoice.constData());
            espeak_SetPhonemeTrace(espeakPHONEMES_SHOW, stream);
            const QByteArray utf8 = a.text.toUtf8();
            espeak_Synth(utf8.constData(), size_t(utf8.size()) + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, nullptr);
            espeak_SetPhonemeTrace(0, nullptr);
            fclose(stream);
            heard = PhonemeSyllables(QString::fromUtf8(buffer, qsizetype(size)));
            free(buffer);
        } else {
            heard = HeardSyllables(a.text, voice);
        }
        qsizetype at = 0;
        right += SameReading(heard, ExpectedSyllables(a.reading), &at) ? 1 : 0;
    }
    return 100.0 * right / double(corpus.size());
}

// This thread's processor time: figures taken side by side on a shared
// machine compare the work done, not what other processes took.
double ThreadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
}

// The program's synthesis time over eSpeak NG's own on the same 20 shop
// sentences, side by side: the program normalises, selects voices,
// synthesises piece by piece and resamples to 16 kHz; eSpeak NG is given
// the raw text with the voice selected once. Best of five rounds each.
double SynthVsEspeakRatio()
{
    TtsVoice voice;
    if (TtsSession::ParseParams("vcn=xiaoyan", &voice) != TtsSession::Ok)
        return NAN;
    double program = INFINITY, alone = INFINITY;
    for (int round = 0; round < 5; ++round) {
        double begin = ThreadCpuMs();
        TtsSession session;
        session.Begin(voice);
        for (const char *sentence : kShopSentences)
            if (session.TextPut(QByteArray(sentence)) != TtsSession::Ok)
                return NAN;
        session.End();
        program = std::min(program, ThreadCpuMs() - begin);
        begin = ThreadCpuMs();
        espeak_SetVoiceByName(voice.espeakVoice.constData());
        for (const char *sentence : kShopSentences)
            espeak_Synth(sentence, strlen(sentence) + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, nullptr);
        alone = std::min(alone, ThreadCpuMs() - begin);
    }
    return alone > 0 ? program / alone : NAN;
}

// With the chime on, the extra time from request to report beyond the
// chime's own length (samples after quiet, each against one without).
double ChimeOverheadMs(Worker &worker, const QString &text)
{
    WavFile::Info chime;
    if (!CacheAnnouncement(text) || !Chime::WriteBuiltIn(Chime::BuiltInPath())
        || !WavFile::ReadInfo(Chime::BuiltInPath(), &chime))
        return NAN;
    std::vector<double> overheads;
    for (int sample = 0; sample < 3; ++sample) {
        double ms[2] = {};
        for (int on = 0; on < 2; ++on) {
            g_settings.chime = on ? Chime::kBuiltIn : QString();
            QThread::msleep(Chime::kQuietMs + 100);
            const Clock::time_point begin = Clock::now();
            worker.Speak(text);
            if (!worker.AwaitReport())
                return NAN;
            ms[on] = Milliseconds(Clock::now() - begin);
        }
        overheads.push_back(ms[1] - ms[0] - double(chime.DurationMs()));
    }
    g_settings.chime = QString();
    return Percentile(overheads, 50);
}

// Process CPU over a quiet stretch with the worker asleep, in percent of one core.
double IdleCpuPercent()
{
    const double cpuBefore = ProcessCpuSeconds();
    const Clock::time_point wallBefore = Clock::now();
    QThread::sleep(kIdleSeconds);
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    const double wall = Milliseconds(Clock::now() - wallBefore) / 1000.0;
    return 100.0 * cpu / wall;
}

// From the request to a stable WAV, averaged over distinct texts and files.
double CloudEngineMs(const Sandbox &sandbox)
{
    double totalMs = 0;
    for (int i = 0; i < kCloudRuns; ++i) {
        const QString path = sandbox.FilePath(QStringLiteral("cloud%1.wav").arg(i));
        const Clock::time_point begin = Clock::now();
        CloudEngine::Synthesize(QString::fromUtf8(kCloudSentences[i]), QStringLiteral("101000"), path);
        totalMs += Milliseconds(Clock::now() - begin);
        if (QFileInfo(path).size() <= WavFile::kHeaderSize)
            qWarning("cloud engine wrote no audio to %s", qPrintable(path));
    }
    return totalMs / kCloudRuns;
}

void PrintPercentiles(const char *p50Name, const char *p99Name, const std::vector<double> &samples)
{
    PrintFigure(p50Name, Percentile(samples, 50), "ms", 3);
    PrintFigure(p99Name, Percentile(samples, 99), "ms", 3);
}

// Against a real broker on loopback; the sound part of a say is not included.
void PrintChainFigures(const QString &folder)
{
    const ChainFigures::Chain chain = ChainFigures::Measure(folder);
    PrintFigure("chain_say_to_sound_ms", chain.sayToReceivedMs, "ms", 2);
    PrintFigure("chain_fanout_ms", chain.fanoutMs, "ms", 2);
    PrintFigure("played_query_ms", ChainFigures::PlayedQueryMs(folder), "ms", 1);
}

} // namespace

void PrintRemoteFigures(const Sandbox &sandbox)
{
    ShopSettings::UseFilePath(sandbox.FilePath(QStringLiteral("settings.xml"))); // the token file goes there too
    const RemoteFigures::Remote remote = RemoteFigures::Measure();
    ShopSettings::UseFilePath(QString());
    g_restorePending = false;
    PrintFigure("http_say_p99_ms", remote.sayP99Ms, "ms", 2);
    PrintFigure("http_say_p99_under_slowloris_ms", remote.sayP99UnderSlowlorisMs, "ms", 2);
    PrintFigure("http_say_to_sound_ms", remote.sayToSoundMs, "ms", 1);
    PrintFigure("http_transport_lines", PARLIVO_TRANSPORT_LINES, "lines", 0);
    PrintFigure("http_idle_cpu_percent", remote.idleCpuPercent, "%", 3);
    PrintFigure("lists_put_10k_ms", remote.listsPut10kMs, "ms", 1);
    PrintFigure("lists_put_timer_30k_ms", remote.listsPutTimer30kMs, "ms", 1);
    PrintFigure("phone_page_kb", remote.phonePageKb, "KB", 1);
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER"))
        qputenv("SDL_AUDIODRIVER", "dummy");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc > 1 && qstrcmp(argv[1], "--startup-child") == 0)
        return WindowFigures::StartupChild();
    QApplication app(argc, argv);
    const Sandbox sandbox;
    if (!sandbox.Prepare() || TTS::Init() != 0) {
        qCritical("no temporary folders or no local speech engine");
        return 1;
    }
    // Only the chain's figures (they need no speech).
    if (argc > 1 && qstrcmp(argv[1], "--chain") == 0) {
        PrintChainFigures(sandbox.FilePath(QString()));
        return 0;
    }
    const QString announcement = QString::fromUtf8(kAnnouncement);
    if (!CacheAnnouncement(announcement)) {
        qCritical("could not cache the announcement");
        return 1;
    }

    // "--http": the remote interface's figures alone.
    const bool httpOnly = argc > 1 && qstrcmp(argv[1], "--http") == 0;
    if (httpOnly)
        return PrintRemoteFigures(sandbox), 0;

    Worker worker;
    if (!worker.WaitUntilReady()) {
        qCritical("the speech worker did not start");
        return 1;
    }
    PrintPercentiles("start_latency_p50", "start_latency_p99", Latencies(StartLatencySample, worker, announcement));
    PrintPercentiles("interrupt_latency_p50", "interrupt_latency_p99", Latencies(InterruptLatencySample, worker, announcement));
    PrintFigure("chime_overhead_ms", ChimeOverheadMs(worker, QStringLiteral("好")), "ms", 2);
    PrintFigure("synth_rtf", SynthesisRealTimeFactor(sandbox), "ratio", 4);
    PrintFigure("normalize_us_per_sentence", NormalizeMicroseconds(), "us", 1);
    PrintFigure("heard_right_percent", HeardRightPercent("announcements.tsv"), "%", 1);
    PrintFigure("heard_right_percent_dev", HeardRightPercent("announcements-dev.tsv"), "%", 1);
    PrintFigure("heard_right_percent_holdout", HeardRightPercent("announcements-holdout.tsv"), "%", 1);
    PrintFigure("heard_right_percent_dev_espeak_alone", HeardRightPercent("announcements-dev.tsv", true), "%", 1);
    PrintFigure("heard_right_percent_holdout_espeak_alone", HeardRightPercent("announcements-holdout.tsv", true), "%", 1);
    PrintFigure("word_table_kb", WordReadings::TableBytes() / 1024.0, "KB", 1);
    PrintFigure("synth_vs_espeak_ratio", SynthVsEspeakRatio(), "ratio", 3);
    PrintFigure("idle_cpu_percent", IdleCpuPercent(), "%", 3);
    PrintFigure("cloud_engine_ms", CloudEngineMs(sandbox), "ms", 1);
    PrintFigure("long_text_play_rss_mb", LongTextFigures::PlayRssMb(), "MB", 1);
    PrintFigure("quit_during_synthesis_ms", LongTextFigures::QuitDuringSynthesisMs(), "ms", 1);

    const WindowFigures::Startup startup = WindowFigures::StartupFigures(QCoreApplication::applicationFilePath());
    PrintFigure("startup_ms", startup.ms, "ms", 1);
    PrintFigure("rss_mb", startup.rssMb, "MB", 1);
    const RemoteFigures::Headless headless =
        RemoteFigures::HeadlessFigures(QCoreApplication::applicationDirPath() + QStringLiteral("/parlivo"), sandbox.FilePath(QString()));
    PrintFigure("headless_startup_ms", headless.startupMs, "ms", 1);
    PrintFigure("headless_rss_mb", headless.rssMb, "MB", 1);
    const WindowFigures::WordListMs wordList = WindowFigures::WordList10k(WordListModel::FilePath());
    PrintFigure("word_load_10k_ms", wordList.load, "ms", 1);
    PrintFigure("word_save_10k_ms", wordList.save, "ms", 1);
    const TimerFigures::PriceListMs priceList = TimerFigures::PriceList(10000, false);
    PrintFigure("price_load_10k_ms", priceList.load, "ms", 1);
    PrintFigure("price_save_10k_ms", priceList.save, "ms", 1);
    PrintFigure("price_load_odd_20k_ms", TimerFigures::PriceList(20000, true).load, "ms", 1);
    PrintFigure("timer_step_us", TimerFigures::TimerStepUs(), "us", 2);
    PrintFigure("simulated_day_ms", TimerFigures::SimulatedDayMs(), "ms", 1);
    PrintFigure("simulated_week_ms", TimerFigures::SimulatedWeekMs(), "ms", 1);
    PrintFigure("load_unusable_file_ms", WindowFigures::UnusableLoadMs(WordListModel::FilePath()), "ms", 1);
    for (const bool music : {false, true}) {
        const ExportFigures::Export exported = ExportFigures::TenRows(sandbox.FilePath(QString()), music);
        PrintFigure(music ? "export_10_rows_music_ms" : "export_10_rows_ms", exported.ms, "ms", 1);
        PrintFigure(music ? "export_10_rows_music_ratio" : "export_10_rows_ratio", exported.ratio, "ratio", 4);
    }
    PrintRemoteFigures(sandbox);
    PrintFigure("settings_save_ms", MusicFigures::SettingsSaveMs(sandbox.FilePath(QString())), "ms", 2);
    PrintFigure("music_idle_cpu_percent", MusicFigures::MusicIdleCpuPercent(sandbox.FilePath(QString())), "%", 2);
    const MusicFigures::Duck duck = MusicFigures::DuckTimes(sandbox.FilePath(QString()));
    PrintFigure("duck_latency_ms", duck.duckLatencyMs, "ms", 1);
    PrintFigure("restore_after_quiet_ms", duck.restoreAfterQuietMs, "ms", 1);
    PrintChainFigures(sandbox.FilePath(QString()));
    return 0;
}
