#include "speech/TextNormalizer.h"

#include "core/AppPaths.h"
#include "core/Log.h"
#include "core/SmallFile.h"
#include "speech/WordReadings.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <functional>
#include <iterator>
#include <vector>

namespace {

const QString kDigits = QStringLiteral("零一二三四五六七八九");

// Readings that later steps must leave alone are written in pinyin whose
// tone digits are held as private-use characters until the end, so that
// no number step reads them as digits; 一 written as yi1 keeps its tone.
constexpr ushort kToneMark = 0xE000; // + tone 1..5

QString Py(const char *pinyin)
{
    QString out(QLatin1Char(' '));
    for (const char *p = pinyin; *p; ++p)
        out += (*p >= '1' && *p <= '5') ? QChar(ushort(kToneMark + (*p - '0'))) : QChar::fromLatin1(*p);
    return out + QLatin1Char(' ');
}

bool IsToneMark(QChar c)
{
    return c.unicode() > kToneMark && c.unicode() <= kToneMark + 5;
}

QString RestoreToneDigits(QString text)
{
    for (QChar &c : text)
        if (IsToneMark(c))
            c = QChar::fromLatin1(char('0' + (c.unicode() - kToneMark)));
    return text;
}

const QString kYi1 = Py("yi1");

// Measure words and units after which 2 is read 两 (两斤, 两个月, 两小时).
const QStringList kMeasures = {
    QStringLiteral("个月"), QStringLiteral("小时"), QStringLiteral("公斤"), QStringLiteral("公里"),
    QStringLiteral("平方米"), QStringLiteral("千克"), QStringLiteral("分钟"), QStringLiteral("厘米"),
    QStringLiteral("毫升"), QStringLiteral("毫米"), QStringLiteral("星期"), QStringLiteral("礼拜"),
    QStringLiteral("斤"), QStringLiteral("个"), QStringLiteral("毛"), QStringLiteral("块"), QStringLiteral("元"),
    QStringLiteral("角"), QStringLiteral("位"), QStringLiteral("件"), QStringLiteral("盒"), QStringLiteral("瓶"),
    QStringLiteral("袋"), QStringLiteral("包"), QStringLiteral("箱"), QStringLiteral("台"), QStringLiteral("天"),
    QStringLiteral("年"), QStringLiteral("周"), QStringLiteral("岁"), QStringLiteral("次"), QStringLiteral("条"),
    QStringLiteral("张"), QStringLiteral("把"), QStringLiteral("只"), QStringLiteral("双"), QStringLiteral("对"),
    QStringLiteral("份"), QStringLiteral("杯"), QStringLiteral("碗"), QStringLiteral("样"), QStringLiteral("家"),
    QStringLiteral("种"), QStringLiteral("名"), QStringLiteral("人"), QStringLiteral("点"), QStringLiteral("本"),
    QStringLiteral("支"), QStringLiteral("根"), QStringLiteral("颗"), QStringLiteral("枚"), QStringLiteral("辆"),
    QStringLiteral("间"), QStringLiteral("遍"), QStringLiteral("倍"), QStringLiteral("米"), QStringLiteral("升"),
    QStringLiteral("克"), QStringLiteral("吨"), QStringLiteral("寸"), QStringLiteral("罐"), QStringLiteral("束"),
    QStringLiteral("套"), QStringLiteral("笼"), QStringLiteral("桶"), QStringLiteral("排"), QStringLiteral("粒"),
};

// Words after which a digit string is a code read digit by digit.
const QString kCodeKeys = QStringLiteral(
    "订单尾号|订单号|单号|取餐号|取餐码|取件码|取货码|提货码|验证码|尾号|卡号|工号|账号|房间号|房号|密码|编号|会员号|"
    "车牌号|车牌|号码牌|号码|包厢|包间|桌号|(?:后|末)(?:四|4)位");

// License plates begin with a province's one-character name.
const QString kProvinces = QStringLiteral("京津沪渝冀豫云辽黑湘皖鲁新苏浙赣鄂桂甘晋蒙陕吉闽贵粤青藏川宁琼");

// Letters as Mandarin speakers say them, so an abbreviation stays in the voice.
const char *const kLetters[26] = {"ei1",     "bi4",   "xi1",   "di4",    "yi4",   "ai2fu1", "ji4",
                                  "ai2qi1",  "ai4",   "jie4",  "kai4",   "ai2le1", "ai2mu1", "en1",
                                  "ou1",     "pi1",   "kiu1",  "a4",     "ai2si1", "ti4",   "you1",
                                  "wei1",    "da2bu2liu1", "ai4ke4si1", "wai4", "zei4"};

// Characters the synthesizer reads in the fourth tone (一 and 不 change
// before them).
const QSet<QChar> &FourthTone()
{
    static const QSet<QChar> set = [] {
        QSet<QChar> chars;
        const QString all = QString::fromUtf8(
#include "speech/FourthTone.inc"
        );
        for (const QChar c : all)
            chars.insert(c);
        chars.insert(QChar(0x4E2A)); // 个: yí gè, though read light on its own
        return chars;
    }();
    return set;
}

bool IsHan(QChar c)
{
    return c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF;
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

QRegularExpression Pattern(const QString &pattern)
{
    return QRegularExpression(pattern, QRegularExpression::UseUnicodePropertiesOption);
}

struct Reading
{
    QString word;
    QString reading;
};

// The operator's readings, reloaded when the file changes. The word "1"
// sets how 1 is read in codes and phone numbers (yao1 unless the file
// says otherwise).
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
        QByteArray bytes;
        const SmallFile::Result read = SmallFile::Read(path, TextNormalizer::kOperatorFileMaxBytes, &bytes);
        if (read != SmallFile::Result::Ok && read != SmallFile::Result::Missing)
            PLOG(LOG_WARNING, "%s: %s, no readings of the operator used", qPrintable(path), SmallFile::Describe(read));
        int number = 0;
        for (const QByteArray &raw : bytes.split('\n')) {
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
            if (readings.size() >= size_t(TextNormalizer::kOperatorFileMaxLines)) {
                PLOG(LOG_WARNING, "%s: only the first %d readings are used", qPrintable(path),
                     TextNormalizer::kOperatorFileMaxLines);
                break;
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

// How the digits of one text are read: 1 in codes as yao1 unless the
// operator's file says "1=…".
struct DigitStyle
{
    QString codeOne = Py("yao1");
};

// Digit by digit, as in a year or a level (一 stays yī).
QString Digits(const QString &digits)
{
    QString out;
    for (const QChar c : digits) {
        if (!c.isDigit())
            out += c;
        else if (c == QLatin1Char('1'))
            out += kYi1;
        else
            out += kDigits.at(c.digitValue());
    }
    return out;
}

// Digit by digit, as in a phone number or an order number (1 is yāo).
QString CodeDigits(const QString &code, const DigitStyle &style)
{
    QString out;
    for (const QChar c : code) {
        if (c == QLatin1Char('1'))
            out += style.codeOne;
        else if (c.isDigit())
            out += kDigits.at(c.digitValue());
        else if (c.isUpper() && c.unicode() < 128)
            out += Py(kLetters[c.unicode() - 'A']);
        else
            out += c;
    }
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
        else if (digit == 1 && place == 1)
            out += kYi1 + units[1]; // 一百一十: yī before 十
        else
            out += kDigits.at(digit) + units[place];
        first = false;
    }
    return out;
}

bool MeasureFollows(const QString &text, qsizetype at)
{
    return std::any_of(kMeasures.begin(), kMeasures.end(),
                       [&](const QString &m) { return QStringView(text).mid(at).startsWith(m); });
}

// A whole number in its context: 2 before a measure word is 两, but 二 in
// ordinals (第2, 2号), months and 二两; digit strings that are codes
// (leading 0, or long and without a unit) digit by digit.
QString ReadNumberInContext(const QString &digits, const QString &text, qsizetype start, qsizetype end,
                            const DigitStyle &style)
{
    const QChar before = start > 0 ? text.at(start - 1) : QChar();
    const QStringView after = QStringView(text).mid(end);
    const bool measured = MeasureFollows(text, end) || after.startsWith(QStringLiteral("万"))
                          || after.startsWith(QStringLiteral("亿"));
    if (digits.size() > 1 && digits.startsWith(QLatin1Char('0')))
        return CodeDigits(digits, style);
    if (digits.size() > 12 || (digits.size() > 6 && !measured))
        return CodeDigits(digits, style);
    const qint64 n = digits.toLongLong();
    const bool ordinal = before == QChar(0x7B2C) /* 第 */ || after.startsWith(QChar(0x53F7)) /* 号 */;
    if (n == 2) {
        const bool pricePart = before == QChar(0x6BDB) /* 毛 */ || before == QChar(0x5206) /* 分 */;
        const bool weightTwo = after.startsWith(QChar(0x4E24)); // 二两
        if (!ordinal && !pricePart && !weightTwo && measured)
            return QStringLiteral("两");
        return QStringLiteral("二");
    }
    return TextNormalizer::ReadInteger(n, !ordinal);
}

// A decimal: trailing zeros are not read (8.80元 八点八元), 1.5 is yī diǎn wǔ.
QString ReadDecimal(const QString &whole, QString fraction)
{
    while (fraction.endsWith(QLatin1Char('0')))
        fraction.chop(1);
    const QString integer = whole == QLatin1String("1") ? kYi1 : TextNormalizer::ReadInteger(whole.toLongLong(), false);
    return fraction.isEmpty() ? integer : integer + QStringLiteral("点") + Digits(fraction);
}

// H:MM as 八点整, 八点三十分; in a range the full hour drops its 整.
QString ReadClock(int hour, int minute, bool inRange)
{
    const QString h = hour == 2 ? QStringLiteral("两") : hour == 1 ? kYi1 : TextNormalizer::ReadInteger(hour, false);
    if (minute == 0)
        return h + (inRange ? QStringLiteral("点") : QStringLiteral("点整"));
    return h + QStringLiteral("点") + (minute < 10 ? QStringLiteral("零") : QString())
           + TextNormalizer::ReadInteger(minute, false) + QStringLiteral("分");
}

// ---- Preparation: one spelling for every sign ----

// Full-width digits, letters and signs become their ASCII forms; thousands
// separators and the zeros of whole amounts (2.00元) go; ¥ amounts end in
// 元; units after a number and comparison signs become words.
QString Prepare(QString text)
{
    for (QChar &c : text) {
        const ushort u = c.unicode();
        if ((u >= 0xFF10 && u <= 0xFF19) || (u >= 0xFF21 && u <= 0xFF3A) || (u >= 0xFF41 && u <= 0xFF5A)
            || u == 0xFF05 || u == 0xFF0E || u == 0xFF0B || u == 0xFF0F || u == 0xFF0D)
            c = QChar(u - 0xFEE0);
        else if (u == 0xFF5E || u == 0x301C)
            c = QLatin1Char('~');
        else if (u == 0xFFE5)
            c = QChar(0xA5); // ¥
        else if (u == 0x2212)
            c = QLatin1Char('-');
        else if (u == 0x2022 || u == 0x30FB)
            c = QChar(0xB7); // ·
    }
    text.replace(QChar(0x2265), QStringLiteral("大于等于")).replace(QChar(0x2264), QStringLiteral("小于等于"));
    if (!std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 128 && c.isDigit(); }))
        return text;
    static const QRegularExpression thousands(QStringLiteral("(?<![\\d.])\\d{1,3}(?:,\\d{3})+(?![\\d,])"));
    text = ReplaceAll(text, thousands, [](const QRegularExpressionMatch &m) { return m.captured().remove(QLatin1Char(',')); });
    static const QRegularExpression yen(QStringLiteral("¥\\s*(\\d+(?:\\.\\d+)?)(元)?"));
    text = ReplaceAll(text, yen, [](const QRegularExpressionMatch &m) { return m.captured(1) + QStringLiteral("元"); });
    static const QRegularExpression wholeAmount(QStringLiteral("(?<![\\d.])(\\d+)\\.0+(?=\\s*[元块])"));
    text.replace(wholeAmount, QStringLiteral("\\1"));
    static const std::pair<QRegularExpression, QString> units[] = {
        {QRegularExpression(QStringLiteral("(?<=\\d)\\s*(?:km|KM|Km)/h(?![A-Za-z])")), QStringLiteral("公里每小时")},
        {QRegularExpression(QStringLiteral("(?<=\\d)\\s*(?:m²|m2|㎡)(?![A-Za-z])")), QStringLiteral("平方米")},
        {QRegularExpression(QStringLiteral("(?<=\\d)\\s*(?:kg|KG|Kg|㎏)(?![A-Za-z])")), QStringLiteral("公斤")},
        {QRegularExpression(QStringLiteral("(?<=\\d)\\s*(?:km|KM|Km|㎞)(?![A-Za-z])")), QStringLiteral("公里")},
        {QRegularExpression(QStringLiteral("(?<=\\d)\\s*(?:cm|CM|㎝)(?![A-Za-z])")), QStringLiteral("厘米")},
        {QRegularExpression(QStringLiteral("(?<=\\d)\\s*(?:mm|MM|㎜)(?![A-Za-z])")), QStringLiteral("毫米")},
        {QRegularExpression(QStringLiteral("(?<=\\d)\\s*(?:ml|mL|ML|㎖)(?![A-Za-z])")), QStringLiteral("毫升")},
        {QRegularExpression(QStringLiteral("(?<=\\d)\\s*(?:mg|MG)(?![A-Za-z])")), QStringLiteral("毫克")},
        // A capital G after a number is a generation or a size (4G, 128G),
        // a small g a weight.
        {QRegularExpression(QStringLiteral("(?<=\\d)\\s*g(?![A-Za-z])")), QStringLiteral("克")},
        {QRegularExpression(QStringLiteral("(?<=\\d)\\s*(?:l|L)(?![A-Za-z])")), QStringLiteral("升")},
        {QRegularExpression(QStringLiteral("(?<=\\d)\\s*(?:m|M)(?![A-Za-z])")), QStringLiteral("米")},
        {QRegularExpression(QStringLiteral("(?<=\\d)\\s*(?:℃|°C|°c)")), QStringLiteral("摄氏度")},
        {QRegularExpression(QStringLiteral("(?<=[\\d升克米])\\s*[×xX*]\\s*(?=\\d)")), QStringLiteral("乘")},
    };
    for (const auto &[pattern, word] : units)
        text.replace(pattern, word);
    return text;
}

// ---- Telephone: digit by digit, groups apart ----

QString PhoneDigits(const QString &number, const DigitStyle &style)
{
    QString out;
    for (const QChar c : number) {
        if (c.isDigit())
            out += c == QLatin1Char('1') ? style.codeOne : kDigits.at(c.digitValue());
        else if (!out.isEmpty() && !out.endsWith(QStringLiteral("，")))
            out += QStringLiteral("，"); // a dash or a blank between groups
    }
    return out;
}

QString ReadTelephones(QString text, const DigitStyle &style)
{
    // After a word that announces a number: hotlines and short service
    // numbers too, in groups or not, with an extension after 转.
    static const QRegularExpression keyed(QStringLiteral(
        "(拨打|致电|热线|电话|手机|来电|分机|联系方式)(\\s*[：:]?\\s*(?:为|是)?\\s*)(\\d(?:[\\d\\-]| (?=\\d))*\\d)(?:(转)(\\d+))?"));
    text = ReplaceAll(text, keyed, [&style](const QRegularExpressionMatch &m) {
        QString out = m.captured(1) + m.captured(2) + PhoneDigits(m.captured(3), style);
        if (!m.captured(4).isEmpty())
            out += m.captured(4) + PhoneDigits(m.captured(5), style);
        return out;
    });
    // Without one: mobiles (3-4-4), landlines with their area code, 400
    // and 800 numbers.
    static const QRegularExpression shaped(QStringLiteral(
        "(?<![\\d\\-.:])(?:1[3-9]\\d(?:[\\- ]?\\d{4}){2}|0\\d{2,3}-\\d{3,4}[\\- ]?\\d{4}|[48]00\\d?[\\- ]\\d{3,4}[\\- ]\\d{3,4}|[48]00\\d{7})(?![\\d\\-])"));
    text = ReplaceAll(text, shaped, [&style](const QRegularExpressionMatch &m) { return PhoneDigits(m.captured(), style); });
    // Long groups of digits joined by dashes are a number to dial, not a
    // range (123-456-789, 021-6543210).
    static const QRegularExpression grouped(QStringLiteral(
        "(?<![\\d\\-.:])(?:\\d{3,}(?:-\\d{3,}){2,}|\\d{3,}-\\d{6,}|0\\d{2,3}-\\d{5,})(?![\\d\\-])"));
    return ReplaceAll(text, grouped, [&style](const QRegularExpressionMatch &m) { return PhoneDigits(m.captured(), style); });
}

// ---- Codes: orders, pickups, cards, rooms, plates, bays ----

// A code's dashes are read 杠, as announcers read 3-1-502.
QString DashedCode(const QString &code, const DigitStyle &style)
{
    return CodeDigits(code, style).replace(QLatin1Char('-'), QStringLiteral("杠"));
}

QString ReadCodes(QString text, const DigitStyle &style)
{
    static const QRegularExpression keyed(
        QStringLiteral("(%1)(\\s*[：:]?\\s*(?:为|是)?\\s*)([A-Z]{0,3}\\d[\\dA-Z]*(?:-[\\dA-Z]+)*)").arg(kCodeKeys));
    text = ReplaceAll(text, keyed, [&style](const QRegularExpressionMatch &m) {
        return m.captured(1) + m.captured(2) + DashedCode(m.captured(3), style);
    });
    static const QRegularExpression room(QStringLiteral("(?<![\\d.\\-])(\\d{3,4})(?=房间|包间|包厢|号房)"));
    text = ReplaceAll(text, room, [&style](const QRegularExpressionMatch &m) { return CodeDigits(m.captured(), style); });
    static const QRegularExpression plate(
        QStringLiteral("([%1])\\s*([A-Z])\\s*·?\\s*([A-Z\\d]{4,6})(?![A-Za-z\\d])").arg(kProvinces));
    text = ReplaceAll(text, plate, [&style](const QRegularExpressionMatch &m) {
        return m.captured(1) + CodeDigits(m.captured(2) + m.captured(3), style);
    });
    // A parking bay: its level as a level (C3, F1), the bay as a code.
    static const QRegularExpression bay(QStringLiteral("(?<![A-Za-z\\d])([A-Z])(\\d{1,2})-(\\d{2,4})(?![\\d\\-])"));
    text = ReplaceAll(text, bay, [&style](const QRegularExpressionMatch &m) {
        return CodeDigits(m.captured(1), style) + Digits(m.captured(2)) + QStringLiteral("杠")
               + CodeDigits(m.captured(3), style);
    });
    // Building, unit and room (3-1-502), a locker (8-2-1035).
    static const QRegularExpression dashed(QStringLiteral("(?<![\\d\\-.:])\\d{1,3}(?:-\\d{1,4}){2,}(?![\\d\\-])"));
    text = ReplaceAll(text, dashed, [&style](const QRegularExpressionMatch &m) { return DashedCode(m.captured(), style); });
    // A level or zone (B1, B2层) keeps its number's own reading.
    static const QRegularExpression level(
        QStringLiteral("(?<![A-Za-z\\d])([A-Z])(\\d)(?![A-Za-z\\d\\-.])|(?<![A-Za-z\\d])([A-Z])(\\d{2})(?=[层楼区馆座栋])"));
    text = ReplaceAll(text, level, [](const QRegularExpressionMatch &m) {
        const int letter = m.captured(1).isEmpty() ? 3 : 1;
        return CodeDigits(m.captured(letter), DigitStyle()) + Digits(m.captured(letter + 1));
    });
    static const QRegularExpression lettered(QStringLiteral("(?<![A-Za-z\\d])([A-Z]{1,3})(\\d{2,})(?![A-Za-z\\d])"));
    return ReplaceAll(text, lettered, [&style](const QRegularExpressionMatch &m) { return CodeDigits(m.captured(), style); });
}

// ---- Dates ----

QString ReadMonthDay(int month, int day, const QString &dayWord)
{
    auto part = [](int n) { return n == 1 ? kYi1 : TextNormalizer::ReadInteger(n, false); };
    QString out = part(month) + QStringLiteral("月");
    if (day > 0)
        out += part(day) + dayWord;
    return out;
}

bool IsDate(int month, int day)
{
    return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

QString ReadDates(QString text)
{
    // 2027/1/15, 2026-10-01, 2026.10.1
    static const QRegularExpression ymd(QStringLiteral("(?<![\\d.])(\\d{4})([/\\-.])(\\d{1,2})\\2(\\d{1,2})(?![\\d.])"));
    text = ReplaceAll(text, ymd, [](const QRegularExpressionMatch &m) {
        const int month = m.captured(3).toInt(), day = m.captured(4).toInt();
        if (!IsDate(month, day))
            return m.captured();
        return Digits(m.captured(1)) + QStringLiteral("年") + ReadMonthDay(month, day, QStringLiteral("日"));
    });
    // 12/30至1/3: month and day only where two of them make a span.
    static const QRegularExpression mdSpan(
        QStringLiteral("(?<![\\d/.])(\\d{1,2})/(\\d{1,2})\\s*(至|到|-|~|—)\\s*(\\d{1,2})/(\\d{1,2})(?![\\d/])"));
    text = ReplaceAll(text, mdSpan, [](const QRegularExpressionMatch &m) {
        const int m1 = m.captured(1).toInt(), d1 = m.captured(2).toInt(), m2 = m.captured(4).toInt(), d2 = m.captured(5).toInt();
        if (!IsDate(m1, d1) || !IsDate(m2, d2))
            return m.captured();
        const QString to = m.captured(3) == QStringLiteral("至") ? m.captured(3) : QStringLiteral("到");
        return ReadMonthDay(m1, d1, QStringLiteral("日")) + to + ReadMonthDay(m2, d2, QStringLiteral("日"));
    });
    // Shopping festivals named by their date: 618, 1212, 5.20 digit by digit.
    static const QRegularExpression festival(QStringLiteral(
        "(?<![\\d.])(618|520|1111|1212|11\\.11|12\\.12|5\\.20)(?=\\s*(?:年中|节|当天|大促|购物|狂欢|活动|期间|特惠|促销|预售))"));
    text = ReplaceAll(text, festival, [](const QRegularExpressionMatch &m) {
        return CodeDigits(m.captured().remove(QLatin1Char('.')), DigitStyle());
    });
    static const QRegularExpression monthDay(QStringLiteral("(?<![\\d.])(\\d{1,2})月(?:(\\d{1,2})([日号]))?"));
    text = ReplaceAll(text, monthDay, [](const QRegularExpressionMatch &m) {
        return ReadMonthDay(m.captured(1).toInt(), m.captured(2).isEmpty() ? 0 : m.captured(2).toInt(), m.captured(3));
    });
    static const QRegularExpression year(QStringLiteral("(?<![\\d.])(\\d{4})年(?!级)"));
    return ReplaceAll(text, year, [](const QRegularExpressionMatch &m) { return Digits(m.captured(1)) + QStringLiteral("年"); });
}

// ---- Times and ratios ----

// A colon between numbers is a ratio (比) unless it reads as a clock
// time: two-digit minutes, an hour of the day, and no 按/比例/以 before.
bool IsRatio(const QString &text, qsizetype start, const QString &left, const QString &right)
{
    if (right.size() != 2 || left.toInt() > 24 || right.toInt() > 59)
        return true;
    const QStringView before = QStringView(text).mid(qMax<qsizetype>(0, start - 4), qMin<qsizetype>(4, start));
    return before.contains(QChar(0x6309)) /* 按 */ || before.contains(QChar(0x6BD4)) /* 比 */
           || before.endsWith(QChar(0x4EE5)) /* 以 */;
}

QString ReadTimes(QString text)
{
    static const QRegularExpression ratio(QStringLiteral("(?<![\\d:：.])(\\d+)[:：](\\d+)(?![\\d:：])"));
    const QString source = text;
    text = ReplaceAll(source, ratio, [&source](const QRegularExpressionMatch &m) {
        if (!IsRatio(source, m.capturedStart(), m.captured(1), m.captured(2)))
            return m.captured();
        auto side = [](const QString &n) { return n == QLatin1String("1") ? kYi1 : n; };
        return side(m.captured(1)) + QStringLiteral("比") + side(m.captured(2));
    });
    static const QRegularExpression clockRange(QStringLiteral(
        "(\\d{1,2})[:：](\\d{2})\\s*(-|~|—|–|到|至)\\s*(次日)?(\\d{1,2})[:：](\\d{2})"));
    text = ReplaceAll(text, clockRange, [](const QRegularExpressionMatch &m) {
        const QString to = m.captured(3) == QStringLiteral("至") ? m.captured(3) : QStringLiteral("到");
        return ReadClock(m.captured(1).toInt(), m.captured(2).toInt(), true) + to + m.captured(4)
               + ReadClock(m.captured(5).toInt(), m.captured(6).toInt(), true);
    });
    // 12:00整 already says its 整.
    static const QRegularExpression clock(QStringLiteral("(?<!\\d)(\\d{1,2})[:：](\\d{2})(?!\\d)(整)?"));
    return ReplaceAll(text, clock, [](const QRegularExpressionMatch &m) {
        return ReadClock(m.captured(1).toInt(), m.captured(2).toInt(), false);
    });
}

// ---- Ranges and signs ----

// A number that may carry a minus: 零下 before a temperature, else 负.
QString Signed(const QString &number, bool temperature)
{
    if (!number.startsWith(QLatin1Char('-')))
        return number;
    return (temperature ? QStringLiteral("零下") : QStringLiteral("负")) + number.mid(1);
}

bool TemperatureFollows(const QString &text, qsizetype at)
{
    const QStringView after = QStringView(text).mid(at).trimmed();
    return after.startsWith(QStringLiteral("摄氏度")) || after.startsWith(QChar(0x5EA6)); // 度
}

// Where a minus may stand: at the start, after a blank, a punctuation
// mark or a word; never after a digit, a letter or a number's word.
const QString kMinusAfter = QStringLiteral("(?<![\\dA-Za-z\\x{E001}-\\x{E005}点号日月元折岁%‰\\)）])");

QString ReadRanges(QString text)
{
    static const QRegularExpression range(
        kMinusAfter + QStringLiteral("(-?\\d{1,5}(?:\\.\\d+)?)\\s*(?:-|~|—|–)\\s*(-?\\d{1,5}(?:\\.\\d+)?)(?![\\d\\-])"));
    const QString source = text;
    text = ReplaceAll(source, range, [&source](const QRegularExpressionMatch &m) {
        const bool temperature = TemperatureFollows(source, m.capturedEnd());
        // 两到三元: the first number takes the unit's 两 too.
        const bool two = m.captured(1) == QLatin1String("2") && MeasureFollows(source, m.capturedEnd());
        return (two ? QStringLiteral("两") : Signed(m.captured(1), temperature)) + QStringLiteral("到")
               + Signed(m.captured(2), temperature);
    });
    // 3点-5点, 10月1日-7日: a dash after a number's word is 到.
    static const QRegularExpression after(QStringLiteral("(?<=[\\d点号日月元折岁%])\\s*[-~—–]\\s*(?=-?\\d)"));
    text.replace(after, QStringLiteral("到"));
    static const QRegularExpression minus(kMinusAfter + QStringLiteral("-(\\d+(?:\\.\\d+)?)"));
    const QString signedSource = text;
    return ReplaceAll(signedSource, minus, [&signedSource](const QRegularExpressionMatch &m) {
        return Signed(m.captured(), TemperatureFollows(signedSource, m.capturedEnd()));
    });
}

// Fractions, percentages, discounts; a slash after a unit is 每.
QString ReadShares(QString text)
{
    static const QRegularExpression fraction(QStringLiteral("(?<![\\d/])(\\d{1,4})/(\\d{1,4})(?![\\d/])"));
    text = ReplaceAll(text, fraction, [](const QRegularExpressionMatch &m) {
        return m.captured(2) + QStringLiteral("分之") + m.captured(1);
    });
    static const QRegularExpression percent(QStringLiteral("(\\d+(?:\\.\\d+)?)\\s*([%‰])"));
    text = ReplaceAll(text, percent, [](const QRegularExpressionMatch &m) {
        return (m.captured(2) == QLatin1String("%") ? QStringLiteral("百分之") : QStringLiteral("千分之")) + m.captured(1);
    });
    static const QRegularExpression discount(QStringLiteral("(?<![\\d.])(\\d)(?:\\.(\\d)|(\\d))?折"));
    text = ReplaceAll(text, discount, [](const QRegularExpressionMatch &m) {
        const QString first = m.captured(1) == QLatin1String("1") ? QStringLiteral("一") : Digits(m.captured(1));
        if (!m.captured(2).isEmpty())
            return first + QStringLiteral("点") + Digits(m.captured(2)) + QStringLiteral("折");
        return first + Digits(m.captured(3)) + QStringLiteral("折");
    });
    static const QRegularExpression perUnit(QStringLiteral("(?<=[元块角斤克米升])\\s*/\\s*(?=\\p{Han})"));
    return text.replace(perUnit, QStringLiteral("每"));
}

QString ReadPlainNumbers(QString text, const DigitStyle &style)
{
    static const QRegularExpression decimal(QStringLiteral("(\\d+)\\.(\\d+)"));
    text = ReplaceAll(text, decimal, [](const QRegularExpressionMatch &m) { return ReadDecimal(m.captured(1), m.captured(2)); });
    static const QRegularExpression whole(QStringLiteral("\\d+"));
    const QString source = text;
    return ReplaceAll(source, whole, [&source, &style](const QRegularExpressionMatch &m) {
        return ReadNumberInContext(m.captured(), source, m.capturedStart(), m.capturedEnd(), style);
    });
}

// ---- Separators: words or pauses, never read out as signs ----

QString ReadSeparators(QString text)
{
    static const std::pair<QRegularExpression, QString> rules[] = {
        {QRegularExpression(QStringLiteral("——+")), QStringLiteral("，")},
        {QRegularExpression(QStringLiteral("(?<=\\p{Han})\\s*[-~—–]\\s*(?=\\p{Han})")), QStringLiteral("到")},
        {QRegularExpression(QStringLiteral("(?<=\\p{Han})\\s*/\\s*(?=\\p{Han})")), QStringLiteral("或")},
        {QRegularExpression(QStringLiteral("(?<=[A-Za-z])\\s*&\\s*(?=[A-Za-z])")), QStringLiteral(" 和 ")},
        {QRegularExpression(QStringLiteral("(?<=[A-Za-z])-(?=[A-Za-z])")), QStringLiteral(" ")},
        {QRegularExpression(QStringLiteral("[·•]")), QString()},
        {QRegularExpression(QStringLiteral("[-~—–/\\\\|_]")), QStringLiteral("，")},
        {QRegularExpression(QStringLiteral(":")), QStringLiteral("：")},
    };
    for (const auto &[pattern, word] : rules)
        text.replace(pattern, word);
    return text;
}

// ---- Words: the operator's first, then the built-in table ----

// The operator's words first, longest first, as they are written; then
// every run of characters between them by the built-in table.
QString ApplyReadings(const QString &text, std::vector<Reading> operatorReadings)
{
    std::stable_sort(operatorReadings.begin(), operatorReadings.end(),
                     [](const Reading &a, const Reading &b) { return a.word.size() > b.word.size(); });
    QString out;
    qsizetype runStart = 0;
    auto flushRun = [&](qsizetype end) {
        qsizetype i = runStart;
        while (i < end) {
            qsizetype j = i;
            while (j < end && IsHan(text.at(j)))
                ++j;
            out += WordReadings::ReadRun(QStringView(text).mid(i, j - i));
            while (j < end && !IsHan(text.at(j)))
                out += text.at(j++);
            i = j;
        }
    };
    qsizetype i = 0;
    while (i < text.size()) {
        const Reading *hit = nullptr;
        for (const Reading &r : operatorReadings)
            if (QStringView(text).mid(i).startsWith(r.word)) {
                hit = &r;
                break;
            }
        if (!hit) {
            ++i;
            continue;
        }
        flushRun(i);
        out += QLatin1Char(' ') + hit->reading + QLatin1Char(' ');
        i += hit->word.size();
        runStart = i;
    }
    flushRun(text.size());
    return out;
}

// A capital word a voice can say as a word (COSTA, IKEA): four letters or
// more, a vowel, no three consonants in a row. Others are initialisms.
bool SaysAsWord(const QString &word)
{
    if (word.size() < 4)
        return false;
    static const QString vowels = QStringLiteral("AEIOUY");
    int consonants = 0;
    bool vowel = false;
    for (const QChar c : word) {
        const bool isVowel = vowels.contains(c);
        vowel = vowel || isVowel;
        consonants = isVowel ? 0 : consonants + 1;
        if (consonants >= 3)
            return false;
    }
    return vowel;
}

QString LatinWords(const QString &text)
{
    if (!std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 128 && c.isLetter(); }))
        return text;
    static const QRegularExpression word(QStringLiteral("(?<![A-Za-z0-9\\x{E001}-\\x{E005}])[A-Za-z]+(?![A-Za-z0-9\\x{E001}-\\x{E005}])"));
    return ReplaceAll(text, word, [](const QRegularExpressionMatch &m) {
        const QString w = m.captured();
        if (w == w.toUpper() && !SaysAsWord(w)) { // an initialism: letter by letter
            QStringList letters;
            for (const QChar c : w)
                letters << QString::fromLatin1(kLetters[c.unicode() - 'A']);
            return QLatin1Char(' ') + letters.join(QLatin1Char(' ')) + QLatin1Char(' ');
        }
        return QLatin1Char(' ') + w.toLower() + QLatin1Char(' ');
    });
}

