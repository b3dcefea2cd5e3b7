#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace testsupport {

// A system tree in a temporary folder, shaped as Linux shows it, for LUMEXOR_SYSTEM_ROOT: the
// video nodes of USB devices in sysfs and the processes that hold them in /proc. Points the
// variable at itself while it lives (`exported`) or is handed to a child process by path.
class FakeSystem
{
public:
    explicit FakeSystem(bool exported = true)
        : exported_(exported)
    {
        if (exported_)
            qputenv("LUMEXOR_SYSTEM_ROOT", QFile::encodeName(path()));
    }
    FakeSystem(const FakeSystem &) = delete;
    FakeSystem &operator=(const FakeSystem &) = delete;
    ~FakeSystem()
    {
        if (exported_)
            qunsetenv("LUMEXOR_SYSTEM_ROOT");
    }

    QString path() const { return dir_.path(); }

    // /dev/`video` of the device "BUS-PATH" (interface 0), with its "dev" numbers ("81:3")
    // when given.
    void addVideo(const QString &device, const QString &video, const QString &number = {})
    {
        const QString entry
            = QString("sys/bus/usb/devices/%1/%1:1.0/video4linux/%2").arg(device, video);
        QDir(dir_.path()).mkpath(entry);
        if (!number.isEmpty())
            write(entry + "/dev", (number + '\n').toUtf8());
    }

    // Process `pid`, named `program`, with `target` (a path such as "/dev/video3") open.
    void addHolder(qint64 pid, const QString &program, const QString &target)
    {
        const QString process = "proc/" + QString::number(pid);
        QDir(dir_.path()).mkpath(process + "/fd");
        write(process + "/comm", (program + '\n').toUtf8());
        QFile::link(target, dir_.filePath(process + "/fd/3"));
    }

    void write(const QString &file, const QByteArray &bytes)
    {
        QDir(dir_.path()).mkpath(QFileInfo(dir_.filePath(file)).path());
        QFile out(dir_.filePath(file));
        if (out.open(QIODevice::WriteOnly))
            out.write(bytes);
    }

private:
    QTemporaryDir dir_;
    bool exported_;
};

} // namespace testsupport
