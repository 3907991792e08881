#pragma once

#include "platform/alert.h"

namespace dorvane {

class DispatchMainQueue;

// NSAlert: buttons in order (answering 1000, 1001, ...), an accessory view of labelled text
// fields at the frames the core gives, the initial first responder, and the fields' texts back.
// The application is not brought forward: a modal panel floats above other windows anyway, and
// the callers that must be in front activate first. The main queue holds its work while the alert
// is open.
class MacAlerts : public Alerts {
public:
    explicit MacAlerts(DispatchMainQueue& mainQueue) : mainQueue_(mainQueue) {}
    AlertResponse runModal(const Alert& alert) override;

private:
    DispatchMainQueue& mainQueue_;
};

}  // namespace dorvane
