#pragma once
// A small window where port numbers 1 to 16 are given network ports
// (tcp://HOST:PORT, rfc2217://HOST:PORT), kept between runs, so that a port
// number can stand for a device server in a cabinet. Reached from the port
// entry of the status bar; not modal.

#include <QDialog>

class QLabel;
class QSettings;
class QTableWidget;

namespace vorn {

class DeviceSession;

class NetworkPortsDialog : public QDialog
{
    Q_OBJECT
public:
    NetworkPortsDialog(DeviceSession *session, QSettings *settings, QWidget *parent = nullptr);

    // Gives the session the network ports kept in settings.
    static void apply(DeviceSession *session, QSettings *settings);

    // Checks every URL; keeps and applies them all, or none with the reason
    // shown.
    bool save();

private:
    void fill();

    DeviceSession *m_session;
    QSettings *m_settings;
    QTableWidget *m_table;
    QLabel *m_error;
};

}  // namespace vorn
