#pragma once

#include <deque>
#include <mutex>
#include <vector>

#include "platform/Alert.h"

namespace kestrova::test {

// Records every alert and answers with the scripted codes in order, then with the default.
class ScriptedAlerts : public AlertService {
public:
    int runModal(const Alert& alert) override {
        std::lock_guard lock(mutex_);
        shown_.push_back(alert);
        if (answers_.empty()) return alert.defaultReturnCode();
        const int answer = answers_.front();
        answers_.pop_front();
        return answer;
    }
    void answerNext(int returnCode) {
        std::lock_guard lock(mutex_);
        answers_.push_back(returnCode);
    }
    std::vector<Alert> shown() const {
        std::lock_guard lock(mutex_);
        return shown_;
    }

private:
    mutable std::mutex mutex_;
    std::deque<int> answers_;
    std::vector<Alert> shown_;
};

}  // namespace kestrova::test
