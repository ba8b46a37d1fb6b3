#include "spool/spool_committer.h"

#include <exception>
#include <utility>

#include "base/event_loop.h"
#include "base/files.h"
#include "base/runtime_error.h"

namespace dorvane {
namespace {

// Writes the files of `job` through `files` all or nothing, each folder
// flushed by `flush`; "" or the description of what failed.
std::string WriteJob(Files& files, const std::vector<SpoolFile>& job, const FlushFolder& flush,
                     SpoolBlanks* blanks = nullptr) {
  try {
    WriteNewSpoolFiles(files, job, "CLS:CMessage[MWrite]", flush, blanks);
    return {};
  } catch (const RuntimeError& e) {
    return e.description();
  } catch (const std::exception& e) {  // out of memory, on a worker as well
    return e.what();
  }
}

void PostOutcome(EventLoop& loop, SpoolCommitter::Done done, std::string error) {
  loop.Post([done = std::move(done), error = std::move(error)] { done(error); });
}

}  // namespace

void InlineSpoolCommitter::Commit(std::vector<SpoolFile> files, Done done) {
  std::string error = WriteJob(files_, files, [this](const std::string& folder) {
    return files_.SyncFolder(folder);
  });
  PostOutcome(loop_, std::move(done), std::move(error));
}

ThreadedSpoolCommitter::ThreadedSpoolCommitter(Files& files, EventLoop& loop, int workers)
    : files_(files), loop_(loop), worker_count_(workers), flush_(files), blanks_(files, static_cast<size_t>(workers)) {}

ThreadedSpoolCommitter::~ThreadedSpoolCommitter() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void ThreadedSpoolCommitter::Commit(std::vector<SpoolFile> files, Done done) {
  std::unique_lock lock(mutex_);
  if (workers_.empty()) StartWorkers();
  if (workers_.empty()) {  // no thread to be had: written here, as before
    lock.unlock();
    Job job{std::move(files), std::move(done)};
    return Finish(job);
  }
  jobs_.push_back(Job{std::move(files), std::move(done)});
  lock.unlock();
  wake_.notify_one();
}

// Called with mutex_ held.
void ThreadedSpoolCommitter::StartWorkers() {
  try {
    for (int i = 0; i < worker_count_; ++i) workers_.emplace_back([this] { Work(); });
  } catch (const std::system_error&) {  // the system's thread limit: fewer workers
  }
}

void ThreadedSpoolCommitter::Work() {
  for (;;) {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
    if (jobs_.empty()) return;
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    try {
      Finish(job);
    } catch (...) {  // only posting can fail (out of memory); a worker must not end the program
    }
  }
}

void ThreadedSpoolCommitter::Finish(Job& job) {
  std::string error = WriteJob(
      files_, job.files, [this](const std::string& folder) { return flush_.Flush(folder); }, &blanks_);
  PostOutcome(loop_, std::move(job.done), std::move(error));
}

int ThreadedSpoolCommitter::FolderFlush::Flush(const std::string& folder) {
  Waiter me;
  std::unique_lock lock(mutex_);
  Folder& state = folders_[folder];
  state.waiting.push_back(&me);
  while (!me.done) {
    if (state.running) {
      ended_.wait(lock);
      continue;
    }
    state.running = true;
    std::vector<Waiter*> covered = std::exchange(state.waiting, {});
    lock.unlock();
    int error = files_.SyncFolder(folder);
    lock.lock();
    for (Waiter* waiter : covered) *waiter = Waiter{true, error};
    state.running = false;
    ended_.notify_all();
  }
  return me.error;
}

}  // namespace dorvane
