#pragma once
// Names of the cases of a parameterised suite, made from the case's own words: the same name
// from run to run and readable in ctest's list ("identity to address 1" becomes
// IdentityToAddress1). GoogleTest accepts only letters, digits and underscores.

#include <cctype>
#include <string>
#include <string_view>

namespace zq455::test {

inline std::string CamelName(std::string_view words) {
    std::string name;
    bool upper = true;
    for (const char c : words) {
        const auto u = static_cast<unsigned char>(c);
        if (!std::isalnum(u)) {
            upper = true;
            continue;
        }
        name += upper ? static_cast<char>(std::toupper(u)) : c;
        upper = false;
    }
    return name;
}

} // namespace zq455::test
