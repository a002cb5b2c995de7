#include "settings/Settings.h"
#include "ui_Settings.h"

#include "core/AppPaths.h"
#include "speech/Chime.h"
#include "speech/CloudEngine.h"
#include "settings/DataBackup.h"
#include "core/Log.h"
#include "modes/ModeHelpers.h"
#include "core/RemoteAccess.h"
#include "settings/PhonePairing.h"
#include "music/MusicManager.h"
#include "core/SettingsValues.h"
#include "shop/ShopSettings.h"
#include "core/XmlFile.h"

#include <QCoreApplication>
#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSaveFile>
#include <QStandardPaths>

#include <tinyxml.h>

#include <cstdio>

namespace {

struct Voice
{
    const char *id;
    const char *label;
};

const Voice kVoices[Settings::kVoiceCount] = {
    {"xf_xiaoyan", "普通话女声"},
    {"xf_xiaoyu", "普通话男声"},
    {"tx_101000", "小侠（精品情感男声）"},
    {"tx_101001", "小瑜（精品情感女声）"},
    {"tx_101002", "小聆（精品通用女声）"},
    {"tx_101003", "小美（精品客服女声）"},
    {"tx_101004", "小云（精品通用男声）"},
    {"tx_101005", "小莉（精品通用女声）"},
    {"tx_101006", "小言（精品助手女声）"},
    {"tx_101007", "小娜（精品客服女声）"},
    {"tx_101008", "小琪（精品客服女声）"},
    {"tx_101009", "小芸（精品知性女声）"},
    {"tx_101010", "小华（精品通用男声)"},
    {"tx_102000", "小蕾（精品客服女声）"},
    {"tx_102001", "小果（精品客服女声）"},
    {"tx_102002", "小紫（精品粤语女声)"},
    {"tx_102003", "小雪（精品新闻女声)"},
};

const char *const kPageTimes[] = {"禁用", "15秒", "30秒", "45秒", "60秒", "90秒"};

bool g_restartRequested = false;

void Information(const QString &text)
{
    QMessageBox::information(nullptr, QStringLiteral("提示"), text);
}

void Critical(const QString &text)
{
    QMessageBox::critical(nullptr, QStringLiteral("错误"), text);
}

} // namespace

Settings::Settings(ShopSettings *settings, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::SettingsClass>()), m_settings(settings)
{
    ui->setupUi(this);
    InitLists();
    connect(ui->pushButton_cleanCache, &QPushButton::clicked, this, &Settings::ProcessClean);
    connect(ui->pushButton_save, &QPushButton::clicked, this, &Settings::Save);
    connect(ui->horizontalSlider_spd, &QSlider::valueChanged, this, &Settings::ShowSpeed);
    connect(ui->horizontalSlider_vol, &QSlider::valueChanged, this, &Settings::ShowVolume);
    connect(ui->pushButton_backup, &QPushButton::clicked, this, &Settings::Backup);
    connect(ui->pushButton_restore, &QPushButton::clicked, this, &Settings::Restore);
    connect(ui->pushButton_bgMusic, &QPushButton::clicked, this, &Settings::ShowMusicManager);
    connect(ui->comboBox_chime, &QComboBox::activated, this, &Settings::ChimeChosen);
    connect(ui->pushButton_copyToken, &QPushButton::clicked, this, [this] {
        QGuiApplication::clipboard()->setText(ui->lineEdit_token->text());
    });
    connect(ui->pushButton_newToken, &QPushButton::clicked, this, [this] {
        ui->lineEdit_token->setText(QString::fromLatin1(RemoteAccess::MachineToken(ShopSettings::Folder(), true)));
        emit Saved(); // the running interface takes the new token at once
    });
    connect(ui->checkBox_remote, &QCheckBox::toggled, this, &Settings::ShowToken);
    m_pairing = new PhonePairing(ui->groupBox_remote);
    ui->gridLayout_remote->addWidget(m_pairing, 5, 0, 1, 2);
    connect(m_pairing, &PhonePairing::ShopNetworkWanted, this, &Settings::ListenOnShopNetwork);
    ConfigToForm();
}

Settings::~Settings() = default;

// Beside the music manager's button, so the page grows no taller.
void Settings::AddSection(QWidget *section)
{
    int row = 0, column = 0, rows = 0, columns = 0;
    ui->gridLayout->getItemPosition(ui->gridLayout->indexOf(ui->pushButton_bgMusic), &row, &column, &rows, &columns);
    ui->gridLayout->removeWidget(ui->pushButton_bgMusic);
    ui->gridLayout->addWidget(ui->pushButton_bgMusic, row, 0);
    ui->gridLayout->addWidget(section, row, 1, 1, 2);
}

