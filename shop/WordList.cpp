#include "shop/WordList.h"

#include "core/Log.h"
#include "core/XmlFile.h"
#include "shop/TextRules.h"

#include <tinyxml.h>

namespace {

const char *const kDefaultRows[] = {
    "各位同事早上好，我们的超市马上就要开始营业了，请大家做好准备",
    "欢迎光临Marlowick超市，为感谢新老客户，现推出店庆活动，欢迎选购",
    "各位同事辛苦了!今天我们的营业时间就要到了，请大家做好准备",
};

} // namespace

QStringList WordList::Texts() const
{
    QStringList texts;
    texts.reserve(m_rows.size());
    for (const WordRow &row : m_rows)
        texts << row.text;
    return texts;
}

int WordList::RowOf(quint64 id) const
{
    for (int row = 0; row < m_rows.size(); ++row)
        if (m_rows[row].id == id)
            return row;
    return -1;
}

int WordList::Insert(int row, const QString &text)
{
    row = qBound(0, row, Size());
    m_rows.insert(row, WordRow{LimitTextLength(text), m_nextId++});
    return row;
}

void WordList::SetText(int row, const QString &text)
{
    m_rows[row].text = LimitTextLength(text);
}

void WordList::Remove(int row)
{
    m_rows.removeAt(row);
}

void WordList::Clear()
{
    m_rows.clear();
}

void WordList::RenumberFrom(quint64 first)
{
    m_nextId = first;
    for (WordRow &row : m_rows)
        row.id = m_nextId++;
}

void WordList::Adopt(int row, quint64 id)
{
    m_rows[row].id = id;
    m_nextId = qMax(m_nextId, id + 1);
}

WordList WordList::Defaults()
{
    WordList list;
    for (const char *row : kDefaultRows)
        list.Insert(list.Size(), QString::fromUtf8(row));
    return list;
}

WordList WordList::FromXml(const TiXmlElement &root)
{
    WordList list;
    const char *recycle = root.Attribute("recycle");
    list.loop = recycle && QString::fromLatin1(recycle).compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
    for (const TiXmlElement *e = root.FirstChildElement(); e; e = e->NextSiblingElement()) {
        const QString text = XmlFile::ElementText(e);
        if (TextRules::CharacterCount(text) > kMaxTextLength)
            PLOG(LOG_WARNING, "row %d has %d characters, cut to %d", list.Size() + 1, TextRules::CharacterCount(text),
                 kMaxTextLength);
        list.m_rows.append(WordRow{LimitTextLength(text), list.m_nextId++});
    }
    return list;
}

void WordList::ToXml(TiXmlDocument *doc) const
{
    auto *records = new TiXmlElement("records"); // owned by the document once linked
    doc->LinkEndChild(records);
    records->SetAttribute("recycle", loop ? "true" : "false");
    for (const WordRow &row : m_rows) {
        auto *record = new TiXmlElement("record");
        records->LinkEndChild(record);
        record->LinkEndChild(new TiXmlText(row.text.toLocal8Bit().constData()));
    }
}
