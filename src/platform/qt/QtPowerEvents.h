#pragma once

#include <QObject>
#include <functional>

#include "platform/PowerEvents.h"

namespace kestrova::qt {

// Wake-ups from suspend as logind announces them on the system bus (PrepareForSleep(false)).
// Without a system bus or logind nothing is told. Main thread only.
class QtPowerEvents : public QObject, public PowerEvents {
    Q_OBJECT

public:
    QtPowerEvents();
    void whenResumed(std::function<void()> resumed) override { resumed_ = std::move(resumed); }

private slots:
    void prepareForSleep(bool sleeping);

private:
    std::function<void()> resumed_;
};

}  // namespace kestrova::qt
