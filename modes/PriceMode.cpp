#include "modes/PriceMode.h"
#include "ui_PriceMode.h"

#include "core/AppPaths.h"
#include "modes/GetEditString.h"
#include "core/Log.h"
#include "modes/ModeHelpers.h"
#include "core/PendingSaves.h"
#include "modes/SaveTimer.h"
#include "modes/SelectWaitTimeDialog.h"
#include "core/SettingsValues.h"
#include "core/StoredFile.h"
#include "core/XmlFile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QLineEdit>
#include <QRegularExpressionValidator>

#include <tinyxml.h>


namespace {

const QString kListName = QStringLiteral("报价列表");
const char kPriceExpression[] = "9999999|([0-9]{0,7}[.][0-9]{1,2})";
const char *const kUnits[] = {"", "一斤", "一两", "一个", "一打", "半打", "三斤", "三个"};


} // namespace

PriceMode::PriceMode(int firstRequestIndex, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::PriceModeClass>()), m_requestIndex(firstRequestIndex),
      m_saveTimer(new SaveTimer(this))
{
    ui->setupUi(this);
    ui->checkBox_recycle->setChecked(true);
    QTableWidget *table = ui->tableWidget;
    m_lastTableWidth = table->width();
    table->setColumnCount(4);
    table->setHorizontalHeaderLabels(
        {QStringLiteral(" "), QStringLiteral("物品名称"), QStringLiteral("单价(元)"), QStringLiteral("单位")});
    table->horizontalHeader()->setMinimumSectionSize(16); // the check box column is 16 pixels
    connect(table, &QTableWidget::cellDoubleClicked, this, &PriceMode::ProcessTableDoubleClick);
    connect(table, &QTableWidget::currentCellChanged, this, &PriceMode::ProcessTableCellChanged);
    connect(table, &QTableWidget::itemChanged, this, &PriceMode::CellEdited);
    connect(ui->checkBox_recycle, &QCheckBox::toggled, this, [this](bool on) {
        m_list.recycle = on;
        m_saveTimer->Restart();
    });
    connect(ui->pushButton_play, &QPushButton::clicked, this, &PriceMode::Play);
    connect(ui->pushButton_pause, &QPushButton::clicked, this, &PriceMode::Pause);
    AddWindowShortcut(this, QKeySequence(QStringLiteral("Ctrl+S")), [this] { SaveFile(); });
    AddWindowShortcut(this, QKeySequence(Qt::Key_Delete), [this] { DelItem(); });
    AddContextMenu(table, this,
                   {{"删除选中行", ":/image/del.png", [this] { DelItem(); }},
                    {"删除所有行", ":/image/delall.png", [this] { DelAll(); }},
                    {"插入报价", ":/image/addline.png", [this] { InsertRow(); }},
                    {"插入文字", ":/image/addline.png", [this] { InsertTextRow(); }},
                    {"插入延时", ":/image/wait.png", [this] { InsertWait(); }}});
    connect(m_saveTimer, &QTimer::timeout, this, &PriceMode::SaveFile);
    SetButtonColor(ui->pushButton_play, kColorPlain);
    SetButtonColor(ui->pushButton_pause, kColorPlain);
    table->setRowCount(0);

    AppPaths::EnsureDataDir();
    m_file = std::make_unique<StoredFile>(FilePath(), kListName);
    PendingSaves::Add(this, [this] {
        if (m_saveTimer->isActive())
            SaveFile();
    });
    LoadFile(FilePath());
}

PriceMode::~PriceMode()
{
    PendingSaves::Remove(this);
    SaveFile();
}

QString PriceMode::FilePath()
{
    return QDir(AppPaths::DataDir()).absolutePath() + QStringLiteral("/price.xml");
}

bool PriceMode::SaveFailed() const
{
    return m_file->SaveFailed();
}

