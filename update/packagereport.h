#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>

#include <cstdint>
#include <vector>

// What the check of a package found, for people and scripts: the product it is for, the
// members of that product's update and what the pre-flight read made of them, and why an
// update with it would be refused. Built on the update thread, handed over by value.
struct PackageReport {
    struct Member {
        QString role; // "microcode", "fpga", "sandbox" or "edid"
        QString name;
        bool present = false;
        uint64_t size = 0;
    };

    bool opened = false; // false: the package file could not be opened at all
    QString product; // empty when no product was recognised
    bool productKnown = false;
    bool fpgaFramed = false;
    std::vector<Member> members; // the product's members, in update order
    bool edidOnly = false;
    // Of a package that passed: the verified sandbox's sections (0 when none) and entry point,
    // and the decoded EDID's size (-1 when the package does not update the EDID).
    int sandboxSections = 0;
    uint32_t sandboxEntryPoint = 0;
    int edidBytes = -1;
    bool refused = true;
    QString refusal; // the first fault found, in the update's own words
    // The SHA-256 of the whole package file in hexadecimal, read before the device is touched,
    // for the update history; empty when the file could not be read.
    QByteArray sha256;
};
Q_DECLARE_METATYPE(PackageReport)

class ZipArchive;
struct PackageMembers;
struct PreparedPackage;
struct ProductMatch;

// The report on `archive` after the checks that filled `match`, `members` and `prepared`;
// `passed` tells whether they all passed, `refusal` is the first fault they reported.
PackageReport makePackageReport(ZipArchive &archive, const ProductMatch &match,
    const PackageMembers &members, const PreparedPackage &prepared, bool passed,
    const QString &refusal);

// The SHA-256 of the file at `path` (its name's bytes, see packagepath.h) in hexadecimal, read
// a piece at a time; empty when it cannot be read.
QByteArray fileSha256(const QByteArray &path);
