// Prints the word table the normaliser reads words by, as the body of
// speech/Lexicon.inc, from the phrase readings of Rime's Terra Pinyin
// dictionary (Debian package rime-data-terra-pinyin, tone-marked, derived
// from CC-CEDICT) turned into simplified characters by OpenCC (package
// opencc):
//
//   sed -n '/^\.\.\./,$p' /usr/share/rime-data/terra_pinyin.dict.yaml | opencc -c t2s.json > /tmp/terra.tsv
//   sed -n '/^\.\.\./,$p' /usr/share/rime-data/pinyin_simp.dict.yaml | cut -f1,3 > /tmp/words.tsv
//   g++ -O2 -o /tmp/lexicon_table tools/lexicon_table.cpp -lespeak-ng
//   /tmp/lexicon_table /tmp/terra.tsv /tmp/words.tsv
//       /usr/share/gocode/src/github.com/mozillazg/go-pinyin/pinyin_dict.go > speech/Lexicon.inc
//
// Terra Pinyin also gives Taiwan readings (日期 rì qí, 理发 lǐ fǎ): a
// phrase is kept only where each syllable is one of its character's
// Mainland readings, as the character table of go-pinyin (package
// golang-github-mozillazg-go-pinyin-dev, from Unihan) lists them, or the
// neutral tone.
//
// Kept are the phrases eSpeak NG's Mandarin voice reads otherwise than
// the dictionary (a polyphone: 还书, 量体温, 当作), each with its reading
// (a neutral tone the dictionary marks and the voice does not say is not
// followed: CC-CEDICT marks many a Mainland announcer does not use); the
// common words the voice gives a neutral tone they lack (业务), with their
// characters' usual tones; the two-character words that the voice reads
// with a syllable too many or too few (凌晨, 玫瑰), with their characters'
// usual readings; and, with no reading, the common words it reads right
// that overlap a kept one, so that the likeliest words in context win
// (长期 over 店长 in 本店长期). Differences only in the tone of 一 and 不
// are left out, and 一 and 不 stay characters in a reading: the normaliser
// sets their tone by the next syllable. Each word and character carries
// its cost in bits, -log2 of its share in the word list's counts, by which
// the normaliser divides a text into its likeliest words.
//
// The generated file is committed: building the program needs none of
// these packages. A run takes a few minutes (every phrase is spelled by
// the synthesizer twice).

#include <espeak-ng/speak_lib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

// UTF-8 characters of a string.
std::vector<std::string> Chars(const std::string &s)
{
    std::vector<std::string> out;
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = s[i];
        const size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        out.push_back(s.substr(i, n));
        i += n;
    }
    return out;
}

bool AllHan(const std::vector<std::string> &chars)
{
    for (const std::string &c : chars) {
        if (c.size() != 3)
            return false;
        const unsigned cp = ((c[0] & 0x0F) << 12) | ((c[1] & 0x3F) << 6) | (c[2] & 0x3F);
        if (cp < 0x4E00 || cp > 0x9FA5)
            return false;
    }
    return true;
}

std::string Phonemes(const std::string &text, const char *voice)
{
    espeak_SetVoiceByName(voice);
    std::string out;
    const void *cursor = text.c_str();
    while (cursor)
        out += std::string(espeak_TextToPhonemes(&cursor, espeakCHARS_UTF8, 0)) + " ";
    return out;
}

// Syllables with a tone class, as the heard-reading tests compare them:
// the four tones by contour, anything else the neutral tone.
std::vector<std::string> Syllables(const std::string &phonemes)
{
    std::string clean;
    for (size_t i = 0; i < phonemes.size(); ++i) {
        const char c = phonemes[i];
        if (c == '(') {
            i = phonemes.find(')', i);
            if (i == std::string::npos)
                break;
            continue;
        }
        if (c == '\'' || c == ',' || c == '_' || c == '|' || c == ' ' || c == '\n' || c == '\t')
            continue;
        clean += c;
    }
    std::vector<std::string> out;
    std::string base, tone;
    auto flush = [&] {
        if (tone == "214")
            tone = "21";
        else if (tone == "53")
            tone = "51";
        else if (tone != "55" && tone != "35" && tone != "21" && tone != "51")
            tone = "00";
        out.push_back(base + tone);
        base.clear();
        tone.clear();
    };
    for (const char c : clean) {
        if (c >= '0' && c <= '9') {
            tone += c;
        } else {
            if (!tone.empty())
                flush();
            base += c;
        }
    }
    if (!tone.empty())
        flush();
    return out;
}

