#pragma once

// The property-list service of the system the tests run on, chosen by the build.
#include DORVANE_NATIVE_PROPERTY_LISTS_HEADER

namespace dorvane::testing {
using NativePropertyLists = DORVANE_NATIVE_PROPERTY_LISTS;
}  // namespace dorvane::testing
