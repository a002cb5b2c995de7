#include "shop/WordListModel.h"

#include "core/AppPaths.h"
#include "core/Log.h"
#include "shop/ListIdentity.h"
#include "shop/StoredList.h"
#include "shop/TextRules.h"

#include <QDir>

#include <tinyxml.h>

WordListModel::WordListModel(QObject *parent)
    : QAbstractListModel(parent),
      m_store(new StoredList(FilePath(), QStringLiteral("文字列表"), [this](TiXmlDocument *doc) { m_list.ToXml(doc); },
                             this))
{
}

WordListModel::~WordListModel() = default;

QString WordListModel::FilePath()
{
    return QDir(AppPaths::DataDir()).absolutePath() + QStringLiteral("/SimpleMode.xml");
}

void WordListModel::Load(const QString &path)
{
    PLOG(LOG_INFO, "load word plan from file(%s)", qPrintable(path.isEmpty() ? m_store->Path() : path));
    TiXmlDocument doc;
    WordList list;
    bool fresh = false;
    switch (m_store->Load(&doc, path)) {
    case XmlFile::ReadResult::Missing:
        list = WordList::Defaults();
        fresh = true;
        break;
    case XmlFile::ReadResult::Unusable:
        break;
    case XmlFile::ReadResult::Ok:
        list = WordList::FromXml(*doc.FirstChildElement());
        break;
    }
    list.RenumberFrom(m_list.NextId());
    beginResetModel();
    m_list = list;
    endResetModel();
    emit LoopChanged(m_list.loop);
    if (fresh)
        m_store->Changed(); // the defaults are written a second later
}

int WordListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_list.Size();
}

QVariant WordListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_list.Size())
        return {};
    const WordRow &row = m_list.At(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return row.text;
    case IdRole:
        return row.id;
    case WaitRole: {
        int ms = 0;
        return ParseWaitText(row.text, &ms);
    }
    default:
        return {};
    }
}

int WordListModel::Insert(int row, const QString &text)
{
    row = qBound(0, row, m_list.Size());
    beginInsertRows({}, row, row);
    m_list.Insert(row, text);
    endInsertRows();
    m_store->Changed();
    return row;
}

void WordListModel::SetText(int row, const QString &text)
{
    if (row < 0 || row >= m_list.Size())
        return;
    m_list.SetText(row, text);
    emit dataChanged(index(row), index(row));
    m_store->Changed();
}

void WordListModel::Remove(int row)
{
    if (row < 0 || row >= m_list.Size())
        return;
    beginRemoveRows({}, row, row);
    m_list.Remove(row);
    endRemoveRows();
    m_store->Changed();
}

void WordListModel::Clear()
{
    if (m_list.Size() == 0)
        return;
    beginRemoveRows({}, 0, m_list.Size() - 1);
    m_list.Clear();
    endRemoveRows();
    m_store->Changed();
}

void WordListModel::SetLoop(bool loop)
{
    if (m_list.loop == loop)
        return;
    m_list.loop = loop;
    emit LoopChanged(loop);
    m_store->Changed();
}

void WordListModel::Replace(WordList list)
{
    list.RenumberFrom(m_list.NextId());
    ListIdentity::Carry(m_list.Rows(), &list, [](const WordRow &row) { return row.text; });
    beginResetModel();
    m_list = list;
    endResetModel();
    emit LoopChanged(m_list.loop);
    m_store->SaveNow();
}
