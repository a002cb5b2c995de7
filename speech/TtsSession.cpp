#include "speech/TtsSession.h"

#include <QList>
#include <QRegularExpression>

#include "core/Log.h"
#include "speech/TextNormalizer.h"

#include <atomic>
#include <QMutex>

#include <espeak-ng/speak_lib.h>
#include <soxr.h>

namespace {

constexpr int kBlockBytes = 6400; // 200 ms of 16 kHz 16-bit audio
constexpr int kShortPauseMs = 250; // at ，、；
constexpr int kLongPauseMs = 400;  // at 。！？
constexpr int kPeakLimit = 29000;  // about 0.9 of full scale

QMutex g_synthMutex; // the synthesizer is one global state
int g_espeakRate = 0; // sample rate eSpeak NG produces; 0 until logged in

struct VoiceName
{
    const char *vcn;
    const char *espeakVoice;
};

// Mandarin voices that read Chinese characters and ASCII digits as
// Mandarin ("cmn" would spell pinyin tone digits in English).
const VoiceName kVoices[] = {
    {"xiaoyan", "cmn-latn-pinyin+f3"},
    {"xiaoyu", "cmn-latn-pinyin+m3"},
};

// Where the synthesizer's callback puts the audio of one text.
struct SynthSink
{
    QByteArray pcm;
    const std::function<bool()> *cancelled = nullptr;
    bool wasCancelled = false;
};

// Returning 1 makes eSpeak NG stop synthesizing the text.
int OnSamples(short *samples, int count, espeak_EVENT *events)
{
    auto *sink = events ? static_cast<SynthSink *>(events->user_data) : nullptr;
    if (!sink)
        return 0;
    if (samples && count > 0)
        sink->pcm.append(reinterpret_cast<const char *>(samples), count * int(sizeof(short)));
    if (*sink->cancelled && (*sink->cancelled)()) {
        sink->wasCancelled = true;
        return 1;
    }
    return 0;
}

int Scale10(int value, int at0, int at10)
{
    return at0 + (qBound(0, value, 10) * (at10 - at0)) / 10;
}

QByteArray Resample(const QByteArray &pcm, int fromRate)
{
    const size_t inFrames = size_t(pcm.size()) / sizeof(short);
    if (inFrames == 0 || fromRate == 16000)
        return pcm;
    const size_t outCapacity = inFrames * 16000 / size_t(fromRate) + 64;
    QByteArray out(int(outCapacity * sizeof(short)), '\0');
    size_t done = 0;
    soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
    io.flags |= SOXR_NO_DITHER; // silence stays exactly zero
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    const soxr_error_t error = soxr_oneshot(fromRate, 16000, 1, pcm.constData(), inFrames, nullptr,
                                            out.data(), outCapacity, &done, &io, &quality, nullptr);
    if (error)
        return QByteArray();
    out.truncate(int(done * sizeof(short)));
    return out;
}

// A piece of text and the pause that follows it.
struct Segment
{
    QString text;
    int pauseMs;
};

QList<Segment> SplitAtPauses(const QString &text)
{
    static const QString shortPause = QStringLiteral("，、；,;：:");
    static const QString longPause = QStringLiteral("。！？!?");
    QList<Segment> segments;
    QString current;
    for (const QChar c : text) {
        const int pause = shortPause.contains(c) ? kShortPauseMs : longPause.contains(c) ? kLongPauseMs : 0;
        if (pause == 0) {
            current += c;
            continue;
        }
        if (!current.trimmed().isEmpty())
            segments.append({current, pause});
        else if (!segments.isEmpty()) // a run of marks: the longest pause counts
            segments.last().pauseMs = qMax(segments.last().pauseMs, pause);
        current.clear();
    }
    if (!current.trimmed().isEmpty())
        segments.append({current, 0});
    return segments;
}

// A run of text spoken by one voice: English words by the English voice,
// everything else (characters, pinyin with tone digits, letter names) by
// the voice of the session.
struct Piece
{
    QString text;
    bool english;
};

// English words are Latin letters without tone digits; the normaliser
// writes every pinyin syllable with its digit.
QList<Piece> SplitLanguages(const QString &text)
{
    static const QRegularExpression english(QStringLiteral("(?<![A-Za-z0-9])[A-Za-z]+(?![A-Za-z0-9])"));
    QList<Piece> pieces;
    auto add = [&pieces](const QString &piece, bool isEnglish) {
        if (!piece.trimmed().isEmpty())
            pieces.append({piece.trimmed(), isEnglish});
    };
    qsizetype last = 0;
    auto it = english.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        add(text.mid(last, m.capturedStart() - last), false);
        add(m.captured(), true);
        last = m.capturedEnd();
    }
    add(text.mid(last), false);
    return pieces;
}

