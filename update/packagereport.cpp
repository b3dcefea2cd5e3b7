#include "packagereport.h"

#include "packagecheck.h"
#include "packagepreflight.h"
#include "productidentify.h"
#include "ziparchive.h"

#include <QCryptographicHash>

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <utility>

PackageReport makePackageReport(ZipArchive &archive, const ProductMatch &match,
    const PackageMembers &members, const PreparedPackage &prepared, bool passed,
    const QString &refusal)
{
    PackageReport report;
    report.opened = true;
    report.product = QString::fromStdString(match.name);
    report.refused = !passed;
    report.refusal = refusal;
    if (!match.info)
        return report;
    const ProductInfo &info = *match.info;
    report.productKnown = true;
    report.fpgaFramed = info.fpgaFormat != FpgaPlain;
    report.edidOnly = members.skipFirmware;
    const std::array<std::pair<const char *, const std::string *>, 4> parts {
        {{"microcode", &info.microcodeImage}, {"fpga", &info.fpgaImage},
            {"sandbox", &info.sandboxImage}, {"edid", &info.edidFile}}};
    for (const auto &[role, name] : parts) {
        if (name->empty())
            continue;
        const ZipStat stat = archive.stat(*name);
        report.members.push_back({QString::fromLatin1(role), QString::fromStdString(*name),
            stat.found(), stat.found() ? uint64_t(stat.size) : 0});
    }
    if (passed) {
        report.sandboxSections = int(prepared.sandbox.sections.size());
        report.sandboxEntryPoint = prepared.sandbox.entryPoint;
        if (members.updateEdid)
            report.edidBytes = int(prepared.edid.size());
    }
    return report;
}

QByteArray fileSha256(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::vector<char> buffer(64 * 1024);
    ssize_t n = 0;
    while ((n = ::read(fd, buffer.data(), buffer.size())) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        hash.addData(buffer.data(), int(n));
    }
    ::close(fd);
    return n == 0 ? hash.result().toHex() : QByteArray();
}
