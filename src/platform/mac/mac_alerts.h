#pragma once

#include "platform/alert.h"

namespace dorvane {

class Application;
class DispatchMainQueue;

// NSAlert: buttons in order (answering 1000, 1001, ...), an accessory view of labelled text
// fields at the frames the core gives, the initial first responder, and the fields' texts back.
// The application is brought forward first; the main queue holds its work while the alert is
// open.
class MacAlerts : public Alerts {
public:
    MacAlerts(Application& application, DispatchMainQueue& mainQueue)
        : application_(application), mainQueue_(mainQueue) {}
    AlertResponse runModal(const Alert& alert) override;

private:
    Application& application_;
    DispatchMainQueue& mainQueue_;
};

}  // namespace dorvane
