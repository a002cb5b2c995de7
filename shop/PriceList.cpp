#include "shop/PriceList.h"

#include "shop/TextRules.h"

#include <tinyxml.h>

PriceRow PriceRow::Goods(const QString &name, const QString &price, const QString &unit)
{
    PriceRow row;
    row.name = LimitTextLength(name);
    row.price = price;
    row.unit = unit;
    return row;
}

PriceRow PriceRow::Text(const QString &text)
{
    PriceRow row;
    row.isText = true;
    row.text = LimitTextLength(text);
    return row;
}

bool PriceRow::Wait(int *ms) const
{
    return isText && ParseWaitText(text.trimmed(), ms);
}

int PriceList::RowOf(quint64 id) const
{
    for (int row = 0; row < m_rows.size(); ++row)
        if (m_rows[row].id == id)
            return row;
    return -1;
}

int PriceList::Insert(int row, PriceRow value)
{
    row = qBound(0, row, Size());
    value.id = m_nextId++;
    m_rows.insert(row, value);
    return row;
}

void PriceList::RenumberFrom(quint64 first)
{
    m_nextId = first;
    for (PriceRow &row : m_rows)
        row.id = m_nextId++;
}

void PriceList::Adopt(int row, quint64 id)
{
    m_rows[row].id = id;
    m_nextId = qMax(m_nextId, id + 1);
}

void PriceList::Remove(int row)
{
    m_rows.removeAt(row);
}

void PriceList::Clear()
{
    m_rows.clear();
}

PriceList PriceList::Defaults()
{
    PriceList list;
    list.Insert(0, PriceRow::Text(QStringLiteral("欢迎光临，本店周年庆特大优惠，优惠信息如下")));
    list.Insert(1, PriceRow::Goods(QStringLiteral("西瓜"), QStringLiteral("1.98"), QStringLiteral("一斤")));
    list.Insert(2, PriceRow::Goods(QStringLiteral("哈密瓜"), QStringLiteral("2.48"), QStringLiteral("一斤")));
    list.Insert(3, PriceRow::Text(QStringLiteral("延时5秒")));
    return list;
}

PriceList PriceList::FromXml(const TiXmlElement &root, int *oddPrices)
{
    PriceList list;
    const char *recycle = root.Attribute("recycle");
    list.recycle = recycle && QString::fromLocal8Bit(recycle).compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
    auto attribute = [](const TiXmlElement *e, const char *name) {
        const char *value = e->Attribute(name);
        return value ? QString::fromLocal8Bit(value) : QString();
    };
    int odd = 0;
    for (const TiXmlElement *e = root.FirstChildElement(); e; e = e->NextSiblingElement()) {
        if (e->Attribute("text")) {
            list.Insert(list.Size(), PriceRow::Text(attribute(e, "text")));
            continue;
        }
        const QString price = attribute(e, "price");
        bool isNumber = false;
        price.toDouble(&isNumber);
        odd += !price.isEmpty() && !isNumber;
        list.Insert(list.Size(), PriceRow::Goods(attribute(e, "name"), price, attribute(e, "unit")));
    }
    if (oddPrices)
        *oddPrices = odd;
    return list;
}

void PriceList::ToXml(TiXmlDocument *doc) const
{
    auto *root = new TiXmlElement("PriceRecords"); // owned by the document once linked
    doc->LinkEndChild(root);
    root->SetAttribute("recycle", recycle ? "true" : "false");
    for (const PriceRow &row : m_rows) {
        const QString text = row.text.trimmed();
        if (row.isText ? text.isEmpty() : row.price.isEmpty())
            continue;
        auto *record = new TiXmlElement("record");
        if (row.isText) {
            record->SetAttribute("text", text.toLocal8Bit().constData());
        } else {
            record->SetAttribute("name", row.name.toLocal8Bit().constData());
            record->SetAttribute("price", row.price.toLocal8Bit().constData());
            record->SetAttribute("unit", row.unit.toLocal8Bit().constData());
        }
        root->LinkEndChild(record);
    }
}