// "lǜ" → "lv4"
std::string NumberedPinyin(const std::string &marked)
{
    static const std::pair<const char *, std::pair<char, int>> marks[] = {
        {"ā", {'a', 1}}, {"á", {'a', 2}}, {"ǎ", {'a', 3}}, {"à", {'a', 4}}, {"ē", {'e', 1}}, {"é", {'e', 2}},
        {"ě", {'e', 3}}, {"è", {'e', 4}}, {"ī", {'i', 1}}, {"í", {'i', 2}}, {"ǐ", {'i', 3}}, {"ì", {'i', 4}},
        {"ō", {'o', 1}}, {"ó", {'o', 2}}, {"ǒ", {'o', 3}}, {"ò", {'o', 4}}, {"ū", {'u', 1}}, {"ú", {'u', 2}},
        {"ǔ", {'u', 3}}, {"ù", {'u', 4}}, {"ǖ", {'v', 1}}, {"ǘ", {'v', 2}}, {"ǚ", {'v', 3}}, {"ǜ", {'v', 4}},
        {"ü", {'v', 5}}, {"ń", {'n', 2}}, {"ň", {'n', 3}}, {"ǹ", {'n', 4}}, {"ḿ", {'m', 2}}};
    std::string out;
    int tone = 5;
    for (const std::string &c : Chars(marked)) {
        bool found = false;
        for (const auto &[mark, letter] : marks)
            if (c == mark) {
                out += letter.first;
                if (letter.second != 5)
                    tone = letter.second;
                found = true;
            }
        if (!found)
            out += c;
    }
    return out + char('0' + tone);
}

// Each character's Mainland readings, from go-pinyin's table
// (lines «	0x5973: "nǚ,nǜ,rǔ",»), first the most usual.
std::map<std::string, std::vector<std::string>> MainlandReadings(const char *path)
{
    std::map<std::string, std::vector<std::string>> readings;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        const size_t hex = line.find("0x"), open = line.find('"'), close = line.rfind('"');
        if (hex == std::string::npos || open == std::string::npos || close <= open)
            continue;
        const unsigned cp = std::stoul(line.substr(hex + 2, line.find(':', hex) - hex - 2), nullptr, 16);
        if (cp < 0x4E00 || cp > 0x9FA5)
            continue;
        const char utf8[4] = {char(0xE0 | (cp >> 12)), char(0x80 | ((cp >> 6) & 0x3F)), char(0x80 | (cp & 0x3F)), 0};
        std::istringstream list(line.substr(open + 1, close - open - 1));
        for (std::string reading; std::getline(list, reading, ',');)
            readings[utf8].push_back(NumberedPinyin(reading));
    }
    return readings;
}

std::vector<std::string> Split(const std::string &pinyin)
{
    std::vector<std::string> out;
    std::istringstream in(pinyin);
    for (std::string s; in >> s;)
        out.push_back(s);
    return out;
}

// Whether every syllable of a phrase's reading is a Mainland reading of
// its character, or the neutral tone of one.
bool MainlandPhrase(const std::vector<std::string> &chars, const std::string &pinyin,
                    const std::map<std::string, std::vector<std::string>> &mainland)
{
    const std::vector<std::string> syllables = Split(pinyin);
    if (syllables.size() != chars.size())
        return false;
    for (size_t i = 0; i < chars.size(); ++i) {
        const auto found = mainland.find(chars[i]);
        if (found == mainland.end())
            return false;
        const std::string &s = syllables[i];
        if (chars[i] == "场" && s == "chang2") // 停车场, 商场: chǎng on the Mainland
            return false;
        const std::string base = s.substr(0, s.size() - 1);
        bool known = false;
        for (const std::string &r : found->second)
            known = known || r == s || (s.back() == '5' && r.substr(0, r.size() - 1) == base);
        if (!known)
            return false;
    }
    return true;
}

