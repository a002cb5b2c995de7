#include "modes/SimplePlay.h"
#include "ui_SimplePlay.h"

#include "core/Log.h"
#include "core/SettingsValues.h"
#include "modes/GetEditString.h"
#include "modes/ModeHelpers.h"
#include "modes/MyMessageBox.h"
#include "modes/SelectWaitTimeDialog.h"
#include "modes/WordExport.h"
#include "shop/Shop.h"
#include "shop/StoredList.h"
#include "shop/WordListModel.h"
#include "shop/WordPlayer.h"

#include <QIdentityProxyModel>

#include <algorithm>

namespace {

// The word list as the tab shows it: each row with the icon of its kind
// (every row shares one of two icons, so a long list loads its images once).
class WordRowsWithIcons : public QIdentityProxyModel
{
public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role != Qt::DecorationRole)
            return QIdentityProxyModel::data(index, role);
        static const QIcon wait(QStringLiteral(":/image/wait.png"));
        static const QIcon input(QStringLiteral(":/image/input.jpg"));
        return index.data(WordListModel::WaitRole).toBool() ? wait : input;
    }
};

} // namespace

SimplePlay::SimplePlay(Shop *shop, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::SimplePlayClass>()), m_list(shop->Words()), m_player(shop->WordLoop())
{
    ui->setupUi(this);
    auto *rows = new WordRowsWithIcons(this);
    rows->setSourceModel(m_list);
    ui->listView_Record->setModel(rows);
    ui->listView_Record->setUniformItemSizes(true);
    ui->listView_Record->setEditTriggers(QAbstractItemView::NoEditTriggers);
    SetupContextMenu();
    connect(ui->pushButton_DoPlay, &QPushButton::clicked, this, &SimplePlay::ProcessPlayButton);
    connect(ui->lineEdit_PlayContent, &QLineEdit::returnPressed, this, &SimplePlay::ProcessPlayButton);
    connect(ui->pushButton_pause, &QPushButton::clicked, m_player, &WordPlayer::Pause);
    connect(ui->listView_Record, &QListView::doubleClicked, this,
            [this](const QModelIndex &index) { EditRow(index.row()); });
    // Choosing a row makes it the one reading starts from.
    connect(ui->listView_Record->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) { m_player->SetCursor(current.row()); });
    AddWindowShortcut(this, QKeySequence(QStringLiteral("Ctrl+S")), [this] { SaveFile(); });
    AddWindowShortcut(this, QKeySequence(Qt::Key_Delete), [this] { DelTmpPlay(); });
    ui->checkBox_recycle->setChecked(m_list->List().loop);
    connect(ui->checkBox_recycle, &QCheckBox::clicked, m_list, &WordListModel::SetLoop);
    connect(m_list, &WordListModel::LoopChanged, ui->checkBox_recycle, &QCheckBox::setChecked);
    connect(m_player, &WordPlayer::StateChanged, this, &SimplePlay::ShowState);
    connect(m_player, &WordPlayer::CursorChanged, this, &SimplePlay::ShowCursor);

    ShowState(m_player->GetState());
    ShowCursor(m_player->Cursor());
    ui->lineEdit_PlayContent->setMaxLength(kMaxTextLength);
    ui->lineEdit_PlayContent->setPlaceholderText(
        QStringLiteral("请输入需要播放的文字内容（最多%1字）").arg(kMaxTextLength));
}

SimplePlay::~SimplePlay() = default;

void SimplePlay::SetupContextMenu()
{
    AddContextMenu(ui->listView_Record, this,
                   {{"播放当前行", ":/image/play.png", [this] { PlaySelect(); }},
                    {"删除选中行", ":/image/del.png", [this] { DelTmpPlay(); }},
                    {"删除所有行", ":/image/delall.png", [this] { DelAll(); }},
                    {"插入延时", ":/image/wait.png", [this] { InsertWait(); }},
                    {"导出到文件", ":/image/export.png", [this] { ExportToFile(); }}});
}

// The button of the current state is lit.
void SimplePlay::ShowState(int state)
{
    SetButtonColor(ui->pushButton_DoPlay, state == WordPlayer::Playing ? kColorLit : kColorPlain);
    SetButtonColor(ui->pushButton_pause, state == WordPlayer::Paused ? kColorLit : kColorPlain);
}

// The row in hand is the current row (the selection follows it unless
// staff are choosing several rows).
void SimplePlay::ShowCursor(int row)
{
    QListView *view = ui->listView_Record;
    if (row < 0 || view->currentIndex().row() == row)
        return;
    const QSignalBlocker quiet(view->selectionModel());
    view->selectionModel()->setCurrentIndex(view->model()->index(row, 0), QItemSelectionModel::ClearAndSelect);
}

QList<int> SimplePlay::SelectedRows() const
{
    QList<int> rows;
    for (const QModelIndex &index : ui->listView_Record->selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

void SimplePlay::ProcessPlayButton()
{
    ui->listView_Record->setFocus();
    const QString text = ui->lineEdit_PlayContent->text().trimmed();
    if (!text.isEmpty()) {
        const int row = m_list->Append(text);
        ui->lineEdit_PlayContent->clear();
        if (m_player->GetState() != WordPlayer::Playing)
            m_player->SetCursor(row);
    }
    m_player->Play();
}

void SimplePlay::PlaySelect()
{
    const int row = ui->listView_Record->currentIndex().row();
    if (row < 0)
        return;
    if (m_player->GetState() == WordPlayer::Playing) {
        MyMessageBox::ShowNotice(QStringLiteral("温馨提示"), QStringLiteral("正在播放中，请稍候！"));
        return;
    }
    m_list->SetLoop(false);
    m_player->SetCursor(row);
    m_player->Play();
}

void SimplePlay::DelTmpPlay()
{
    const QList<int> rows = SelectedRows();
    for (auto it = rows.rbegin(); it != rows.rend(); ++it)
        m_list->Remove(*it);
}

void SimplePlay::DelAll()
{
    if (ConfirmWarning(QStringLiteral("请确认是否要删除所有记录？")))
        m_list->Clear();
}

void SimplePlay::ExportToFile()
{
    const QList<int> rows = SelectedRows();
    QStringList texts;
    for (int row : rows)
        texts << m_list->List().At(row).text;
    if (texts.isEmpty()) {
        MyMessageBox::ShowNotice(QStringLiteral("温馨提示"), QStringLiteral("请选中需要导出的行！"));
        return;
    }
    const SettingsValues &settings = g_settings;
    WordExport(this, m_chooseExportFile, settings.musicList, settings.musicVol).Run(texts);
}

void SimplePlay::EditRow(int row)
{
    if (row < 0 || row >= m_list->List().Size())
        return;
    const quint64 id = m_list->List().At(row).id;
    GetEditString dialog(m_list->List().At(row).text);
    if (dialog.exec() != QDialog::Accepted)
        return;
    // The list may have changed while the dialog was open.
    m_list->SetText(m_list->List().RowOf(id), dialog.EditedText());
}

void SimplePlay::InsertWait()
{
    SelectWaitTimeDialog dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QString text = QStringLiteral("延时") + QString::number(dialog.WaitValue()) + dialog.WaitUnit();
    m_list->Insert(ui->listView_Record->currentIndex().row() + 1, text);
}

void SimplePlay::SaveFile()
{
    m_list->Store().SaveNow();
}
