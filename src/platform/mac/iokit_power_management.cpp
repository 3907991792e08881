#include "platform/mac/iokit_power_management.h"

// The seam's message values, taken before IOKit's headers define the same names as macros.
namespace {
constexpr std::uint32_t kSeamCanSystemSleep = dorvane::kIOMessageCanSystemSleep;
constexpr std::uint32_t kSeamSystemWillSleep = dorvane::kIOMessageSystemWillSleep;
constexpr std::uint32_t kSeamSystemHasPoweredOn = dorvane::kIOMessageSystemHasPoweredOn;
}  // namespace

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOMessage.h>
#include <IOKit/ps/IOPowerSources.h>
#include <IOKit/pwr_mgt/IOPMLib.h>

static_assert(kSeamCanSystemSleep == static_cast<std::uint32_t>(kIOMessageCanSystemSleep));
static_assert(kSeamSystemWillSleep == static_cast<std::uint32_t>(kIOMessageSystemWillSleep));
static_assert(kSeamSystemHasPoweredOn == static_cast<std::uint32_t>(kIOMessageSystemHasPoweredOn));

namespace dorvane {

// The seam's handles are IOKit's own objects under opaque names.
namespace {

CFRunLoopSourceRef asSource(RunLoopSource* source) {
    return reinterpret_cast<CFRunLoopSourceRef>(source);
}

RunLoopSource* fromSource(CFRunLoopSourceRef source) {
    return reinterpret_cast<RunLoopSource*>(source);
}

IONotificationPortRef asPort(NotificationPort* port) {
    return reinterpret_cast<IONotificationPortRef>(port);
}

}  // namespace

RunLoopSource* IOKitPowerManagement::createPowerSourceNotification(PowerSourceCallback callback,
                                                                   void* context) {
    return fromSource(IOPSNotificationCreateRunLoopSource(callback, context));
}

std::uint32_t IOKitPowerManagement::registerForSystemPower(void* refCon, NotificationPort** port,
                                                           SystemPowerCallback callback,
                                                           std::uint32_t* notifier) {
    IONotificationPortRef notificationPort = nullptr;
    io_object_t notifierObject = 0;
    const io_connect_t root =
        IORegisterForSystemPower(refCon, &notificationPort, callback, &notifierObject);
    *port = reinterpret_cast<NotificationPort*>(notificationPort);
    *notifier = notifierObject;
    return root;
}

RunLoopSource* IOKitPowerManagement::notificationPortRunLoopSource(NotificationPort* port) {
    return fromSource(IONotificationPortGetRunLoopSource(asPort(port)));
}

int IOKitPowerManagement::allowPowerChange(std::uint32_t rootPort, std::intptr_t notificationID) {
    return IOAllowPowerChange(rootPort, notificationID);
}

int IOKitPowerManagement::deregisterForSystemPower(std::uint32_t* notifier) {
    io_object_t notifierObject = *notifier;
    const IOReturn result = IODeregisterForSystemPower(&notifierObject);
    *notifier = notifierObject;
    return result;
}

int IOKitPowerManagement::serviceClose(std::uint32_t connection) {
    return IOServiceClose(connection);
}

void IOKitPowerManagement::notificationPortDestroy(NotificationPort* port) {
    // This also destroys the port's run-loop source, which is never released on its own.
    IONotificationPortDestroy(asPort(port));
}

void IOKitPowerManagement::addRunLoopSource(RunLoopSource* source) {
    CFRunLoopAddSource(CFRunLoopGetMain(), asSource(source), kCFRunLoopCommonModes);
}

void IOKitPowerManagement::removeRunLoopSource(RunLoopSource* source) {
    CFRunLoopRemoveSource(CFRunLoopGetMain(), asSource(source), kCFRunLoopCommonModes);
}

void IOKitPowerManagement::releaseRunLoopSource(RunLoopSource* source) {
    CFRelease(asSource(source));
}

}  // namespace dorvane
