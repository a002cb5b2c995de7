#pragma once

// What the synthesis really speaks, compared with the reading a person
// expects. The phonemes come from eSpeak NG's own trace while the real
// TtsSession::TextPut runs; the expected reading is pinyin with tone
// digits (5 for the neutral tone, English words in braces), turned into
// phonemes by the same synthesizer, so both sides are spelled alike.

#include "speech/TtsSession.h"

#include <espeak-ng/speak_lib.h>

#include <QFile>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

struct Announcement
{
    QString text;
    QString reading;
};

// Lines "text<TAB>reading"; '#' starts a comment line.
inline QList<Announcement> LoadAnnouncements(const QString &path)
{
    QList<Announcement> list;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return list;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw);
        const qsizetype tab = line.indexOf(QLatin1Char('\t'));
        if (line.startsWith(QLatin1Char('#')) || tab <= 0)
            continue;
        list.append({line.left(tab).trimmed(), line.mid(tab + 1).trimmed()});
    }
    return list;
}

// Syllables with their tone: stress marks, word and clause separators
// and language switches dropped. Tone contours are named by class: the
// four tones keep their contour (a clause-final 214 is the 21 of the third
// tone, 53 the 51 of an unstressed fourth tone), every other contour is
// the neutral tone, whose pitch the
// synthesizer shapes after the syllable before.
inline QStringList PhonemeSyllables(QString phonemes)
{
    static const QRegularExpression noise(QStringLiteral("\\((?:en|cmn)\\)|[',_|\\s]"));
    phonemes.remove(noise);
    static const QRegularExpression syllable(QStringLiteral("([^0-9]*)([0-9]+)|[^0-9]+$"));
    QStringList out;
    auto it = syllable.globalMatch(phonemes);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        QString tone = m.captured(2);
        if (tone == QLatin1String("214"))
            tone = QStringLiteral("21");
        else if (tone == QLatin1String("53")) // the fourth tone of an unstressed syllable
            tone = QStringLiteral("51");
        else if (!tone.isEmpty() && tone != QLatin1String("55") && tone != QLatin1String("35")
                 && tone != QLatin1String("21") && tone != QLatin1String("51"))
            tone = QStringLiteral("00");
        out << (m.captured(2).isEmpty() ? m.captured() : m.captured(1) + tone);
    }
    return out;
}

// Whether what was heard is the expected reading. An expected syllable
// may name alternatives ("a|b"), any of which a listener accepts. A third
// tone before another third tone may be spoken rising (35), as Mandarin
// speakers do.
inline bool SameReading(const QStringList &heard, const QStringList &expected, qsizetype *firstDifference)
{
    auto toneOf = [](const QString &s) { return s.right(2); };
    auto baseOf = [](const QString &s) { return s.chopped(2); };
    static const QStringList thirdOrRising = {QStringLiteral("21"), QStringLiteral("35")};
    const qsizetype n = qMin(heard.size(), expected.size());
    for (qsizetype i = 0; i < n; ++i) {
        const QStringList accepted = expected[i].split(QLatin1Char('|'));
        if (accepted.contains(heard[i]))
            continue;
        const bool nextIsThird =
            i + 1 < n
            && (expected[i + 1].split(QLatin1Char('|')).first().endsWith(QLatin1String("21"))
                || toneOf(heard[i + 1]) == QLatin1String("21"));
        const bool sandhi = nextIsThird && thirdOrRising.contains(toneOf(heard[i]))
                            && std::any_of(accepted.begin(), accepted.end(), [&](const QString &e) {
                                   return baseOf(e) == baseOf(heard[i]) && thirdOrRising.contains(toneOf(e));
                               });
        if (!sandhi) {
            *firstDifference = i;
            return false;
        }
    }
    *firstDifference = n;
    return heard.size() == expected.size();
}

// The phonemes the synthesizer writes while fn runs.
template <typename Fn>
QString TracePhonemes(Fn fn)
{
    char *buffer = nullptr;
    size_t size = 0;
    FILE *stream = open_memstream(&buffer, &size);
    TtsSession::SetPhonemeTrace(stream);
    fn();
    TtsSession::SetPhonemeTrace(nullptr);
    fclose(stream);
    const QString out = QString::fromUtf8(buffer, qsizetype(size));
    free(buffer);
    return out;
}

// What the session speaks for a text, as syllables.
inline QStringList HeardSyllables(const QString &text, const TtsVoice &voice)
{
    TtsSession session;
    session.Begin(voice);
    const QString trace = TracePhonemes([&] { session.TextPut(text.toUtf8()); });
    session.End();
    return PhonemeSyllables(trace);
}

// The expected reading in the synthesizer's phonemes, as syllables.
// Call only while no synthesis runs (tests and the bench are single-threaded).
inline QStringList ReadingSyllables(const QString &reading)
{
    QString phonemes;
    static const QRegularExpression english(QStringLiteral("\\{([^}]*)\\}"));
    auto spell = [&phonemes](const QString &part, const char *voice) {
        if (part.trimmed().isEmpty())
            return;
        espeak_SetVoiceByName(voice);
        const QByteArray utf8 = part.toUtf8();
        const void *cursor = utf8.constData();
        while (cursor)
            phonemes += QString::fromUtf8(espeak_TextToPhonemes(&cursor, espeakCHARS_UTF8, espeakPHONEMES_SHOW)) + ' ';
    };
    qsizetype last = 0;
    auto it = english.globalMatch(reading);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        spell(reading.mid(last, m.capturedStart() - last), "cmn-latn-pinyin");
        spell(m.captured(1), "en");
        last = m.capturedEnd();
    }
    spell(reading.mid(last), "cmn-latn-pinyin");
    return PhonemeSyllables(phonemes);
}

// A syllable written "shang5/4" or "yao1/shi2" also accepts the second
// form. Each variant of the reading is spelled whole (the k-th variant
// takes every syllable's k-th form), and the variants are merged syllable
// by syllable into "a|b".
inline QStringList ExpectedSyllables(const QString &reading)
{
    static const QRegularExpression alternatives(QStringLiteral("([a-zv]*)([1-5])((?:/[a-zv]*[1-5])+)"));
    if (!reading.contains(QLatin1Char('/')))
        return ReadingSyllables(reading);
    QList<QString> variants;
    for (int k = 0;; ++k) {
        bool any = false;
        QString variant;
        qsizetype last = 0;
        auto it = alternatives.globalMatch(reading);
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            variant += reading.mid(last, m.capturedStart() - last);
            const QStringList forms = m.captured(3).mid(1).split(QLatin1Char('/'));
            QString form = m.captured(1) + m.captured(2);
            if (k > 0 && k <= forms.size()) {
                any = true;
                form = forms[k - 1].front().isDigit() ? m.captured(1) + forms[k - 1] : forms[k - 1];
            }
            variant += form;
            last = m.capturedEnd();
        }
        variant += reading.mid(last);
        if (k > 0 && !any)
            break;
        variants << variant;
    }
    QStringList merged = ReadingSyllables(variants.first());
    for (qsizetype v = 1; v < variants.size(); ++v) {
        const QStringList other = ReadingSyllables(variants[v]);
        if (other.size() != merged.size())
            continue;
        for (qsizetype i = 0; i < merged.size(); ++i)
            if (!merged[i].split(QLatin1Char('|')).contains(other[i]))
                merged[i] += QLatin1Char('|') + other[i];
    }
    return merged;
}
