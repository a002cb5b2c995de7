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
// While an editor is open the save is held back this long.
constexpr int kHoldSaveMs = 1000000;
const char kPriceExpression[] = "9999999|([0-9]{0,7}[.][0-9]{1,2})";
const char *const kUnits[] = {"", "一斤", "一两", "一个", "一打", "半打", "三斤", "三个"};

QString CellText(const QTableWidget *table, int row, int col)
{
    const QTableWidgetItem *item = table->item(row, col);
    return item ? item->text() : QString();
}

} // namespace

PriceMode::PriceMode(int firstRequestIndex, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::PriceModeClass>()), m_requestIndex(firstRequestIndex),
      m_saveTimer(new SaveTimer(this))
{
    ui->setupUi(this);
    ui->checkBox_recycle->setChecked(true);
    QTableWidget *table = ui->tableWidget;
    m_lastTableWidth = table->width();
    table->setColumnCount(5);
    table->setHorizontalHeaderLabels({QStringLiteral(" "), QStringLiteral("物品名称"), QStringLiteral("单价(元)"),
                                      QStringLiteral("单位"), QStringLiteral("index")});
    table->setColumnHidden(ColumnIndex, true);
    table->horizontalHeader()->setMinimumSectionSize(16); // the check box column is 16 pixels
    connect(table, &QTableWidget::cellDoubleClicked, this, &PriceMode::ProcessTableDoubleClick);
    connect(table, &QTableWidget::currentCellChanged, this, &PriceMode::ProcessTableCellChanged);
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
    connect(m_saveTimer, &QTimer::timeout, this, &PriceMode::TimerOut);
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
    return ui->tableWidget->columnSpan(row, ColumnName) >= 2;
}

QCheckBox *PriceMode::RowCheckBox(int row) const
{
    return qobject_cast<QCheckBox *>(ui->tableWidget->cellWidget(row, ColumnCheck));
}

void PriceMode::PutCheckBox(int row)
{
    if (QCheckBox *box = RowCheckBox(row)) {
        box->setChecked(true);
        return;
    }
    auto *box = new QCheckBox(ui->tableWidget); // owned by the table once set
    box->setChecked(true);
    ui->tableWidget->setCellWidget(row, ColumnCheck, box);
}

void PriceMode::SelectRow(int row)
{
    ui->tableWidget->selectRow(row);
    ui->tableWidget->setFocus();
}

void PriceMode::AddPriceRow(const QString &name, const QString &price, const QString &unit)
{
    QTableWidget *table = ui->tableWidget;
    const int row = table->rowCount();
    qDebug("current cnt = %d, name: %s, price: %s, unit: %s", row, qPrintable(name), qPrintable(price),
           qPrintable(unit));
    table->insertRow(row);
    PutCheckBox(row);
    table->setItem(row, ColumnName, new QTableWidgetItem(name));
    table->setItem(row, ColumnPrice, new QTableWidgetItem(price));
    table->setItem(row, ColumnUnit, new QTableWidgetItem(unit));
    m_saveTimer->Restart();
}

void PriceMode::AddTextRow(const QString &text)
{
    InsertTextRowAt(ui->tableWidget->rowCount(), text);
}

int PriceMode::InsertTextRowAt(int row, const QString &text)
{
    QTableWidget *table = ui->tableWidget;
    table->insertRow(row);
    table->setSpan(row, ColumnName, 1, 3);
    PutCheckBox(row);
    auto *item = new QTableWidgetItem(LimitTextLength(text));
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    table->setItem(row, ColumnName, item);
    return row;
}

QString PriceMode::GetPrice(int row)
{
    QTableWidget *table = ui->tableWidget;
    if (auto *editor = qobject_cast<QLineEdit *>(table->cellWidget(row, ColumnPrice))) {
        const QStringList parts = editor->text().split(QLatin1Char('.'));
        const QString price = QString::number(parts.at(0).toLongLong()) + QLatin1Char('.')
                              + (parts.size() > 1 ? parts.at(1) : QStringLiteral("00"));
        table->removeCellWidget(row, ColumnPrice);
        table->setItem(row, ColumnPrice, new QTableWidgetItem(price));
        return price;
    }
    return CellText(table, row, ColumnPrice);
}

