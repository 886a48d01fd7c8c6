#include "support/ScriptedAlerts.h"

namespace kestrova::test {

int ScriptedAlerts::runModal(const Alert& alert) {
    std::lock_guard lock(mutex_);
    shown_.push_back(alert);
    if (answers_.empty()) return alert.defaultReturnCode();
    const int answer = answers_.front();
    answers_.pop_front();
    return answer;
}

void ScriptedAlerts::answerNext(int returnCode) {
    std::lock_guard lock(mutex_);
    answers_.push_back(returnCode);
}

std::vector<Alert> ScriptedAlerts::shown() const {
    std::lock_guard lock(mutex_);
    return shown_;
}

void ScriptedAlerts::clear() {
    std::lock_guard lock(mutex_);
    shown_.clear();
    answers_.clear();
}

}  // namespace kestrova::test
