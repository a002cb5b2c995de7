#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// The local speech engine.
namespace TTS {
// The account text the engine is logged in with.
extern const char kLoginParams[];

// Logs in to the engine: 0 on success, -1 on failure.
int Init();
// "vcn=<voice>, spd = <speed>, vol = <volume>", then a comma and the first
// 128 bytes of paramFile when it holds any.
QByteArray SessionParams(const QByteArray &voiceName, int speed, int volume,
                         const QString &paramFile = QStringLiteral("param.txt"));
// Synthesizes an 8-bit text into a WAV file at path: 0 when written, the
// engine's error code when a step failed, -1 when no audio came (no file is
// left then). Speed and volume are taken from the shared settings. When
// cancelled answers true, synthesis stops early and no file is left.
int TextToSpeech(const char *text, const char *voiceName, const char *path,
                 const std::function<bool()> &cancelled = {});
}
