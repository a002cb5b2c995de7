#include "TextNormalizer.h"

#include "AppPaths.h"
#include "Log.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QRegularExpression>

#include <algorithm>
#include <vector>

namespace {

const QString kDigits = QStringLiteral("零一二三四五六七八九");

// Measure words after which 2 is read 两.
const QString kMeasureWords = QStringLiteral("斤两个毛块元角位件盒瓶袋包箱台天年月周岁次条张把只双对份杯碗样家种名人层点本支根颗枚辆间遍倍");

// Words the synthesizer reads wrongly, with their reading. Longer words
// are matched first; words that are right already (长城, 行走, 快乐) are
// left out on purpose.
const std::pair<const char *, const char *> kBuiltInReadings[] = {
    {"银行", "yin2hang2"},     {"行长", "hang2zhang3"},   {"家长", "jia1zhang3"},   {"店长", "dian4zhang3"},
    {"组长", "zu3zhang3"},     {"班长", "ban1zhang3"},    {"校长", "xiao4zhang3"},  {"队长", "dui4zhang3"},
    {"部长", "bu4zhang3"},     {"科长", "ke1zhang3"},     {"空调", "kong1tiao2"},   {"调整", "tiao2zheng3"},
    {"调价", "tiao2jia4"},     {"音乐", "yin1yue4"},      {"乐器", "yue4qi4"},      {"了解", "liao3jie3"},
    {"散装", "san3zhuang1"},   {"重新", "chong2xin1"},    {"重复", "chong2fu4"},    {"时间为", "shi2jian1wei2"},
    {"营业时间为", "ying2ye4shi2jian1wei2"},              {"放假", "fang4jia4"},    {"假期", "jia4qi1"},
    {"地面", "di4mian4"},      {"扒窃", "pa2qie4"},       {"扒手", "pa2shou3"},     {"欢迎", "huan1ying2"},
    {"欢", "huan1"},           {"一只", "yi4zhi1"},       {"两只", "liang3zhi1"},   {"每只", "mei3zhi1"},
    {"几只", "ji3zhi1"},       {"只要", "zhi3yao4"},      {"只有", "zhi3you3"},     {"称重", "cheng1zhong4"},
    {"便宜", "pian2yi2"},      {"还有", "hai2you3"},      {"还没", "hai2mei2"},     {"处理", "chu3li3"},
    {"结账", "jie2zhang4"},    {"收银台", "shou1yin2tai2"}, {"当天", "dang4tian1"}, {"打折", "da3zhe2"},
};

// Letters as Mandarin speakers say them, so an abbreviation stays in the voice.
const char *const kLetters[26] = {"ei1",     "bi4",   "xi1",   "di4",    "yi4",   "ai2fu1", "ji4",
                                  "ai2qi1",  "ai4",   "jie4",  "kai4",   "ai2le1", "ai2mu1", "en1",
                                  "ou1",     "pi1",   "kiu1",  "a4",     "ai2si1", "ti4",   "you1",
                                  "wei1",    "da2bu2liu1", "ai4ke4si1", "wai4", "zei4"};

QString Digits(const QString &digits)
{
    QString out;
    for (const QChar c : digits)
        out += c.isDigit() ? kDigits.at(c.digitValue()) : c;
    return out;
}

// Reads 0..9999 as a group inside a larger number: "零" where a gap is read.
QString ReadGroup(int n, bool leading, bool leadingTwo)
{
    static const QString units[] = {QString(), QStringLiteral("十"), QStringLiteral("百"), QStringLiteral("千")};
    QString out;
    bool zero = false;
    bool first = true;
    for (int place = 3; place >= 0; --place) {
        int divisor = 1;
        for (int i = 0; i < place; ++i)
            divisor *= 10;
        const int digit = n / divisor % 10;
        if (digit == 0) {
            if (!first || !leading)
                zero = true;
            continue;
        }
        if (zero && (!out.isEmpty() || !leading))
            out += QStringLiteral("零");
        zero = false;
        if (place == 1 && digit == 1 && first && leading)
            out += units[1]; // 十, not 一十, at the start
        else if (digit == 2 && first && leadingTwo && place >= 2)
            out += QStringLiteral("两") + units[place];
        else
            out += kDigits.at(digit) + units[place];
        first = false;
    }
    return out;
}

struct Rule
{
    QRegularExpression pattern;
    QString (*replace)(const QRegularExpressionMatch &, const QString &text);
};

bool IsMeasureWord(const QString &text, qsizetype at)
{
    return at < text.size() && kMeasureWords.contains(text.at(at));
}

QString ReadNumberText(const QString &digits, const QString &text, qsizetype start, qsizetype end)
{
    if (digits.size() > 1 && digits.startsWith(QLatin1Char('0')))
        return Digits(digits); // a code such as 012
    if (digits.size() > 12)
        return Digits(digits);
    const qint64 n = digits.toLongLong();
    const QChar before = start > 0 ? text.at(start - 1) : QChar();
    const QChar after = end < text.size() ? text.at(end) : QChar();
    if (n == 2) {
        const bool ordinal = before == QChar(0x7B2C) /* 第 */ || after == QChar(0x53F7) /* 号 */;
        const bool pricePart = before == QChar(0x6BDB) /* 毛 */ || before == QChar(0x5206) /* 分 */;
        if (!ordinal && !pricePart && IsMeasureWord(text, end))
            return QStringLiteral("两");
        return QStringLiteral("二");
    }
    return TextNormalizer::ReadInteger(n, before != QChar(0x7B2C) && after != QChar(0x53F7));
}

QString ReadDecimal(const QString &whole, const QString &fraction)
{
    return TextNormalizer::ReadInteger(whole.toLongLong(), false) + QStringLiteral("点") + Digits(fraction);
}

// Replaces every match of a pattern, left to right.
QString ReplaceAll(const QString &text, const QRegularExpression &pattern,
                   const std::function<QString(const QRegularExpressionMatch &)> &reading)
{
    QString out;
    qsizetype last = 0;
    auto it = pattern.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        out += text.mid(last, m.capturedStart() - last);
        out += reading(m);
        last = m.capturedEnd();
    }
    return out + text.mid(last);
}

