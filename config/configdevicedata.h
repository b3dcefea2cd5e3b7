#pragma once

#include <QMetaType>
#include <QSharedPointer>

#include <cstdint>

// The byte buffer of one configuration request. The requester allocates it with exactly the
// block's size; the worker thread fills it (a read) or sends it (a write), and the requester
// reads it back when the completion arrives. The reference count is atomic, so the last
// holder may be on either thread.
using ConfigDeviceDataPtr = QSharedPointer<uint8_t>;

Q_DECLARE_METATYPE(ConfigDeviceDataPtr)

// A zero-filled buffer of `size` bytes (a device that answers short leaves the rest zero).
ConfigDeviceDataPtr makeConfigDeviceData(uint16_t size);

// Makes "ConfigDeviceDataPtr", "uint16_t", "uint8_t" and "DeviceDescription" known to Qt's
// type system by name, so the request and result signals can be queued to and from the
// worker thread. Safe to call more than once.
void registerConfigMetaTypes();
