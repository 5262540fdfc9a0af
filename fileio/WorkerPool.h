// The process's one pool of worker threads, for work that splits into independent pieces
// (deflating a zip's members, extracting files). It is as wide as the CPUs the process may
// really use: a container or a taskset that grants two of sixty-four cores gets two workers,
// not sixty-four threads fighting over them.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tarn {

// The CPUs this process may run on: its affinity mask, lowered by a cgroup's CPU quota
// (cgroup v2 cpu.max, or v1 cfs_quota_us / cfs_period_us), at least 1.
unsigned UsableCpus();

class CWorkerPool {
 public:
  // A piece of work handed to the pool; Wait on it before using what it made.
  class Task {
   public:
    bool Done() const;

   private:
    friend class CWorkerPool;
    std::function<void()> m_run;
    std::exception_ptr m_error;
    bool m_started = false, m_done = false;
  };

  explicit CWorkerPool(unsigned workers);
  ~CWorkerPool();
  CWorkerPool(const CWorkerPool&) = delete;
  CWorkerPool& operator=(const CWorkerPool&) = delete;

  // The pool every caller shares, UsableCpus() wide, made on first use.
  static CWorkerPool& Shared();

  unsigned Workers() const { return static_cast<unsigned>(m_threads.size()); }
  std::shared_ptr<Task> Submit(std::function<void()> run);
  // Returns when the task has run, throwing what it threw. A task no worker has started yet is run by the caller
  // instead, so that work waiting on work never stalls, however busy the pool is.
  void Wait(const std::shared_ptr<Task>& task);

 private:
  void Work();
  void RunTask(const std::shared_ptr<Task>& task);

  mutable std::mutex m_mutex;
  std::condition_variable m_wake, m_finished;
  std::deque<std::shared_ptr<Task>> m_queue;
  bool m_stopping = false;
  std::vector<std::thread> m_threads;
};

// Runs work on the calling thread and on up to `helpers` of the shared pool's workers at once,
// returning when every copy has returned: for loops whose copies take their items from one
// shared list.
void RunOnWorkers(std::size_t helpers, const std::function<void()>& work);

}  // namespace tarn
