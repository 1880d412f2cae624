#include "sources/virtual/notify.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace vscan {

using Clock = std::chrono::steady_clock;

// What the thread and its owner share: the thread keeps its own reference, so
// that a notifier destroyed from its own thread leaves nothing dangling.
struct Notifier::Shared {
  struct Planned {
    Clock::time_point due;
    std::uint64_t order;
    Job job;
  };
  std::mutex mutex;
  std::condition_variable wake;
  std::vector<Planned> planned;
  std::uint64_t next_order = 0;
  bool stopping = false;
  std::thread::id thread_id;
  std::thread thread;

  // The next job due, or nothing when stopping.
  Job next_job() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
      if (planned.empty()) {
        wake.wait(lock);
        continue;
      }
      auto first = planned.begin();
      for (auto it = planned.begin(); it != planned.end(); ++it) {
        if (it->due < first->due || (it->due == first->due && it->order < first->order)) first = it;
      }
      if (first->due > Clock::now()) {
        wake.wait_until(lock, first->due);
        continue;
      }
      Job job = std::move(first->job);
      planned.erase(first);
      return job;
    }
    return nullptr;
  }

  static void run(std::shared_ptr<Shared> self) {
    while (Job job = self->next_job()) job();
  }
};

Notifier::Notifier() : shared_(std::make_shared<Shared>()) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->thread = std::thread(&Shared::run, shared_);
  shared_->thread_id = shared_->thread.get_id();
}

Notifier::~Notifier() {
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->stopping = true;
    shared_->planned.clear();
  }
  shared_->wake.notify_all();
  if (std::this_thread::get_id() == shared_->thread_id) {
    shared_->thread.detach();
  } else if (shared_->thread.joinable()) {
    shared_->thread.join();
  }
}

void Notifier::schedule(std::chrono::milliseconds delay, Job job) {
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->planned.push_back({Clock::now() + delay, shared_->next_order++, std::move(job)});
  }
  shared_->wake.notify_all();
}

void notify_send(DSMENTRYPROC dsm_entry, TW_IDENTITY source, TW_IDENTITY app, TW_UINT16 msg) {
  if (dsm_entry == nullptr) return;
  dsm_entry(&source, &app, DG_CONTROL, DAT_NULL, msg, nullptr);
}

}  // namespace vscan
