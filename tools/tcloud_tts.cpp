// Companion speech program with the cloud engine's command-line contract:
//   tcloud_tts <wav path> <voice number> <speed -1..1> <volume 0..10>
// reads the text from "tmp.txt" in the current directory and writes a
// canonical 16 kHz mono WAV to the path, synthesized locally. The file is
// written beside the target and renamed over it, so a watcher sees it whole.

#include "speech/CloudVoices.h"
#include "speech/TtsSession.h"
#include "speech/WavFile.h"

#include <QFile>
#include <QSaveFile>
#include <QString>

#include <cstdio>

namespace {

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
    bool found = false;
    const TtsVoice voice = CloudVoices::VoiceFor(atoi(argv[2]), atof(argv[3]), atoi(argv[4]), &found);
    if (!found)
        return Fail("unknown voice number");

    QFile textFile(QStringLiteral("tmp.txt"));
    if (!textFile.open(QIODevice::ReadOnly))
        return Fail("cannot read tmp.txt");
    const QByteArray text = QString::fromLocal8Bit(textFile.readAll()).toUtf8();

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
