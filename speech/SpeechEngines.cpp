#include "speech/SpeechEngines.h"

#include "speech/CloudEngine.h"
#include "core/Log.h"
#include "core/SettingsValues.h"
#include "speech/TTS.h"

SpeechEngines::Choice SpeechEngines::Choose(const QString &voiceId)
{
    const QStringList parts = voiceId.split(QLatin1Char('_'));
    if (parts.size() < 2)
        return {};
    if (parts.at(0) == QLatin1String("xf"))
        return {Engine::Local, parts.at(1)};
    if (parts.at(0) == QLatin1String("tx"))
        return {Engine::Cloud, parts.at(1)};
    return {};
}

bool SpeechEngines::SynthesizeToFile(const QString &text, const QString &path, const std::atomic<bool> *abort)
{
    const Choice choice = Choose(g_settings.yusheng.Get());
    switch (choice.engine) {
    case Engine::Local: {
        // A stopping worker or a cancelled request ends a long synthesis at once.
        const auto cancelled = [abort] { return abort && abort->load(); };
        const int ret = TTS::TextToSpeech(text.toLocal8Bit().constData(), choice.voice.toLocal8Bit().constData(),
                                          path.toLocal8Bit().constData(), cancelled);
        PLOG(LOG_DEBUG, "TTS::TextToSpeech return %d", ret);
        return ret == 0;
    }
    case Engine::Cloud:
        return CloudEngine::Synthesize(text, choice.voice, path, abort);
    case Engine::None:
        break;
    }
    return false;
}
