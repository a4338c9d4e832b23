#pragma once
// Output file names: the placeholder template and the paths built from it.
#include <string>

namespace pictorix {

// How "<%ext>" is written: the main output uses the file list's Type column in
// lower case with its dot (".jpeg"); thumbnails and the sample use the source's
// extension without the dot, in its own letter case ("jpeg", "JPEG").
enum class ExtensionForm { LowerWithDot, AsIsWithoutDot };

// Replaces the placeholders in their fixed order, every occurrence, regardless of
// letter case: the eight dates (all month first), the two times, "#" (number =
// counterStart + fileIndex), "<%filename>" and "<%ext>". Nothing else changes.
std::string ExpandNameTemplate(const std::string& text, const std::string& sourcePath, int fileIndex,
                               int counterStart, ExtensionForm extForm);

// The sample line's name for the template: the expansion for MyPicture.jpg with
// ".jpg" appended.
std::string SampleName(const std::string& text, int counterStart);

// The file name without folder and without its last extension.
std::string BaseName(const std::string& path);

}  // namespace pictorix