// The reading with 一 and 不 left as characters: the normaliser gives
// them their tone from the syllable after.
std::string WithYiBu(const std::vector<std::string> &chars, const std::string &pinyin)
{
    const std::vector<std::string> syllables = Split(pinyin);
    std::string out;
    for (size_t i = 0; i < syllables.size(); ++i)
        out += i < chars.size() && (chars[i] == "一" || chars[i] == "不") ? chars[i] : syllables[i];
    return out;
}

struct Entry
{
    std::string pinyin; // "huan2 shu1"
    int weight = 100;
};

// Characters a word may end in lightly or not (孩子, 一个, 我们): the
// voice's neutral tone on them is never corrected.
const std::set<std::string> &LightSyllables()
{
    static const std::set<std::string> light = {"子", "们", "头", "的", "了", "么", "吗", "呢", "吧", "着", "过", "上",
                                                "下", "里", "边", "面", "候", "西", "服", "友", "气", "巴", "生", "识",
                                                "个", "家", "来", "去", "儿", "方", "道", "些", "样", "亮"};
    return light;
}

// How the voice's reading of the characters compares with the
// dictionary's: the same (the tone of 一 and 不 aside), otherwise only in
// neutral tones the dictionary marks (the dictionary marks many that a
// Mainland announcer does not say: 业务, 个人), or otherwise.
enum class Comparison { Same, NeutralOnly, Different };

Comparison Compare(const std::string &word, const std::vector<std::string> &chars, const std::string &pinyin)
{
    const std::vector<std::string> heard = Syllables(Phonemes(word, "cmn-latn-pinyin"));
    const std::vector<std::string> expected = Syllables(Phonemes(pinyin, "cmn-latn-pinyin"));
    if (heard.size() != expected.size())
        return Comparison::Different;
    const std::vector<std::string> syllables = Split(pinyin);
    Comparison result = Comparison::Same;
    for (size_t i = 0; i < heard.size(); ++i) {
        if (heard[i] == expected[i])
            continue;
        const bool sameBase = heard[i].substr(0, heard[i].size() - 2) == expected[i].substr(0, expected[i].size() - 2);
        const bool yiOrBu = i < chars.size() && (chars[i] == "一" || chars[i] == "不");
        const bool lightHeard = i < chars.size() && LightSyllables().count(chars[i])
                                && heard[i].substr(heard[i].size() - 2) == "00";
        if (sameBase && (yiOrBu || lightHeard))
            continue;
        if (sameBase && i < syllables.size() && syllables[i].back() == '5' && syllables.size() == heard.size())
            result = Comparison::NeutralOnly;
        else
            return Comparison::Different;
    }
    return result;
}