// The English voice with the session voice's variant, so the speaker
// stays the same person.
QByteArray EnglishVoiceOf(const QByteArray &voice)
{
    const int plus = voice.indexOf('+');
    return plus < 0 ? QByteArray("en") : "en" + voice.mid(plus);
}

// The voice last selected and the parameters last set (guarded by
// g_synthMutex). Selecting a voice makes eSpeak NG read its dictionary
// again (1.65 MB for Mandarin), so a piece selects one only when it is not
// the one in use: the name asked for and the voice eSpeak NG reports must
// both still match, so a selection made elsewhere is noticed.
struct SelectedVoice
{
    QByteArray name;
    QByteArray identifier;
    int rate = -1, amplitude = -1, pitch = -1, range = -1;
};
SelectedVoice g_selected;

QByteArray CurrentIdentifier()
{
    const espeak_VOICE *current = espeak_GetCurrentVoice();
    return current && current->identifier ? QByteArray(current->identifier) : QByteArray();
}

void SetParameter(espeak_PARAMETER parameter, int value, int *current)
{
    if (*current == value)
        return;
    espeak_SetParameter(parameter, value, 0);
    *current = value;
}

// Selects a voice and the session's parameters for a piece, so no piece
// inherits a voice or a parameter another one left behind.
bool SelectVoice(const QByteArray &name, const TtsVoice &voice)
{
    if (name != g_selected.name || g_selected.identifier.isEmpty() || CurrentIdentifier() != g_selected.identifier) {
        g_selected = SelectedVoice();
        if (espeak_SetVoiceByName(name.constData()) != EE_OK)
            return false;
        g_selected.name = name;
        g_selected.identifier = CurrentIdentifier();
    }
    SetParameter(espeakRATE, qBound(espeakRATE_MINIMUM, voice.rate, espeakRATE_MAXIMUM), &g_selected.rate);
    SetParameter(espeakVOLUME, qBound(0, voice.amplitude, 200), &g_selected.amplitude);
    SetParameter(espeakPITCH, qBound(0, voice.pitch, 100), &g_selected.pitch);
    SetParameter(espeakRANGE, qBound(0, voice.pitchRange, 100), &g_selected.range);
    return true;
}

FILE *g_phonemeTrace = nullptr; // guarded by g_synthMutex

// Keeps the loudest sample below full scale: loud voices would clip.
void LimitPeak(QByteArray *pcm)
{
    auto *s = reinterpret_cast<qint16 *>(pcm->data());
    const qsizetype n = pcm->size() / 2;
    int peak = 0;
    for (qsizetype i = 0; i < n; ++i)
        peak = qMax(peak, std::abs(int(s[i])));
    if (peak <= kPeakLimit)
        return;
    for (qsizetype i = 0; i < n; ++i)
        s[i] = qint16(int(s[i]) * kPeakLimit / peak);
}

} // namespace

int TtsSession::Login(const QByteArray &)
{
    QMutexLocker lock(&g_synthMutex);
    if (g_espeakRate > 0)
        return Ok;
    const int rate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT);
    if (rate <= 0)
        return ErrorSynthesis;
    espeak_SetSynthCallback(OnSamples);
    g_espeakRate = rate;
    return Ok;
}

void TtsSession::SetPhonemeTrace(FILE *stream)
{
    QMutexLocker lock(&g_synthMutex);
    g_phonemeTrace = stream;
}

int TtsSession::ParseParams(const QByteArray &params, TtsVoice *voice)
{
    QByteArray vcn;
    for (const QByteArray &pair : params.split(',')) {
        const int eq = pair.indexOf('=');
        if (eq < 0)
            continue;
        const QByteArray key = pair.left(eq).trimmed();
        const QByteArray value = pair.mid(eq + 1).trimmed();
        bool ok = false;
        const int number = value.toInt(&ok);
        if (key == "vcn")
            vcn = value;
        else if (key == "spd" && ok)
            voice->rate = Scale10(number, 100, 250);
        else if (key == "vol" && ok)
            voice->amplitude = Scale10(number, 0, 150);
        else if (key == "pit" && ok)
            voice->pitch = Scale10(number, 20, 80);
    }
    if (vcn.isEmpty())
        return ErrorInvalidParams;
    for (const VoiceName &known : kVoices) {
        if (vcn == known.vcn) {
            voice->espeakVoice = known.espeakVoice;
            return Ok;
        }
    }
    return ErrorUnknownVoice;
}

