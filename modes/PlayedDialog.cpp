#include "modes/PlayedDialog.h"

#include "core/Log.h"
#include "core/SmallFile.h"

#include <QComboBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace {

struct SourceName
{
    const char *source;
    const char *label;
};

const SourceName kSources[] = {
    {"", "全部"},           {"word", "文字"},   {"price", "报价"},
    {"timer", "定时"},      {"remote", "远程"}, {"chain", "连锁总部"},
};

} // namespace

void PlayedModel::SetRecords(QList<PlayRecord> records)
{
    beginResetModel();
    m_records = std::move(records);
    endResetModel();
}

int PlayedModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_records.size());
}

int PlayedModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant PlayedModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_records.size())
        return {};
    const PlayRecord &record = m_records[index.row()];
    switch (index.column()) {
    case ColumnStarted:
        return record.started.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    case ColumnEnded:
        return record.ended.toString(QStringLiteral("HH:mm:ss"));
    case ColumnSource:
        return PlayedDialog::SourceLabel(record.source);
    case ColumnText:
        return record.text;
    case ColumnId:
        return record.id;
    default:
        return {};
    }
}

QVariant PlayedModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const char *const kHeaders[kColumnCount] = {"开始", "结束", "来源", "内容", "总部消息"};
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= kColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    return QString::fromUtf8(kHeaders[section]);
}

PlayedDialog::PlayedDialog(PlayLog *log, QWidget *parent)
    : QDialog(parent), m_log(log), m_from(new QDateEdit(this)), m_to(new QDateEdit(this)),
      m_source(new QComboBox(this)), m_table(new QTableView(this)), m_count(new QLabel(this)),
      m_model(new PlayedModel(this))
{
    setWindowTitle(QStringLiteral("播报记录"));
    resize(760, 480);
    const QDate today = QDate::currentDate();
    for (QDateEdit *edit : {m_from, m_to}) {
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        edit->setCalendarPopup(true);
        edit->setDate(today);
        connect(edit, &QDateEdit::dateChanged, this, &PlayedDialog::Refresh);
    }
    for (const SourceName &source : kSources)
        m_source->addItem(QString::fromUtf8(source.label), QString::fromLatin1(source.source));
    connect(m_source, &QComboBox::currentIndexChanged, this, &PlayedDialog::Refresh);
    auto *exportButton = new QPushButton(QStringLiteral("导出CSV"), this);
    connect(exportButton, &QPushButton::clicked, this, &PlayedDialog::Export);

    auto *filters = new QHBoxLayout;
    filters->addWidget(new QLabel(QStringLiteral("从"), this));
    filters->addWidget(m_from);
    filters->addWidget(new QLabel(QStringLiteral("至"), this));
    filters->addWidget(m_to);
    filters->addWidget(new QLabel(QStringLiteral("来源"), this));
    filters->addWidget(m_source);
    filters->addStretch();
    filters->addWidget(m_count);
    filters->addWidget(exportButton);

    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setSectionResizeMode(PlayedModel::ColumnText, QHeaderView::Stretch);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(m_table);
    Refresh();
}

QString PlayedDialog::SourceLabel(const QString &source)
{
    for (const SourceName &name : kSources)
        if (*name.source && source == QLatin1String(name.source))
            return QString::fromUtf8(name.label);
    return source;
}

void PlayedDialog::SetRange(const QDate &from, const QDate &to)
{
    const QSignalBlocker quiet(m_from);
    m_from->setDate(from);
    m_to->setDate(to);
    Refresh();
}

void PlayedDialog::SetSource(const QString &source)
{
    const int index = m_source->findData(source);
    if (index >= 0)
        m_source->setCurrentIndex(index);
}

QDateTime PlayedDialog::From() const
{
    return m_from->date().startOfDay();
}

QDateTime PlayedDialog::To() const
{
    // The last day is shown whole.
    return m_to->date().addDays(1).startOfDay();
}

QString PlayedDialog::Source() const
{
    return m_source->currentData().toString();
}

void PlayedDialog::Refresh()
{
    m_model->SetRecords(m_log ? m_log->Query(From(), To(), Source()) : QList<PlayRecord>());
    m_count->setText(QStringLiteral("共%1条").arg(m_model->rowCount()));
}

bool PlayedDialog::ExportTo(const QString &path) const
{
    QString error;
    if (m_log && SmallFile::Replace(path, m_log->Csv(From(), To(), Source()), &error))
        return true;
    PLOG(LOG_ERROR, "play log not exported to %s: %s", qPrintable(path), qPrintable(error));
    return false;
}

void PlayedDialog::Export()
{
    const QString name = QStringLiteral("播报记录-%1-%2.csv")
                             .arg(m_from->date().toString(Qt::ISODate), m_to->date().toString(Qt::ISODate));
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("导出播报记录"), name,
                                                      QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty())
        return;
    if (!ExportTo(path))
        QMessageBox::warning(this, QStringLiteral("播报记录"), QStringLiteral("无法写入文件：%1").arg(path));
}
