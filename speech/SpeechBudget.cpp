#include "speech/SpeechBudget.h"

#include "core/SettingsValues.h"
#include "speech/TextNormalizer.h"

#include <QStringView>

#include <cmath>

namespace {

// eSpeak NG's Mandarin at its rate of 175 words a minute.
constexpr double kSyllableSeconds = 0.26;
constexpr double kClausePause = 0.25;   // ，、；：
constexpr double kSentencePause = 0.45; // 。！？ and line ends

bool Ideograph(char32_t c)
{
    return (c >= 0x3400 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0x20000 && c <= 0x2FFFF);
}

bool LatinLetter(char32_t c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool Vowel(char32_t c)
{
    return c == 'a' || c == 'e' || c == 'i' || c == 'o' || c == 'u' || c == 'y' || c == 'A' || c == 'E' || c == 'I'
           || c == 'O' || c == 'U' || c == 'Y';
}

// The rate the speed setting gives (as the voices map it), against 175.
double SpeedFactor()
{
    const int speed = qBound(0, int(g_settings.speed), 10);
    const double rate = 175.0 + 75.0 * (speed * 0.2 - 1.0);
    return 175.0 / rate;
}

} // namespace

double SpeechBudget::Seconds(const QString &text)
{
    int dropped = 0;
    const QList<uint> read = TextNormalizer::Normalize(TextNormalizer::KeepReadable(text, &dropped)).toUcs4();
    double syllables = 0, pauses = 0;
    for (qsizetype i = 0; i < read.size(); ++i) {
        const char32_t c = read[i];
        if (Ideograph(c) || (c >= '0' && c <= '9')) {
            syllables += 1;
        } else if (LatinLetter(c)) {
            // A pinyin syllable with its tone digit, or a word: its vowel groups.
            qsizetype end = i;
            int groups = 0;
            bool inVowels = false;
            for (; end < read.size() && LatinLetter(read[end]); ++end) {
                groups += Vowel(read[end]) && !inVowels;
                inVowels = Vowel(read[end]);
            }
            const qsizetype letters = end - i;
            if (end < read.size() && read[end] >= '1' && read[end] <= '5')
                ++end; // the tone
            // Without a vowel the engine spells it: about a syllable a letter.
            syllables += groups > 0 ? groups : double(letters);
            i = end - 1;
        } else if (c == u'，' || c == u'、' || c == u'；' || c == u'：' || c == ',' || c == ';' || c == ':') {
            pauses += kClausePause;
        } else if (c == u'。' || c == u'！' || c == u'？' || c == '.' || c == '!' || c == '?' || c == '\n') {
            pauses += kSentencePause;
        }
    }
    return (syllables * kSyllableSeconds + pauses) * SpeedFactor();
}

int SpeechBudget::WholeSeconds(const QString &text)
{
    return std::max(1, int(std::ceil(Seconds(text))));
}