QString Settings::VoiceLabel(int index)
{
    return index >= 0 && index < kVoiceCount ? QString::fromUtf8(kVoices[index].label) : QString();
}

bool Settings::RestartRequested()
{
    return g_restartRequested;
}

QString Settings::SpeakerTransform(int index)
{
    return QString::fromLatin1(index >= 0 && index < kVoiceCount ? kVoices[index].id : kVoices[0].id);
}

int Settings::SpeakerTransform(const QString &voiceId)
{
    for (int i = 0; i < kVoiceCount; ++i)
        if (voiceId == QLatin1String(kVoices[i].id))
            return i;
    return 0;
}

void Settings::InitLists()
{
    ui->comboBox_yusheng->clear();
    for (const Voice &voice : kVoices)
        ui->comboBox_yusheng->addItem(QString::fromUtf8(voice.label));
}

void Settings::ConfigToForm()
{
    ui->comboBox_yusheng->setCurrentIndex(SpeakerTransform(g_settings.yusheng.Get()));
    ui->horizontalSlider_spd->setValue(g_settings.speed);
    ui->horizontalSlider_vol->setValue(g_settings.volume);
    const QString chime = g_settings.chime.Get();
    if (!chime.isEmpty() && chime != Chime::kBuiltIn)
        m_chimeFile = chime;
    ui->comboBox_chime->setCurrentIndex(chime.isEmpty() ? 0 : chime == Chime::kBuiltIn ? 1 : 2);
    ui->checkBox_remote->setChecked(g_settings.remoteEnabled);
    ui->spinBox_port->setValue(g_settings.remotePort);
    ui->comboBox_listen->setCurrentIndex(g_settings.remoteShopNetwork ? 1 : 0);
    ShowToken();
}

// The token exists from the first time the interface is switched on.
void Settings::ShowToken()
{
    const bool on = ui->checkBox_remote->isChecked();
    ui->lineEdit_token->setText(on || QFile::exists(RemoteAccess::TokenFile(ShopSettings::Folder()))
                                    ? QString::fromLatin1(RemoteAccess::MachineToken(ShopSettings::Folder()))
                                    : QString());
}

void Settings::ChimeChosen(int index)
{
    if (index != 2)
        return;
    const QString file = QFileDialog::getOpenFileName(
        this, QStringLiteral("选择提示音"), QStandardPaths::writableLocation(QStandardPaths::MusicLocation),
        QStringLiteral("提示音 (*.wav *.mp3 *.ogg *.flac)"));
    if (!file.isEmpty())
        m_chimeFile = file;
    else if (m_chimeFile.isEmpty())
        ui->comboBox_chime->setCurrentIndex(0);
}

void Settings::ShowSpeed()
{
    ui->label_spd->setText(QStringLiteral("语速（当前值:%1)").arg(ui->horizontalSlider_spd->value()));
}

void Settings::ShowVolume()
{
    ui->label_vol->setText(QStringLiteral("音量（当前值:%1)").arg(ui->horizontalSlider_vol->value()));
}

void Settings::Save()
{
    const int index = ui->comboBox_yusheng->currentIndex();
    const bool stored = m_settings->Update([this, index](SettingsValues &values) {
        values.yusheng = SpeakerTransform(index);
        values.speed = ui->horizontalSlider_spd->value();
        values.volume = ui->horizontalSlider_vol->value();
        values.remoteEnabled = ui->checkBox_remote->isChecked();
        values.remotePort = ui->spinBox_port->value();
        values.remoteShopNetwork = ui->comboBox_listen->currentIndex() == 1;
        const int chime = ui->comboBox_chime->currentIndex();
        values.chime = chime == 1 ? Chime::kBuiltIn : chime == 2 ? m_chimeFile : QString();
        bool knownPage = false;
        for (const char *page : kPageTimes)
            knownPage = knownPage || values.pageTime == QString::fromUtf8(page);
        if (!knownPage)
            values.pageTime = QStringLiteral("15秒");
    });
    if (stored)
        emit Saved();
    if (!stored) {
        Critical(QStringLiteral("设置失败，可能是没有文件操作权限！请以重新管理员权限运行本程序再试！"));
        return;
    }
    Information(index == 0 || index == 1
                    ? QStringLiteral("配置保存成功！")
                    : QStringLiteral("配置保存成功！\r\n注意，当前选择的发音人在第一次播放时（若网速较慢）可能会存在迟顿或播放不完整的情况，重新播放一次即可！"));
}

