#include "modes/SimplePlay.h"
#include "ui_SimplePlay.h"

#include "core/AppPaths.h"
#include "modes/GetEditString.h"
#include "core/Log.h"
#include "modes/ModeHelpers.h"
#include "modes/MyMessageBox.h"
#include "core/PendingSaves.h"
#include "modes/SaveTimer.h"
#include "modes/SelectWaitTimeDialog.h"
#include "core/SettingsValues.h"
#include "speech/SpeechCache.h"
#include "core/StoredFile.h"
#include "speech/WavFile.h"
#include "core/XmlFile.h"
#include "modes/WordExport.h"

#include <QDir>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <tinyxml.h>


#include <cstdio>

namespace {

const QString kListName = QStringLiteral("文字列表");

const char *const kDefaultRows[] = {
    "各位同事早上好，我们的超市马上就要开始营业了，请大家做好准备",
    "欢迎光临Marlowick超市，为感谢新老客户，现推出店庆活动，欢迎选购",
    "各位同事辛苦了!今天我们的营业时间就要到了，请大家做好准备",
};

// Every row shares one of two icons, so a long list loads its images once.
QIcon RowIcon(const QString &text)
{
    static const QIcon wait(QStringLiteral(":/image/wait.png"));
    static const QIcon input(QStringLiteral(":/image/input.jpg"));
    int ms = 0;
    return ParseWaitText(text, &ms) ? wait : input;
}

int RowId(const QListWidgetItem *item)
{
    bool ok = false;
    const int id = item->data(Qt::UserRole).toInt(&ok);
    return ok ? id : 0;
}

} // namespace

SimplePlay::SimplePlay(int firstRecordIndex, QWidget *parent, Qt::WindowFlags flags)
    : QWidget(parent, flags), ui(std::make_unique<Ui::SimplePlayClass>()), m_recordIndex(firstRecordIndex),
      m_saveTimer(new SaveTimer(this))
{
    ui->setupUi(this);
    SetupContextMenu();
    connect(ui->pushButton_DoPlay, &QPushButton::clicked, this, &SimplePlay::ProcessPlayButton);
    connect(ui->lineEdit_PlayContent, &QLineEdit::returnPressed, this, &SimplePlay::ProcessPlayButton);
    connect(ui->pushButton_pause, &QPushButton::clicked, this, &SimplePlay::Pause);
    connect(ui->listWidget_Record, &QListWidget::itemDoubleClicked, this, &SimplePlay::DblClickRecord);
    AddWindowShortcut(this, QKeySequence(QStringLiteral("Ctrl+S")), [this] { SaveFile(); });
    AddWindowShortcut(this, QKeySequence(Qt::Key_Delete), [this] { DelTmpPlay(); });
    connect(m_saveTimer, &QTimer::timeout, this, &SimplePlay::TimerOut);
    // The loop box is stored with the rows.
    connect(ui->checkBox_recycle, &QCheckBox::clicked, m_saveTimer, &SaveTimer::Restart);

    SetButtonColor(ui->pushButton_DoPlay, kColorPlain);
    SetButtonColor(ui->pushButton_pause, kColorPlain);
    ui->lineEdit_PlayContent->setMaxLength(kMaxTextLength);
    ui->lineEdit_PlayContent->setPlaceholderText(
        QStringLiteral("请输入需要播放的文字内容（最多%1字）").arg(kMaxTextLength));
    // Edits not yet saved are written even when the process ends without
    // tearing the window down.
    PendingSaves::Add(this, [this] {
        if (m_saveTimer->isActive())
            SaveFile();
    });

    // On a fresh account the parents of the data location may be missing too.
    const QString docDir = AppPaths::DataLocation();
    if (!QDir(docDir).exists())
        QDir().mkpath(docDir);
    PLOG(LOG_INFO, "docDir=%s, rootDir=%s", qPrintable(docDir), qPrintable(QDir(AppPaths::DataDir()).absolutePath()));
    m_file = std::make_unique<StoredFile>(FilePath(), kListName);
    LoadFile(FilePath());
}

SimplePlay::~SimplePlay()
{
    PendingSaves::Remove(this);
    SaveFile();
}

QString SimplePlay::FilePath()
{
    return QDir(AppPaths::DataDir()).absolutePath() + QStringLiteral("/SimpleMode.xml");
}

void SimplePlay::SetupContextMenu()
{
    AddContextMenu(ui->listWidget_Record, this,
                   {{"播放当前行", ":/image/play.png", [this] { PlaySelect(); }},
                    {"删除选中行", ":/image/del.png", [this] { DelTmpPlay(); }},
                    {"删除所有行", ":/image/delall.png", [this] { DelAll(); }},
                    {"插入延时", ":/image/wait.png", [this] { InsertWait(); }},
                    {"导出到文件", ":/image/export.png", [this] { ExportToFile(); }}});
}

