#pragma once

#include "shop/PriceList.h"

#include <QAbstractTableModel>

class StoredList;

// The price list held by the shop, as a table the price tab shows and
// edits in place (every keystroke of an open editor reaches it) and the
// price loop reads; every change is stored (price.xml).
class PriceListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { ColumnCheck = 0, ColumnName = 1, ColumnPrice = 2, ColumnUnit = 3, kColumns = 4 };
    enum Role { IdRole = Qt::UserRole, TextRowRole, WaitRole };

    explicit PriceListModel(QObject *parent = nullptr);
    ~PriceListModel() override;

    static QString FilePath();
    void Load(const QString &path = QString());
    const PriceList &List() const { return m_list; }
    StoredList &Store() const { return *m_store; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    int Insert(int row, const PriceRow &data);
    int Append(const PriceRow &data) { return Insert(m_list.Size(), data); }
    void SetText(int row, const QString &text);
    void SetTicked(int row, bool ticked);
    void Remove(int row);
    void Clear();
    void SetLoop(bool loop);
    // Every row at once (saved at once); rows still there stay who they were.
    void Replace(PriceList list);

signals:
    void LoopChanged(bool loop);

private:
    void RowChanged(int row);

    PriceList m_list;
    StoredList *m_store;
};