struct Reading
{
    QString word;
    QString reading;
};

// The operator's readings, reloaded when the file changes.
class OperatorTable
{
public:
    std::vector<Reading> Get()
    {
        QMutexLocker lock(&m_mutex);
        const QString path = m_pathOverride.isEmpty() ? DefaultPath() : m_pathOverride;
        const QFileInfo info(path);
        const QDateTime modified = info.exists() ? info.lastModified() : QDateTime();
        if (path != m_path || modified != m_modified || info.size() != m_size) {
            m_path = path;
            m_modified = modified;
            m_size = info.size();
            m_readings = Load(path);
        }
        return m_readings;
    }
    void UsePath(const QString &path)
    {
        QMutexLocker lock(&m_mutex);
        m_pathOverride = path;
        m_path.clear();
    }
    static QString DefaultPath() { return AppPaths::DataDir() + QStringLiteral("/pronunciation.txt"); }

private:
    static std::vector<Reading> Load(const QString &path)
    {
        std::vector<Reading> readings;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return readings;
        int number = 0;
        for (const QByteArray &raw : file.readAll().split('\n')) {
            ++number;
            const QString line = QString::fromUtf8(raw).trimmed();
            if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
                continue;
            const qsizetype eq = line.indexOf(QLatin1Char('='));
            const QString word = line.left(eq).trimmed(), reading = line.mid(eq + 1).trimmed();
            if (eq <= 0 || word.isEmpty() || reading.isEmpty() || reading.contains(QLatin1Char('='))) {
                PLOG(LOG_WARNING, "%s line %d is not word=reading, skipped", qPrintable(path), number);
                continue;
            }
            readings.push_back({word, reading});
        }
        return readings;
    }

    QMutex m_mutex;
    QString m_pathOverride, m_path;
    QDateTime m_modified;
    qint64 m_size = -1;
    std::vector<Reading> m_readings;
};

OperatorTable &Operator()
{
    static OperatorTable table;
    return table;
}

// Replaces table words, longest first, never inside what was put in.
QString ApplyReadings(const QString &text, std::vector<Reading> readings)
{
    std::stable_sort(readings.begin(), readings.end(),
                     [](const Reading &a, const Reading &b) { return a.word.size() > b.word.size(); });
    QString out;
    qsizetype i = 0;
    while (i < text.size()) {
        const Reading *hit = nullptr;
        for (const Reading &r : readings)
            if (text.mid(i, r.word.size()) == r.word) {
                hit = &r;
                break;
            }
        if (hit) {
            out += hit->reading;
            i += hit->word.size();
        } else {
            out += text.at(i++);
        }
    }
    return out;
}

QString LatinWords(const QString &text)
{
    static const QRegularExpression word(QStringLiteral("[A-Za-z]+"));
    return ReplaceAll(text, word, [](const QRegularExpressionMatch &m) {
        const QString w = m.captured();
        if (w == w.toUpper()) { // an abbreviation: letter by letter
            QStringList letters;
            for (const QChar c : w)
                letters << QString::fromLatin1(kLetters[c.unicode() - 'A']);
            return letters.join(QLatin1Char(' ')) + QLatin1Char(' ');
        }
        return w.toLower();
    });
}

} // namespace

