#include "app/networkports.h"

#include "link/netaddress.h"
#include "link/portmap.h"
#include "session/devicesession.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QSettings>
#include <QTableWidget>
#include <QVBoxLayout>

namespace vorn {

namespace {
QString keyOf(int port)
{
    return QStringLiteral("networkPorts/%1").arg(port);
}
}  // namespace

NetworkPortsDialog::NetworkPortsDialog(DeviceSession *session, QSettings *settings, QWidget *parent)
    : QDialog(parent), m_session(session), m_settings(settings), m_table(new QTableWidget(kLastPort, 1, this)),
      m_error(new QLabel(this))
{
    setObjectName(QStringLiteral("NetworkPortsDialog"));
    setWindowTitle(tr("网络端口"));
    setModal(false);
    auto *layout = new QVBoxLayout(this);
    auto *hint = new QLabel(tr("tcp://主机:端口 或 rfc2217://主机:端口；空着即本机串口。"), this);
    layout->addWidget(hint);
    m_table->setObjectName(QStringLiteral("NetworkPortsTable"));
    m_table->setHorizontalHeaderLabels({tr("网络地址")});
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setMinimumWidth(360);
    layout->addWidget(m_table);
    m_error->setObjectName(QStringLiteral("NetworkPortsError"));
    m_error->setWordWrap(true);
    m_error->hide();
    layout->addWidget(m_error);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (save())
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    fill();
}

void NetworkPortsDialog::fill()
{
    for (int p = kFirstPort; p <= kLastPort; ++p) {
        const QString url = m_settings ? m_settings->value(keyOf(p)).toString() : QString();
        m_table->setItem(p - 1, 0, new QTableWidgetItem(url));
    }
}

bool NetworkPortsDialog::save()
{
    QStringList urls;
    for (int p = kFirstPort; p <= kLastPort; ++p) {
        const QTableWidgetItem *item = m_table->item(p - 1, 0);
        const QString url = item ? item->text().trimmed() : QString();
        QString why;
        if (!url.isEmpty() && !parseNetAddress(url, nullptr, &why)) {
            // The text itself is not repeated: it may hold a password.
            m_error->setText(tr("端口 %1：%2").arg(p).arg(why));
            m_error->show();
            m_table->setCurrentCell(p - 1, 0);
            return false;
        }
        urls.append(url);
    }
    m_error->hide();
    for (int p = kFirstPort; p <= kLastPort; ++p) {
        const QString &url = urls.at(p - 1);
        if (m_settings) {
            if (url.isEmpty())
                m_settings->remove(keyOf(p));
            else
                m_settings->setValue(keyOf(p), url);
        }
        m_session->setPortName(p, url);
    }
    return true;
}

void NetworkPortsDialog::apply(DeviceSession *session, QSettings *settings)
{
    if (!settings)
        return;
    for (int p = kFirstPort; p <= kLastPort; ++p) {
        const QString url = settings->value(keyOf(p)).toString();
        if (!url.isEmpty() && parseNetAddress(url, nullptr, nullptr))
            session->setPortName(p, url);
    }
}

}  // namespace vorn