// The tone of the syllable that starts at `at`: from a pinyin digit, from
// the fourth-tone table for a character; 0 when no syllable follows.
int NextTone(const QString &text, qsizetype at)
{
    while (at < text.size() && text.at(at) == QLatin1Char(' '))
        ++at;
    if (at >= text.size())
        return 0;
    const QChar c = text.at(at);
    if (IsHan(c))
        return FourthTone().contains(c) ? 4 : 1;
    if (c.isLetter() && c.unicode() < 128) {
        while (at < text.size() && text.at(at).isLetter())
            ++at;
        if (at < text.size() && IsToneMark(text.at(at)))
            return text.at(at).unicode() - kToneMark;
        return at < text.size() && text.at(at).isDigit() ? text.at(at).digitValue() : 0;
    }
    return 0;
}

// 为 is wèi where it means "for" (为您, 为了, 因为), else wéi (为准, 价格为,
// 时间为).
bool IsWeiFor(const QString &text, qsizetype at)
{
    static const QStringList objects = {
        QStringLiteral("您"), QStringLiteral("你"), QStringLiteral("了"), QStringLiteral("大家"), QStringLiteral("顾客"),
        QStringLiteral("广大"), QStringLiteral("人民"), QStringLiteral("此"), QStringLiteral("何"), QStringLiteral("什么"),
        QStringLiteral("他"), QStringLiteral("她"), QStringLiteral("我"), QStringLiteral("客人"), QStringLiteral("孩子"),
        QStringLiteral("家人"), QStringLiteral("老人"), QStringLiteral("社会"), QStringLiteral("社区"),
        QStringLiteral("小朋友")};
    // 为……服务, 为……做: for someone, a few characters on.
    static const QStringList deeds = {QStringLiteral("服务"), QStringLiteral("做"), QStringLiteral("提供"),
                                      QStringLiteral("准备"), QStringLiteral("办理"), QStringLiteral("解答")};
    if (at > 0 && text.at(at - 1) == QChar(0x56E0)) // 因为
        return true;
    const QStringView rest = QStringView(text).mid(at + 1).trimmed();
    const QStringView near = rest.left(6);
    return std::any_of(objects.begin(), objects.end(), [&rest](const QString &o) { return rest.startsWith(o); })
           || std::any_of(deeds.begin(), deeds.end(), [&near](const QString &d) { return near.contains(d); });
}

