#pragma once

#include "shop/WordList.h"

#include <QAbstractListModel>

class StoredList;

// The word list held by the shop, as a model the word tab shows and edits
// and the word loop reads; every change is stored (SimpleMode.xml).
class WordListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role { IdRole = Qt::UserRole, WaitRole };

    explicit WordListModel(QObject *parent = nullptr);
    ~WordListModel() override;

    static QString FilePath();
    // Reads the list's file (or another word-list file); defaults on a fresh install.
    void Load(const QString &path = QString());
    const WordList &List() const { return m_list; }
    StoredList &Store() const { return *m_store; }

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    int Insert(int row, const QString &text);
    int Append(const QString &text) { return Insert(m_list.Size(), text); }
    void SetText(int row, const QString &text);
    void Remove(int row);
    void Clear();
    void SetLoop(bool loop);
    // Every row at once (saved at once); rows that are still there, with
    // the same text, stay who they were.
    void Replace(WordList list);

signals:
    void LoopChanged(bool loop);

private:
    WordList m_list;
    StoredList *m_store;
};
