#pragma once
// The one way the forms and the main window run work that may take long (sending, scanning, image
// files, the scanner lookup, searches, the outbox): on a worker thread, with results handed back to
// the window's thread as queued calls, so that the window always answers. One run at a time per
// owner, and one state that the owner's buttons, close, drops and menus follow.
#include <QFuture>
#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class BackgroundWork : public QObject {
  Q_OBJECT
 public:
  enum class State { Idle, LookingUp, Scanning, Importing, Converting, Sending, Searching };

  explicit BackgroundWork(QObject* parent = nullptr);
  // Waits for every run still going (see Wait).
  ~BackgroundWork() override;

  // The worker's view of its run: whether Cancel was asked, and a way to hand something to the
  // owner's thread.
  class Run {
   public:
    bool Cancelled() const { return cancel_->load(); }
    // Runs `f` on the owner's thread, in order, unless the run was abandoned by then.
    void Post(std::function<void()> f) const;

   private:
    friend class BackgroundWork;
    BackgroundWork* owner_ = nullptr;
    unsigned generation_ = 0;
    std::shared_ptr<std::atomic<bool>> cancel_;
  };

  // Starts `work` on a worker thread in `state`; `done` then runs on the owner's thread (after
  // everything the run posted). False, with nothing started, while a run is under way.
  bool Start(State state, std::function<void(const Run&)> work, std::function<void()> done = {});
  State state() const { return state_; }
  bool Busy() const { return state_ != State::Idle; }
  // Asks the run to end where it can; what it has made stays.
  void Cancel();
  // The owner stops waiting for the run: the state is Idle at once and nothing the run still posts
  // (nor its `done`) reaches the owner. The run is cancelled and ends on its own.
  void Abandon();
  // Waits until every run, abandoned ones too, has ended.
  void Wait();

 signals:
  void StateChanged(BackgroundWork::State state);
  // A run has ended and its `done` has run (not for an abandoned run).
  void Finished();

 private:
  void SetState(State state);

  State state_ = State::Idle;
  unsigned generation_ = 0;
  std::shared_ptr<std::atomic<bool>> cancel_;
  std::vector<QFuture<void>> runs_;
};
