#pragma once
// One background thread for work the GUI must not wait for: it runs the
// newest job handed to it. A job handed in while another runs waits, and
// replaces any job still waiting, so that only the work for the latest
// state is done. A job hands its results and failures back to the GUI
// thread itself.
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class TLatestJob {
public:
    TLatestJob();
    // Drops a waiting job and waits for the running one.
    ~TLatestJob();
    TLatestJob(const TLatestJob&) = delete;
    TLatestJob& operator=(const TLatestJob&) = delete;

    void Submit(std::function<void()> job);

private:
    void Run();

    std::mutex FMutex;
    std::condition_variable FWake;
    std::function<void()> FWaiting;
    bool FStop = false;
    std::thread FThread;
};
