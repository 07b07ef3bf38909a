#pragma once
// Work on several processor cores: how many threads parallel work may use,
// and a way to run numbered pieces of work on them while their results are
// taken on the calling thread in order, as if the pieces had run one after
// the other there.
#include <cstddef>
#include <functional>

namespace pwthreads {

// Threads that parallel work may use: the count set by SetThreadCount, else
// PINWRIGHT_THREADS when it holds a whole number from 1 up, else the
// processors this process may run on. 1 runs every piece on its caller.
unsigned ThreadCount();
// 0 returns to PINWRIGHT_THREADS or the processors. Counts above MaxThreads
// are taken as MaxThreads.
void SetThreadCount(unsigned count);
constexpr unsigned MaxThreads = 256;
// The count a text names ("1" .. "256"), or 0 when it names none.
unsigned ParseThreadCount(const char* text);

struct TOrderedWork {
    size_t Count = 0;
    // Does piece item on whichever thread takes it. slot (below the thread
    // count) is the same for all pieces one thread does, so that each thread
    // can keep buffers of its own.
    std::function<void(size_t item, unsigned slot)> Work;
    // Takes the result of piece item on the calling thread, in the order of
    // the pieces, once its Work has returned.
    std::function<void(size_t item)> Commit;
    // Called on the calling thread for a piece whose Work began after the
    // one that failed, so that nothing it did remains (may be empty when
    // pieces leave nothing behind).
    std::function<void(size_t item)> Undo;
};

// Runs Work for items 0 .. Count - 1 on up to threads threads (the calling
// thread among them) and Commit for each in order. With one thread, or one
// item, each Work is followed by its Commit on the calling thread and
// nothing else happens. Otherwise pieces may run ahead of the commits; when
// a Work or a Commit raises, no piece after it is begun, the pieces after it
// that did begin are undone once they have ended, and the exception is
// raised again: the first failure in the order of the pieces, with the
// results of the pieces before it committed, as the one-thread run gives.
void RunOrdered(const TOrderedWork& work, unsigned threads);

// Runs body(slot) for slots 0 .. threads - 1 at once: slot 0 on the calling
// thread, every other on a thread of its own that starts at once, so that
// the bodies may wait for one another. Returns once all have returned; the
// bodies on other threads must not raise. An exception from slot 0 is raised
// again after the others have returned (a body that waits for slot 0 must
// learn that it stopped).
void RunTogether(unsigned threads, const std::function<void(unsigned slot)>& body);

} // namespace pwthreads
