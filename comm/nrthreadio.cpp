#include "nrthreadio.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Linux schedules normal threads by their nice value; lowering it needs no privilege,
// raising it needs CAP_SYS_NICE and is silently left as is without it.
void ApplyPriority(TThreadPriority pr) {
    static constexpr int niceByPriority[] = {19, 10, 5, 0, -5, -10, -20};
    const int nice = niceByPriority[static_cast<int>(pr)];
    if (nice != 0)
        setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), nice);
}

} // namespace

void TnrThreadControl::Terminate() {
    fTerminated.store(true, std::memory_order_release);
    fGate.Close();
}

void TnrThreadControl::WaitFor() {
    std::unique_lock lk(fLock);
    if (std::this_thread::get_id() == fThreadId)
        return;
    fEndChanged.wait(lk, [this] { return fEnded; });
}

bool TnrThreadControl::Ended() const {
    std::lock_guard g(fLock);
    return fEnded;
}

void TnrThreadControl::SignalEnd() {
    std::lock_guard g(fLock);
    fEnded = true;
    fEndChanged.notify_all();
}

TnrThreadIO::TnrThreadIO(TnrBaseIO* anrComm, std::shared_ptr<TnrThreadControl> control)
    : fnrComm(anrComm), fControl(std::move(control)) {}

std::shared_ptr<TnrThreadControl> TnrThreadIO::Create(TnrBaseIO* anrComm, TThreadPriority pr,
                                                      TnrThreadIO** created) {
    auto control = std::make_shared<TnrThreadControl>();
    auto* thread = new TnrThreadIO(anrComm, control);
    if (created)
        *created = thread;
    // The id is recorded under the lock before the body can ask for it.
    std::lock_guard g(control->fLock);
    std::thread worker([thread, pr] {
        ApplyPriority(pr);
        thread->Execute();
    });
    control->fThreadId = worker.get_id();
    worker.detach();
    return control;
}

bool TnrThreadIO::Synchronize(const std::function<void()>& Method) { return fControl->Gate().Run(Method); }

void TnrThreadIO::Execute() {
    // No per-thread component-object set-up exists on Linux; the body runs as it is.
    {
        // Wait until Create has recorded the thread id.
        std::lock_guard g(fControl->fLock);
    }
    try {
        fnrComm->ExecuteThreadIO(this);
    } catch (...) {
        // The body's failures end the thread normally.
    }
    auto control = fControl;
    delete this;
    control->SignalEnd();
}
