#pragma once

#include "shop/PlayLog.h"

#include <QAbstractTableModel>
#include <QDialog>

class QComboBox;
class QDateEdit;
class QLabel;
class QTableView;

// The records of a play log as a table: start, end, source, text, message id.
class PlayedModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { ColumnStarted, ColumnEnded, ColumnSource, ColumnText, ColumnId, kColumnCount };
    using QAbstractTableModel::QAbstractTableModel;

    void SetRecords(QList<PlayRecord> records);
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QList<PlayRecord> m_records;
};

// "播报记录": what the shop really played over a range of days, of one
// source or all, exported to CSV for advertisers and inspectors.
class PlayedDialog : public QDialog
{
    Q_OBJECT

public:
    explicit PlayedDialog(PlayLog *log, QWidget *parent = nullptr);

    void SetRange(const QDate &from, const QDate &to);
    // The source chosen: "" for all, else a PlayRecord source name.
    void SetSource(const QString &source);
    int Shown() const { return m_model->rowCount(); }
    // Writes the range and source shown to a CSV file; false (logged) when it could not.
    bool ExportTo(const QString &path) const;

    // The label of a source in the window.
    static QString SourceLabel(const QString &source);

public slots:
    void Refresh();

private:
    void Export();
    QDateTime From() const;
    QDateTime To() const;
    QString Source() const;

    PlayLog *m_log;
    QDateEdit *m_from;
    QDateEdit *m_to;
    QComboBox *m_source;
    QTableView *m_table;
    QLabel *m_count;
    PlayedModel *m_model;
};
