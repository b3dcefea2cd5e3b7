// The bus thread: devices arrive and leave and URBs are answered there, in order, so that the
// test bed changes from one thread only; and the test bed's life around it.

#include "busimpl.h"

#include <csignal>
#include <future>
#include <stdexcept>
#include <unistd.h>

namespace usbfs {

Bus::Impl::Impl()
{
    // libusb opens the nodes (pseudo terminals here) without O_NOCTTY: a session leader would
    // take the first as its controlling terminal and get SIGHUP when a device leaves.
    if (::getsid(0) == ::getpid())
        std::signal(SIGHUP, SIG_IGN);
    testbed = GRef<UMockdevTestbed>(umockdev_testbed_new());
    track(G_OBJECT(testbed.get()));
    // Answered by the preload, which only sees the test bed once it exists.
    if (!umockdev_in_mock_environment())
        throw std::runtime_error("usbfs: the process does not run under umockdev's preload; "
                                 "start it with umockdev-wrapper");
    gchar *rootDir = umockdev_testbed_get_root_dir(testbed.get());
    root = rootDir;
    g_free(rootDir);
    findWorker();
    thread = std::thread([this] { loop(); });
}

Bus::Impl::~Impl()
{
    std::vector<NodeId> roots;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        for (NodeId id : tree.ids()) {
            if (tree.at(id).parent < 0)
                roots.push_back(id);
        }
    }
    runOnBus([&] {
        for (NodeId id : roots)
            depart(id);
    });
    {
        std::lock_guard<std::mutex> lock(jobMutex);
        stopping = true;
    }
    jobWake.notify_all();
    thread.join();
    for (const auto &[devnode, e] : attachedAt)
        detach(devnode);
    attachedAt.clear();
    releaseHandlers();
    // The test bed's worker thread, which calls the handlers, ends with it; only then do the
    // enumerations they point to go.
    testbed.reset();
    enumerations.clear();
    if (worker)
        g_main_context_unref(worker);
}

void Bus::Impl::loop()
{
    std::unique_lock<std::mutex> lock(jobMutex);
    for (;;) {
        if (stopping)
            return;
        if (jobs.empty()) {
            jobWake.wait(lock);
            continue;
        }
        const auto due = jobs.begin()->first;
        if (due > Clock::now()) {
            jobWake.wait_until(lock, due);
            continue;
        }
        std::function<void()> job = std::move(jobs.begin()->second);
        jobs.erase(jobs.begin());
        lock.unlock();
        try {
            job();
        } catch (const std::exception &failure) {
            std::lock_guard<std::mutex> state(stateMutex);
            unexpected.push_back(failure.what());
        }
        lock.lock();
    }
}

void Bus::Impl::post(std::function<void()> job, Clock::time_point due)
{
    {
        std::lock_guard<std::mutex> lock(jobMutex);
        jobs.emplace(due, std::move(job));
    }
    jobWake.notify_all();
}

void Bus::Impl::runOnBus(const std::function<void()> &job)
{
    std::packaged_task<void()> task(job);
    std::future<void> done = task.get_future();
    post([&task] { task(); });
    done.get();
}

Presence &Bus::Impl::at(NodeId id)
{
    tree.at(id); // throws for an id the tree never gave
    return presence[id];
}

const Presence &Bus::Impl::at(NodeId id) const
{
    return const_cast<Impl *>(this)->at(id);
}

} // namespace usbfs
