#include "app/controller.h"

namespace dorvane {

std::string TRBController::localized(const std::string& key) const {
    return platform_.bundle.localizedString(key);
}

std::string TRBController::localizedFormat(const std::string& key,
                                           std::initializer_list<FormatArgument> arguments) const {
    return formatString(localized(key), arguments);
}

}  // namespace dorvane
