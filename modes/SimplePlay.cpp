#include "modes/SimplePlay.h"
#include "ui_SimplePlay.h"

#include "core/AppPaths.h"
#include "core/Log.h"
#include "core/SettingsValues.h"
#include "modes/ExportJob.h"
#include "modes/GetEditString.h"
#include "modes/ModeHelpers.h"
#include "modes/MyMessageBox.h"
#include "modes/SelectWaitTimeDialog.h"
#include "shop/Shop.h"
#include "shop/StoredList.h"
#include "shop/WordListModel.h"
#include "shop/WordPlayer.h"
#include "speech/SpeechCache.h"
#include "speech/WavFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QIdentityProxyModel>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>

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
    if (texts.isEmpty())
        MyMessageBox::ShowNotice(QStringLiteral("温馨提示"), QStringLiteral("请选中需要导出的行！"));
    else if (texts.size() == 1)
        ExportOneItem(texts.first());
    else
        ExportMultiItems(texts);
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

namespace {

const QString kErrorTitle = QStringLiteral("错误提示");

// The cache file of a row: the WAV of the text the word loop sends for it.
QString RowCacheFile(const QString &text)
{
    return SpeechCache::PathFor(WordPlayer::Spoken(text));
}

QString CacheDir()
{
    return QDir(AppPaths::SpeechCacheDir()).absolutePath();
}

qint64 WavDurationMs(const QString &path)
{
    WavFile::Info info;
    return WavFile::ReadInfo(path, &info) ? info.DurationMs() : 0;
}

} // namespace

bool SimplePlay::WriteSleepWav(const QString &path, qint64 ms)
{
    if (ms > kMaxSleepMs) {
        PLOG(LOG_WARNING, "a wait of %lld ms is cut to %lld ms, the most one WAV file holds", ms, kMaxSleepMs);
        ms = kMaxSleepMs;
    }
    const qint64 dataBytes = qMax<qint64>(0, ms) * 32;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        PLOG(LOG_ERROR, "open file(%s) for write failed", qPrintable(path));
        return false;
    }
    bool written = file.write(WavFile::Header(quint32(dataBytes))) == WavFile::kHeaderSize;
    const QByteArray zeros(1 << 20, '\0');
    for (qint64 left = dataBytes; written && left > 0; left -= zeros.size())
        written = file.write(zeros.constData(), qMin<qint64>(left, zeros.size())) == qMin<qint64>(left, zeros.size());
    if (!written || !file.commit()) {
        file.cancelWriting();
        PLOG(LOG_ERROR, "open file(%s) for write failed", qPrintable(path));
        return false;
    }
    return true;
}

QString SimplePlay::ChooseExportFile(const QString &text)
{
    const QString name = text.trimmed().left(10).simplified();
    const QString proposed =
        QStandardPaths::writableLocation(QStandardPaths::DesktopLocation) + QLatin1Char('/') + name;
    QString chosen = m_chooseExportFile
                         ? m_chooseExportFile(proposed)
                         : QFileDialog::getSaveFileName(this, QStringLiteral("保存到文件"), proposed, QStringLiteral("audio (*.mp3)"));
    // The dialog does not add the extension to an accepted proposed name.
    if (!chosen.isEmpty() && !chosen.endsWith(QStringLiteral(".mp3"), Qt::CaseInsensitive))
        chosen += QStringLiteral(".mp3");
    return chosen;
}

void SimplePlay::ExportOneItem(const QString &text)
{
    const QString target = ChooseExportFile(text);
    if (target.isEmpty())
        return;
    const QString input = RowCacheFile(text);
    if (!QFile::exists(input)) {
        MyMessageBox::ShowNotice(kErrorTitle, QStringLiteral("文件不存在，请先播放当前行以产生音频文件！"));
        return;
    }
    FinalConversion(input, target);
}

void SimplePlay::ExportMultiItems(const QStringList &items)
{
    const QString target = ChooseExportFile(items.first());
    if (target.isEmpty())
        return;
    const QString dir = CacheDir();
    const QString concatWav = dir + QStringLiteral("/concat.wav");
    const QString interval = dir + QStringLiteral("/interval.wav");
    qDebug("concat: %s", qPrintable(concatWav));
    QFile::remove(concatWav);
    QDir().mkpath(dir);
    QFile list(dir + QStringLiteral("/concat.txt"));
    if (!list.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        PLOG(LOG_DEBUG, "%s", "creat concat txt file failed");
        return;
    }
    const QByteArray gap = "file 'interval.wav'\r\n";
    auto ensureInterval = [&interval] {
        if (!QFile::exists(interval))
            SimplePlay::WriteSleepWav(interval, 1000);
    };
    int missing = 0;
    for (int i = 0; i < items.size() && missing == 0; ++i) {
        const QString file = RowCacheFile(items[i]);
        int waitMs = 0;
        if (!QFile::exists(file)) {
            if (!ParseWaitText(items[i].trimmed(), &waitMs)) {
                missing = i + 1;
                break;
            }
            qDebug("write sleep file, sleep = %d", waitMs);
            WriteSleepWav(file, waitMs);
        }
        ensureInterval();
        list.write(gap);
        list.write("file '" + QFileInfo(file).completeBaseName().toLocal8Bit() + ".wav'\r\n");
    }
    if (missing == 0) {
        ensureInterval();
        for (int i = 0; i < 5; ++i)
            list.write(gap);
    }
    list.close();
    if (missing > 0) {
        MyMessageBox::ShowNotice(kErrorTitle, QStringLiteral("选中的第") + QString::number(missing)
                                                  + QStringLiteral("项文件不存在，请先播放一遍再导出！"));
        return;
    }
    if (ExportJob::FfmpegPath().isEmpty()) {
        FinalConversion(concatWav, target); // tells what to install
        return;
    }
    qint64 totalMs = 0;
    for (const QString &item : items)
        totalMs += WavDurationMs(RowCacheFile(item)) + 1000;
    ExportJob join(this);
    const QStringList args = {QStringLiteral("-f"), QStringLiteral("concat"), QStringLiteral("-i"),
                              list.fileName(),      QStringLiteral("-c"),     QStringLiteral("copy"),
                              concatWav,            QStringLiteral("-y")};
    qDebug("concat cmd: %s", qPrintable(args.join(QLatin1Char(' '))));
    switch (join.Run(args, dir, concatWav, totalMs + 4000)) {
    case ExportJob::Result::Done:
        FinalConversion(concatWav, target);
        return;
    case ExportJob::Result::Cancelled:
        PLOG(LOG_INFO, "%s", "export cancelled");
        return;
    case ExportJob::Result::Failed:
        PLOG(LOG_ERROR, "joining failed: %s", qPrintable(join.ErrorTail()));
        MyMessageBox::ShowNotice(kErrorTitle, QStringLiteral("导出文件失败,可能是没有操作权限！"));
        return;
    }
}