QString PriceMode::PriceToSpeech(const QString &price)
{
    const QStringList parts = price.split(QLatin1Char('.'));
    // An empty integer part (".5") is read as 0, not as a bare "块".
    const QString whole = parts.at(0).isEmpty() ? QStringLiteral("0") : parts.at(0);
    QString spoken;
    if (whole != QLatin1String("0"))
        spoken += whole == QLatin1String("2") ? QStringLiteral("两块") : whole + QStringLiteral("块");
    if (parts.size() < 2)
        return spoken;
    const QString fraction = parts.at(1);
    if (fraction.isEmpty() || fraction == QLatin1String("0") || fraction == QLatin1String("00"))
        return spoken;
    auto nonZeroDigit = [](QChar c) { return c >= QLatin1Char('1') && c <= QLatin1Char('9'); };
    const QChar first = fraction.at(0);
    if (nonZeroDigit(first)) {
        spoken += first + QStringLiteral("毛");
        if (fraction.size() > 1 && nonZeroDigit(fraction.at(1)))
            spoken += fraction.at(1);
    } else if (first == QLatin1Char('0') && fraction.size() > 1) {
        if (whole != QLatin1String("0"))
            spoken += QStringLiteral("零");
        spoken += fraction.at(1) + QStringLiteral("分");
    }
    return spoken;
}

bool PriceMode::IsTextRow(int row) const
{
    return m_list.At(row).isText;
}

void PriceMode::SelectRow(int row)
{
    ui->tableWidget->selectRow(row);
    ui->tableWidget->setFocus();
}

// The table is a view of the list: a row shows its data, and edits in it
// (the check box, a name, the editors) write back to the data.
void PriceMode::ShowRow(int row)
{
    QTableWidget *table = ui->tableWidget;
    const PriceRow &data = m_list.At(row);
    const QSignalBlocker quietTable(table);
    // A checkable item, not a check box widget: a list of any length loads
    // quickly (CellEdited writes the tick back).
    auto *tick = new QTableWidgetItem;
    tick->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    tick->setCheckState(data.ticked ? Qt::Checked : Qt::Unchecked);
    table->setItem(row, ColumnCheck, tick);
    if (data.isText) {
        table->setSpan(row, ColumnName, 1, 3);
        auto *item = new QTableWidgetItem(data.text);
        item->setFlags(item->flags() & ~Qt::ItemIsEditable);
        table->setItem(row, ColumnName, item);
        return;
    }
    if (table->columnSpan(row, ColumnName) > 1)
        table->setSpan(row, ColumnName, 1, 1);
    table->setItem(row, ColumnName, new QTableWidgetItem(data.name));
    table->setItem(row, ColumnPrice, new QTableWidgetItem(data.price));
    table->setItem(row, ColumnUnit, new QTableWidgetItem(data.unit));
}

void PriceMode::ShowAllRows()
{
    QTableWidget *table = ui->tableWidget;
    table->setUpdatesEnabled(false);
    table->clearSpans();
    table->setRowCount(0);
    table->setRowCount(m_list.Size());
    for (int row = 0; row < m_list.Size(); ++row)
        ShowRow(row);
    table->setUpdatesEnabled(true);
}

int PriceMode::AddRow(int row, const PriceRow &data)
{
    row = m_list.Insert(row, data);
    ui->tableWidget->insertRow(row);
    ShowRow(row);
    m_saveTimer->Restart();
    return row;
}

void PriceMode::CellEdited(QTableWidgetItem *item)
{
    const int row = item->row();
    if (row < 0 || row >= m_list.Size())
        return;
    PriceRow &data = m_list.At(row);
    switch (item->column()) {
    case ColumnCheck:
        data.ticked = item->checkState() == Qt::Checked;
        return; // a tick is not stored
    case ColumnName:
        (data.isText ? data.text : data.name) = LimitTextLength(item->text());
        break;
    case ColumnPrice:
        data.price = item->text();
        break;
    case ColumnUnit:
        data.unit = item->text();
        break;
    default:
        return;
    }
    m_saveTimer->Restart();
}

void PriceMode::AddPriceRow(const QString &name, const QString &price, const QString &unit)
{
    AddRow(m_list.Size(), PriceRow::Goods(name, price, unit));
}

void PriceMode::AddTextRow(const QString &text)
{
    AddRow(m_list.Size(), PriceRow::Text(text));
}

QString PriceMode::GetPrice(int row)
{
    QTableWidget *table = ui->tableWidget;
    if (auto *editor = qobject_cast<QLineEdit *>(table->cellWidget(row, ColumnPrice))) {
        const QStringList parts = editor->text().split(QLatin1Char('.'));
        const QString price = QString::number(parts.at(0).toLongLong()) + QLatin1Char('.')
                              + (parts.size() > 1 ? parts.at(1) : QStringLiteral("00"));
        table->removeCellWidget(row, ColumnPrice);
        m_list.At(row).price = price;
        ShowRow(row);
        m_saveTimer->Restart();
    }
    return m_list.At(row).price;
}