QString TextNormalizer::ReadInteger(qint64 n, bool leadingTwo)
{
    if (n == 0)
        return QStringLiteral("零");
    if (n >= 1000000000000LL)
        return Digits(QString::number(n));
    static const QString big[] = {QString(), QStringLiteral("万"), QStringLiteral("亿")};
    QList<int> groups; // lowest first
    for (qint64 rest = n; rest > 0; rest /= 10000)
        groups << int(rest % 10000);
    QString out;
    bool pendingZero = false;
    for (int g = int(groups.size()) - 1; g >= 0; --g) {
        const int group = groups[g];
        const bool leading = out.isEmpty();
        if (group == 0) {
            pendingZero = !out.isEmpty();
            continue;
        }
        // A whole group of zeros between is read as one 零; a short group
        // reads its own leading 零.
        if (!leading && pendingZero && group >= 1000)
            out += QStringLiteral("零");
        pendingZero = false;
        // 两 leads a 百/千/万/亿 only at the very start of the number.
        QString read = ReadGroup(group, leading, leadingTwo && leading);
        if (leading && leadingTwo && group == 2 && g > 0)
            read = QStringLiteral("两");
        out += read + big[g];
    }
    return out;
}

QString TextNormalizer::NormalizeNumbers(const QString &input)
{
    QString text = input;
    // Digit groups joined by dashes, and long digit strings: digit by digit.
    static const QRegularExpression dashed(QStringLiteral("\\d+(?:-\\d+)+"));
    text = ReplaceAll(text, dashed, [](const QRegularExpressionMatch &m) {
        return Digits(m.captured()).replace(QLatin1Char('-'), QStringLiteral("，"));
    });
    static const QRegularExpression keyed(
        QStringLiteral("(尾号|电话|号码|密码|编号|手机|热线|验证码|卡号|工号|账号|房间|房号)(是|为|：|:)?(\\d+)"));
    text = ReplaceAll(text, keyed, [](const QRegularExpressionMatch &m) {
        return m.captured(1) + m.captured(2) + Digits(m.captured(3));
    });
    static const QRegularExpression year(QStringLiteral("(\\d{4})年"));
    text = ReplaceAll(text, year, [](const QRegularExpressionMatch &m) { return Digits(m.captured(1)) + QStringLiteral("年"); });
    static const QRegularExpression longDigits(QStringLiteral("\\d{7,}"));
    text = ReplaceAll(text, longDigits, [](const QRegularExpressionMatch &m) { return Digits(m.captured()); });
    // Clock times.
    static const QRegularExpression clock(QStringLiteral("(\\d{1,2})[:：](\\d{2})"));
    text = ReplaceAll(text, clock, [](const QRegularExpressionMatch &m) {
        const int hour = m.captured(1).toInt(), minute = m.captured(2).toInt();
        const QString h = hour == 2 ? QStringLiteral("两") : ReadInteger(hour, false);
        if (minute == 0)
            return h + QStringLiteral("点整");
        return h + QStringLiteral("点") + (minute < 10 ? QStringLiteral("零") : QString())
               + ReadInteger(minute, false) + QStringLiteral("分");
    });
    // Percentages and discounts.
    static const QRegularExpression percent(QStringLiteral("(\\d+)(?:\\.(\\d+))?[%％]"));
    text = ReplaceAll(text, percent, [](const QRegularExpressionMatch &m) {
        const QString whole = ReadInteger(m.captured(1).toLongLong(), false);
        return QStringLiteral("百分之") + whole
               + (m.captured(2).isEmpty() ? QString() : QStringLiteral("点") + Digits(m.captured(2)));
    });
    static const QRegularExpression discount(QStringLiteral("(\\d)(?:\\.(\\d+)|(\\d))?折"));
    text = ReplaceAll(text, discount, [](const QRegularExpressionMatch &m) {
        if (!m.captured(2).isEmpty())
            return Digits(m.captured(1)) + QStringLiteral("点") + Digits(m.captured(2)) + QStringLiteral("折");
        return Digits(m.captured(1) + m.captured(3)) + QStringLiteral("折");
    });
    // Decimals, then whole numbers.
    static const QRegularExpression decimal(QStringLiteral("(\\d+)\\.(\\d+)"));
    text = ReplaceAll(text, decimal, [](const QRegularExpressionMatch &m) { return ReadDecimal(m.captured(1), m.captured(2)); });
    static const QRegularExpression whole(QStringLiteral("\\d+"));
    const QString source = text;
    text = ReplaceAll(source, whole, [&source](const QRegularExpressionMatch &m) {
        return ReadNumberText(m.captured(), source, m.capturedStart(), m.capturedEnd());
    });
    return text;
}

QString TextNormalizer::Normalize(const QString &input)
{
    QString text = NormalizeNumbers(input);
    text = LatinWords(text);
    std::vector<Reading> readings = Operator().Get();
    for (const auto &[word, reading] : kBuiltInReadings) {
        const QString w = QString::fromUtf8(word);
        const bool overridden =
            std::any_of(readings.begin(), readings.end(), [&w](const Reading &r) { return r.word == w; });
        if (!overridden)
            readings.push_back({w, QString::fromUtf8(reading)});
    }
    return ApplyReadings(text, std::move(readings)).simplified();
}

QString TextNormalizer::OperatorFilePath()
{
    return OperatorTable::DefaultPath();
}

void TextNormalizer::UseOperatorFile(const QString &path)
{
    Operator().UsePath(path);
}
