#include "statestore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cstdio>

namespace {

const char Fx3File[] = "fx3-microcode.bin";
const char FpgaFile[] = "fpga-image.bin";
const char EdidFile[] = "edid.bin";
const char SettingsFile[] = "settings.bin";

std::vector<uint8_t> readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

} // namespace

DeviceStateStore::DeviceStateStore(const QString &folder, const QString &location)
    : folder_(folder.isEmpty() ? QString() : QDir(folder).filePath(location))
{
}

std::vector<uint8_t> DeviceStateStore::settingsOf(vdev::NorbyDevice &device)
{
    vdev::NorbySettings &settings = device.settings();
    std::vector<uint8_t> bytes {settings.flags()};
    for (size_t i = 0; i < vdev::NorbySettings::UserModeCount; ++i)
        bytes.insert(bytes.end(), settings.userMode(i).begin(), settings.userMode(i).end());
    return bytes;
}

bool DeviceStateStore::hasMicrocode() const
{
    return !folder_.isEmpty() && QFileInfo(folder_ + '/' + Fx3File).size() > 0;
}

bool DeviceStateStore::restore(vdev::NorbyDevice &device)
{
    const bool saved = !folder_.isEmpty() && QDir(folder_).exists();
    if (saved)
        load(device);
    saved_ = {device.flash().fx3Commits(), device.flash().fpgaCommits(),
        device.flash().edidCommits(), settingsOf(device)};
    return saved;
}

void DeviceStateStore::load(vdev::NorbyDevice &device)
{
    device.flash().restore(readAll(folder_ + '/' + Fx3File), readAll(folder_ + '/' + FpgaFile),
        readAll(folder_ + '/' + EdidFile));
    const std::vector<uint8_t> settings = readAll(folder_ + '/' + SettingsFile);
    const size_t modeSize = vdev::NorbySettings::UserModeSize;
    if (settings.size() == 1 + vdev::NorbySettings::UserModeCount * modeSize) {
        device.settings().setFlags(settings[0]);
        for (size_t i = 0; i < vdev::NorbySettings::UserModeCount; ++i) {
            vdev::NorbySettings::UserModeBlock block;
            std::copy_n(settings.begin() + long(1 + i * modeSize), modeSize, block.begin());
            device.settings().setUserMode(i, block);
        }
    }
}

void DeviceStateStore::saveChanges(vdev::NorbyDevice &device)
{
    if (folder_.isEmpty())
        return;
    vdev::NorbyFlash &flash = device.flash();
    const std::vector<uint8_t> settings = settingsOf(device);
    if (saved_.fx3Commits == flash.fx3Commits() && saved_.fpgaCommits == flash.fpgaCommits()
        && saved_.edidCommits == flash.edidCommits() && saved_.settings == settings)
        return;
    if (!QDir().mkpath(folder_)) {
        std::fprintf(stderr, "lumexor virtual bus: cannot create %s\n", qPrintable(folder_));
        return;
    }
    // Files that did not change are left alone; a failed write is tried again next time.
    if (saved_.fx3Commits != flash.fx3Commits() && write(Fx3File, flash.fx3Flash()))
        saved_.fx3Commits = flash.fx3Commits();
    if (saved_.fpgaCommits != flash.fpgaCommits() && write(FpgaFile, flash.fpgaFlash()))
        saved_.fpgaCommits = flash.fpgaCommits();
    if (saved_.edidCommits != flash.edidCommits() && write(EdidFile, flash.edid()))
        saved_.edidCommits = flash.edidCommits();
    if (saved_.settings != settings && write(SettingsFile, settings))
        saved_.settings = settings;
}

bool DeviceStateStore::write(const char *name, const std::vector<uint8_t> &bytes)
{
    QSaveFile file(folder_ + '/' + name);
    const bool written = file.open(QIODevice::WriteOnly)
        && file.write(reinterpret_cast<const char *>(bytes.data()), qint64(bytes.size()))
            == qint64(bytes.size())
        && file.commit();
    if (!written)
        std::fprintf(stderr, "lumexor virtual bus: cannot save %s/%s: %s\n", qPrintable(folder_),
            name, qPrintable(file.errorString()));
    return written;
}
