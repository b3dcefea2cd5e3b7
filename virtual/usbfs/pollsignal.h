#pragma once

#include <string>

namespace usbfs {

// What a program polls when it polls a device node. usbfs reports POLLOUT while a URB of the
// file waits to be reaped and POLLERR|POLLHUP once the device is gone; libusb polls its files
// for exactly that and reaps whenever one is ready, so a node that were always ready would
// keep libusb's event loop spinning. The node is the slave end of a pseudo terminal: its
// output stopped (tcflow), it does not poll ready for writing; started, it does; and closing
// the master end hangs it up, which every open file sees as POLLERR|POLLHUP.
class PollSignal
{
public:
    // Throws std::runtime_error when no pseudo terminal can be had.
    PollSignal();
    ~PollSignal();
    PollSignal(const PollSignal &) = delete;
    PollSignal &operator=(const PollSignal &) = delete;

    // The slave end's path (/dev/pts/N), which the device node links to.
    const std::string &path() const { return path_; }
    void setReady(bool ready);
    // Mode 0000: only a process that overrides file permissions can open it.
    void denyAccess();
    void hangUp();

private:
    int master_ = -1;
    int slave_ = -1;
    bool ready_ = false;
    std::string path_;
};

} // namespace usbfs
