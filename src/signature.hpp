// The parameter list of one member, as argument parsing and error messages
// read it. The lists themselves are generated from the surface description.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvath {

namespace surface {
extern const char* const kParamNames[];
}  // namespace surface

struct Signature {
    const char* full_name;          // "Vec3d.dot()"
    const std::uint16_t* params;    // indices into surface::kParamNames
    std::uint16_t nparams;

    // The name of parameter i, as messages name the argument.
    const char* name(std::size_t i) const noexcept { return surface::kParamNames[params[i]]; }
};

}  // namespace orvath
