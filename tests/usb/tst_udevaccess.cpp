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
        for (const QString &id : ids) {
            const QString rule = QStringLiteral("ATTR{idVendor}==\"%1\", ATTR{idProduct}==\"%2\"")
                                     .arg(id.left(4), id.mid(5));
            QVERIFY2(text.contains(rule), qPrintable(id));
        }
    }
};

QTEST_GUILESS_MAIN(tst_UdevAccess)
#include "tst_udevaccess.moc"