QString PriceMode::GetUnit(int row)
{
    QTableWidget *table = ui->tableWidget;
    if (auto *editor = qobject_cast<QComboBox *>(table->cellWidget(row, ColumnUnit))) {
        const QString unit = editor->currentText().trimmed();
        table->removeCellWidget(row, ColumnUnit);
        m_list.At(row).unit = unit;
        ShowRow(row);
        m_saveTimer->Restart();
    }
    return m_list.At(row).unit;
}

bool PriceMode::AnnouncementText(int row, QString *text)
{
    if (IsTextRow(row)) {
        *text = m_list.At(row).text.trimmed();
        return true;
    }
    const QString price = GetPrice(row);
    if (price.isEmpty()) {
        PLOG(LOG_WARNING, "row = %d has no price", row);
        return false;
    }
    *text = m_list.At(row).name + PriceToSpeech(price) + GetUnit(row);
    return true;
}

bool PriceMode::Play()
{
    if (m_playState == Playing) {
        PLOG(LOG_WARNING, "%s", "is playing now");
        return true;
    }
    PLOG(LOG_DEBUG, "%s", "play");
    SetButtonColor(ui->pushButton_pause, kColorPlain);
    if (!m_readyForNext) {
        m_playState = Playing;
        emit Active(true);
        SetButtonColor(ui->pushButton_play, kColorLit);
        return true;
    }
    QTableWidget *table = ui->tableWidget;
    int row = table->currentRow();
    if (row < 0) {
        PLOG(LOG_DEBUG, "no current row (%d): starting at the first", row);
        if (table->rowCount() == 0)
            return false;
        row = 0;
        SelectRow(0);
    }
    QString text;
    if (!AnnouncementText(row, &text))
        return false;
    SelectRow(row);
    emit StartPlay();
    int waitMs = 0;
    if (ParseWaitText(text, &waitMs)) {
        emit OutAudio(m_requestIndex, 1, QString::number(waitMs), true);
    } else {
        emit OutAudio(m_requestIndex, 0, text, true);
    }
    m_sentRowId = m_list.At(row).id;
    ++m_requestIndex;
    m_playState = Playing;
    emit Active(true);
    m_readyForNext = false;
    SetButtonColor(ui->pushButton_play, kColorLit);
    return true;
}

bool PriceMode::Pause()
{
    if (m_underTimerMode)
        return false;
    emit CancelSpeech();
    PLOG(LOG_DEBUG, "%s", "pause");
    if (m_playState != Playing) {
        PLOG(LOG_WARNING, "%s", "is not playing, no need to pause");
        return false;
    }
    m_playState = Paused;
    emit Active(false);
    SetButtonColor(ui->pushButton_pause, kColorLit);
    SetButtonColor(ui->pushButton_play, kColorPlain);
    return true;
}

void PriceMode::PauseUnderTimerMode()
{
    emit CancelSpeech();
    PLOG(LOG_DEBUG, "%s", "pause");
    if (m_playState != Playing) {
        PLOG(LOG_WARNING, "%s", "is not playing, no need to pause");
        return;
    }
    m_playState = Paused;
    emit Active(false);
    SetButtonColor(ui->pushButton_pause, kColorLit);
    SetButtonColor(ui->pushButton_play, kColorPlain);
}

void PriceMode::ActionFinished(int index)
{
    NextAfterReport(index);
    if (m_playState != Playing)
        emit Active(false);
}

void PriceMode::NextAfterReport(int index)
{
    m_readyForNext = true;
    PLOG(LOG_DEBUG, "play finished, index = %x, m_needBreak = %d", index, int(m_needBreak));
    SetButtonColor(ui->pushButton_play, kColorPlain);

    if ((!ui->checkBox_recycle->isChecked() && !m_underTimerMode) || m_needBreak) {
        StopAfterRow();
        return;
    }
    if (m_playState == Paused)
        return;
    m_playState = Stopped;
    QTableWidget *table = ui->tableWidget;
    if (table->rowCount() == 0)
        return;
    // On from the row that was read, wherever it is now.
    const int last = m_list.RowOf(m_sentRowId);
    const int start = last >= 0 ? (last + 1) % table->rowCount() : qMax(0, table->currentRow());
    AdvanceFrom(start);
}

