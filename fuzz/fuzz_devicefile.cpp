#include "devicefile.h"
#include "quietlogs.h"

#include <QByteArray>
#include <QSet>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// A device file of the virtual bus: either devices, each at a place of its own, or a text that
// says what is wrong; then the models the file describes, as the drop-in library builds them.
// Qt 5.15's JSON parser does not free an array or object that a later duplicate key replaces
// ({"a": [1], "a": 2} leaks the array): Qt's own leak, which the reader can neither avoid nor
// free. It is told apart by Qt's exported entry point on the stack, which only a full unwind
// sees, Qt being built without frame pointers.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:QJsonDocument::fromJson\n";
}

extern "C" const char *__asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    quietLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    if (size > std::size_t(INT32_MAX))
        return 0;
    const QByteArray bytes
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    QString error;
    const auto specs = parseDeviceFile(bytes, "fuzz.json", error);
    if (!specs) {
        if (!error.startsWith("fuzz.json: "))
            std::abort();
        return 0;
    }
    QSet<QString> places;
    for (const VirtualDeviceSpec &spec : *specs) {
        places.insert(spec.location());
        makeDevice(spec, false);
        makeDevice(spec, true);
    }
    if (places.size() != int(specs->size()))
        std::abort();
    return 0;
}
