// RunOrdered: results are taken in order whatever the threads do, and a
// failure leaves what the one-thread run leaves: the pieces before it taken,
// every piece begun after it undone, its own exception raised.
#include "platform/thread_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

TEST(ThreadPool, PiecesAreTakenInOrderAndAFailureUndoesWhatCameAfter)
{
    struct Case {
        const char* Name;
        size_t Count;
        int FailsInWork;   // piece whose Work raises, or -1
        int FailsInCommit; // piece whose Commit raises, or -1
        int AlsoFails;     // a later piece that raises too, or -1
    };
    const Case cases[] = {
        {"all well", 40, -1, -1, -1},
        {"a piece fails", 40, 7, -1, -1},
        {"the first fails, a later one too", 40, 0, -1, 30},
        {"a commit fails", 40, -1, 12, -1},
        {"the last piece fails", 40, 39, -1, -1},
        {"one piece", 1, 0, -1, -1},
    };
    for (const Case& c : cases) {
        for (unsigned threads : {1u, 2u, 4u}) {
            SCOPED_TRACE(std::string(c.Name) + ", " + std::to_string(threads) + " threads");
            std::mutex mutex;
            std::vector<size_t> committed;
            std::set<size_t> begun, undone;
            std::atomic<int> slotsOutOfRange{0};
            pwthreads::TOrderedWork work;
            work.Count = c.Count;
            work.Work = [&](size_t item, unsigned slot) {
                if (slot >= threads)
                    ++slotsOutOfRange;
                {
                    std::lock_guard lock(mutex);
                    begun.insert(item);
                }
                // Later pieces finish first now and then.
                std::this_thread::sleep_for(std::chrono::microseconds(item % 3 == 0 ? 300 : 0));
                if (int(item) == c.FailsInWork || int(item) == c.AlsoFails)
                    throw std::runtime_error("piece " + std::to_string(item));
            };
            work.Commit = [&](size_t item) {
                if (int(item) == c.FailsInCommit)
                    throw std::runtime_error("commit " + std::to_string(item));
                committed.push_back(item);
            };
            work.Undo = [&](size_t item) { undone.insert(item); };
            std::string error;
            try {
                pwthreads::RunOrdered(work, threads);
            } catch (const std::exception& e) {
                error = e.what();
            }
            const int failed = c.FailsInWork >= 0 ? c.FailsInWork : c.FailsInCommit;
            const size_t taken = failed >= 0 ? size_t(failed) : c.Count;
            EXPECT_EQ(error, c.FailsInWork >= 0   ? "piece " + std::to_string(failed)
                             : c.FailsInCommit >= 0 ? "commit " + std::to_string(failed)
                                                    : "");
            ASSERT_EQ(committed.size(), taken);
            for (size_t i = 0; i < committed.size(); ++i)
                EXPECT_EQ(committed[i], i);
            std::set<size_t> later;
            for (size_t item : begun)
                if (failed >= 0 && item > size_t(failed))
                    later.insert(item);
            EXPECT_EQ(undone, later);
            EXPECT_EQ(slotsOutOfRange.load(), 0);
        }
    }
}
