#pragma once

#include "platform/power_management.h"

namespace dorvane {

// IOKit's power-source and system-power notifications, scheduled on the main run loop in the
// common modes so that they are delivered while an alert is open too.
class IOKitPowerManagement : public PowerManagement {
public:
    RunLoopSource* createPowerSourceNotification(PowerSourceCallback callback,
                                                 void* context) override;
    std::uint32_t registerForSystemPower(void* refCon, NotificationPort** port,
                                         SystemPowerCallback callback,
                                         std::uint32_t* notifier) override;
    RunLoopSource* notificationPortRunLoopSource(NotificationPort* port) override;
    int allowPowerChange(std::uint32_t rootPort, std::intptr_t notificationID) override;
    int deregisterForSystemPower(std::uint32_t* notifier) override;
    int serviceClose(std::uint32_t connection) override;
    void notificationPortDestroy(NotificationPort* port) override;
    void addRunLoopSource(RunLoopSource* source) override;
    void removeRunLoopSource(RunLoopSource* source) override;
    void releaseRunLoopSource(RunLoopSource* source) override;
};

}  // namespace dorvane