int TtsSession::Begin(const QByteArray &params)
{
    TtsVoice voice;
    const int error = ParseParams(params, &voice);
    return error == Ok ? Begin(voice) : error;
}

int TtsSession::Begin(const TtsVoice &voice)
{
    {
        QMutexLocker lock(&g_synthMutex);
        if (g_espeakRate <= 0)
            return ErrorNotLoggedIn;
    }
    m_voice = voice;
    m_pcm.clear();
    m_readPos = 0;
    m_begun = true;
    return Ok;
}

int TtsSession::TextPut(const QByteArray &utf8Text, const std::function<bool()> &cancelled)
{
    if (!m_begun)
        return ErrorNoSession;
    m_pcm.clear();
    m_readPos = 0;
    if (utf8Text.trimmed().isEmpty())
        return Ok; // nothing to say: the session delivers no audio
    const bool mandarin = m_voice.espeakVoice.startsWith("cmn");
    int dropped = 0;
    const QString text = TextNormalizer::KeepReadable(QString::fromUtf8(utf8Text), &dropped);
    static std::atomic<bool> toldDropped{false};
    if (dropped > 0 && !toldDropped.exchange(true))
        PLOG(LOG_WARNING, "%d character(s) no voice reads were left out of a text (told once)", dropped);
    const QString read = mandarin ? TextNormalizer::Normalize(text) : TextNormalizer::NormalizeNumbers(text);
    SynthSink sink;
    sink.cancelled = &cancelled;
    int fromRate = 0;
    {
        QMutexLocker lock(&g_synthMutex);
        if (!SelectVoice(m_voice.espeakVoice, m_voice))
            return ErrorUnknownVoice;
        fromRate = g_espeakRate;
        espeak_SetPhonemeTrace(g_phonemeTrace ? espeakPHONEMES_SHOW : 0, g_phonemeTrace);
        // Each piece between punctuation marks is spoken on its own, the
        // pause after it added as silence: the synthesizer's own pauses at
        // commas are too short to hear.
        const QList<Segment> segments = SplitAtPauses(read);
        const QByteArray englishVoice = EnglishVoiceOf(m_voice.espeakVoice);
        for (int i = 0; i < segments.size(); ++i) {
            for (const Piece &piece : SplitLanguages(segments[i].text)) {
                const bool english = piece.english && mandarin;
                if (!SelectVoice(english ? englishVoice : m_voice.espeakVoice, m_voice))
                    return ErrorUnknownVoice;
                const QByteArray utf8 = piece.text.toUtf8();
                const espeak_ERROR error = espeak_Synth(utf8.constData(), size_t(utf8.size()) + 1, 0, POS_CHARACTER, 0,
                                                        espeakCHARS_UTF8, nullptr, &sink);
                if (sink.wasCancelled)
                    return ErrorCancelled;
                if (error != EE_OK)
                    return ErrorSynthesis;
            }
            if (i + 1 < segments.size() && !sink.pcm.isEmpty())
                sink.pcm.append(QByteArray(int(qint64(fromRate) * segments[i].pauseMs / 1000) * 2, '\0'));
        }
    }
    m_pcm = Resample(sink.pcm, fromRate);
    if (m_pcm.isEmpty() && !sink.pcm.isEmpty())
        return ErrorSynthesis;
    LimitPeak(&m_pcm);
    return Ok;
}

const char *TtsSession::AudioGet(int *length, int *status, int *error)
{
    *length = 0;
    *error = m_begun ? Ok : ErrorNoSession;
    *status = AudioComplete;
    if (!m_begun || m_readPos >= m_pcm.size())
        return nullptr;
    const char *block = m_pcm.constData() + m_readPos;
    *length = qMin(kBlockBytes, int(m_pcm.size()) - m_readPos);
    m_readPos += *length;
    *status = m_readPos >= m_pcm.size() ? AudioComplete : MoreAudio;
    return block;
}

int TtsSession::End(const char *)
{
    if (!m_begun)
        return ErrorNoSession;
    m_begun = false;
    m_pcm.clear();
    return Ok;
}
