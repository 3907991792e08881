#pragma once

#include <cstdint>

namespace dorvane {

// Opaque handles whose shape each backend defines, as IOKit's run-loop sources and notification
// ports are opaque to their users.
struct RunLoopSource;
struct NotificationPort;

// System-power message types, with the values the power manager sends.
inline constexpr std::uint32_t kIOMessageCanSystemSleep = 0xE0000270;
inline constexpr std::uint32_t kIOMessageSystemWillSleep = 0xE0000280;
inline constexpr std::uint32_t kIOMessageSystemHasPoweredOn = 0xE0000300;

using PowerSourceCallback = void (*)(void* context);
using SystemPowerCallback = void (*)(void* refCon, std::uint32_t service, std::uint32_t messageType,
                                     void* messageArgument);

// The power manager's notification interface. The callbacks arrive on the main thread, once the
// sources have been added to the main run loop.
class PowerManagement {
public:
    virtual ~PowerManagement() = default;

    // Power-source changes: a source calling back whenever the power-source information changes,
    // or null when none can be created.
    virtual RunLoopSource* createPowerSourceNotification(PowerSourceCallback callback,
                                                         void* context) = 0;

    // System sleep and wake: returns the root connection, or 0 when registering failed.
    virtual std::uint32_t registerForSystemPower(void* refCon, NotificationPort** port,
                                                 SystemPowerCallback callback,
                                                 std::uint32_t* notifier) = 0;
    virtual RunLoopSource* notificationPortRunLoopSource(NotificationPort* port) = 0;
    // Acknowledges a can-sleep or will-sleep message.
    virtual int allowPowerChange(std::uint32_t rootPort, std::intptr_t notificationID) = 0;
    virtual int deregisterForSystemPower(std::uint32_t* notifier) = 0;
    virtual int serviceClose(std::uint32_t connection) = 0;
    virtual void notificationPortDestroy(NotificationPort* port) = 0;

    // The main run loop, in the common modes.
    virtual void addRunLoopSource(RunLoopSource* source) = 0;
    virtual void removeRunLoopSource(RunLoopSource* source) = 0;
    // Releases a source made by createPowerSourceNotification.
    virtual void releaseRunLoopSource(RunLoopSource* source) = 0;
};

}  // namespace dorvane
