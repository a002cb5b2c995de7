#include "speech/TTS.h"

#include "core/Log.h"
#include "core/SettingsValues.h"
#include "speech/TtsSession.h"
#include "speech/WavFile.h"

#include <QFile>
#include <QSaveFile>
#include <QtEndian>

const char TTS::kLoginParams[] = " appid = 7c3e91a0,work_dir =   .  ";

namespace {

constexpr int kParamFileBytes = 128;

// Rewrites both size fields of the header at the start of the file.
bool PatchHeader(QSaveFile &file, quint32 dataSize)
{
    const QByteArray header = WavFile::Header(dataSize);
    return file.seek(0) && file.write(header) == header.size() && file.seek(file.size());
}

} // namespace

int TTS::Init()
{
    const int ret = TtsSession::Login(kLoginParams);
    if (ret != TtsSession::Ok) {
        PLOG(LOG_DEBUG, "MSPLogin failed , Error code %d.\n", ret);
        return -1;
    }
    return 0;
}

QByteArray TTS::SessionParams(const QByteArray &voiceName, int speed, int volume, const QString &paramFile)
{
    QByteArray params = "vcn=" + voiceName + ", spd = " + QByteArray::number(speed)
                        + ", vol = " + QByteArray::number(volume);
    QFile extra(paramFile);
    if (extra.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = extra.read(kParamFileBytes);
        if (!bytes.isEmpty())
            params += ',' + bytes;
    }
    return params;
}

int TTS::TextToSpeech(const char *text, const char *voiceName, const char *path,
                      const std::function<bool()> &cancelled)
{
    PLOG(LOG_DEBUG, "begin to synth...\n");
    if (!text || !voiceName || !path) {
        PLOG(LOG_DEBUG, "params is null!\n");
        return -1;
    }
    const QByteArray params = SessionParams(voiceName, g_settings.speed, g_settings.volume);
    TtsSession session;
    int ret = session.Begin(params);
    if (ret != TtsSession::Ok) {
        PLOG(LOG_DEBUG, "QTTSSessionBegin: qtts begin session failed Error code %d.\n", ret);
        return ret;
    }
    // Texts are 8-bit in the local code page; the synthesizer takes UTF-8.
    ret = session.TextPut(QString::fromLocal8Bit(text).toUtf8(), cancelled);
    if (ret != TtsSession::Ok) {
        PLOG(LOG_DEBUG, "QTTSTextPut: qtts put text failed Error code %d.\n", ret);
        session.End("TextPutError");
        return ret;
    }

    // Written beside the target and renamed over it when complete, so a
    // crash never leaves a half-written file in the cache.
    QSaveFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::WriteOnly)) {
        PLOG(LOG_DEBUG, "open file %s error\n", path);
        session.End();
        return -1;
    }
    file.write(WavFile::Header(0));

    quint32 dataSize = 0;
    int status = TtsSession::MoreAudio;
    int error = TtsSession::Ok;
    while (status != TtsSession::AudioComplete && error == TtsSession::Ok) {
        int length = 0;
        const char *block = session.AudioGet(&length, &status, &error);
        if (block && length > 0) {
            file.write(block, length);
            dataSize += quint32(length);
        }
    }
    const bool noAudio = dataSize == 0;
    if (error != TtsSession::Ok)
        PLOG(LOG_WARNING, "synthesis stopped with error %d after %u bytes", error, dataSize);
    file.write(QByteArray(WavFile::kSilenceBytes, '\0'));
    dataSize += WavFile::kSilenceBytes;
    const bool written = PatchHeader(file, dataSize) && !noAudio && file.commit();
    if (!written)
        file.cancelWriting();

    ret = session.End();
    if (ret != TtsSession::Ok)
        PLOG(LOG_DEBUG, "QTTSSessionEnd: qtts end failed Error code %d.\n", ret);
    if (noAudio) {
        PLOG(LOG_DEBUG, "QTTSSessionEnd: pcmwavhdr.data_size == 0.\n");
        QFile::remove(QString::fromLocal8Bit(path));
        return -1;
    }
    if (!written) {
        PLOG(LOG_DEBUG, "write file %s error\n", path);
        return -1;
    }
    return ret;
}
