#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class TiXmlDocument;
class TiXmlElement;

// One row of the word list: a text to read, or a wait ("延时5秒").
struct WordRow
{
    QString text;
    quint64 id = 0; // who the row is while the program runs (not stored)
};

// The word tab's rows as plain data: what the list shows, what the word
// loop reads and what SimpleMode.xml holds.
class WordList
{
public:
    bool loop = false;

    const QList<WordRow> &Rows() const { return m_rows; }
    int Size() const { return int(m_rows.size()); }
    const WordRow &At(int row) const { return m_rows.at(row); }
    QStringList Texts() const;
    int RowOf(quint64 id) const;
    // Inserts at row (clamped), cut to the longest text, with a new id; the row.
    int Insert(int row, const QString &text);
    void SetText(int row, const QString &text);
    void Remove(int row);
    void Clear();
    // Gives every row a new id from first on (ids of another list stay apart).
    void RenumberFrom(quint64 first);
    quint64 NextId() const { return m_nextId; }
    // Gives a row the id of the row it stands for (a list replaced whole).
    void Adopt(int row, quint64 id);

    // The three rows of a fresh install.
    static WordList Defaults();
    // Reads a <records> element; rows longer than the limit are cut.
    static WordList FromXml(const TiXmlElement &root);
    // The document SimpleMode.xml holds, byte for byte as it has always been written.
    void ToXml(TiXmlDocument *doc) const;

private:
    QList<WordRow> m_rows;
    quint64 m_nextId = 1;
};
