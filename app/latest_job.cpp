#include "app/latest_job.h"

TLatestJob::TLatestJob() : FThread([this] { Run(); }) {}

TLatestJob::~TLatestJob()
{
    {
        const std::lock_guard<std::mutex> lock(FMutex);
        FStop = true;
        FWaiting = nullptr;
    }
    FWake.notify_one();
    FThread.join();
}

void TLatestJob::Submit(std::function<void()> job)
{
    {
        const std::lock_guard<std::mutex> lock(FMutex);
        FWaiting = std::move(job);
    }
    FWake.notify_one();
}

void TLatestJob::Run()
{
    std::unique_lock<std::mutex> lock(FMutex);
    for (;;) {
        FWake.wait(lock, [this] { return FStop || FWaiting; });
        if (FStop)
            return;
        std::function<void()> job = std::move(FWaiting);
        FWaiting = nullptr;
        lock.unlock();
        // A job reports its own failures; one that escapes ends only the job.
        try {
            job();
        } catch (...) {
        }
        lock.lock();
    }
}