void PriceMode::StopAfterRow()
{
    m_playState = Stopped;
    if (m_needBreak) {
        qDebug("PriceMode::ActionFinished pause");
        PauseUnderTimerMode();
        m_needBreak = false;
    }
}

void PriceMode::AdvanceFrom(int start)
{
    QTableWidget *table = ui->tableWidget;
    int row = start;
    do {
        SelectRow(row);
        if (m_list.At(row).ticked) {
            if (Play()) {
                PLOG(LOG_DEBUG, "try next row = %d", row);
                return;
            }
            PLOG(LOG_WARNING, "play failed, row = %d", row);
            row = (row + 1) % table->rowCount();
            PLOG(LOG_DEBUG, "try next row = %d", row);
        } else {
            qDebug("row %d is not selected", row);
            row = (row + 1) % table->rowCount();
        }
    } while (row != start);
}

void PriceMode::StartTimerModeControl()
{
    m_underTimerMode = true;
    // A stop asked for by a task that has ended is void once the next
    // task starts, even while the last row of the first is still read.
    m_needBreak = false;
    Play();
}

void PriceMode::StopTimerModeControl()
{
    qDebug("PriceMode::StopTimerModeControl");
    m_underTimerMode = false;
    if (m_readyForNext) {
        qDebug("PriceMode ready to pause");
        Pause();
    } else {
        qDebug("PriceMode ready to break");
        m_needBreak = true;
    }
}

void PriceMode::ProcessTableDoubleClick(int row, int col)
{
    QTableWidget *table = ui->tableWidget;
    if (row < 0 || row >= m_list.Size())
        return;
    if (col >= ColumnName && IsTextRow(row)) {
        int ms = 0;
        if (m_list.At(row).Wait(&ms))
            return;
        const quint64 id = m_list.At(row).id;
        GetEditString dialog(m_list.At(row).text);
        const bool accepted = dialog.exec() == QDialog::Accepted;
        // The list may have changed while the dialog was open.
        const int now = m_list.RowOf(id);
        if (accepted && now >= 0) {
            m_list.At(now).text = LimitTextLength(dialog.EditedText());
            ShowRow(now);
            m_saveTimer->Restart();
        }
        if (now >= 0)
            SelectRow(now);
        return;
    }
    if (col == ColumnPrice) {
        auto *editor = new QLineEdit(m_list.At(row).price, table);
        editor->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QLatin1String(kPriceExpression)), editor));
        connect(editor, &QLineEdit::returnPressed, this, &PriceMode::PriceEnter);
        table->setCellWidget(row, ColumnPrice, editor);
        editor->setFocus();
    } else if (col == ColumnUnit) {
        auto *editor = new QComboBox(table);
        editor->setEditable(true);
        for (const char *unit : kUnits)
            editor->addItem(QString::fromUtf8(unit));
        const QString current = m_list.At(row).unit;
        if (editor->findText(current) < 0)
            editor->addItem(current);
        editor->setCurrentIndex(editor->findText(current));
        table->setCellWidget(row, ColumnUnit, editor);
    }
}

// Leaving a cell commits its editor (a change, saved a second later).
void PriceMode::ProcessTableCellChanged(int, int, int preR, int preC)
{
    if (preR >= 0 && preR < m_list.Size()) {
        if (preC == ColumnPrice)
            GetPrice(preR);
        else if (preC == ColumnUnit)
            GetUnit(preR);
    }
}

void PriceMode::PriceEnter()
{
    const int row = ui->tableWidget->currentRow();
    if (row >= 0 && row < m_list.Size())
        GetPrice(row);
    SelectRow(row);
}

void PriceMode::InsertRow()
{
    SelectRow(AddRow(ui->tableWidget->currentRow() + 1, PriceRow::Goods(QString(), QString(), QString())));
}

void PriceMode::InsertTextRow()
{
    SelectRow(AddRow(ui->tableWidget->currentRow() + 1, PriceRow::Text(QString())));
}

void PriceMode::InsertWait()
{
    SelectWaitTimeDialog dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QString wait = QStringLiteral("延时") + QString::number(dialog.WaitValue()) + dialog.WaitUnit();
    SelectRow(AddRow(ui->tableWidget->currentRow() + 1, PriceRow::Text(wait)));
}

void PriceMode::RemoveRow(int row)
{
    m_list.Remove(row);
    ui->tableWidget->removeRow(row);
    m_saveTimer->Restart();
}