void Settings::ShowMusicManager()
{
    MusicManager dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (!m_settings->Update([&dialog](SettingsValues &values) { dialog.WriteTo(&values); }))
        Critical(QStringLiteral("设置失败，可能是没有文件操作权限！请以重新管理员权限运行本程序再试！"));
}

int Settings::CleanCacheFiles()
{
    const QDir dir(AppPaths::SpeechCacheDir());
    if (!dir.exists())
        return 0;
    const QFileInfoList files = dir.entryInfoList(QDir::Files, QDir::Time | QDir::Reversed);
    for (const QFileInfo &file : files)
        QFile::remove(file.absoluteFilePath());
    return int(files.size());
}

void Settings::ProcessClean()
{
    CloudEngine::EndStartedProcesses();
    const int n = CleanCacheFiles();
    Information(QStringLiteral(" 共删除") + QString::number(n) + QStringLiteral("个文件!"));
}

void Settings::Backup()
{
    bool anyBackup = false;
    for (const DataBackup::ListFile &list : DataBackup::ListFiles())
        anyBackup = anyBackup || QFileInfo(list.backup).isFile();
    if (anyBackup && !ConfirmWarning(QStringLiteral("数据备份文件已存在，是否覆盖？")))
        return;
    const DataBackup::BackupResult result = DataBackup::Backup();
    switch (result.outcome) {
    case DataBackup::Outcome::NothingToDo:
        Information(QStringLiteral("还没有可以备份的列表。"));
        return;
    case DataBackup::Outcome::Failed:
        Critical(QStringLiteral("备份失败，可能是没有文件操作权限！请以重新管理员权限运行本程序再试！"));
        return;
    case DataBackup::Outcome::Done:
        break;
    }
    // Lists that were never saved (a fresh install) have nothing to back
    // up: the others are backed up, and the operator told which were empty.
    Information(result.nothingSaved.isEmpty()
                    ? QStringLiteral(" 数据备份成功!")
                    : QStringLiteral(" 数据备份成功!\r\n以下列表还没有内容，未备份：") + result.nothingSaved.join(QStringLiteral("、")));
}

void Settings::Restore()
{
    const QList<DataBackup::ListFile> lists = DataBackup::RestorableLists();
    if (lists.isEmpty()) {
        QMessageBox::warning(nullptr, QStringLiteral("警告"), QStringLiteral("数据备份不存在！"));
        return;
    }
    // Every backup is read as at start-up, and checked to be its own
    // list, before the operator is asked.
    const QString damaged = DataBackup::FirstDamagedBackup(lists);
    if (!damaged.isEmpty()) {
        Critical(RefusedBackupText(damaged));
        return;
    }
    const QString summary = DataBackup::RestoreSummary(lists, DataBackup::ListsWithoutBackup());
    if (!ConfirmWarning(summary + QStringLiteral("\n\n还原将覆盖这些列表现在的内容，是否确认要操作？")))
        return;
    // From here no list saves its file again: a save still pending from an
    // edit a moment ago would overwrite what is restored.
    g_restorePending = true;
    const DataBackup::RestoreResult result = DataBackup::Restore();
    if (!result.damagedBackup.isEmpty()) {
        g_restorePending = false;
        Critical(RefusedBackupText(result.damagedBackup));
        return;
    }
    if (result.outcome != DataBackup::Outcome::Done) {
        // Copies that failed leave the lists as they were; a rename that
        // failed midway is finished at the next start.
        g_restorePending = result.finishAtNextStart;
        Critical(result.finishAtNextStart ? QStringLiteral("数据还原没有全部完成，将在下次启动时完成。\r\n无法替换：")
                                                + DataBackup::NameOf(result.failedFile)
                           : QStringLiteral("数据还原失败，可能是没有文件操作权限！请以重新管理员权限运行本程序再试！"));
        return;
    }
    Information(QStringLiteral(" 数据还原成功，请软件将自动重启!\r\n") + summary);
    // The new instance is started once this one has closed (see main()), so
    // the two never share the files or the sound device.
    g_restartRequested = true;
    QCoreApplication::quit();
}

void Settings::ListenOnShopNetwork()
{
    ui->comboBox_listen->setCurrentIndex(1);
    if (m_settings->Update([](SettingsValues &values) { values.remoteShopNetwork = true; }))
        emit Saved(); // the interface listens there at once
}

QString Settings::RefusedBackupText(const QString &listName)
{
    return QStringLiteral("%1的备份已损坏或不是%1列表，无法还原。\r\n所有列表保持不变。").arg(listName);
}
