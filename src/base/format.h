#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace dorvane {

// One typed argument of a format text: a text or a signed integer.
using FormatArgument = std::variant<std::string, std::int64_t>;

// Substitutes typed arguments into a format text taken from a string table or from outside. It
// understands %@, %d, %ld and their relatives, positional forms such as %1$@, width and the
// flags '0' and '-', and %%. It never reads past the arguments: a placeholder with no argument
// stays as written. An argument of the other type is written in its natural form.
std::string formatString(std::string_view format, std::initializer_list<FormatArgument> arguments);

}  // namespace dorvane
