#include "filter/CopyPool.h"

#include <system_error>

namespace harvix::comb {

CopyPool::CopyPool(unsigned workers, std::function<void(EntryWork&)> prepare,
                   const std::atomic<bool>* stop)
    : prepare_(std::move(prepare)), stop_(stop) {
    threads_.reserve(workers);
    try {
        for (unsigned i = 0; i < workers; ++i) {
            threads_.emplace_back([this] { work(); });
        }
    } catch (const std::system_error&) {
        // No more threads to be had: those started do the work, and with
        // none the pass copies on its own thread (add).
    }
}

CopyPool::~CopyPool() {
    {
        const std::lock_guard lock(mutex_);
        closing_ = true;
        waiting_.clear();
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) {
        thread.join();
    }
}

void CopyPool::add(EntryWork& work) {
    if (threads_.empty()) {
        run(work);
        work.done = true;
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        waiting_.push_back(&work);
    }
    wake_.notify_one();
}

void CopyPool::waitFor(const EntryWork& work) {
    std::unique_lock lock(mutex_);
    finished_.wait(lock, [&] { return work.done; });
}

void CopyPool::work() {
    for (;;) {
        EntryWork* next = nullptr;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return closing_ || !waiting_.empty(); });
            if (waiting_.empty()) {
                return;
            }
            next = waiting_.front();
            waiting_.pop_front();
        }
        run(*next);
        {
            const std::lock_guard lock(mutex_);
            next->done = true;
        }
        finished_.notify_all();
    }
}

void CopyPool::run(EntryWork& work) {
    if (stop_ == nullptr || !*stop_) {
        try {
            prepare_(work);
        } catch (...) {
            work.thrown = std::current_exception();
        }
    }
}

}  // namespace harvix::comb
