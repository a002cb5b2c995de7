#pragma once

#include <QList>
#include <QString>

class TiXmlDocument;
class TiXmlElement;

// One row of the price list: goods (name, price, unit) read as a price
// sentence, or a text row (a sentence of its own, or a wait such as
// "延时5秒").
struct PriceRow
{
    bool isText = false;
    QString name;
    QString price; // as written: "1.98"; a price that is no number is kept as it is
    QString unit;
    QString text;
    bool ticked = true;
    quint64 id = 0; // who the row is while the program runs (not stored)

    static PriceRow Goods(const QString &name, const QString &price, const QString &unit);
    static PriceRow Text(const QString &text);
    // A text row that is a wait: true and *ms its length.
    bool Wait(int *ms) const;
};

// The price tab's rows as plain data, without widgets: what the table
// shows, what price mode reads aloud and what price.xml holds.
class PriceList
{
public:
    bool recycle = false;

    const QList<PriceRow> &Rows() const { return m_rows; }
    int Size() const { return int(m_rows.size()); }
    const PriceRow &At(int row) const { return m_rows.at(row); }
    PriceRow &At(int row) { return m_rows[row]; }
    int RowOf(quint64 id) const;
    // Inserts at row (clamped) with a new id; the row.
    int Insert(int row, PriceRow value);
    void Remove(int row);
    // Gives every row a new id from first on (ids of another list stay apart).
    void RenumberFrom(quint64 first);
    quint64 NextId() const { return m_nextId; }
    // Gives a row the id of the row it stands for (a list replaced whole).
    void Adopt(int row, quint64 id);
    void Clear();

    // The four rows of a fresh install.
    static PriceList Defaults();
    // Reads a <PriceRecords> element: a record with "text" is a text row,
    // any other goods. *oddPrices counts prices that are not numbers.
    static PriceList FromXml(const TiXmlElement &root, int *oddPrices = nullptr);
    // The document price.xml holds, byte for byte as it has always been
    // written: goods without a price and blank text rows are left out.
    void ToXml(TiXmlDocument *doc) const;

private:
    QList<PriceRow> m_rows;
    quint64 m_nextId = 1;
};
