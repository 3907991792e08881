#pragma once

#include <string>
#include <vector>

namespace dorvane {

// A rectangle in points from the lower-left corner of its container.
struct Frame {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

// A text field of an alert's accessory view: an editable field or a plain label.
struct TextField {
    Frame frame;
    std::string text;
    std::string placeholder;
    bool editable = true;
    bool selectable = true;
    bool bordered = true;
    bool drawsBackground = true;
};

struct AccessoryView {
    double width = 0;
    double height = 0;
    std::vector<TextField> fields;
    int initialFirstResponder = -1;  // index into fields, or -1 for none
};

// A modal alert described as data: message, informative text, buttons in order and an optional
// accessory view of text fields.
struct Alert {
    std::string messageText;
    std::string informativeText;
    std::vector<std::string> buttons;
    AccessoryView accessory;
};

// The platform's response codes: the first button answers 1000, the next 1001, and so on.
inline constexpr int kAlertFirstButtonReturn = 1000;
inline constexpr int kAlertSecondButtonReturn = 1001;
inline constexpr int kAlertThirdButtonReturn = 1002;

struct AlertResponse {
    int code = kAlertFirstButtonReturn;
    std::vector<std::string> fieldTexts;  // the texts of the accessory fields, in their order
};

class Alerts {
public:
    virtual ~Alerts() = default;
    // Runs the alert modally: returns only when the user has answered it.
    virtual AlertResponse runModal(const Alert& alert) = 0;
};

}  // namespace dorvane
