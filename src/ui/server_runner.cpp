#include "ui/server_runner.h"

#include "core/controller.h"
#include "core/event_loop_work.h"
#include "platform/signals.h"
#include "platform/single_instance.h"

TServerRunner::TServerRunner(TMainController& controller, TSingleInstance* instance, TShutdownSignals* shutdownSignals,
                             IEventLoopWork* work)
    : FController(controller), FInstance(instance), FSignals(shutdownSignals), FWork(work) {
  FMaster = new QTimer(&FContext);
  FMaster->setTimerType(Qt::PreciseTimer);
  FMaster->setInterval(static_cast<int>(kMasterTimerInterval));
  QObject::connect(FMaster, &QTimer::timeout, &FContext, [this] { FController.MasterTimerTick(); });
  FView = new QTimer(&FContext);
  FView->setInterval(static_cast<int>(kViewTimerInterval));
  QObject::connect(FView, &QTimer::timeout, &FContext, [this] { FController.ViewTimerTick(); });
  FBlink = new QTimer(&FContext);
  FBlink->setInterval(static_cast<int>(kBlinkTimerInterval));
  QObject::connect(FBlink, &QTimer::timeout, &FContext, [this] { FController.BlinkTimerTick(); });

  FController.Queue().SetWakeHook([this] { ScheduleDispatch(); });
  if (!FController.Queue().Empty()) ScheduleDispatch();

  if (FSignals != nullptr && FSignals->Ok()) {
    FSignalNotifier = new QSocketNotifier(static_cast<qintptr>(FSignals->Fd()), QSocketNotifier::Read, &FContext);
    QObject::connect(FSignalNotifier, &QSocketNotifier::activated, &FContext, [this] {
      if (FSignals->TakePending()) FController.SignalShutdown();
    });
  }
  if (FInstance != nullptr && FInstance->ListenFd() >= 0) {
    FInstance->SetHandler([this](uint32_t msg, const std::string& payload, int64_t lParam) {
      return FController.HandleInstanceMessage(msg, payload, lParam);
    });
    FListenNotifier =
        new QSocketNotifier(static_cast<qintptr>(FInstance->ListenFd()), QSocketNotifier::Read, &FContext);
    QObject::connect(FListenNotifier, &QSocketNotifier::activated, &FContext, [this] { ServeInstance(); });
  }
  if (FWork != nullptr) {
    FGroup = new QTimer(&FContext);
    FGroup->setTimerType(Qt::PreciseTimer);
    FGroup->setInterval(25);
    QObject::connect(FGroup, &QTimer::timeout, &FContext, [this] { FWork->GroupTimerTick(); });
    FWork->SetWatchListener([this](int closingFd) { WatchChanged(closingFd); });
    SyncWorkNotifiers();
    FGroup->start();
  }
  FMaster->start();
  FView->start();
  FBlink->start();
}

TServerRunner::~TServerRunner() {
  if (FWork != nullptr) FWork->SetWatchListener({});
  FController.Queue().SetWakeHook({});
  if (FInstance != nullptr) FInstance->SetHandler({});
}

void TServerRunner::ScheduleDispatch() {
  if (FDispatchScheduled) return;
  FDispatchScheduled = true;
  QMetaObject::invokeMethod(
      &FContext,
      [this] {
        FDispatchScheduled = false;
        FController.DispatchMessages();
        if (!FController.Queue().Empty()) ScheduleDispatch();
      },
      Qt::QueuedConnection);
}

void TServerRunner::ServeInstance() {
  FInstance->Serve();
  SyncConnectionNotifiers();
}

void TServerRunner::SyncConnectionNotifiers() {
  std::map<int, QSocketNotifier*> kept;
  for (int fd : FInstance->ConnectionFds()) {
    auto it = FConnectionNotifiers.find(fd);
    if (it != FConnectionNotifiers.end()) {
      kept.emplace(fd, it->second);
      FConnectionNotifiers.erase(it);
      continue;
    }
    auto* n = new QSocketNotifier(static_cast<qintptr>(fd), QSocketNotifier::Read, &FContext);
    QObject::connect(n, &QSocketNotifier::activated, &FContext, [this] { ServeInstance(); });
    kept.emplace(fd, n);
  }
  // Notifiers of closed connections; the descriptor number may come back.
  for (auto& [fd, n] : FConnectionNotifiers) {
    n->setEnabled(false);
    n->deleteLater();
  }
  FConnectionNotifiers = std::move(kept);
}

void TServerRunner::Drop(QSocketNotifier* n) {
  n->setEnabled(false);
  n->deleteLater();
}

void TServerRunner::WatchChanged(int closingFd) {
  if (closingFd >= 0) {
    auto it = FWorkNotifiers.find(closingFd);
    if (it != FWorkNotifiers.end()) {
      Drop(it->second);
      FWorkNotifiers.erase(it);
    }
  }
  // New descriptors are picked up once the current call chain is done.
  if (FWorkSyncScheduled) return;
  FWorkSyncScheduled = true;
  QMetaObject::invokeMethod(
      &FContext,
      [this] {
        FWorkSyncScheduled = false;
        SyncWorkNotifiers();
      },
      Qt::QueuedConnection);
}

void TServerRunner::SyncWorkNotifiers() {
  std::map<int, QSocketNotifier*> kept;
  for (int fd : FWork->WatchedFds()) {
    if (fd < 0 || kept.count(fd) != 0) continue;
    auto it = FWorkNotifiers.find(fd);
    if (it != FWorkNotifiers.end()) {
      kept.emplace(fd, it->second);
      FWorkNotifiers.erase(it);
      continue;
    }
    auto* n = new QSocketNotifier(static_cast<qintptr>(fd), QSocketNotifier::Read, &FContext);
    QObject::connect(n, &QSocketNotifier::activated, &FContext, [this, fd] {
      FWork->Readable(fd);
      // Serving the hand-over socket may have closed connections.
      SyncWorkNotifiers();
    });
    kept.emplace(fd, n);
  }
  for (auto& [fd, n] : FWorkNotifiers) Drop(n);
  FWorkNotifiers = std::move(kept);
}
