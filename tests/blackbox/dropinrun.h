#pragma once

#include "producttable.h"
#include "textimage.h"
#include "ziparchive.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <sstream>

// What a device keeps after an update with a package: the microcode, the FPGA image and the
// EDID bytes its text form stands for, in that order, as the virtual devices save them
// (fx3-microcode.bin, fpga-image.bin, edid.bin).
inline QList<QByteArray> packageImages(const QString &package, const std::string &product)
{
    const auto member = [&](const std::string &name) {
        ZipArchive archive(package.toStdString());
        ZipFile file = archive.openFile(name);
        QByteArray bytes;
        uint8_t buffer[4096];
        for (int64_t n; file.isOpen() && (n = file.read(buffer, sizeof buffer)) > 0;)
            bytes.append(reinterpret_cast<const char *>(buffer), int(n));
        return bytes;
    };
    const ProductInfo &row = productTable.at(product);
    std::istringstream text(member(row.edidFile).toStdString());
    const TextImage edid = parseTextImage(text);
    return {member(row.microcodeImage), member(row.fpgaImage),
        QByteArray(reinterpret_cast<const char *>(edid.data.data()), int(edid.data.size()))};
}

// The same three files as a device keeps them in `folder`; empty ones for files it has not.
inline QList<QByteArray> savedImages(const QString &folder)
{
    QList<QByteArray> images;
    for (const char *name : {"fx3-microcode.bin", "fpga-image.bin", "edid.bin"}) {
        QFile file(folder + '/' + name);
        images << (file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
    }
    return images;
}
