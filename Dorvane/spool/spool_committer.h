// Durable writes of new spool files away from the event loop's thread, so
// that many clients' messages reach the disk together. A job is the set of
// files of one message, written all or nothing as SpoolWriteBatch does; its
// outcome comes back on the event loop's thread. The threaded committer's
// workers hold no program state: they see only the job's paths and bytes,
// the Files they are given and the loop they post outcomes to.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "spool/spool_blanks.h"
#include "spool/spool_file.h"

namespace dorvane {

class EventLoop;
class Files;

class SpoolCommitter {
 public:
  // The outcome of a job: empty when every file and its folder entry are
  // on disk; else the description of the failure.
  using Done = std::function<void(const std::string& error)>;

  virtual ~SpoolCommitter() = default;
  // Writes `files`, new spool files under names nothing else writes to, all
  // or nothing: each is written under its staging name and flushed, renamed
  // into place, and its folder flushed. On a failure none of them (nor a
  // staging copy) is left. `done` runs on the event loop with the outcome,
  // never inside this call.
  virtual void Commit(std::vector<SpoolFile> files, Done done) = 0;
};

// Does each job at once on the caller's thread and posts its outcome.
class InlineSpoolCommitter final : public SpoolCommitter {
 public:
  // `files` and `loop` must outlive the committer.
  InlineSpoolCommitter(Files& files, EventLoop& loop) : files_(files), loop_(loop) {}
  void Commit(std::vector<SpoolFile> files, Done done) override;

 private:
  Files& files_;
  EventLoop& loop_;
};

// Does the jobs on a few worker threads, started on the first job. Workers
// whose renames are done share one folder flush: each waits for a flush of
// the folder that started after its rename, and runs one itself when none
// is running, for every rename done so far. Messages are written into
// blanks (see SpoolBlanks), as many per folder as there are workers; those
// left go with the committer.
class ThreadedSpoolCommitter final : public SpoolCommitter {
 public:
  // `files` must be safe to use from several threads at once (DiskFiles
  // is) and `loop`'s Post callable from any thread (QtEventLoop's is); both
  // must outlive the committer.
  ThreadedSpoolCommitter(Files& files, EventLoop& loop, int workers = 4);
  // Finishes every job already handed over, posting its outcome, then
  // stops the workers.
  ~ThreadedSpoolCommitter() override;
  ThreadedSpoolCommitter(const ThreadedSpoolCommitter&) = delete;
  ThreadedSpoolCommitter& operator=(const ThreadedSpoolCommitter&) = delete;

  void Commit(std::vector<SpoolFile> files, Done done) override;

 private:
  struct Job {
    std::vector<SpoolFile> files;
    Done done;
  };
  // The shared folder flushes; see the class comment.
  class FolderFlush {
   public:
    explicit FolderFlush(Files& files) : files_(files) {}
    // Returns once a flush of `folder` that started after this call has
    // ended: 0 or its errno.
    int Flush(const std::string& folder);

   private:
    struct Waiter {
      bool done = false;
      int error = 0;
    };
    struct Folder {
      bool running = false;
      std::vector<Waiter*> waiting;  // renamed, not yet covered by a flush
    };
    Files& files_;
    std::mutex mutex_;
    std::condition_variable ended_;
    std::map<std::string, Folder> folders_;
  };

  void StartWorkers();
  void Work();
  void Finish(Job& job);

  Files& files_;
  EventLoop& loop_;
  const int worker_count_;
  FolderFlush flush_;
  SpoolBlanks blanks_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> jobs_;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace dorvane
