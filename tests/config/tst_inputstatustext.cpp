#include "inputstatustext.h"

#include <QTranslator>
#include <QtTest>

#include <cstring>

namespace {

// A status as the device sends it; a text as long as its field has no NUL.
QByteArray record(const char *description, const char *label, uint32_t milliHz, uint16_t width,
    uint16_t height, uint8_t interlaced = 0)
{
    InputStatusInfo info {};
    std::memcpy(
        info.description, description, std::min(std::strlen(description), sizeof info.description));
    std::memcpy(info.label, label, std::min(std::strlen(label), sizeof info.label));
    info.refreshMilliHz = milliHz;
    info.width = width;
    info.height = height;
    info.interlaced = interlaced;
    return QByteArray(reinterpret_cast<const char *>(&info), sizeof info);
}

class ContextTranslator : public QTranslator
{
public:
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *text, const char *, int) const override
    {
        return QStringLiteral("%1|%2").arg(context, text);
    }
};

} // namespace

class tst_InputStatusText : public QObject
{
    Q_OBJECT

private slots:
    void formatsTheSignalLine_data()
    {
        QTest::addColumn<QByteArray>("raw"); // null: a completion without data
        QTest::addColumn<QString>("text");

        QTest::newRow("60") << record("Q", "P", 60000, 1920, 1080) << "P 1920x1080p@60, Q";
        QTest::newRow("59.94") << record("Q", "P", 59940, 1920, 1080) << "P 1920x1080p@59.94, Q";
        QTest::newRow("50i") << record("Q", "P", 50000, 720, 576, 1) << "P 720x576i@50, Q";
        QTest::newRow("empty texts")
            << record("", "", 60000, 1280, 720) << "unknown 1280x720p@60, unknown";
        // Neither text may run on into the field behind it.
        QTest::newRow("full fields") << record("ABCDEFGHIJKL", "LABEL678", 60000, 640, 480)
                                     << "LABEL678 640x480p@60, ABCDEFGHIJKL";
        QTest::newRow("percent signs")
            << record("%1", "%6", 60000, 640, 480) << "%6 640x480p@60, %1";
        QTest::newRow("height 0") << record("Q", "P", 60000, 1920, 0) << "no signal";
        QTest::newRow("rate 0") << record("Q", "P", 0, 1920, 1080) << "no signal";
        QTest::newRow("no data") << QByteArray() << "request not supported";
        QTest::newRow("short") << record("Q", "P", 60000, 1920, 1080).left(28)
                               << "request not supported";
    }

    void formatsTheSignalLine()
    {
        QFETCH(QByteArray, raw);
        QFETCH(QString, text);

        ConfigDeviceDataPtr ptr;
        if (!raw.isNull()) {
            ptr = makeConfigDeviceData(uint16_t(raw.size()));
            std::memcpy(ptr.data(), raw.constData(), size_t(raw.size()));
        }
        QCOMPARE(inputStatusText(ptr, uint16_t(raw.size())), text);

        // The window's own texts are translated in its context; the line itself is not.
        ContextTranslator translator;
        QCoreApplication::installTranslator(&translator);
        const QString translated = inputStatusText(ptr, uint16_t(raw.size()));
        QCoreApplication::removeTranslator(&translator);
        const bool own = text == "no signal" || text == "request not supported";
        QCOMPARE(translated, own ? "UpdateRepair|" + text : text);
    }
};

QTEST_GUILESS_MAIN(tst_InputStatusText)
#include "tst_inputstatustext.moc"