// 一 and 不 as announcers say them: yí/bú before a fourth tone, yì before
// the others; 一 keeps yī in ordinals, dates, floors and at a phrase's end.
// 只 after a number is the measure word zhī; 为 as IsWeiFor says.
QString ToneChanges(const QString &text)
{
    static const QString yiKeeps = QStringLiteral("第十初统唯之期周拜零月");
    static const QString yiBeforeKeeps = QStringLiteral("号楼月层等级一");
    static const QString bigUnits = QStringLiteral("百千万亿");
    static const QString numerals = QStringLiteral("一二两三四五六七八九十百千万几每半这那哪");
    QString out;
    out.reserve(text.size() + 16);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        qsizetype before = i - 1;
        while (before >= 0 && text.at(before) == QLatin1Char(' '))
            --before;
        const QChar prev = before >= 0 ? text.at(before) : QChar();
        const QChar next = i + 1 < text.size() ? text.at(i + 1) : QChar();
        if (c == QChar(0x4E00)) { // 一
            const int tone = NextTone(text, i + 1);
            // 第一 keeps yī, 第一千 does not.
            if ((yiKeeps.contains(prev) && !bigUnits.contains(next)) || yiBeforeKeeps.contains(next) || tone == 0)
                out += kYi1;
            else
                out += tone == 4 ? QStringLiteral(" yi2 ") : QStringLiteral(" yi4 ");
        } else if (c == QChar(0x4E0D) && NextTone(text, i + 1) == 4) { // 不
            out += QStringLiteral(" bu2 ");
        } else if (c == QChar(0x53EA) && numerals.contains(prev)) { // 只
            out += QStringLiteral(" zhi1 ");
        } else if (c == QChar(0x4E3A)) { // 为
            out += IsWeiFor(text, i) ? QStringLiteral(" wei4 ") : QStringLiteral(" wei2 ");
        } else {
            out += c;
        }
    }
    return out;
}

