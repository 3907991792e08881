#pragma once

#include <string>

namespace dorvane {

// The pmset commands the privilege lets the user run as root without a password, in sudoers'
// syntax: eleven entries separated by a comma and a blank.
inline constexpr const char* kAllowedPmsetCommands =
    "/usr/bin/pmset -a disablesleep 0, /usr/bin/pmset -a disablesleep 1, /usr/bin/pmset repeat "
    "cancel, /usr/bin/pmset repeat wakeorpoweron * *, /usr/bin/pmset repeat wake * *, "
    "/usr/bin/pmset repeat poweron * *, /usr/bin/pmset schedule wake *, /usr/bin/pmset schedule "
    "wakeorpoweron *, /usr/bin/pmset schedule poweron *, /usr/bin/pmset schedule cancel *, "
    "/usr/bin/pmset schedule cancelall";

// The one-line shell command that installs the sudoers drop-in for this user: written through
// tee as root, made read-only, then checked by visudo, each step only after the one before
// succeeded. The "\n" stays two characters, so the command is one line; printf turns it into the
// drop-in's line end.
inline constexpr const char* kPermissionCommandFormat =
    "printf '#%d ALL=(root) NOPASSWD: %@\\n' | sudo tee /etc/sudoers.d/dorvane >/dev/null && "
    "sudo chmod 440 /etc/sudoers.d/dorvane && sudo visudo -cf /etc/sudoers.d/dorvane";

std::string composePermissionCommand(unsigned userId);

}  // namespace dorvane