QListWidgetItem *SimplePlay::MakeItem(const QString &text)
{
    auto *item = new QListWidgetItem(RowIcon(text), text);
    item->setData(Qt::UserRole, m_recordIndex++);
    return item;
}

void SimplePlay::AddRecord(const QString &text)
{
    ui->listWidget_Record->addItem(MakeItem(text));
    m_saveTimer->Restart();
}

// A wait row becomes one wait request; a text row the text (reported)
// followed by an 800 ms gap (not reported).
void SimplePlay::SendRow(QListWidgetItem *item)
{
    const int id = RowId(item);
    const QString text = item->text().trimmed();
    int ms = 0;
    if (ParseWaitText(text, &ms)) {
        emit OutAudio(id, 1, QString::number(ms), true);
        return;
    }
    emit OutAudio(id, 0, text + QStringLiteral(", ."), true);
    emit OutAudio(id, 1, QStringLiteral("800"), false);
}

void SimplePlay::ProcessPlayButton()
{
    ui->listWidget_Record->setFocus();
    const QString text = ui->lineEdit_PlayContent->text().trimmed();
    if (!text.isEmpty()) {
        AddRecord(text);
        ui->lineEdit_PlayContent->clear();
        if (m_playState != Playing)
            SelectOnlyRow(ui->listWidget_Record, ui->listWidget_Record->count() - 1);
    }
    Play();
}

bool SimplePlay::Play()
{
    QListWidget *list = ui->listWidget_Record;
    if (list->count() == 0)
        return false;
    if (m_playState == Playing) {
        PLOG(LOG_WARNING, "%s", "is playing now");
        return true;
    }
    PLOG(LOG_DEBUG, "%s", "play");
    SetButtonColor(ui->pushButton_pause, kColorPlain);
    if (m_readyForNext) {
        if (!list->currentItem())
            SelectOnlyRow(list, 0);
        SendRow(list->currentItem());
        emit StartPlay();
        m_readyForNext = false;
    }
    m_playState = Playing;
    emit Active(true);
    SetButtonColor(ui->pushButton_DoPlay, kColorLit);
    return true;
}

bool SimplePlay::Pause()
{
    emit CancelSpeech();
    PLOG(LOG_DEBUG, "%s", "pause");
    if (m_playState != Playing) {
        PLOG(LOG_WARNING, "%s", "is not playing, no need to pause");
        return false;
    }
    m_playState = Paused;
    emit Active(false);
    SetButtonColor(ui->pushButton_pause, kColorLit);
    SetButtonColor(ui->pushButton_DoPlay, kColorPlain);
    return true;
}

void SimplePlay::ActionFinished(int index)
{
    m_readyForNext = true;
    PLOG(LOG_DEBUG, "play finished, index = %x", index);
    SetButtonColor(ui->pushButton_DoPlay, kColorPlain);

    if (!ui->checkBox_recycle->isChecked()) {
        m_playState = Stopped;
    } else if (m_playState != Paused) {
        m_playState = Stopped;
        QListWidget *list = ui->listWidget_Record;
        int last = -1;
        for (int row = 0; row < list->count() && last < 0; ++row)
            if (RowId(list->item(row)) == index)
                last = row;
        const int next = last >= 0 ? (last + 1) % list->count() : list->currentRow();
        PLOG(LOG_DEBUG, "last row = %d, next row = %d", last, next);
        PlayFromRow(next);
    }
    if (m_playState != Playing)
        emit Active(false);
}

// Tries the rows from the given one on, wrapping around, until one plays.
void SimplePlay::PlayFromRow(int row)
{
    QListWidget *list = ui->listWidget_Record;
    if (list->count() == 0)
        return;
    const int first = row;
    for (;;) {
        SelectOnlyRow(list, row);
        PLOG(LOG_DEBUG, "ready to play row = %d", row);
        if (Play())
            return;
        PLOG(LOG_WARNING, "play failed, row = %d", row);
        row = (row + 1) % list->count();
        PLOG(LOG_DEBUG, "try next row = %d", row);
        if (row == first)
            return;
    }
}

void SimplePlay::PlaySelect()
{
    if (!ui->listWidget_Record->currentItem())
        return;
    if (m_playState == Playing) {
        MyMessageBox::ShowNotice(QStringLiteral("温馨提示"), QStringLiteral("正在播放中，请稍候！"));
        return;
    }
    ui->checkBox_recycle->setChecked(false);
    Play();
}

void SimplePlay::RemoveRow(int row)
{
    std::unique_ptr<QListWidgetItem> item(ui->listWidget_Record->takeItem(row));
    emit DelRecord(RowId(item.get()));
    m_saveTimer->Restart();
}

void SimplePlay::DelTmpPlay()
{
    const QList<QListWidgetItem *> selected = ui->listWidget_Record->selectedItems();
    for (auto it = selected.rbegin(); it != selected.rend(); ++it)
        RemoveRow(ui->listWidget_Record->row(*it));
}

