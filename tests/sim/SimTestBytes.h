#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace tilu::sim::testing_support {

// Bytes written as in the frame tables: "CA D3 BA".
inline std::vector<std::uint8_t> Hex(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    std::istringstream in(text);
    std::string byte;
    while (in >> byte) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(byte, nullptr, 16)));
    }
    return bytes;
}

} // namespace tilu::sim::testing_support
