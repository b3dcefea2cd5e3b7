#include "driverinstall.h"
#include "fakesystem.h"
#include "logcapture.h"
#include "udevaccess.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class tst_UdevAccess : public QObject
{
    Q_OBJECT

private slots:
    void result_data()
    {
        QTest::addColumn<bool>("root");
        QTest::addColumn<bool>("ruleInstalled");
        QTest::addColumn<int>("result");
        // Without the rule an ordinary user can only be told to have it installed.
        QTest::newRow("user, no rule") << false << false << -2;
        QTest::newRow("user, rule installed") << false << true << -1;
        QTest::newRow("root, no rule") << true << false << -1;
    }

    void result()
    {
        QFETCH(bool, root);
        QFETCH(bool, ruleInstalled);
        QFETCH(int, result);

        QTemporaryDir empty;
        QTemporaryDir rules;
        QVERIFY(empty.isValid() && rules.isValid());
        if (ruleInstalled) {
            QFile rule(rules.filePath(QString::fromLatin1(UdevAccess::RuleFileName)));
            QVERIFY(rule.open(QIODevice::WriteOnly));
        }
        const std::vector<std::string> directories {
            empty.path().toStdString(), rules.path().toStdString()};
        testsupport::LogCapture log;
        QCOMPARE(UdevAccess::installResult(root, directories), result);
        QCOMPARE(log.errors().empty(), result != -2);
    }

    // Why a node refuses this user, from the facts about it, one letter each: r rule installed,
    // n node there, a access() grants it, g node of group plugdev, u user in plugdev by the
    // group database, p plugdev among this process's groups, s session at the local seat.
    void cause_data()
    {
        QTest::addColumn<QString>("facts");
        QTest::addColumn<int>("cause");
        using C = UdevAccess::AccessCause;
        const auto row = [](const char *name, const char *facts, C cause) {
            QTest::newRow(name) << QString(facts) << int(cause);
        };
        row("unplugged", "rs", C::NodeMissing);
        row("granted by the seat", "rnas", C::Granted);
        row("granted by the group", "rnagup", C::Granted);
        row("no rule", "ns", C::RuleMissing);
        row("no rule, over SSH", "n", C::RuleMissing);
        row("rule, over SSH", "rn", C::NotGranted);
        row("rule, over SSH, joined plugdev in this session", "rngu", C::LogInAgain);
        row("joined plugdev, rule elsewhere", "ngu", C::LogInAgain);
        // At the seat, yet refused: the rule came after the device did, or the ACL is gone.
        row("rule, at the seat", "rns", C::Other);
        row("rule, in plugdev, node of another group", "rnup", C::Other);
    }

    void cause()
    {
        QFETCH(QString, facts);
        QFETCH(int, cause);
        UdevAccess::AccessFacts f;
        f.ruleInstalled = facts.contains('r');
        f.nodeExists = facts.contains('n');
        f.nodeAccessible = facts.contains('a');
        f.nodeGroupPlugdev = facts.contains('g');
        f.userInPlugdev = facts.contains('u');
        f.processInPlugdev = facts.contains('p');
        f.localSeat = facts.contains('s');
        const UdevAccess::AccessCause found = UdevAccess::accessCause(f);
        QCOMPARE(int(found), cause);
        const std::string hint = UdevAccess::accessHintText(found, "/dev/bus/usb/002/005");
        QCOMPARE(hint.empty(), found == UdevAccess::AccessCause::Granted);
        QCOMPARE(hint.find('\n'), std::string::npos); // one line under the access text
    }

    // The facts as read under a system root: the node at its bus and address, the rule in any
    // rule folder; the hint names the node as the user's system has it.
    void gathered()
    {
        testsupport::FakeSystem system;
        QCOMPARE(usb_access_hint(2, 5),
            std::string("The device is no longer at /dev/bus/usb/002/005: it was unplugged or "
                        "restarted. Scan again."));
        system.write("dev/bus/usb/002/005", {});
        system.write(QString("usr/lib/udev/rules.d/") + UdevAccess::RuleFileName, {});
        const UdevAccess::AccessFacts facts
            = UdevAccess::gatherAccessFacts(system.path().toStdString(), "/dev/bus/usb/002/005");
        QVERIFY(facts.nodeExists && facts.ruleInstalled);
        // The test made the node, so it may open it: nothing to add to the failure.
        QVERIFY(facts.nodeAccessible);
        QCOMPARE(usb_access_hint(2, 5), std::string());
    }

    // The packaged rule names every id the tool recognises, and is read where it is installed.
    void packagedRule()
    {
        const std::vector<std::string> directories = UdevAccess::ruleDirectories();
        for (const char *folder : {"/etc/udev/rules.d", "/usr/lib/udev/rules.d"})
            QVERIFY2(std::count(directories.begin(), directories.end(), folder) == 1, folder);
        QFile rules(QStringLiteral(LUMEXOR_SOURCE_DIR "/packaging/linux/")
            + QString::fromLatin1(UdevAccess::RuleFileName));
        QVERIFY(rules.open(QIODevice::ReadOnly));
        const QString text = QString::fromLatin1(rules.readAll());
        // Each family's application, audio and sandbox ids, the early vendor id, the boot loader.
        QStringList ids {"5555:3601", "04b4:00f3"};
        for (const QString family : {"2b77:360", "2b77:362", "2b77:363", "2b77:364", "2b77:366"})
            ids << family + '0' << family + '1' << family + 'f';
        // uaccess for the seat, the plugdev group for everywhere else (an SSH login).
        for (const QString &id : ids) {
            const QString rule
                = QStringLiteral("ATTR{idVendor}==\"%1\", ATTR{idProduct}==\"%2\", "
                                 "TAG+=\"uaccess\", MODE=\"0660\", GROUP=\"plugdev\"\n")
                      .arg(id.left(4), id.mid(5));
            QVERIFY2(text.contains(rule), qPrintable(id));
        }
    }
};

QTEST_GUILESS_MAIN(tst_UdevAccess)
#include "tst_udevaccess.moc"