void SimplePlay::DelAll()
{
    if (!ConfirmWarning(QStringLiteral("请确认是否要删除所有记录？")))
        return;
    for (int row = ui->listWidget_Record->count() - 1; row >= 0; --row)
        RemoveRow(row);
}

void SimplePlay::ExportToFile()
{
    const QList<QListWidgetItem *> selected = ui->listWidget_Record->selectedItems();
    if (selected.isEmpty()) {
        MyMessageBox::ShowNotice(QStringLiteral("温馨提示"), QStringLiteral("请选中需要导出的行！"));
        return;
    }
    QStringList texts;
    if (selected.size() == 1 && ui->listWidget_Record->currentItem())
        texts << ui->listWidget_Record->currentItem()->text();
    for (int i = 0; selected.size() > 1 && i < selected.size(); ++i)
        texts << selected.at(i)->text();
    WordExport(this, m_chooseExportFile, g_settings.musicList, g_settings.musicVol).Run(texts);
}

void SimplePlay::DblClickRecord(QListWidgetItem *current)
{
    if (!current)
        return;
    GetEditString dialog(current->text());
    if (dialog.exec() != QDialog::Accepted)
        return;
    current->setText(dialog.EditedText());
    m_saveTimer->Restart();
}

void SimplePlay::InsertWait()
{
    SelectWaitTimeDialog dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QString text = QStringLiteral("延时") + QString::number(dialog.WaitValue()) + dialog.WaitUnit();
    ui->listWidget_Record->insertItem(ui->listWidget_Record->currentRow() + 1, MakeItem(text));
    m_saveTimer->Restart();
}

void SimplePlay::SaveFile()
{
    TiXmlDocument doc;
    auto *records = new TiXmlElement("records"); // owned by the document once linked
    doc.LinkEndChild(records);
    records->SetAttribute("recycle", ui->checkBox_recycle->isChecked() ? "true" : "false");
    for (int row = 0; row < ui->listWidget_Record->count(); ++row) {
        auto *record = new TiXmlElement("record");
        records->LinkEndChild(record);
        record->LinkEndChild(new TiXmlText(ui->listWidget_Record->item(row)->text().toLocal8Bit().constData()));
    }
    SAVE_STORED_FILE(*m_file, doc);
}

bool SimplePlay::SaveFailed() const
{
    return m_file->SaveFailed();
}

void SimplePlay::TimerOut()
{
    SaveFile();
}

void SimplePlay::LoadFile(const QString &path)
{
    ui->listWidget_Record->clear();
    PLOG(LOG_INFO, "load word plan from file(%s)", qPrintable(path));
    TiXmlDocument doc;
    switch (m_file->LoadFrom(path, &doc)) {
    case XmlFile::ReadResult::Missing:
        for (const char *row : kDefaultRows)
            AddRecord(QString::fromUtf8(row));
        return;
    case XmlFile::ReadResult::Unusable:
        PLOG(LOG_ERROR, "%s", "parse SimpleMode.xml file failed");
        return;
    case XmlFile::ReadResult::Ok:
        break;
    }
    const TiXmlElement *root = doc.FirstChildElement();
    const char *recycle = root->Attribute("recycle");
    if (recycle && QString::fromLatin1(recycle).compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        ui->checkBox_recycle->setChecked(true);
    // Rows are added in one go; the list repaints once.
    ui->listWidget_Record->setUpdatesEnabled(false);
    for (const TiXmlElement *e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
        const QString text = XmlFile::ElementText(e);
        if (text.size() > kMaxTextLength)
            PLOG(LOG_WARNING, "row %d has %d characters, cut to %d", ui->listWidget_Record->count() + 1,
                 int(text.size()), kMaxTextLength);
        AddRecord(LimitTextLength(text));
    }
    ui->listWidget_Record->setUpdatesEnabled(true);
}

ListJson::WordList SimplePlay::Words() const
{
    ListJson::WordList words;
    words.loop = ui->checkBox_recycle->isChecked();
    for (int row = 0; row < ui->listWidget_Record->count(); ++row)
        words.rows << ui->listWidget_Record->item(row)->text();
    return words;
}

void SimplePlay::ReplaceWords(const ListJson::WordList &words)
{
    QListWidget *list = ui->listWidget_Record;
    // The row being played, found again by its text, keeps its id: its
    // report then moves the loop on from where it is in the new list.
    const QListWidgetItem *current = list->currentItem();
    const QString currentText = current ? current->text() : QString();
    const int currentId = current ? RowId(current) : -1;
    list->setUpdatesEnabled(false);
    list->clear();
    int found = -1;
    for (const QString &text : words.rows) {
        QListWidgetItem *item = MakeItem(LimitTextLength(text));
        if (found < 0 && current && text == currentText) {
            item->setData(Qt::UserRole, currentId);
            found = list->count();
        }
        list->addItem(item);
    }
    list->setUpdatesEnabled(true);
    if (found >= 0)
        SelectOnlyRow(list, found);
    ui->checkBox_recycle->setChecked(words.loop);
    SaveFile();
}
