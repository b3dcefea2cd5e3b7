#pragma once

// Firmware packages and whole update runs, shared by the update tests on the virtual bus
// (tests/update) and on the real libusb (tests/umockdev); nothing here touches a bus.

#include "bootimage.h"
#include "bytes.h"
#include "edidtext.h"
#include "packagezip.h"
#include "producttable.h"
#include "updatetask.h"
#include "zippackage.h"

#include <QtTest>

namespace testsupport {

// Where the sandbox microcode of these packages is loaded.
constexpr uint32_t loadAddress = 0x40000000;

// What a package holds; the images differ from each other, so a mixed-up one shows.
struct PackageImages {
    QByteArray microcode = patternBytes(5000, 1);
    QByteArray fpga = patternBytes(10000, 2);
    QByteArray sandboxCode = patternBytes(600, 3);
    std::vector<uint8_t> edid = makeEdid(2, 4);
};

// Writes a package for `product` into `package`'s folder and returns its path. `setup` names
// what to change: members left out ("images", "sandbox"), "encrypted" sandbox, "fpga
// encrypted" image, "unaligned" microcode, "bad edid" checksum, "large edid" of 33 blocks,
// "empty microcode" or "empty fpga", a member damaged behind the directory's back ("crc
// microcode", "deflate fpga", "short fpga", "long fpga": see damageZipMember), "unsupported"
// product.info (none at all for "legacy"), "no package" file.
inline QString writeUpdatePackage(ZipPackage &package, const QString &product,
    const QString &setup = {}, const PackageImages &images = {})
{
    const ProductInfo &row = productTable.at(product.toStdString());
    if (setup == "unsupported")
        package.add("product.info", "kestrel3\r\n");
    else if (product != "legacy")
        package.add("product.info", product.toUtf8() + "\n");
    if (!setup.contains("images")) {
        const QByteArray microcode = setup == "unaligned" ? images.microcode + "xy"
            : setup == "empty microcode"                  ? QByteArray()
                                                          : images.microcode;
        package.add(row.microcodeImage, microcode);
        package.add(row.fpgaImage, setup == "empty fpga" ? QByteArray() : images.fpga,
            setup == "fpga encrypted" ? ZipPackage::Encrypted : ZipPackage::Deflated);
        if (setup != "sandbox")
            package.add(row.sandboxImage, bootImage({{loadAddress, images.sandboxCode}}, 0x40),
                setup == "encrypted" ? ZipPackage::Encrypted : ZipPackage::Stored);
    }
    if (!row.edidFile.empty()) {
        std::vector<uint8_t> bytes = setup.startsWith("large edid") ? makeEdid(33, 4) : images.edid;
        bytes[5] ^= uint8_t(setup.startsWith("bad edid")); // the block checksum no longer holds
        package.add(row.edidFile, edidText(bytes));
    }
    if (setup == "no package")
        return package.folder() + "/missing.fw";
    const QString path = package.write();
    for (const char *how : {"crc", "deflate", "short", "long"}) {
        const QStringList words = setup.split(' ');
        if (words.size() == 2 && words.at(0) == how)
            damageZipMember(path.toStdString(),
                words.at(1) == "fpga" ? row.fpgaImage : row.microcodeImage, how);
    }
    return path;
}

// One run through a task of its own, which is gone (its thread joined) on return: the signals
// in order, progress as numbers, "error: " with the text, and "complete". A run that does not
// end within `timeoutMs` shows as the missing "complete".
inline QStringList runUpdate(const DeviceDescription &desc, const QString &path,
    const UpdatePacing &pacing, int timeoutMs = 10000)
{
    QStringList events;
    UpdateTask task(nullptr, pacing);
    QObject::connect(&task, &UpdateTask::progress, [&](int p) { events << QString::number(p); });
    QObject::connect(&task, &UpdateTask::error, [&](const QString &t) { events << "error: " + t; });
    QObject::connect(&task, &UpdateTask::complete, [&] { events << "complete"; });
    emit task.start(desc, path);
    static_cast<void>(QTest::qWaitFor([&] { return events.contains("complete"); }, timeoutMs));
    return events;
}

} // namespace testsupport
