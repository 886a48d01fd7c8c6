#pragma once

#include "platform/Alert.h"
#include "platform/SystemLog.h"

namespace kestrova {

// Alerts without a screen: the alert's texts go to the log and the default (first) button is
// taken at once.
class HeadlessAlerts : public AlertService {
public:
    explicit HeadlessAlerts(SystemLog& log) : log_(log) {}
    int runModal(const Alert& alert) override;

private:
    SystemLog& log_;
};

}  // namespace kestrova
