#pragma once

#include "platform/alert.h"
#include "platform/application.h"
#include "platform/bundle.h"
#include "platform/clock.h"
#include "platform/command_runner.h"
#include "platform/main_queue.h"
#include "platform/pasteboard.h"
#include "platform/power_management.h"
#include "platform/process_info.h"
#include "platform/property_list.h"
#include "platform/status_item.h"
#include "platform/tool_paths.h"
#include "platform/url_session.h"
#include "platform/user_defaults.h"
#include "platform/workspace.h"

namespace dorvane {

// The update manifest on the product's own site.
inline constexpr const char* TRBVersionCheckURL = "https://dorvane.app/api/dorvane-version.json";

// Everything the controller needs from the platform it runs on, handed to it at construction.
// The references must outlive the controller.
struct Platform {
    Application& application;
    StatusBar& statusBar;
    Alerts& alerts;
    Pasteboard& pasteboard;
    Workspace& workspace;
    UserDefaults& defaults;
    MainQueue& mainQueue;
    PowerManagement& powerManagement;
    UrlSession& urlSession;
    Bundle& bundle;
    Locale& locale;
    Clock& clock;
    ProcessInfo& processInfo;
    CommandRunner& commands;
    PropertyLists& propertyLists;
    ToolPaths toolPaths;
    // The update manifest's address; tests hand in one of their own.
    std::string versionCheckURL = TRBVersionCheckURL;
    // The record that the application set the sleep switch, read by its guardian and the login
    // check; empty where neither runs.
    std::string switchRecordPath = {};
};

}  // namespace dorvane
