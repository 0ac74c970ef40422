#pragma once
// A loaded main window on the fake line, with scripted dialogs.

#include "support/scripteddialogs.h"
#include "app/mainform.h"
#include "support/fakeline.h"
#include "support/formdriving.h"
#include "protocol/frame.h"
#include "protocol/smartsetting.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <memory>

struct FormFixture
{
    vorn::FakeLine port;
    vorn::DeviceSession session{vorn::FakeLine::ports(), &port};
    vorn::ScriptedDialogs dialogs;
    std::unique_ptr<vorn::MainForm> form;

    // ports: port number -> what opening it yields; the window is loaded at once.
    using PortResults = QMap<int, vorn::Line::OpenFailure>;
    explicit FormFixture(const PortResults &ports = {{1, vorn::Line::OpenFailure::None}})
    {
        for (auto it = ports.begin(); it != ports.end(); ++it)
            port.setPortFailure(it.key(), it.value());
        form = std::make_unique<vorn::MainForm>(&session, &dialogs);
        form->load();
    }

    template <typename T = QWidget> T *get(const QString &name) const
    {
        T *w = form->findChild<T *>(name);
        if (!w)
            qFatal("no control named %s", qPrintable(name));
        return w;
    }
    QLineEdit *edit(const QString &name) const { return get<QLineEdit>(name); }
    QPushButton *button(const QString &name) const { return get<QPushButton>(name); }
    QComboBox *combo(const QString &name) const { return get<QComboBox>(name); }
    QTimer *timer(const QString &name) const { return get<QTimer>(name); }
    static QString at(const char *name, int i) { return QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(i); }

    void leaveNumber() const { vorn::leaveNumber(form.get()); }

    QByteArray lastWritten() const { return port.written.isEmpty() ? QByteArray() : port.written.last(); }

    // What "OK" of a row's smart setting sends now, from the readings taken
    // (empty: nothing, refused); and what it sends for these readings.
    QByteArray okFrame(int channel)
    {
        port.written.clear();
        button(at("OkCommand", channel))->click();
        return lastWritten();
    }
    QByteArray smartFrame(int channel, int low, int high) const
    {
        const auto payload = vorn::smartSettingPayload(channel, low, high, form->table()[channel]);
        return payload ? vorn::buildFrame(session.ledId(), vorn::cmd::SmartSet, *payload) : QByteArray();
    }

    // Whether the session takes reply now, seen from outside: the signal of
    // its kind (a device found, a table read, live values).
    bool takes(const QByteArray &reply)
    {
        QSignalSpy found(&session, &vorn::DeviceSession::discovered);
        QSignalSpy table(&session, &vorn::DeviceSession::tableRead);
        QSignalSpy values(&session, &vorn::DeviceSession::liveValues);
        port.inject(reply);
        return found.count() + table.count() + values.count() > 0;
    }
};

inline QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}
