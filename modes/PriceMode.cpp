#include "modes/PriceMode.h"
#include "ui_PriceMode.h"

#include "modes/GetEditString.h"
#include "modes/ModeHelpers.h"
#include "modes/SelectWaitTimeDialog.h"
#include "shop/PriceListModel.h"
#include "shop/PricePlayer.h"
#include "shop/Shop.h"
#include "shop/StoredList.h"

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QStyledItemDelegate>

namespace {

const char kPriceExpression[] = "9999999|([0-9]{0,7}[.][0-9]{1,2})";
const char *const kUnits[] = {"", "一斤", "一两", "一个", "一打", "半打", "三斤", "三个"};

// Goods edited in place: the price with its pattern, the unit from a list
// or typed. Every change is written to the list as it is made.
class GoodsDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        if (index.column() == PriceListModel::ColumnUnit) {
            auto *editor = new QComboBox(parent);
            editor->setEditable(true);
            for (const char *unit : kUnits)
                editor->addItem(QString::fromUtf8(unit));
            connect(editor, &QComboBox::currentTextChanged, this, [this, editor] { Commit(editor); });
            return editor;
        }
        auto *editor = new QLineEdit(parent);
        if (index.column() == PriceListModel::ColumnPrice)
            editor->setValidator(
                new QRegularExpressionValidator(QRegularExpression(QLatin1String(kPriceExpression)), editor));
        else
            editor->setMaxLength(kMaxTextLength);
        connect(editor, &QLineEdit::textEdited, this, [this, editor] { Commit(editor); });
        Q_UNUSED(option);
        return editor;
    }

    // The list's value, unless the editor already shows it (an editor is
    // told of every change it made itself: its cursor must not jump).
    void setEditorData(QWidget *editor, const QModelIndex &index) const override
    {
        const QString value = index.data(Qt::EditRole).toString();
        if (auto *combo = qobject_cast<QComboBox *>(editor)) {
            if (combo->currentText() == value)
                return;
            if (combo->findText(value) < 0)
                combo->addItem(value);
            combo->setCurrentIndex(combo->findText(value));
        } else if (auto *line = qobject_cast<QLineEdit *>(editor); line && line->text() != value) {
            line->setText(value);
        }
    }

    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override
    {
        if (auto *combo = qobject_cast<QComboBox *>(editor))
            model->setData(index, combo->currentText().trimmed());
        else if (auto *line = qobject_cast<QLineEdit *>(editor))
            model->setData(index, line->text());
    }

private:
    void Commit(QWidget *editor) const
    {
        emit const_cast<GoodsDelegate *>(this)->commitData(editor);
    }
};

} // namespace

PriceMode::PriceMode(Shop *shop, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::PriceModeClass>()), m_list(shop->Prices()), m_player(shop->PriceLoop())
{
    ui->setupUi(this);
    QTableView *table = ui->tableView;
    table->setModel(m_list);
    table->setItemDelegate(new GoodsDelegate(table));
    table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    table->horizontalHeader()->setMinimumSectionSize(16); // the check box column is 16 pixels
    m_lastTableWidth = table->width();
    connect(table, &QTableView::doubleClicked, this, &PriceMode::DoubleClicked);
    connect(table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) { m_player->SetCursor(current.row()); });
    connect(m_list, &QAbstractItemModel::modelReset, this, &PriceMode::ShowSpans);
    connect(m_list, &QAbstractItemModel::rowsInserted, this, &PriceMode::ShowSpans);
    connect(m_list, &QAbstractItemModel::rowsRemoved, this, &PriceMode::ShowSpans);
    ui->checkBox_recycle->setChecked(m_list->List().recycle);
    connect(ui->checkBox_recycle, &QCheckBox::clicked, m_list, &PriceListModel::SetLoop);
    connect(m_list, &PriceListModel::LoopChanged, ui->checkBox_recycle, &QCheckBox::setChecked);
    connect(ui->pushButton_play, &QPushButton::clicked, m_player, &PricePlayer::Play);
    connect(ui->pushButton_pause, &QPushButton::clicked, m_player, &PricePlayer::Pause);
    connect(m_player, &PricePlayer::StateChanged, this, &PriceMode::ShowState);
    connect(m_player, &PricePlayer::CursorChanged, this, &PriceMode::ShowCursor);
    AddWindowShortcut(this, QKeySequence(QStringLiteral("Ctrl+S")), [this] { SaveFile(); });
    AddWindowShortcut(this, QKeySequence(Qt::Key_Delete), [this] { DelItem(); });
    AddContextMenu(table, this,
                   {{"删除选中行", ":/image/del.png", [this] { DelItem(); }},
                    {"删除所有行", ":/image/delall.png", [this] { DelAll(); }},
                    {"插入报价", ":/image/addline.png", [this] { InsertRow(); }},
                    {"插入文字", ":/image/addline.png", [this] { InsertTextRow(); }},
                    {"插入延时", ":/image/wait.png", [this] { InsertWait(); }}});
    ShowSpans();
    ShowState(m_player->GetState());
    ShowCursor(m_player->Cursor());
}

