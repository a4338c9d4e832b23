#pragma once
// Line splitting of the small text documents (action lists, file lists): a line
// ends at CR, LF or CR LF; a last line without a line end counts; a line end at the
// very end does not add an empty line; empty lines in the middle are kept.
#include <string>
#include <vector>

namespace pictorix {

std::vector<std::string> SplitTextLines(const std::string& text);

// Every line followed by CR LF.
std::string JoinTextLines(const std::vector<std::string>& lines);

}  // namespace pictorix
