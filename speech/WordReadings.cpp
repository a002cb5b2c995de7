#include "speech/WordReadings.h"

#include <QtGlobal>

#include <cstdint>
#include <limits>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

// The hand table: shop words the generated lexicon lacks or reads
// otherwise than a shop says them, and a few the voice reads right that
// must win their characters in context (还有 before 还书, 称重 before 重台).
// It overrides the lexicon.
const std::pair<const char *, const char *> kBuiltInReadings[] = {
    {"厨师长", "chu2shi1zhang3"},
    {"欢", "huan1"}, {"只要", "zhi3yao4"}, {"只有", "zhi3you3"}, {"称重", "cheng1zhong4"},
    {"便宜", "pian2yi5"}, {"还有", "hai2you3"}, {"还没", "hai2mei2"}, {"还在", "hai2zai4"},
    {"还送", "hai2song4"}, {"还车", "huan2che1"}, {"结账", "jie2zhang4"}, {"收银台", "shou1yin2tai2"},
    {"打折", "da3zhe2"}, {"尽快", "jin3kuai4"}, {"打烊", "da3yang4"}, {"着急", "zhao2ji2"},
    {"您得", "nin2dei3"}, {"买一送一", "mai3yi1song4yi1"}, {"早上", "zao3shang5"}, {"晚上", "wan3shang5"},
    {"朋友", "peng2you5"}, {"谢谢", "xie4xie5"}, {"妈妈", "ma1ma5"}, {"爸爸", "ba4ba5"},
    {"衣服", "yi1fu5"}, {"葡萄", "pu2tao5"}, {"酬宾", "chou2bin1"}, {"请看好", "qing3kan1hao3"},
    {"调整为", "tiao2zheng3wei2"}, {"东西", "dong1xi5"}, {"意思", "yi4si5"}, {"泊位", "bo2wei4"},
    {"泊车", "bo2che1"}, {"系好", "ji4hao3"}, {"系鞋带", "ji4xie2dai4"}, {"拾到", "shi2dao4"},
    {"着凉", "zhao2liang2"}, {"炸酱面", "zha2jiang4mian4"}, {"理发", "li3fa4"}, {"馒头", "man2tou5"},
    {"还款", "huan2kuan3"}, {"量好", "liang2hao3"}, {"免息", "mian3xi1"}, {"个人", "ge4ren2"},
    {"亲子", "qin1zi3"},
};

// The built-in word table: the lexicon generated from maintained
// dictionaries (speech/Lexicon.inc, see tools/lexicon_table.cpp) with the
// hand table over it. Each word has a cost in bits (how unlikely it is);
// an empty reading keeps the characters as the voice reads them: such a
// word is listed so that it wins its characters where it is the likelier
// word (长期 in 本店长期 over 店长).
struct Word
{
    std::string_view reading; // UTF-8
    int cost = 0;
};

// A hand-table word the word list does not count, and a character it
// does not count. All words are CJK characters, three bytes each in UTF-8,
// and none is longer than four.
constexpr int kHandWordCost = 16;
constexpr int kRareCharacterCost = 24;
constexpr size_t kHanBytes = 3;
constexpr qsizetype kLongestWord = 4;

const char kLexicon[] =
#include "speech/Lexicon.inc"
    ;

// A line of the lexicon: word, reading, cost.
bool ParseLine(std::string_view line, std::string_view *word, Word *entry)
{
    const size_t tab1 = line.find('\t'), tab2 = line.find('\t', tab1 + 1);
    if (tab1 == std::string_view::npos || tab2 == std::string_view::npos)
        return false;
    *word = line.substr(0, tab1);
    entry->reading = line.substr(tab1 + 1, tab2 - tab1 - 1);
    entry->cost = 0;
    for (const char c : line.substr(tab2 + 1))
        entry->cost = entry->cost * 10 + (c - '0');
    return true;
}

// The lexicon's lines are in byte order of their words. The lines of each
// first character are found once (one pass over the text, about a
// millisecond: the cloud engine's process reads one text and exits), a
// word among them by halving.
using LineRange = std::pair<uint32_t, uint32_t>; // [first byte, end byte) of whole lines