void PriceMode::DelItem()
{
    const int row = ui->tableWidget->currentRow();
    if (row >= 0 && row < m_list.Size())
        RemoveRow(row);
}

void PriceMode::DelAll()
{
    if (!ConfirmWarning(QStringLiteral("请确认是否要删除所有记录？")))
        return;
    m_list.Clear();
    ShowAllRows();
    m_saveTimer->Restart();
}

void PriceMode::SaveFile()
{
    m_saveTimer->stop();
    if (g_restorePending)
        return;
    TiXmlDocument doc;
    m_list.ToXml(&doc);
    SAVE_STORED_FILE(*m_file, doc);
}

void PriceMode::LoadFile(const QString &path)
{
    PLOG(LOG_INFO, "load price mode from file(%s)", qPrintable(path));
    TiXmlDocument doc;
    int oddPrices = 0;
    bool fresh = false;
    switch (m_file->LoadFrom(path, &doc)) {
    case XmlFile::ReadResult::Missing:
        PLOG(LOG_INFO, "no price list yet (%s): starting with the example rows", qPrintable(path));
        m_list = PriceList::Defaults();
        fresh = true;
        break;
    case XmlFile::ReadResult::Unusable:
        PLOG(LOG_ERROR, "%s", "parse price.xml file failed");
        m_list = PriceList();
        break;
    case XmlFile::ReadResult::Ok:
        m_list = PriceList::FromXml(*doc.FirstChildElement(), &oddPrices);
        break;
    }
    if (oddPrices > 0)
        PLOG(LOG_WARNING, "%d prices in %s are not numbers; they are read as written", oddPrices, qPrintable(path));
    // "true" ticks the loop box; anything else leaves it as it is.
    const bool loop = m_list.recycle || ui->checkBox_recycle->isChecked();
    {
        const QSignalBlocker quiet(ui->checkBox_recycle);
        ui->checkBox_recycle->setChecked(loop);
    }
    m_list.recycle = loop;
    m_sentRowId = 0;
    ShowAllRows();
    if (fresh)
        m_saveTimer->Restart(); // the defaults are written a second later
}

void PriceMode::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    QTableWidget *table = ui->tableWidget;
    table->setColumnWidth(ColumnCheck, 16);
    const int width = table->width();
    const int w1 = table->columnWidth(ColumnName), w2 = table->columnWidth(ColumnPrice),
              w3 = table->columnWidth(ColumnUnit);
    if ((width > m_lastTableWidth || w1 < 300) && w1 + w2 + w3 > 0) {
        const int grow = width - m_lastTableWidth;
        table->setColumnWidth(ColumnPrice, qBound(60, w2 + w2 * grow / (w1 + w2 + w3), 90));
        table->setColumnWidth(ColumnUnit, qBound(50, w3 + w3 * grow / (w1 + w2 + w3), 70));
    }
    table->setColumnWidth(ColumnName, width - table->verticalHeader()->width() - table->columnWidth(ColumnCheck)
                                          - table->columnWidth(ColumnPrice) - table->columnWidth(ColumnUnit) - 5);
    m_lastTableWidth = width;
}

void PriceMode::ReplaceList(PriceList list)
{
    // The row being read, found again by what it holds, keeps its identity,
    // so its report moves on from where it is in the new list.
    list.RenumberFrom(m_list.NextId());
    const int sent = m_list.RowOf(m_sentRowId);
    if (sent >= 0) {
        const PriceRow &was = m_list.At(sent);
        for (int row = 0; row < list.Size(); ++row) {
            PriceRow &now = list.At(row);
            if (now.isText == was.isText && now.text == was.text && now.name == was.name && now.price == was.price
                && now.unit == was.unit) {
                now.id = m_sentRowId;
                break;
            }
        }
    }
    const int current = ui->tableWidget->currentRow();
    const quint64 currentId = current >= 0 && current < m_list.Size() ? m_list.At(current).id : 0;
    m_list = list;
    {
        const QSignalBlocker quiet(ui->checkBox_recycle);
        ui->checkBox_recycle->setChecked(m_list.recycle);
    }
    ShowAllRows();
    const int again = m_list.RowOf(currentId ? currentId : m_sentRowId);
    if (again >= 0)
        ui->tableWidget->selectRow(again);
    SaveFile();
}
