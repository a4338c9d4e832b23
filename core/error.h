#pragma once
// The one error type of the project. Failures travel up as exceptions carrying a
// message that names the cause; callers that know the file add its name.
#include <stdexcept>
#include <string>

namespace pictorix {

class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace pictorix
