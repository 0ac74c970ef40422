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

class SerialControl;

class NetworkPortsDialog : public QDialog
{
    Q_OBJECT
public:
    NetworkPortsDialog(SerialControl *port, QSettings *settings, QWidget *parent = nullptr);

    // Gives the control the network ports kept in settings.
    static void apply(SerialControl *port, QSettings *settings);

    // Checks every URL; keeps and applies them all, or none with the reason
    // shown.
    bool save();

private:
    void fill();

    SerialControl *m_port;
    QSettings *m_settings;
    QTableWidget *m_table;
    QLabel *m_error;
};

}  // namespace vorn
