#include "fileio/WorkerPool.h"

#include <sched.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

namespace tarn {

namespace {

// The quota of a cgroup as a number of CPUs, 0 when there is none. v2 first: "max 100000" or
// "200000 100000"; then v1's two files.
double CgroupCpus() {
  std::ifstream v2("/sys/fs/cgroup/cpu.max");
  std::string quota;
  double period = 0;
  if (v2 >> quota >> period) return quota == "max" || period <= 0 ? 0 : std::stod(quota) / period;
  std::ifstream q1("/sys/fs/cgroup/cpu/cpu.cfs_quota_us"), p1("/sys/fs/cgroup/cpu/cpu.cfs_period_us");
  double q = 0;
  if (q1 >> q && p1 >> period && q > 0 && period > 0) return q / period;
  return 0;
}

}  // namespace

unsigned UsableCpus() {
  unsigned cpus = 0;
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) cpus = static_cast<unsigned>(CPU_COUNT(&set));
  if (cpus == 0) cpus = std::thread::hardware_concurrency();
  try {
    if (const double quota = CgroupCpus(); quota > 0)
      cpus = std::min(cpus, static_cast<unsigned>(std::max(1.0, std::ceil(quota))));
  } catch (const std::exception&) {
    // An unreadable quota limits nothing.
  }
  return std::max(1u, cpus);
}

bool CWorkerPool::Task::Done() const { return m_done; }

CWorkerPool::CWorkerPool(unsigned workers) {
  for (unsigned i = 0; i < std::max(1u, workers); ++i) m_threads.emplace_back([this] { Work(); });
}

CWorkerPool::~CWorkerPool() {
  {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
  }
  m_wake.notify_all();
  for (std::thread& t : m_threads) t.join();
}

CWorkerPool& CWorkerPool::Shared() {
  // Never destroyed: a worker may still be finishing a task while static objects go at exit.
  static CWorkerPool* const pool = new CWorkerPool(UsableCpus());
  return *pool;
}

std::shared_ptr<CWorkerPool::Task> CWorkerPool::Submit(std::function<void()> run) {
  auto task = std::make_shared<Task>();
  task->m_run = std::move(run);
  {
    std::lock_guard lock(m_mutex);
    m_queue.push_back(task);
  }
  m_wake.notify_one();
  return task;
}

void CWorkerPool::RunTask(const std::shared_ptr<Task>& task) {
  try {
    task->m_run();
  } catch (...) {
    task->m_error = std::current_exception();
  }
  {
    std::lock_guard lock(m_mutex);
    task->m_done = true;
    task->m_run = nullptr;
  }
  m_finished.notify_all();
}

void CWorkerPool::Wait(const std::shared_ptr<Task>& task) {
  {
    std::unique_lock lock(m_mutex);
    if (task->m_started) {
      m_finished.wait(lock, [&] { return task->m_done; });
    } else {
      task->m_started = true;
      m_queue.erase(std::find(m_queue.begin(), m_queue.end(), task));
      lock.unlock();
      RunTask(task);
    }
  }
  if (task->m_error) std::rethrow_exception(task->m_error);
}

void CWorkerPool::Work() {
  for (;;) {
    std::shared_ptr<Task> task;
    {
      std::unique_lock lock(m_mutex);
      m_wake.wait(lock, [&] { return m_stopping || !m_queue.empty(); });
      if (m_queue.empty()) return;
      task = std::move(m_queue.front());
      m_queue.pop_front();
      task->m_started = true;
    }
    RunTask(task);
  }
}

void RunOnWorkers(std::size_t helpers, const std::function<void()>& work) {
  CWorkerPool& pool = CWorkerPool::Shared();
  std::vector<std::shared_ptr<CWorkerPool::Task>> tasks;
  for (std::size_t i = 0; i < std::min<std::size_t>(helpers, pool.Workers()); ++i) tasks.push_back(pool.Submit(work));
  // Every copy has returned before this does, whatever threw: they share the caller's locals.
  std::exception_ptr first;
  try {
    work();
  } catch (...) {
    first = std::current_exception();
  }
  for (const auto& task : tasks) try {
      pool.Wait(task);
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  if (first) std::rethrow_exception(first);
}

}  // namespace tarn
