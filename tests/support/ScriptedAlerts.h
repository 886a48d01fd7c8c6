#pragma once

#include <deque>
#include <mutex>
#include <vector>

#include "platform/Alert.h"

namespace kestrova::test {

// Alerts for tests: records every alert shown and answers with scripted return codes in
// order, or with the alert's default answer when the script is empty.
class ScriptedAlerts : public AlertService {
public:
    int runModal(const Alert& alert) override;
    void answerNext(int returnCode);
    std::vector<Alert> shown() const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::deque<int> answers_;
    std::vector<Alert> shown_;
};

}  // namespace kestrova::test