QString PriceMode::GetUnit(int row)
{
    QTableWidget *table = ui->tableWidget;
    if (auto *editor = qobject_cast<QComboBox *>(table->cellWidget(row, ColumnUnit))) {
        const QString unit = editor->currentText().trimmed();
        table->removeCellWidget(row, ColumnUnit);
        table->setItem(row, ColumnUnit, new QTableWidgetItem(unit));
        return unit;
    }
    return CellText(table, row, ColumnUnit);
}

bool PriceMode::AnnouncementText(int row, QString *text)
{
    const QTableWidgetItem *name = ui->tableWidget->item(row, ColumnName);
    if (!name) {
        PLOG(LOG_ERROR, "row = %d, name is NULL", row);
        return false;
    }
    if (IsTextRow(row)) {
        *text = name->text().trimmed();
        return true;
    }
    const QString price = GetPrice(row);
    if (price.isEmpty()) {
        PLOG(LOG_ERROR, "row = %d, price is NULL", row);
        return false;
    }
    *text = name->text() + PriceToSpeech(price) + GetUnit(row);
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
        PLOG(LOG_ERROR, "current row = %d", row);
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
    table->setItem(row, ColumnIndex, new QTableWidgetItem(QString::number(m_requestIndex)));
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
    int start = -1;
    const QString key = QString::number(index);
    for (int row = 0; row < table->rowCount() && start < 0; ++row)
        if (CellText(table, row, ColumnIndex) == key)
            start = (row + 1) % table->rowCount();
    if (start < 0)
        start = qMax(0, table->currentRow());
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
        const QCheckBox *box = RowCheckBox(row);
        if (!box || box->isChecked()) {
            if (Play()) {
                PLOG(LOG_DEBUG, "try next row = %d", row);
                return;
            }
            PLOG(LOG_ERROR, "play failed, row = %d", row);
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
    if (col >= ColumnName && table->columnSpan(row, col) >= 2) {
        QTableWidgetItem *item = table->item(row, col);
        int ms = 0;
        if (!item || ParseWaitText(item->text().trimmed(), &ms))
            return;
        GetEditString dialog(item->text());
        if (dialog.exec() == QDialog::Accepted) {
            item->setText(dialog.EditedText());
            m_saveTimer->Restart();
        }
        SelectRow(row);
        return;
    }
    if (col == ColumnPrice) {
        auto *editor = new QLineEdit(CellText(table, row, ColumnPrice), table);
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
        const QString current = CellText(table, row, ColumnUnit);
        if (editor->findText(current) < 0)
            editor->addItem(current);
        editor->setCurrentIndex(editor->findText(current));
        table->setCellWidget(row, ColumnUnit, editor);
    }
    m_saveTimer->start(kHoldSaveMs);
}

void PriceMode::ProcessTableCellChanged(int, int, int preR, int preC)
{
    if (preR >= 0 && preR < ui->tableWidget->rowCount()) {
        if (preC == ColumnPrice)
            GetPrice(preR);
        else if (preC == ColumnUnit)
            GetUnit(preR);
    }
    m_saveTimer->Restart();
}

void PriceMode::PriceEnter()
{
    SelectRow(ui->tableWidget->currentRow());
    m_saveTimer->Restart();
}

void PriceMode::InsertRow()
{
    QTableWidget *table = ui->tableWidget;
    const int row = table->currentRow() + 1;
    table->insertRow(row);
    SelectRow(row);
    PutCheckBox(row);
}

void PriceMode::InsertTextRow()
{
    const int row = InsertTextRowAt(ui->tableWidget->currentRow() + 1, QString());
    SelectRow(row);
}

void PriceMode::InsertWait()
{
    SelectWaitTimeDialog dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const int row = InsertTextRowAt(ui->tableWidget->currentRow() + 1,
                                    QStringLiteral("延时") + QString::number(dialog.WaitValue()) + dialog.WaitUnit());
    SelectRow(row);
    m_saveTimer->Restart();
}

void PriceMode::DelItem()
{
    const int row = ui->tableWidget->currentRow();
    if (row >= 0)
        ui->tableWidget->removeRow(row);
    m_saveTimer->Restart();
}

void PriceMode::DelAll()
{
    if (!ConfirmWarning(QStringLiteral("请确认是否要删除所有记录？")))
        return;
    for (int row = ui->tableWidget->rowCount() - 1; row >= 0; --row)
        ui->tableWidget->removeRow(row);
    m_saveTimer->Restart();
}

void PriceMode::TimerOut()
{
    SaveFile();
}

void PriceMode::SaveFile()
{
    if (g_restorePending)
        return;
    TiXmlDocument doc;
    auto *root = new TiXmlElement("PriceRecords"); // owned by the document once linked
    doc.LinkEndChild(root);
    root->SetAttribute("recycle", ui->checkBox_recycle->isChecked() ? "true" : "false");
    QTableWidget *table = ui->tableWidget;
    for (int row = 0; row < table->rowCount(); ++row) {
        const QTableWidgetItem *name = table->item(row, ColumnName);
        if (!name)
            continue;
        if (IsTextRow(row)) {
            const QString text = name->text().trimmed();
            if (text.isEmpty())
                continue;
            auto *record = new TiXmlElement("record");
            record->SetAttribute("text", text.toLocal8Bit().constData());
            root->LinkEndChild(record);
            continue;
        }
        const QString price = GetPrice(row);
        if (price.isEmpty())
            continue;
        auto *record = new TiXmlElement("record");
        record->SetAttribute("name", name->text().toLocal8Bit().constData());
        record->SetAttribute("price", price.toLocal8Bit().constData());
        record->SetAttribute("unit", GetUnit(row).toLocal8Bit().constData());
        root->LinkEndChild(record);
    }
    SAVE_STORED_FILE(*m_file, doc);
}

void PriceMode::LoadFile(const QString &path)
{
    PLOG(LOG_INFO, "load price mode from file(%s)", qPrintable(path));
    for (int row = ui->tableWidget->rowCount() - 1; row >= 0; --row)
        ui->tableWidget->removeRow(row);
    TiXmlDocument doc;
    switch (m_file->LoadFrom(path, &doc)) {
    case XmlFile::ReadResult::Missing:
        PLOG(LOG_ERROR, "open file failed, filename is %s", qPrintable(path));
        AddTextRow(QStringLiteral("欢迎光临，本店周年庆特大优惠，优惠信息如下"));
        AddPriceRow(QStringLiteral("西瓜"), QStringLiteral("1.98"), QStringLiteral("一斤"));
        AddPriceRow(QStringLiteral("哈密瓜"), QStringLiteral("2.48"), QStringLiteral("一斤"));
        AddTextRow(QStringLiteral("延时5秒"));
        return;
    case XmlFile::ReadResult::Unusable:
        PLOG(LOG_ERROR, "%s", "parse price.xml file failed");
        return;
    case XmlFile::ReadResult::Ok:
        break;
    }
    const TiXmlElement *root = doc.FirstChildElement();
    const char *recycle = root->Attribute("recycle");
    if (recycle && QString::fromLocal8Bit(recycle).compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        ui->checkBox_recycle->setChecked(true);
    auto attribute = [](const TiXmlElement *e, const char *name) {
        const char *value = e->Attribute(name);
        return value ? QString::fromLocal8Bit(value) : QString();
    };
    ui->tableWidget->setUpdatesEnabled(false);
    for (const TiXmlElement *e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
        if (e->Attribute("text")) {
            AddTextRow(attribute(e, "text"));
            continue;
        }
        const QString price = attribute(e, "price");
        bool isNumber = false;
        price.toDouble(&isNumber);
        if (!price.isEmpty() && !isNumber)
            PLOG(LOG_WARNING, "price \"%s\" of %s is not a number; it is read as written", qPrintable(price),
                 qPrintable(attribute(e, "name")));
        AddPriceRow(LimitTextLength(attribute(e, "name")), price, attribute(e, "unit"));
    }
    ui->tableWidget->setUpdatesEnabled(true);
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