QString SimplePlay::FirstReadableTrack(const QStringList &tracks)
{
    for (const QString &track : tracks) {
        QFile file(track);
        if (QFileInfo(track).isFile() && file.open(QIODevice::ReadOnly) && file.read(1).size() == 1)
            return track;
    }
    return {};
}

void SimplePlay::FinalConversion(const QString &input, const QString &target)
{
    if (ExportJob::FfmpegPath().isEmpty()) {
        PLOG(LOG_ERROR, "%s", "no ffmpeg beside the program or on PATH");
        MyMessageBox::ShowNotice(kErrorTitle, QStringLiteral("未找到FFmpeg，无法导出。请安装FFmpeg（Debian：sudo apt-get "
                                                             "install ffmpeg），或把ffmpeg放在本程序所在的文件夹中。"));
        return;
    }
    // Written beside the target and renamed over it only when whole, so a
    // failed or cancelled export never destroys a file of that name.
    const QFileInfo chosen(target);
    const QString temporary = chosen.absolutePath() + QStringLiteral("/.") + chosen.fileName()
                              + QStringLiteral(".exporting-%1.mp3").arg(QCoreApplication::applicationPid());
    QStringList args = {QStringLiteral("-i"), input};
    qint64 expectedMs = WavDurationMs(input);
    // The first track of the play list that can be read lies under the
    // speech; the operator is told when tracks were passed over.
    const QString music = FirstReadableTrack(g_settings.musicList);
    QString musicNote;
    if (!g_settings.musicList.isEmpty() && music != g_settings.musicList.first()) {
        PLOG(LOG_WARNING, "export: music file %s cannot be read; using %s", qPrintable(g_settings.musicList.first()),
             music.isEmpty() ? "no music" : qPrintable(music));
        musicNote = music.isEmpty() ? QStringLiteral("\n背景音乐文件都无法读取，导出的文件没有背景音乐。")
                                    : QStringLiteral("\n背景音乐文件无法读取：%1\n已改用：%2")
                                          .arg(g_settings.musicList.first(), music);
    }
    if (!music.isEmpty()) {
        PLOG(LOG_DEBUG, "bgMusic: %s", qPrintable(music));
        const QString graph = QStringLiteral("[0:a]aformat=sample_fmts=fltp:channel_layouts=stereo,volume=1.0,"
                                             "adelay=6000|6000[a0];[1:a]aformat=sample_fmts=fltp:channel_layouts="
                                             "stereo,volume=")
                              + QString::number(g_settings.musicVol / 150.0, 'g', 6)
                              + QStringLiteral(",adelay=100|100[a1];[a0][a1]amix=inputs=2:duration=first[aout]");
        args += {QStringLiteral("-i"), music, QStringLiteral("-filter_complex"), graph, QStringLiteral("-map"),
                 QStringLiteral("[aout]"), QStringLiteral("-ac"), QStringLiteral("2")};
        expectedMs += 6000;
    }
    args += {temporary, QStringLiteral("-y")};
    PLOG(LOG_DEBUG, "cmdline = %s", qPrintable(args.join(QLatin1Char(' '))));
    ExportJob convert(this);
    const ExportJob::Result result = convert.Run(args, CacheDir(), temporary, expectedMs);
    if (result == ExportJob::Result::Cancelled) {
        PLOG(LOG_INFO, "%s", "export cancelled");
        return;
    }
    if (result == ExportJob::Result::Done
        && ::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(target).constData()) == 0) {
        MyMessageBox::ShowNotice(QStringLiteral("提示"), QStringLiteral("导出文件成功！") + musicNote);
        return;
    }
    QFile::remove(temporary);
    PLOG(LOG_ERROR, "export to %s failed: %s", qPrintable(target), qPrintable(convert.ErrorTail()));
    MyMessageBox::ShowNotice(kErrorTitle, QStringLiteral("导出文件失败,可能是没有操作权限！"));
}

