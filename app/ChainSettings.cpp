#include "app/ChainSettings.h"

#include "app/ChainLink.h"
#include "modes/PlayedDialog.h"
#include "shop/Shop.h"
#include "shop/ShopSettings.h"

#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

ChainSettings::ChainSettings(Shop *shop, ChainLink *link, QWidget *parent)
    : QDialog(parent), m_shop(shop), m_link(link), m_broker(new QLineEdit(this)),
      m_shopId(new QLineEdit(this)), m_groups(new QLineEdit(this)), m_user(new QLineEdit(this)),
      m_password(new QLineEdit(this)), m_caFile(new QLineEdit(this)), m_state(new QLabel(this))
{
    m_broker->setPlaceholderText(QStringLiteral("mqtts://总部服务器:8883（空：不连接）"));
    m_shopId->setPlaceholderText(QStringLiteral("门店编号，如 S001"));
    m_groups->setPlaceholderText(QStringLiteral("分组，逗号分隔，如 east,beijing"));
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setPlaceholderText(QStringLiteral("不修改请留空"));
    m_caFile->setPlaceholderText(QStringLiteral("CA证书文件（可选）"));
    auto *chooseCa = new QPushButton(QStringLiteral("选择…"), this);
    auto *caRow = new QHBoxLayout;
    caRow->addWidget(m_caFile);
    caRow->addWidget(chooseCa);
    setWindowTitle(QStringLiteral("连锁总部"));
    auto *apply = new QPushButton(QStringLiteral("保存并连接"), this);
    auto *close = new QPushButton(QStringLiteral("关闭"), this);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(apply);
    buttons->addWidget(close);
    auto *form = new QFormLayout(this);
    form->addRow(QStringLiteral("服务器"), m_broker);
    form->addRow(QStringLiteral("门店"), m_shopId);
    form->addRow(QStringLiteral("分组"), m_groups);
    form->addRow(QStringLiteral("用户名"), m_user);
    form->addRow(QStringLiteral("密码"), m_password);
    form->addRow(QStringLiteral("证书"), caRow);
    form->addRow(QStringLiteral("状态"), m_state);
    form->addRow(buttons);
    connect(chooseCa, &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getOpenFileName(this, QStringLiteral("选择CA证书"), QString(),
                                                          QStringLiteral("证书 (*.crt *.pem);;所有文件 (*)"));
        if (!file.isEmpty())
            m_caFile->setText(file);
    });
    connect(apply, &QPushButton::clicked, this, [this] {
        if (Save())
            accept();
    });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(link, &ChainLink::LinkStateChanged, this, &ChainSettings::ShowState);
    connect(link, &ChainLink::LinkRefused, this, [this](const QString &reason) {
        m_state->setText(reason);
        QMessageBox::warning(this, QStringLiteral("连锁总部"), reason);
    });
    Load();
}

QWidget *ChainSettings::Buttons(Shop *shop, ChainLink *link, QWidget *parent)
{
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *chain = new QPushButton(QStringLiteral("连锁总部…"), row);
    auto *played = new QPushButton(QStringLiteral("播报记录"), row);
    layout->addWidget(chain);
    layout->addWidget(played);
    QObject::connect(chain, &QPushButton::clicked, row, [shop, link, row] {
        ChainSettings dialog(shop, link, row->window());
        dialog.exec();
    });
    QObject::connect(played, &QPushButton::clicked, row, [shop, row] {
        PlayedDialog dialog(shop->Played(), row->window());
        dialog.exec();
    });
    return row;
}

void ChainSettings::Load()
{
    const ChainConfig &chain = m_shop->Settings().Chain();
    m_broker->setText(chain.broker);
    m_shopId->setText(chain.shop);
    m_groups->setText(chain.groups.join(QLatin1Char(',')));
    m_user->setText(chain.user);
    m_caFile->setText(chain.caFile);
    m_password->clear();
    ShowState();
}

bool ChainSettings::Save()
{
    ChainConfig chain = m_shop->Settings().Chain();
    chain.broker = m_broker->text().trimmed();
    chain.shop = m_shopId->text().trimmed();
    chain.groups = m_groups->text().split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (QString &group : chain.groups)
        group = group.trimmed();
    chain.user = m_user->text().trimmed();
    chain.caFile = m_caFile->text().trimmed();
    QString why;
    if (!chain.broker.isEmpty() && !chain.Check(&why)) {
        QMessageBox::critical(this, QStringLiteral("连锁总部"), QStringLiteral("无法使用这些设置：") + why);
        return false;
    }
    const QByteArray password = m_password->text().toUtf8();
    if (!m_shop->Settings().UpdateChain(chain, password.isEmpty() ? nullptr : &password)) {
        QMessageBox::critical(this, QStringLiteral("连锁总部"), QStringLiteral("设置失败，可能是没有文件操作权限！"));
        return false;
    }
    m_password->clear();
    return true;
}

void ChainSettings::ShowState()
{
    switch (m_link->CurrentState()) {
    case ChainLink::State::Off:
        m_state->setText(QStringLiteral("未连接"));
        break;
    case ChainLink::State::Connecting:
        m_state->setText(QStringLiteral("正在连接…"));
        break;
    case ChainLink::State::Online:
        m_state->setText(QStringLiteral("已连接"));
        break;
    case ChainLink::State::Offline:
        m_state->setText(QStringLiteral("连接中断，正在重试"));
        break;
    }
}