std::vector<Reading> OperatorWords(const std::vector<Reading> &operatorReadings)
{
    std::vector<Reading> readings;
    for (const Reading &r : operatorReadings)
        if (r.word != QLatin1String("1"))
            readings.push_back(r);
    return readings;
}

DigitStyle StyleOf(const std::vector<Reading> &operatorReadings)
{
    DigitStyle style;
    for (const Reading &r : operatorReadings)
        if (r.word == QLatin1String("1"))
            style.codeOne = r.reading == QLatin1String("一") || r.reading == QLatin1String("yi1") ? kYi1 : Py("yao1");
    return style;
}

// The number grammar: each category recognises its own numbers in
// context and reads them, in this order, so that a phone number is never
// an amount and a date never a decimal; what a category reads leaves no
// digit behind for the next.
QString ReadNumbers(const QString &input, const DigitStyle &style)
{
    QString text = Prepare(input);
    auto has = [&text](const char16_t *signs) {
        return std::any_of(text.cbegin(), text.cend(), [signs](QChar c) {
            for (const char16_t *s = signs; *s; ++s)
                if (c.unicode() == *s)
                    return true;
            return false;
        });
    };
    if (has(u"0123456789")) {
        text = ReadTelephones(text, style);
        text = ReadCodes(text, style);
        if (has(u"/-.月年0123456789"))
            text = ReadDates(text);
        if (has(u":："))
            text = ReadTimes(text);
        if (has(u"-~—–"))
            text = ReadRanges(text);
        if (has(u"/%‰折"))
            text = ReadShares(text);
        text = ReadPlainNumbers(text, style);
    }
    return has(u"-~—–/·•&:\\|_") ? ReadSeparators(text) : text;
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
    return RestoreToneDigits(ReadNumbers(input, DigitStyle()).replace(kYi1, QStringLiteral("一")).replace(Py("yao1"), QStringLiteral("一"))).simplified();
}

