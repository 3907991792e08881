#pragma once

namespace dorvane {

// One visitor made of several lambdas, for std::visit over a variant.
template <typename... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};
// Written out because Apple clang does not deduce an aggregate's template arguments.
template <typename... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;

}  // namespace dorvane
