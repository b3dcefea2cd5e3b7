#pragma once

// What the update tests share: the update library's units, the packages they read and the
// virtual devices that take them.

#include "bustestcase.h"
#include "devicecompat.h"
#include "deviceopen.h"
#include "edidupload.h"
#include "fpgaflashframed.h"
#include "fpgaflashplain.h"
#include "fx3bootimage.h"
#include "fx3bootload.h"
#include "fx3flash.h"
#include "logcapture.h"
#include "norbydevice.h"
#include "packagecheck.h"
#include "packagepath.h"
#include "productidentify.h"
#include "textimage.h"
#include "updatepackages.h"

#include <QtTest>

using namespace testsupport;
using namespace std::chrono_literals;

namespace testsupport {

// The texts a unit reports, one a call.
struct Reports : QStringList {
    ErrorReporter to()
    {
        return [this](const QString &text) { append(text); };
    }
};

// What a unit that reports `error` (none when empty) has reported.
inline QStringList reported(const QString &error)
{
    return error.isEmpty() ? QStringList() : QStringList {error};
}

// `package` holding `data` as `member` (nothing when `data` is null), opened; `damage`d: its
// "MARK" changed behind the CRC's back, which libzip finds at the member's end when stored.
inline ZipArchive openedWith(ZipPackage &package, const std::string &member, const QByteArray &data,
    bool damage = false, ZipPackage::Method method = ZipPackage::Stored)
{
    if (!data.isNull())
        package.add(member, data, method);
    const QString path = package.write();
    if (damage && !patchFile(path, "MARK", "MARX"))
        qFatal("no MARK to damage in %s", member.c_str());
    return ZipArchive(path.toStdString());
}

} // namespace testsupport
