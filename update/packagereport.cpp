#include "packagereport.h"

#include "packagecheck.h"
#include "packagepreflight.h"
#include "productidentify.h"
#include "ziparchive.h"

#include <array>
#include <string>
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
