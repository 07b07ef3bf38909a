#include "platform/thread_pool.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace pwthreads {

namespace {

std::atomic<unsigned> SetCount{0};

// About 50 microseconds of looking before the calling thread sleeps.
constexpr int SpinsBeforeSleep = 2000;

unsigned ProcessorCount()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

// Threads that wait for tasks; started as they are first needed and kept
// for the life of the process, so that a load costs no thread starts. A task
// never waits for a thread: one is started when none is idle.
class TPool {
public:
    static TPool& Instance()
    {
        static TPool pool;
        return pool;
    }

    void Post(std::function<void()> task)
    {
        std::lock_guard lock(FMutex);
        FTasks.push_back(std::move(task));
        if (FIdle < FTasks.size())
            FThreads.emplace_back([this] { Serve(); });
        else
            FWake.notify_one();
    }

    ~TPool()
    {
        {
            std::lock_guard lock(FMutex);
            FQuit = true;
        }
        FWake.notify_all();
        for (std::thread& thread : FThreads)
            thread.join();
    }

private:
    void Serve()
    {
        std::unique_lock lock(FMutex);
        for (;;) {
            ++FIdle;
            FWake.wait(lock, [this] { return FQuit || !FTasks.empty(); });
            --FIdle;
            if (FTasks.empty())
                return;
            std::function<void()> task = std::move(FTasks.front());
            FTasks.pop_front();
            lock.unlock();
            task();
            lock.lock();
        }
    }

    std::mutex FMutex;
    std::condition_variable FWake;
    std::deque<std::function<void()>> FTasks;
    std::vector<std::thread> FThreads;
    size_t FIdle = 0;
    bool FQuit = false;
};

enum class TPieceState : unsigned char { Waiting, Running, Done };

// One RunOrdered call. Pool threads that start after the call has returned
// find no piece left and touch nothing but this record, which they share.
class TJob {
public:
    explicit TJob(const TOrderedWork& work)
        : FWork(work), FLimit(work.Count), FState(work.Count, TPieceState::Waiting), FErrors(work.Count)
    {
    }

    // Does the next piece not yet begun; false when there is none.
    bool WorkOne(unsigned slot)
    {
        const size_t item = FNext.fetch_add(1);
        {
            std::lock_guard lock(FMutex);
            if (item >= FLimit)
                return false;
            FState[item] = TPieceState::Running;
        }
        std::exception_ptr error;
        try {
            FWork.Work(item, slot);
        } catch (...) {
            error = std::current_exception();
        }
        std::lock_guard lock(FMutex);
        FState[item] = TPieceState::Done;
        FDone.fetch_add(1, std::memory_order_relaxed);
        FErrors[item] = std::move(error);
        // The pieces after a failed one are of no use.
        if (error)
            FLimit = std::min(FLimit, item + 1);
        FChanged.notify_all();
        return true;
    }

    // On the calling thread: commits every piece in order, working a piece
    // itself while the next one to commit is not done.
    void CommitAll(unsigned callerSlot)
    {
        for (size_t item = 0; item < FWork.Count; ++item) {
            std::exception_ptr error;
            for (;;) {
                {
                    // Exceptions are taken over by this thread, which is the
                    // one to let them go.
                    std::unique_lock lock(FMutex);
                    if (FState[item] == TPieceState::Done) {
                        error = std::exchange(FErrors[item], nullptr);
                        break;
                    }
                    if (FNext.load() >= FLimit) {
                        // The piece is mostly about to be done: looking again
                        // for a while costs less than a sleep and a wake-up.
                        const size_t done = FDone.load(std::memory_order_relaxed);
                        lock.unlock();
                        for (int spin = 0; spin < SpinsBeforeSleep && FDone.load(std::memory_order_relaxed) == done;
                             ++spin)
                            __builtin_ia32_pause();
                        lock.lock();
                        FChanged.wait(lock, [&] { return FState[item] == TPieceState::Done; });
                        error = std::exchange(FErrors[item], nullptr);
                        break;
                    }
                }
                WorkOne(callerSlot);
            }
            if (!error) {
                try {
                    FWork.Commit(item);
                } catch (...) {
                    error = std::current_exception();
                }
            }
            if (error) {
                UndoAfter(item);
                std::rethrow_exception(error);
            }
        }
    }

private:
    // Lets no piece after failed begin, waits for those running, and undoes
    // every one that began.
    void UndoAfter(size_t failed)
    {
        std::vector<size_t> begun;
        {
            std::unique_lock lock(FMutex);
            FLimit = std::min(FLimit, failed + 1);
            FChanged.wait(lock, [&] {
                return std::none_of(FState.begin(), FState.end(), [](TPieceState s) { return s == TPieceState::Running; });
            });
            for (size_t item = failed + 1; item < FWork.Count; ++item)
                if (FState[item] == TPieceState::Done)
                    begun.push_back(item);
            for (std::exception_ptr& error : FErrors)
                error = nullptr;
        }
        if (!FWork.Undo)
            return;
        for (size_t item : begun) {
            try {
                FWork.Undo(item);
            } catch (...) {
                // The first failure is the one reported.
            }
        }
    }

