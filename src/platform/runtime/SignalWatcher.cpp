#include "platform/runtime/SignalWatcher.h"

#include <pthread.h>
#include <signal.h>

namespace kestrova {
namespace {

sigset_t watchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR2);  // the watcher's own wake-up at shutdown
    return set;
}

}  // namespace

void SignalWatcher::blockSignals() {
    const sigset_t set = watchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SignalWatcher::SignalWatcher(std::function<void()> onSignal)
    : thread_([onSignal = std::move(onSignal)] {
          const sigset_t set = watchedSignals();
          for (;;) {
              int signal = 0;
              if (sigwait(&set, &signal) != 0) continue;
              if (signal == SIGUSR2) return;
              onSignal();
          }
      }) {}

SignalWatcher::~SignalWatcher() {
    pthread_kill(thread_.native_handle(), SIGUSR2);
    thread_.join();
}

}  // namespace kestrova
