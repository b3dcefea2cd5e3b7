// GLib leak tracking: a test bed's objects may be finalized on umockdev's worker thread, also
// after the Bus that made them is gone, so their count lives outside any Bus.

#include "busimpl.h"

#include <algorithm>
#include <set>

namespace usbfs {

namespace {

struct Tracked {
    std::mutex mutex;
    std::condition_variable finalized;
    std::set<GObject *> live;
};

Tracked &tracked()
{
    // Never destroyed: a worker thread may still finalize an object while the process exits.
    static Tracked *const instance = new Tracked;
    return *instance;
}

void objectFinalized(gpointer, GObject *object)
{
    Tracked &t = tracked();
    std::lock_guard<std::mutex> lock(t.mutex);
    t.live.erase(object);
    t.finalized.notify_all();
}

} // namespace

void track(GObject *object)
{
    {
        Tracked &t = tracked();
        std::lock_guard<std::mutex> lock(t.mutex);
        t.live.insert(object);
    }
    g_object_weak_ref(object, objectFinalized, nullptr);
}

bool waitFinalized(const std::vector<GObject *> &objects, std::chrono::milliseconds bound)
{
    Tracked &t = tracked();
    std::unique_lock<std::mutex> lock(t.mutex);
    return t.finalized.wait_for(lock, bound, [&] {
        return std::none_of(
            objects.begin(), objects.end(), [&](GObject *o) { return t.live.count(o) != 0; });
    });
}

int Bus::liveGObjects()
{
    Tracked &t = tracked();
    std::lock_guard<std::mutex> lock(t.mutex);
    return int(t.live.size());
}

} // namespace usbfs