// A common word the dictionary does not list (its characters keep their
// usual readings) that the voice says with a neutral tone the word does
// not have (业务, 个人, 服务台): the word with its characters' usual
// tones, light suffixes (孩子, 我们) left light. Empty where the voice
// reads it right or otherwise differs.
std::string NeutralFixed(const std::string &word, const std::vector<std::string> &chars,
                         const std::map<std::string, std::vector<std::string>> &mainland)
{
    const std::set<std::string> &light = LightSyllables();
    std::vector<std::string> usual;
    std::string joined;
    for (const std::string &c : chars) {
        const auto found = mainland.find(c);
        if (found == mainland.end())
            return {};
        usual.push_back(found->second.front());
        joined += usual.back() + " ";
    }
    const std::vector<std::string> heard = Syllables(Phonemes(word, "cmn-latn-pinyin"));
    const std::vector<std::string> expected = Syllables(Phonemes(joined, "cmn-latn-pinyin"));
    if (heard.size() != expected.size() || heard.size() != chars.size())
        return {};
    std::string reading;
    bool fixed = false;
    for (size_t i = 0; i < heard.size(); ++i) {
        const bool sameBase = heard[i].substr(0, heard[i].size() - 2) == expected[i].substr(0, expected[i].size() - 2);
        if (!sameBase)
            return {};
        const bool heardNeutral = heard[i].substr(heard[i].size() - 2) == "00";
        if (heard[i] == expected[i] || (heardNeutral && light.count(chars[i]))) {
            reading += heardNeutral ? usual[i].substr(0, usual[i].size() - 1) + "5" : usual[i];
        } else if (heardNeutral && usual[i].back() != '5') {
            reading += usual[i];
            fixed = true;
        } else {
            return {};
        }
    }
    return fixed ? reading : std::string();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: lexicon_table terra.tsv words.tsv pinyin_dict.go > speech/Lexicon.inc\n");
        return 2;
    }
    const std::map<std::string, std::vector<std::string>> mainland = MainlandReadings(argv[3]);
    if (espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT) <= 0)
        return 1;
    std::map<std::string, std::vector<Entry>> phrases;
    std::ifstream terra(argv[1]);
    for (std::string line; std::getline(terra, line);) {
        std::istringstream fields(line);
        std::string word, pinyin, percent;
        if (!std::getline(fields, word, '\t') || !std::getline(fields, pinyin, '\t'))
            continue;
        std::getline(fields, percent, '\t');
        const std::vector<std::string> chars = Chars(word);
        if (!AllHan(chars))
            continue;
        // One syllable a character (no erhua), at most four characters.
        if (size_t(std::count(pinyin.begin(), pinyin.end(), ' ')) + 1 != chars.size())
            continue;
        Entry entry{pinyin, percent.empty() ? 100 : std::atoi(percent.c_str())};
        if (chars.size() >= 2 && chars.size() <= 4) {
            phrases[word].push_back(entry);
        }
    }

    std::map<std::string, std::string> table; // word → reading ("" keeps the characters)
    std::set<std::string> rightPhrases;
    for (const auto &[word, entries] : phrases) {
        const std::vector<std::string> chars = Chars(word);
        std::vector<Entry> misread;
        bool alike = false;
        for (const Entry &e : entries) {
            const Comparison c = Compare(word, chars, e.pinyin);
            alike = alike || c == Comparison::Same;
            if (c == Comparison::Different && MainlandPhrase(chars, e.pinyin, mainland))
                misread.push_back(e);
        }
        if (alike || misread.empty()) { // read as the voice reads it, but still a word
            rightPhrases.insert(word);
            continue;
        }
        const Entry best = *std::max_element(misread.begin(), misread.end(),
                                             [](const Entry &a, const Entry &b) { return a.weight < b.weight; });
        table[word] = WithYiBu(chars, best.pinyin);
    }
    const size_t fromDictionary = table.size();

    // Two-character words the voice gives a syllable too many or too few.
    std::ifstream words(argv[2]);
    size_t swept = 0, unstressed = 0;
    std::map<std::string, double> counts;
    std::set<std::string> unchecked; // listed words whose reading no dictionary gives
    double total = 0;
    for (std::string line; std::getline(words, line);) {
        const size_t tab = line.find('\t');
        const std::string word = line.substr(0, tab);
        const double count = tab == std::string::npos ? 0 : std::atof(line.c_str() + tab + 1);
        counts[word] += count;
        total += count;
        const std::vector<std::string> chars = Chars(word);
        if (chars.size() < 2 || chars.size() > 4 || !AllHan(chars) || table.count(word) || phrases.count(word))
            continue;
        if (const std::string reading = NeutralFixed(word, chars, mainland); !reading.empty()) {
            table[word] = reading;
            ++unstressed;
            continue;
        }
        rightPhrases.insert(word);
        unchecked.insert(word);
        if (chars.size() != 2)
            continue;
        if (Syllables(Phonemes(word, "cmn-latn-pinyin")).size() == 2 || !mainland.count(chars[0])
            || !mainland.count(chars[1]))
            continue;
        table[word] = mainland.at(chars[0]).front() + mainland.at(chars[1]).front();
        rightPhrases.erase(word);
        ++swept;
    }

    // Right phrases that overlap a kept one: a kept word's tail starts
    // them, or its head ends them.
    constexpr double kCommon = 50; // rarer words seldom stand in a kept word's way
    std::set<std::string> heads, tails;
    for (const auto &[word, reading] : table) {
        if (reading.empty())
            continue;
        const std::vector<std::string> chars = Chars(word);
        std::string head, tail;
        for (size_t i = 0; i + 1 < chars.size(); ++i) {
            head += chars[i];
            heads.insert(head);
        }
        for (size_t i = chars.size() - 1; i > 0; --i) {
            tail = chars[i] + tail;
            tails.insert(tail);
        }
    }
    size_t blockers = 0;
    for (const std::string &word : rightPhrases) {
        const std::vector<std::string> chars = Chars(word);
        bool overlaps = false;
        std::string prefix, suffix;
        for (size_t i = 0; i + 1 < chars.size() && !overlaps; ++i) {
            prefix += chars[i];
            overlaps = tails.count(prefix) > 0;
        }
        for (size_t i = chars.size() - 1; i > 0 && !overlaps; --i) {
            suffix = chars[i] + suffix;
            overlaps = heads.count(suffix) > 0;
        }
        // A listed word no dictionary reads must not hide a kept word in it
        // (不良反应 would keep the voice's 反应).
        bool holdsKept = false;
        if (unchecked.count(word))
            for (size_t from = 0; from < chars.size() && !holdsKept; ++from) {
                std::string part = chars[from];
                for (size_t to = from + 1; to < chars.size() && !holdsKept; ++to) {
                    part += chars[to];
                    const auto found = table.find(part);
                    holdsKept = part != word && found != table.end() && !found->second.empty();
                }
            }
        if (overlaps && !holdsKept && counts.count(word) && counts[word] >= kCommon) {
            table[word] = "";
            ++blockers;
        }
    }

    fprintf(stderr, "%zu misread phrases, %zu words given back their tone, %zu swept words, %zu overlapping right phrases\n",
            fromDictionary, unstressed, swept, blockers);
    // Characters the word list counts: their cost only.
    for (const auto &[word, count] : counts)
        if (count > 0 && Chars(word).size() == 1 && AllHan(Chars(word)) && !table.count(word))
            table[word] = "";
    // A word the list does not count is taken a little likelier than the
    // likeliest division of its characters into counted words, so that it
    // is read as a word unless a counted word competes for its characters.
    auto counted = [&](const std::string &word) {
        const auto found = counts.find(word);
        return found != counts.end() && found->second >= 1 ? std::lround(std::log2(total / found->second)) : -1L;
    };
    auto cost = [&](const std::string &word) {
        const long own = counted(word);
        if (own >= 0)
            return int(std::min(40L, own));
        const std::vector<std::string> chars = Chars(word);
        if (chars.size() == 1)
            return 24;
        std::vector<long> best(chars.size() + 1, 0);
        for (size_t end = 1; end <= chars.size(); ++end) {
            best[end] = best[end - 1] + (counted(chars[end - 1]) >= 0 ? counted(chars[end - 1]) : 24);
            std::string part = chars[end - 1];
            for (size_t start = end - 1; start-- > 0;) {
                part = chars[start] + part;
                if (part != word && counted(part) >= 0)
                    best[end] = std::min(best[end], best[start] + counted(part));
            }
        }
        return int(std::min(40L, best[chars.size()] - 1));
    };
    printf("// Generated by tools/lexicon_table.cpp from rime-data-terra-pinyin, go-pinyin's character\n"
           "// table and rime-data-pinyin-simp's word counts: word<TAB>reading<TAB>cost lines; an empty\n"
           "// reading keeps the characters as the voice reads them.\n");
    size_t column = 0;
    printf("u8\"");
    for (const auto &[word, reading] : table) {
        const std::string line = word + "\\t" + reading + "\\t" + std::to_string(cost(word)) + "\\n";
        printf("%s", line.c_str());
        column += line.size();
        if (column > 100) {
            printf("\"\nu8\"");
            column = 0;
        }
    }
    printf("\"\n");
    return 0;
}
