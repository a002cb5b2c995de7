#include "speech/CloudVoices.h"

#include <QtGlobal>

namespace {

struct CloudVoice
{
    int number;
    const char *espeakVoice;
    int pitch;
    int rateDelta; // added to the rate the speed value gives
};

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

} // namespace

TtsVoice CloudVoices::VoiceFor(int number, double speed, int volume, bool *found)
{
    TtsVoice voice;
    *found = false;
    for (const CloudVoice &v : kCloudVoices) {
        if (v.number != number)
            continue;
        *found = true;
        voice.espeakVoice = v.espeakVoice;
        voice.pitch = v.pitch;
        // Speed -1..1 spans the same 100 to 250 words per minute as the local engine.
        voice.rate = 175 + int(speed * 75) + v.rateDelta;
        voice.amplitude = qBound(0, volume, 10) * 15;
    }
    return voice;
}