    const TOrderedWork& FWork;
    std::atomic<size_t> FNext{0};
    std::atomic<size_t> FDone{0}; // pieces done, for looking without the lock
    std::mutex FMutex;
    std::condition_variable FChanged;
    size_t FLimit; // pieces from this one on are not begun
    std::vector<TPieceState> FState;
    std::vector<std::exception_ptr> FErrors;
};

} // namespace

unsigned ParseThreadCount(const char* text)
{
    if (!text || *text < '0' || *text > '9')
        return 0;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (*end != '\0' || value < 1 || value > MaxThreads)
        return 0;
    return static_cast<unsigned>(value);
}

unsigned ThreadCount()
{
    if (const unsigned set = SetCount.load())
        return set;
    static const unsigned fromEnvironment = ParseThreadCount(std::getenv("PINWRIGHT_THREADS"));
    if (fromEnvironment)
        return fromEnvironment;
    static const unsigned processors = std::min(ProcessorCount(), MaxThreads);
    return processors;
}

void SetThreadCount(unsigned count)
{
    SetCount.store(std::min(count, MaxThreads));
}

void RunOrdered(const TOrderedWork& work, unsigned threads)
{
    threads = std::clamp(threads, 1u, MaxThreads);
    if (threads == 1 || work.Count <= 1) {
        for (size_t item = 0; item < work.Count; ++item) {
            work.Work(item, 0);
            work.Commit(item);
        }
        return;
    }
    const unsigned helpers = static_cast<unsigned>(std::min<size_t>(threads, work.Count)) - 1;
    auto job = std::make_shared<TJob>(work);
    for (unsigned slot = 0; slot < helpers; ++slot)
        TPool::Instance().Post([job, slot] {
            while (job->WorkOne(slot)) {
            }
        });
    job->CommitAll(helpers);
}

void RunTogether(unsigned threads, const std::function<void(unsigned slot)>& body)
{
    threads = std::clamp(threads, 1u, MaxThreads);
    // Bodies on pool threads that begin after this call has returned find
    // it closed and touch nothing else.
    struct TShared {
        std::mutex Mutex;
        std::condition_variable Ended;
        unsigned Running = 0;
        bool Closed = false;
        const std::function<void(unsigned)>* Body;
    };
    auto shared = std::make_shared<TShared>();
    shared->Body = &body;
    for (unsigned slot = 1; slot < threads; ++slot)
        TPool::Instance().Post([shared, slot] {
            {
                std::lock_guard lock(shared->Mutex);
                if (shared->Closed)
                    return;
                ++shared->Running;
            }
            (*shared->Body)(slot);
            std::lock_guard lock(shared->Mutex);
            --shared->Running;
            shared->Ended.notify_all();
        });
    std::exception_ptr error;
    try {
        body(0);
    } catch (...) {
        error = std::current_exception();
    }
    std::unique_lock lock(shared->Mutex);
    shared->Closed = true;
    shared->Ended.wait(lock, [&] { return shared->Running == 0; });
    if (error)
        std::rethrow_exception(error);
}

} // namespace pwthreads
