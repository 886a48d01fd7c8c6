#include "platform/qt/QtRunLoop.h"

#include <QCoreApplication>
#include <QObject>
#include <QTimer>
#include <algorithm>

namespace kestrova::qt {

QtRunLoop::QtRunLoop() : context_(std::make_unique<QObject>()) {}

QtRunLoop::~QtRunLoop() = default;

RunLoop::TimerId QtRunLoop::addTimer(std::chrono::milliseconds interval, RunLoopMode mode,
                                     Task fire) {
    const TimerId id = nextId_++;
    auto timer = std::make_unique<QTimer>();
    timer->setInterval(std::max(interval, std::chrono::milliseconds(1)));
    QObject::connect(timer.get(), &QTimer::timeout, context_.get(), [this, id] { tick(id); });
    timer->start();
    timers_.emplace(id, Timer{std::move(timer), mode, std::move(fire)});
    return id;
}

void QtRunLoop::removeTimer(TimerId id) {
    const auto it = timers_.find(id);
    if (it == timers_.end()) return;
    it->second.timer->stop();
    retire(std::move(it->second.timer));
    timers_.erase(it);
}

void QtRunLoop::retire(std::unique_ptr<QTimer> timer) {
    // The timer may be the one whose timeout() is being delivered right now.
    const bool first = retired_.empty();
    retired_.push_back(std::move(timer));
    if (first) {
        QMetaObject::invokeMethod(
            context_.get(), [this] { retired_.clear(); }, Qt::QueuedConnection);
    }
}

void QtRunLoop::tick(TimerId id) {
    auto it = timers_.find(id);
    if (it == timers_.end() || it->second.firing) return;
    if (it->second.mode == RunLoopMode::Default && modalDepth_ > 0) {
        it->second.held = true;
        return;
    }
    it->second.held = false;
    it->second.firing = true;
    // A copy: the callback may remove this very timer.
    const Task fire = it->second.fire;
    fire();
    it = timers_.find(id);
    if (it != timers_.end()) it->second.firing = false;
}

void QtRunLoop::post(Task task) {
    QMetaObject::invokeMethod(context_.get(), std::move(task), Qt::QueuedConnection);
}

int QtRunLoop::run() {
    {
        std::lock_guard lock(quitMutex_);
        if (quitRequested_) return exitCode_;
    }
    QCoreApplication::exec();
    std::lock_guard lock(quitMutex_);
    return exitCode_;
}

void QtRunLoop::quit(int exitCode) {
    {
        std::lock_guard lock(quitMutex_);
        quitRequested_ = true;
        exitCode_ = exitCode;
    }
    // Queued, so that a quit asked for before run() still ends the loop once it starts.
    QMetaObject::invokeMethod(
        context_.get(), [exitCode] { QCoreApplication::exit(exitCode); }, Qt::QueuedConnection);
}

void QtRunLoop::beginModal() { ++modalDepth_; }

void QtRunLoop::endModal() {
    if (modalDepth_ == 0 || --modalDepth_ > 0) return;
    for (const auto& [id, timer] : timers_) {
        if (!timer.held) continue;
        // Unless its own next tick comes first (which clears the mark).
        QMetaObject::invokeMethod(
            context_.get(),
            [this, timerId = id] {
                const auto it = timers_.find(timerId);
                if (it != timers_.end() && it->second.held) tick(timerId);
            },
            Qt::QueuedConnection);
    }
}

}  // namespace kestrova::qt
