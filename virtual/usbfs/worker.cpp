// Meeting umockdev's worker thread, which runs the ioctl handlers: finding its main context,
// waiting for it before a detach, and letting go of the handlers while it still runs.

#include "busimpl.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

namespace fs = std::filesystem;

namespace usbfs {

namespace {

// A device node of the emulation's own, on which it meets umockdev's worker thread.
constexpr char WorkerProbeNode[] = "/dev/usbfs-worker";

// A job on the worker thread that only says that it ran; shared, because the wait for it may
// end before it runs.
struct WorkerJob {
    std::mutex mutex;
    std::condition_variable ran;
    bool done = false;
};

gboolean runWorkerJob(gpointer data)
{
    WorkerJob &job = **static_cast<std::shared_ptr<WorkerJob> *>(data);
    std::lock_guard<std::mutex> lock(job.mutex);
    job.done = true;
    job.ran.notify_all();
    return G_SOURCE_REMOVE;
}

void dropWorkerJob(gpointer data)
{
    delete static_cast<std::shared_ptr<WorkerJob> *>(data);
}

void onProbeConnected(UMockdevIoctlBase *, UMockdevIoctlClient *, gpointer data)
{
    static_cast<Bus::Impl *>(data)->workerFound(g_main_context_ref_thread_default());
}

} // namespace

void Bus::Impl::findWorker()
{
    // umockdev answers the files of a node on a worker thread of the test bed, in a
    // GMainContext that it does not hand out. A file opened on a node of the emulation's own is
    // accepted there, and the node's handler takes note of the context.
    workerProbe = GRef<UMockdevIoctlBase>(umockdev_ioctl_base_new());
    track(G_OBJECT(workerProbe.get()));
    g_signal_connect(workerProbe.get(), "client-connected", G_CALLBACK(onProbeConnected), this);
    GError *error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed.get(), WorkerProbeNode, workerProbe.get(), &error)) {
        const std::string reason = error ? error->message : "unknown";
        g_clear_error(&error);
        throw std::runtime_error(
            std::string("usbfs: cannot attach to ") + WorkerProbeNode + ": " + reason);
    }
    // A file that exists, so that the open succeeds and the close ends the connection.
    const fs::path file = root + WorkerProbeNode;
    fs::create_directories(file.parent_path());
    std::ofstream(file).close();
    const int fd = ::open(WorkerProbeNode, O_RDWR | O_NOCTTY | O_CLOEXEC);
    bool found = false;
    {
        std::unique_lock<std::mutex> lock(workerMutex);
        found = workerChanged.wait_for(lock, WorkerBound, [&] { return worker != nullptr; });
    }
    if (fd >= 0)
        ::close(fd);
    g_signal_handlers_disconnect_by_data(workerProbe.get(), this);
    // Its listener has accepted a file, so it sees the detach at once.
    umockdev_testbed_detach_ioctl(testbed.get(), WorkerProbeNode, nullptr);
    std::error_code ignored;
    fs::remove(file, ignored);
    if (!found)
        throw std::runtime_error(
            "usbfs: umockdev's worker thread accepted no file of " + std::string(WorkerProbeNode));
}

void Bus::Impl::workerFound(GMainContext *context)
{
    std::lock_guard<std::mutex> lock(workerMutex);
    if (worker)
        g_main_context_unref(context);
    else
        worker = context;
    workerChanged.notify_all();
}

bool Bus::Impl::syncWorker()
{
    // The worker runs what it is handed at one priority in the order it was handed over: once
    // this job has run, so has everything handed to it before.
    GMainContext *context = nullptr;
    {
        std::lock_guard<std::mutex> lock(workerMutex);
        context = worker;
    }
    if (!context)
        return false;
    auto job = std::make_shared<WorkerJob>();
    g_main_context_invoke_full(context, G_PRIORITY_DEFAULT, runWorkerJob,
        new std::shared_ptr<WorkerJob>(job), dropWorkerJob);
    std::unique_lock<std::mutex> lock(job->mutex);
    return job->ran.wait_for(lock, WorkerBound, [&] { return job->done; });
}

void Bus::Impl::detach(const std::string &devnode)
{
    // umockdev starts a handler's listener on the worker thread, some time after the attach;
    // a detach before that start is never seen by the listener, which then waits for files on
    // a socket nobody can reach any more and holds its handler for good. Past a bound the
    // handler leaks, and Bus::liveGObjects reports it.
    syncWorker();
    umockdev_testbed_detach_ioctl(testbed.get(), devnode.c_str(), nullptr);
}

void Bus::Impl::releaseHandlers()
{
    // A detached handler stays referenced by umockdev's worker thread until the listener that
    // the detach cancelled has run to its end there, a few iterations of the worker's loop
    // later. The test bed quits that loop without running what is still pending, and never
    // joins the thread: whatever the worker holds at that moment is never given back. So the
    // handlers are let go while the worker still runs, and the test bed goes only after them.
    std::vector<GObject *> handlers {G_OBJECT(workerProbe.get())};
    workerProbe.reset();
    for (const std::shared_ptr<Enumeration> &e : enumerations) {
        if (!e->handler)
            continue;
        GObject *handler = G_OBJECT(e->handler.get());
        // A handler that outlives the bound must not call into the enumeration once it is gone.
        g_signal_handlers_disconnect_by_data(handler, e.get());
        handlers.push_back(handler);
        e->handler.reset();
    }
    // Past the bound the references leaked; Bus::liveGObjects reports them.
    waitFinalized(handlers, WorkerBound);
}

} // namespace usbfs
