// Companion speech program with the cloud engine's command-line contract:
//   tcloud_tts <wav path> <voice number> <speed -1..1> <volume 0..10>
// reads the text from "tmp.txt" in the current directory and writes a
// canonical 16 kHz mono WAV to the path, synthesized locally. The file is
// written beside the target and renamed over it, so a watcher sees it whole.

#include "TtsSession.h"
#include "WavFile.h"

#include <QFile>
#include <QSaveFile>
#include <QString>

#include <cstdio>

namespace {

struct CloudVoice
{
    int number;
    const char *espeakVoice;
    int pitch;
    int rateDelta; // added to the rate the speed value gives
};

// One voice of its own per voice number: its own eSpeak NG variant (male
// variants for the male voices), pitch and pace.
const CloudVoice kCloudVoices[] = {
    {101000, "cmn-latn-pinyin+m1", 45, 0},       {101001, "cmn-latn-pinyin+f1", 55, 0},
    {101002, "cmn-latn-pinyin+f2", 60, 10},      {101003, "cmn-latn-pinyin+f3", 65, -10},
    {101004, "cmn-latn-pinyin+m3", 40, 10},      {101005, "cmn-latn-pinyin+f4", 50, 0},
    {101006, "cmn-latn-pinyin+f5", 70, 5},       {101007, "cmn-latn-pinyin+Annie", 75, -5},
    {101008, "cmn-latn-pinyin+belinda", 45, -15}, {101009, "cmn-latn-pinyin+linda", 55, 15},
    {101010, "cmn-latn-pinyin+m7", 50, -5},      {102000, "cmn-latn-pinyin+shelby", 65, 20},
    {102001, "cmn-latn-pinyin+steph", 40, -20},  {102002, "yue+f2", 60, 0},
    {102003, "cmn-latn-pinyin+Andrea", 50, 25},
};

int Fail(const char *message)
{
    fprintf(stderr, "tcloud_tts: %s\n", message);
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 5)
        return Fail("usage: tcloud_tts <wav path> <voice number> <speed -1..1> <volume 0..10>");
    const int number = atoi(argv[2]);
    const CloudVoice *found = nullptr;
    for (const CloudVoice &v : kCloudVoices)
        if (v.number == number)
            found = &v;
    if (!found)
        return Fail("unknown voice number");

    QFile textFile(QStringLiteral("tmp.txt"));
    if (!textFile.open(QIODevice::ReadOnly))
        return Fail("cannot read tmp.txt");
    const QByteArray text = QString::fromLocal8Bit(textFile.readAll()).toUtf8();

    TtsVoice voice;
    voice.espeakVoice = found->espeakVoice;
    voice.pitch = found->pitch;
    // Speed -1..1 spans the same 100 to 250 words per minute as the local engine.
    voice.rate = 175 + int(atof(argv[3]) * 75) + found->rateDelta;
    voice.amplitude = qBound(0, atoi(argv[4]), 10) * 15;

    TtsSession session;
    if (TtsSession::Login(QByteArray()) != TtsSession::Ok || session.Begin(voice) != TtsSession::Ok
        || session.TextPut(text) != TtsSession::Ok)
        return Fail("synthesis failed");

    QByteArray audio;
    int status = TtsSession::MoreAudio;
    int error = TtsSession::Ok;
    while (status != TtsSession::AudioComplete && error == TtsSession::Ok) {
        int length = 0;
        if (const char *block = session.AudioGet(&length, &status, &error))
            audio.append(block, length);
    }
    session.End();
    if (audio.isEmpty())
        return Fail("no audio");
    audio.append(QByteArray(WavFile::kSilenceBytes, '\0'));

    QSaveFile out(QString::fromLocal8Bit(argv[1]));
    if (!out.open(QIODevice::WriteOnly) || out.write(WavFile::Header(quint32(audio.size()))) != WavFile::kHeaderSize
        || out.write(audio) != audio.size() || !out.commit())
        return Fail("cannot write the WAV file");
    return 0;
}
