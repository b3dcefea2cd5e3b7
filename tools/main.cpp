#include "samplepackage.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include <cstdio>

// lumexor-make-packages [--product NAME] [--broken KIND] OUTPUT-DIR: writes sample firmware
// packages and prints the path of each.
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("lumexor-make-packages");

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Writes sample firmware packages built from synthetic images.");
    parser.addHelpOption();
    const QCommandLineOption productOption(
        "product", "Only the product NAME (default: every product).", "NAME");
    const QCommandLineOption brokenOption("broken",
        "Build the defect KIND into the packages: microcode-unaligned, missing-sandbox, "
        "bad-edid-checksum, truncated-boot-image, fpga-damaged, fpga-deflate-broken, "
        "fpga-short, fpga-long, microcode-empty, fpga-empty, edid-too-large or none (the "
        "default).",
        "KIND");
    parser.addOptions({productOption, brokenOption});
    parser.addPositionalArgument("OUTPUT-DIR", "The folder to write the packages to.");
    parser.process(app);

    const auto fail = [](const QString &message) {
        std::fprintf(stderr, "lumexor-make-packages: %s\n", qPrintable(message));
        return 1;
    };
    if (parser.positionalArguments().size() != 1)
        return fail("give one OUTPUT-DIR (see --help)");
    SampleDefect defect = SampleDefect::None;
    const QString kind = parser.value(brokenOption);
    if (parser.isSet(brokenOption) && !defectFromName(kind.toStdString(), defect))
        return fail("unknown defect: " + kind);

    std::vector<std::string> products;
    // By default every product the defect can be built into: an ospreyx3 has no EDID to break.
    for (const auto &[id, product] : productTable) {
        if (parser.isSet(productOption) ? id == parser.value(productOption).toStdString()
                                        : defectApplies(defect, product))
            products.push_back(id);
    }
    if (products.empty())
        return fail("unknown product: " + parser.value(productOption));
    const QString folder = parser.positionalArguments().constFirst();
    if (!QDir().mkpath(folder))
        return fail("cannot create " + folder);
    for (const std::string &product : products) {
        std::string path, error;
        if (writeSamplePackage(
                QFile::encodeName(folder).toStdString(), product, defect, path, error)
            != 0)
            return fail(QString::fromStdString(error));
        std::printf("%s\n", path.c_str());
    }
    return 0;
}