PriceMode::~PriceMode() = default;

// A text row spans the name, price and unit columns.
void PriceMode::ShowSpans()
{
    QTableView *table = ui->tableView;
    table->clearSpans();
    const PriceList &list = m_list->List();
    for (int row = 0; row < list.Size(); ++row)
        if (list.At(row).isText)
            table->setSpan(row, PriceListModel::ColumnName, 1, 3);
}

void PriceMode::ShowState(int state)
{
    SetButtonColor(ui->pushButton_play, state == PricePlayer::Playing ? kColorLit : kColorPlain);
    SetButtonColor(ui->pushButton_pause, state == PricePlayer::Paused ? kColorLit : kColorPlain);
}

void PriceMode::ShowCursor(int row)
{
    // An open editor keeps its cell: moving the selection would close it.
    const QWidget *focus = QApplication::focusWidget();
    const bool editing = focus && focus != ui->tableView->viewport() && ui->tableView->viewport()->isAncestorOf(focus);
    if (row < 0 || CurrentRow() == row || editing)
        return;
    const QSignalBlocker quiet(ui->tableView->selectionModel());
    SelectRow(row);
}

int PriceMode::CurrentRow() const
{
    return ui->tableView->currentIndex().row();
}

void PriceMode::SelectRow(int row)
{
    ui->tableView->selectRow(row);
}

void PriceMode::DoubleClicked(const QModelIndex &index)
{
    const int row = index.row();
    if (row < 0 || row >= m_list->List().Size() || index.column() < PriceListModel::ColumnName)
        return;
    const PriceRow &data = m_list->List().At(row);
    int ms = 0;
    if (!data.isText || data.Wait(&ms))
        return; // goods are edited in place; a wait is not edited
    const quint64 id = data.id;
    GetEditString dialog(data.text);
    if (dialog.exec() != QDialog::Accepted)
        return;
    // The list may have changed while the dialog was open.
    m_list->SetText(m_list->List().RowOf(id), dialog.EditedText());
}

void PriceMode::InsertRow()
{
    SelectRow(m_list->Insert(CurrentRow() + 1, PriceRow::Goods(QString(), QString(), QString())));
}

void PriceMode::InsertTextRow()
{
    SelectRow(m_list->Insert(CurrentRow() + 1, PriceRow::Text(QString())));
}

void PriceMode::InsertWait()
{
    SelectWaitTimeDialog dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QString wait = QStringLiteral("延时") + QString::number(dialog.WaitValue()) + dialog.WaitUnit();
    SelectRow(m_list->Insert(CurrentRow() + 1, PriceRow::Text(wait)));
}

void PriceMode::DelItem()
{
    m_list->Remove(CurrentRow());
}

void PriceMode::DelAll()
{
    if (ConfirmWarning(QStringLiteral("请确认是否要删除所有记录？")))
        m_list->Clear();
}

void PriceMode::SaveFile()
{
    m_list->Store().SaveNow();
}

void PriceMode::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    QTableView *table = ui->tableView;
    table->setColumnWidth(PriceListModel::ColumnCheck, 16);
    const int width = table->width();
    const int w1 = table->columnWidth(PriceListModel::ColumnName), w2 = table->columnWidth(PriceListModel::ColumnPrice),
              w3 = table->columnWidth(PriceListModel::ColumnUnit);
    if ((width > m_lastTableWidth || w1 < 300) && w1 + w2 + w3 > 0) {
        const int grow = width - m_lastTableWidth;
        table->setColumnWidth(PriceListModel::ColumnPrice, qBound(60, w2 + w2 * grow / (w1 + w2 + w3), 90));
        table->setColumnWidth(PriceListModel::ColumnUnit, qBound(50, w3 + w3 * grow / (w1 + w2 + w3), 70));
    }
    table->setColumnWidth(PriceListModel::ColumnName,
                          width - table->verticalHeader()->width() - table->columnWidth(PriceListModel::ColumnCheck)
                              - table->columnWidth(PriceListModel::ColumnPrice)
                              - table->columnWidth(PriceListModel::ColumnUnit) - 5);
    m_lastTableWidth = width;
}
