#include "music/MusicManager.h"
#include "ui_MusicManager.h"

#include "core/SettingsValues.h"

#include <QFileDialog>
#include <QStandardPaths>

MusicManager::MusicManager(QWidget *parent) : QDialog(parent), ui(std::make_unique<Ui::MusicManager>())
{
    ui->setupUi(this);
    connect(ui->pushButton_add, &QPushButton::clicked, this, &MusicManager::AddMusic);
    connect(ui->pushButton_del, &QPushButton::clicked, this, &MusicManager::DelMusic);
    connect(ui->pushButton_up, &QPushButton::clicked, this, &MusicManager::MusicUp);
    connect(ui->pushButton_down, &QPushButton::clicked, this, &MusicManager::MusicDown);
    connect(ui->pushButton_save, &QPushButton::clicked, this, &MusicManager::SaveConfig);
    ui->comboBox_playType->setCurrentIndex(g_settings.musicPlayType);
    ui->comboBox_startType->setCurrentIndex(g_settings.musicStartType);
    ui->checkBox_small->setChecked(g_settings.smallWhenPlaying == 1);
    ui->checkBox_loudness->setChecked(g_settings.musicLoudness == 1);
    ui->horizontalSlider_vol->setValue(g_settings.musicVol);
    ui->listWidget->addItems(g_settings.musicList);
}

MusicManager::~MusicManager() = default;

void MusicManager::AddMusic()
{
    const QString start = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    AppendMusic(QFileDialog::getOpenFileNames(this, QStringLiteral("选择背景音乐"), start,
                                              QStringLiteral("背景音乐 (*.mp3)")));
}

void MusicManager::AppendMusic(const QStringList &paths)
{
    ui->listWidget->addItems(paths);
    if (ui->listWidget->count() > 0)
        ui->listWidget->setCurrentRow(0, QItemSelectionModel::ClearAndSelect);
}

void MusicManager::DelMusic()
{
    delete ui->listWidget->takeItem(ui->listWidget->currentRow());
}

void MusicManager::MoveCurrent(int by)
{
    QListWidget *list = ui->listWidget;
    const int row = list->currentRow();
    const int to = row + by;
    if (row < 0 || to < 0 || to >= list->count())
        return;
    list->insertItem(to, list->takeItem(row));
    list->setCurrentRow(to, QItemSelectionModel::ClearAndSelect);
}

void MusicManager::MusicUp()
{
    MoveCurrent(-1);
}

void MusicManager::MusicDown()
{
    MoveCurrent(1);
}

void MusicManager::SaveConfig()
{
    accept();
}

void MusicManager::WriteTo(SettingsValues *values) const
{
    values->musicVol = ui->horizontalSlider_vol->value();
    values->musicPlayType = ui->comboBox_playType->currentIndex();
    values->musicStartType = ui->comboBox_startType->currentIndex();
    values->smallWhenPlaying = ui->checkBox_small->isChecked() ? 1 : 0;
    values->musicLoudness = ui->checkBox_loudness->isChecked() ? 1 : 0;
    values->musicList.clear();
    for (int row = 0; row < ui->listWidget->count(); ++row)
        values->musicList.append(ui->listWidget->item(row)->text());
}
