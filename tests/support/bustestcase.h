#pragma once

#include "buschecks.h"

#include <QObject>

namespace testsupport {

// Base of the test classes that work on the virtual bus: every test function starts from an
// empty bus and fails if it leaked a reference, a handle, a claim or a device list, or
// released something it did not hold.
class BusTestCase : public QObject
{
    Q_OBJECT

protected slots:
    void init() { vusb::Bus::instance().reset(); }
    void cleanup()
    {
        VERIFY_BUS_CLEAN();
        vusb::Bus::instance().reset();
    }
};

} // namespace testsupport
