#pragma once

#include "devicedescription.h"

#include <QObject>
#include <QString>
#include <QThread>

// Finds every attached device of the family on request. Enumeration and probing run on a
// thread of the scanner's own; the scanner lives in the caller's thread and relays what that
// thread finds. Each `scan` yields any number of `newDevice` and `error`, then exactly one
// `complete`. Requests made while a scan runs are queued and each runs in full.
class DeviceScanner : public QObject
{
    Q_OBJECT

public:
    explicit DeviceScanner(QObject *parent = nullptr);
    // Stops the thread; a scan in progress runs to its end first.
    ~DeviceScanner() override;

signals:
    void newDevice(const DeviceDescription &desc);
    // A text for the user: the scan needs administrator rights to install the driver.
    void error(const QString &text);
    void complete();
    // Emit to request a scan; it returns at once.
    void scan();

private:
    QThread thread_;
};
