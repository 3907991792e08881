#pragma once

namespace dorvane {

// One visitor made of several lambdas, for std::visit over a variant.
template <typename... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};

}  // namespace dorvane