QString TextNormalizer::Normalize(const QString &input)
{
    const std::vector<Reading> operatorReadings = Operator().Get();
    QString text = ReadNumbers(input, StyleOf(operatorReadings));
    text = LatinWords(text);
    text = ApplyReadings(text, OperatorWords(operatorReadings));
    return RestoreToneDigits(ToneChanges(text)).simplified();
}

QString TextNormalizer::KeepReadable(const QString &text, int *dropped)
{
    static const QString signs = QStringLiteral("¥°²·×÷—–‘’“”…‰℃㎡㎏㎞㎝㎜㎖≥≤−•");
    auto readable = [](char32_t c) {
        return (c >= 0x20 && c < 0x7F) || c == '\n' || c == '\t' || (c >= 0x3400 && c <= 0x4DBF)
               || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3000 && c <= 0x303F) || (c >= 0xFF01 && c <= 0xFF5E)
               || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0xF900 && c <= 0xFAFF);
    };
    QString out;
    out.reserve(text.size());
    *dropped = 0;
    for (const char32_t c : QStringView(text).toUcs4()) {
        if (readable(c) || (c <= 0xFFFF && signs.contains(QChar(char16_t(c))))) {
            out += QChar(char16_t(c));
        } else {
            out += QLatin1Char(' ');
            ++*dropped;
        }
    }
    return out;
}

QString TextNormalizer::OperatorFilePath()
{
    return OperatorTable::DefaultPath();
}

void TextNormalizer::UseOperatorFile(const QString &path)
{
    Operator().UsePath(path);
}
