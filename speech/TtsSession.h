#pragma once

#include <QByteArray>

#include <cstdio>
#include <functional>

// A small synthesis-session layer over eSpeak NG, shaped like a vendor
// speech SDK: log in once, then per text begin a session with a parameter
// text, put the text, fetch audio blocks until done, end the session.
// Audio comes out as 16 kHz mono 16-bit PCM. Sessions on several threads
// take turns on the one synthesizer.

// What a session speaks with.
struct TtsVoice
{
    QByteArray espeakVoice; // eSpeak NG voice name with optional "+variant"
    int rate = 175;         // words per minute, 80 to 450
    int amplitude = 100;    // 0 (silent) to 200
    int pitch = 50;         // 0 to 100
    int pitchRange = 50;    // 0 to 100
};

class TtsSession
{
public:
    enum Error {
        Ok = 0,
        ErrorNotLoggedIn = 10001,
        ErrorInvalidParams = 10002,
        ErrorUnknownVoice = 10003,
        ErrorSynthesis = 10004,
        ErrorNoSession = 10005,
        ErrorCancelled = 10006,
    };
    enum Status { MoreAudio = 1, AudioComplete = 2 };

    // Starts the synthesizer; parameters are "key = value" pairs, none needed.
    static int Login(const QByteArray &params);
    // Reads "vcn", "spd", "vol" and "pit" (0-10 each but vcn) into a voice.
    // Later pairs override earlier ones; unknown keys are ignored.
    static int ParseParams(const QByteArray &params, TtsVoice *voice);
    // Diagnostics: every later synthesis writes the phonemes it really
    // speaks to stream (nullptr switches it off).
    static void SetPhonemeTrace(FILE *stream);

    int Begin(const QByteArray &params);
    int Begin(const TtsVoice &voice);
    // Synthesizes the whole text. When cancelled answers true during
    // synthesis, it stops within a few milliseconds with ErrorCancelled and
    // the session delivers no audio.
    int TextPut(const QByteArray &utf8Text, const std::function<bool()> &cancelled = {});
    // The next block of audio, or nullptr when none is left; *status becomes
    // AudioComplete with the last block.
    const char *AudioGet(int *length, int *status, int *error);
    int End(const char *hints = nullptr);

private:
    bool m_begun = false;
    TtsVoice m_voice;
    QByteArray m_pcm;
    int m_readPos = 0;
};
