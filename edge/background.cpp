#include "edge/background.h"

#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <exception>
#include <string>

#include "core/log.h"

namespace {

// Runs of their own: a scan or a slow peer must not hold up the pool that previews use, nor wait
// for it.
QThreadPool& Workers() {
  static QThreadPool* pool = [] {
    auto* p = new QThreadPool;  // lives as long as the program: runs may still end at its exit
    p->setMaxThreadCount(16);
    return p;
  }();
  return *pool;
}

}  // namespace

BackgroundWork::BackgroundWork(QObject* parent) : QObject(parent) {}

BackgroundWork::~BackgroundWork() {
  if (cancel_) cancel_->store(true);
  Wait();
}

void BackgroundWork::Run::Post(std::function<void()> f) const {
  // Queued to the owner's thread; a run abandoned (or an owner gone) by then drops it.
  QMetaObject::invokeMethod(
      owner_,
      [owner = owner_, generation = generation_, f = std::move(f)] {
        if (generation == owner->generation_) f();
      },
      Qt::QueuedConnection);
}

bool BackgroundWork::Start(State state, std::function<void(const Run&)> work, std::function<void()> done) {
  if (Busy()) return false;
  std::erase_if(runs_, [](const QFuture<void>& f) { return f.isFinished(); });
  Run run;
  run.owner_ = this;
  run.generation_ = ++generation_;
  run.cancel_ = cancel_ = std::make_shared<std::atomic<bool>>(false);
  SetState(state);
  runs_.push_back(QtConcurrent::run(&Workers(), [run, work = std::move(work), done = std::move(done)]() mutable {
    // Whatever happens in the work, the owner hears that it ended: a run never stays busy.
    try {
      work(run);
    } catch (const std::exception& e) {
      WriteLog(std::string("ERROR, BackgroundWork, the work ended early: ") + e.what());
    }
    run.Post([owner = run.owner_, done = std::move(done)] {
      owner->SetState(State::Idle);
      if (done) done();
      emit owner->Finished();
    });
  }));
  return true;
}

void BackgroundWork::Cancel() {
  if (cancel_) cancel_->store(true);
}

void BackgroundWork::Abandon() {
  if (!Busy()) return;
  Cancel();
  ++generation_;
  SetState(State::Idle);
}

void BackgroundWork::Wait() {
  for (QFuture<void>& f : runs_) f.waitForFinished();
  runs_.clear();
}

void BackgroundWork::SetState(State state) {
  if (state_ == state) return;
  state_ = state;
  emit StateChanged(state);
}
