#include "shop/PriceListModel.h"

#include "core/AppPaths.h"
#include "core/Log.h"
#include "shop/ListIdentity.h"
#include "shop/StoredList.h"
#include "shop/TextRules.h"

#include <QDir>

#include <tinyxml.h>

namespace {

QString ContentKey(const PriceRow &row)
{
    return row.isText ? QStringLiteral("t\x1f") + row.text
                      : QStringLiteral("g\x1f") + row.name + QChar(0x1f) + row.price + QChar(0x1f) + row.unit;
}

} // namespace

PriceListModel::PriceListModel(QObject *parent)
    : QAbstractTableModel(parent),
      m_store(new StoredList(FilePath(), QStringLiteral("报价列表"), [this](TiXmlDocument *doc) { m_list.ToXml(doc); },
                             this))
{
    m_list.recycle = true; // the loop is on until a list says otherwise
}

PriceListModel::~PriceListModel() = default;

QString PriceListModel::FilePath()
{
    return QDir(AppPaths::DataDir()).absolutePath() + QStringLiteral("/price.xml");
}

void PriceListModel::Load(const QString &path)
{
    PLOG(LOG_INFO, "load price mode from file(%s)", qPrintable(path.isEmpty() ? m_store->Path() : path));
    TiXmlDocument doc;
    int oddPrices = 0;
    bool fresh = false;
    PriceList list;
    switch (m_store->Load(&doc, path)) {
    case XmlFile::ReadResult::Missing:
        PLOG(LOG_INFO, "%s", "no price list yet: the default rows are used");
        list = PriceList::Defaults();
        fresh = true;
        break;
    case XmlFile::ReadResult::Unusable:
        break;
    case XmlFile::ReadResult::Ok:
        list = PriceList::FromXml(*doc.FirstChildElement(), &oddPrices);
        break;
    }
    if (oddPrices > 0)
        PLOG(LOG_WARNING, "%d prices are not numbers; they are read as written", oddPrices);
    // "true" turns the loop on; anything else leaves it as it was.
    list.recycle = list.recycle || m_list.recycle;
    list.RenumberFrom(m_list.NextId());
    beginResetModel();
    m_list = list;
    endResetModel();
    emit LoopChanged(m_list.recycle);
    if (fresh)
        m_store->Changed();
}

int PriceListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_list.Size();
}

int PriceListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : kColumns;
}

QVariant PriceListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_list.Size())
        return {};
    const PriceRow &row = m_list.At(index.row());
    switch (role) {
    case Qt::CheckStateRole:
        return index.column() == ColumnCheck ? QVariant(row.ticked ? Qt::Checked : Qt::Unchecked) : QVariant();
    case Qt::DisplayRole:
    case Qt::EditRole:
        switch (index.column()) {
        case ColumnName:
            return row.isText ? row.text : row.name;
        case ColumnPrice:
            return row.isText ? QString() : row.price;
        case ColumnUnit:
            return row.isText ? QString() : row.unit;
        default:
            return {};
        }
    case IdRole:
        return row.id;
    case TextRowRole:
        return row.isText;
    case WaitRole: {
        int ms = 0;
        return row.Wait(&ms);
    }
    default:
        return {};
    }
}

bool PriceListModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || index.row() >= m_list.Size())
        return false;
    PriceRow &row = m_list.At(index.row());
    if (role == Qt::CheckStateRole && index.column() == ColumnCheck) {
        row.ticked = Qt::CheckState(value.toInt()) == Qt::Checked;
        emit dataChanged(index, index);
        return true; // a tick is not stored
    }
    if (role != Qt::EditRole)
        return false;
    const QString text = value.toString();
    QString *field = nullptr;
    switch (index.column()) {
    case ColumnName:
        field = row.isText ? &row.text : &row.name;
        break;
    case ColumnPrice:
        field = row.isText ? nullptr : &row.price;
        break;
    case ColumnUnit:
        field = row.isText ? nullptr : &row.unit;
        break;
    default:
        break;
    }
    if (!field)
        return false;
    const QString limited = index.column() == ColumnName ? LimitTextLength(text) : text.trimmed();
    if (*field == limited)
        return true;
    *field = limited;
    emit dataChanged(index, index);
    m_store->Changed();
    return true;
}

Qt::ItemFlags PriceListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid() || index.row() >= m_list.Size())
        return Qt::NoItemFlags;
    if (index.column() == ColumnCheck)
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
    // Text rows are edited in their own dialog; goods in place.
    const bool editable = !m_list.At(index.row()).isText;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | (editable ? Qt::ItemIsEditable : Qt::NoItemFlags);
}

QVariant PriceListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char *const kHeaders[kColumns] = {" ", "物品名称", "单价(元)", "单位"};
    return section >= 0 && section < kColumns ? QString::fromUtf8(kHeaders[section]) : QVariant();
}

int PriceListModel::Insert(int row, const PriceRow &data)
{
    row = qBound(0, row, m_list.Size());
    beginInsertRows({}, row, row);
    m_list.Insert(row, data);
    endInsertRows();
    m_store->Changed();
    return row;
}

void PriceListModel::RowChanged(int row)
{
    emit dataChanged(index(row, 0), index(row, kColumns - 1));
    m_store->Changed();
}

void PriceListModel::SetText(int row, const QString &text)
{
    if (row < 0 || row >= m_list.Size() || !m_list.At(row).isText)
        return;
    m_list.At(row).text = LimitTextLength(text);
    RowChanged(row);
}

void PriceListModel::SetTicked(int row, bool ticked)
{
    if (row >= 0 && row < m_list.Size())
        setData(index(row, ColumnCheck), ticked ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
}

void PriceListModel::Remove(int row)
{
    if (row < 0 || row >= m_list.Size())
        return;
    beginRemoveRows({}, row, row);
    m_list.Remove(row);
    endRemoveRows();
    m_store->Changed();
}

void PriceListModel::Clear()
{
    if (m_list.Size() == 0)
        return;
    beginRemoveRows({}, 0, m_list.Size() - 1);
    m_list.Clear();
    endRemoveRows();
    m_store->Changed();
}

void PriceListModel::SetLoop(bool loop)
{
    if (m_list.recycle == loop)
        return;
    m_list.recycle = loop;
    emit LoopChanged(loop);
    m_store->Changed();
}

void PriceListModel::Replace(PriceList list)
{
    list.RenumberFrom(m_list.NextId());
    ListIdentity::Carry(m_list.Rows(), &list, ContentKey);
    beginResetModel();
    m_list = list;
    endResetModel();
    emit LoopChanged(m_list.recycle);
    m_store->SaveNow();
}