const std::unordered_map<std::string_view, LineRange> &LinesByFirstCharacter()
{
    static const std::unordered_map<std::string_view, LineRange> index = [] {
        std::unordered_map<std::string_view, LineRange> byFirst;
        const std::string_view all(kLexicon, sizeof kLexicon - 1);
        for (size_t at = 0; at + kHanBytes <= all.size();) {
            size_t end = all.find('\n', at);
            end = end == std::string_view::npos ? all.size() : end;
            auto [range, added] = byFirst.try_emplace(all.substr(at, kHanBytes), LineRange{uint32_t(at), uint32_t(end)});
            range->second.second = uint32_t(end);
            at = end + 1;
        }
        return byFirst;
    }();
    return index;
}

bool FindInLexicon(std::string_view word, Word *entry)
{
    const auto &index = LinesByFirstCharacter();
    const auto range = index.find(word.substr(0, kHanBytes));
    if (range == index.end())
        return false;
    const std::string_view all(kLexicon, sizeof kLexicon - 1);
    size_t low = range->second.first, high = range->second.second;
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        const size_t before = middle > low ? all.rfind('\n', middle - 1) : std::string_view::npos;
        const size_t start = before == std::string_view::npos || before < low ? low : before + 1;
        size_t end = all.find('\n', start);
        end = end == std::string_view::npos || end > high ? high : end;
        const std::string_view line = all.substr(start, end - start);
        const std::string_view key = line.substr(0, line.find('\t'));
        if (key == word) {
            std::string_view parsed;
            return ParseLine(line, &parsed, entry);
        }
        if (key < word)
            low = end + 1;
        else
            high = start;
    }
    return false;
}

const std::unordered_map<std::string_view, Word> &HandTable()
{
    static const std::unordered_map<std::string_view, Word> table = [] {
        std::unordered_map<std::string_view, Word> t;
        for (const auto &[word, reading] : kBuiltInReadings) {
            Word inLexicon;
            const int cost = FindInLexicon(word, &inLexicon) ? qMin(kHandWordCost, inLexicon.cost) : kHandWordCost;
            t.emplace(word, Word{reading, cost});
        }
        return t;
    }();
    return table;
}

// A word of the hand table, or of the lexicon unless it holds a shorter
// hand-table word (the hand table has the last word on its words).
bool FindWord(std::string_view word, Word *entry)
{
    const auto &hand = HandTable();
    if (const auto found = hand.find(word); found != hand.end()) {
        *entry = found->second;
        return true;
    }
    if (!FindInLexicon(word, entry))
        return false;
    for (size_t from = 0; from < word.size(); from += kHanBytes)
        for (size_t length = kHanBytes; from + length <= word.size() && length < word.size(); length += kHanBytes)
            if (hand.count(word.substr(from, length)))
                return false;
    return true;
}

} // namespace

// Reads one run of characters by the built-in table: divided into the
// likeliest words (lowest total cost), and among equally likely
// divisions the one whose last word is longest.
QString WordReadings::ReadRun(QStringView run)
{
    const QByteArray utf8 = run.toUtf8();
    const qsizetype n = run.size();
    if (utf8.size() != n * qsizetype(kHanBytes))
        return run.toString();
    std::vector<int> cost(n + 1, 0), cut(n + 1, 0);
    std::vector<Word> last(n + 1);
    for (qsizetype end = 1; end <= n; ++end) {
        cost[end] = std::numeric_limits<int>::max();
        for (qsizetype length = 1; length <= qMin(kLongestWord, end); ++length) {
            Word word;
            const bool known =
                FindWord(std::string_view(utf8.constData() + (end - length) * kHanBytes, size_t(length) * kHanBytes), &word);
            if (!known && length > 1)
                continue;
            const int c = cost[end - length] + (known ? word.cost : kRareCharacterCost);
            if (c <= cost[end]) {
                cost[end] = c;
                cut[end] = int(end - length);
                last[end] = known ? word : Word();
            }
        }
    }
    QString out;
    for (qsizetype end = n; end > 0; end = cut[end]) {
        const std::string_view reading = last[end].reading;
        if (!reading.empty())
            out.prepend(QLatin1Char(' ') + QString::fromUtf8(reading.data(), qsizetype(reading.size())) + QLatin1Char(' '));
        else
            out.prepend(run.mid(cut[end], end - cut[end]));
    }
    return out;
}

qsizetype WordReadings::TableBytes()
{
    return qsizetype(sizeof kLexicon + sizeof kBuiltInReadings);
}
