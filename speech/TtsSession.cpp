#include "TtsSession.h"

#include <QList>
#include <QMutex>

#include <espeak-ng/speak_lib.h>
#include <soxr.h>

namespace {

constexpr int kBlockBytes = 6400; // 200 ms of 16 kHz 16-bit audio

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
    SynthSink sink;
    sink.cancelled = &cancelled;
    int fromRate = 0;
    {
        QMutexLocker lock(&g_synthMutex);
        if (espeak_SetVoiceByName(m_voice.espeakVoice.constData()) != EE_OK)
            return ErrorUnknownVoice;
        espeak_SetParameter(espeakRATE, qBound(espeakRATE_MINIMUM, m_voice.rate, espeakRATE_MAXIMUM), 0);
        espeak_SetParameter(espeakVOLUME, qBound(0, m_voice.amplitude, 200), 0);
        espeak_SetParameter(espeakPITCH, qBound(0, m_voice.pitch, 100), 0);
        espeak_SetParameter(espeakRANGE, qBound(0, m_voice.pitchRange, 100), 0);
        const espeak_ERROR error = espeak_Synth(utf8Text.constData(), size_t(utf8Text.size()) + 1, 0,
                                                POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, &sink);
        if (sink.wasCancelled)
            return ErrorCancelled;
        if (error != EE_OK)
            return ErrorSynthesis;
        fromRate = g_espeakRate;
    }
    m_pcm = Resample(sink.pcm, fromRate);
    if (m_pcm.isEmpty() && !sink.pcm.isEmpty())
        return ErrorSynthesis;
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
