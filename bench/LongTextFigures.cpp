#include "LongTextFigures.h"

#include "core/SettingsValues.h"
#include "speech/Speake.h"
#include "speech/SpeechCache.h"
#include "speech/TTS.h"
#include "WindowFigures.h"

#include <QElapsedTimer>
#include <QThread>

#include <cmath>

namespace {

constexpr int kPlaySampleMs = 5000;
constexpr int kSynthesisHeadStartMs = 300;

// A row of shop sentences, kChars long; salt makes each text its own.
QString LongRow(int salt)
{
    const QString sentence = QStringLiteral("各位顾客，本店今天西瓜1块9毛8一斤，苹果3块5一斤，欢迎选购。");
    QString text = QString::number(salt);
    while (text.size() < LongTextFigures::kChars)
        text += sentence;
    return text.left(LongTextFigures::kChars);
}

} // namespace

double LongTextFigures::PlayRssMb()
{
    const QString text = LongRow(1);
    const QByteArray path = SpeechCache::PathFor(text).toLocal8Bit();
    if (TTS::TextToSpeech(text.toLocal8Bit().constData(), "xiaoyan", path.constData()) != 0)
        return NAN;
    Speake worker;
    worker.start();
    worker.SpeakAudio(1, 0, text, true);
    long peakKb = 0;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < kPlaySampleMs) {
        peakKb = qMax(peakKb, WindowFigures::ResidentKb());
        QThread::msleep(20);
    }
    worker.Stop();
    worker.wait();
    return peakKb / 1024.0;
}

double LongTextFigures::QuitDuringSynthesisMs()
{
    Speake worker;
    worker.start();
    worker.SpeakAudio(1, 0, LongRow(2), true);
    QThread::msleep(kSynthesisHeadStartMs);
    QElapsedTimer clock;
    clock.start();
    worker.Stop();
    worker.wait();
    return double(clock.nsecsElapsed()) / 1e6;
}
