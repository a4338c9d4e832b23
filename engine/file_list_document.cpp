#include "engine/file_list_document.h"

#include <cstdint>

#include "core/file_util.h"
#include "core/text_lines.h"
#include "pictureio/picture_io.h"

namespace pictorix {

FileEntry FileListEntry(const std::string& path) {
    if (path.empty()) return FileEntry{};
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    return FileEntry::FromPath(trimmed);
}

std::string FileListLine(const FileEntry& entry) {
    if (entry.name.empty() && entry.folder.empty()) return std::string();
    return entry.sourcePath();
}

std::vector<std::string> ReadFileListDocument(const std::string& path) {
    std::vector<std::uint8_t> bytes = ReadFileBytes(path);
    return SplitTextLines(std::string(bytes.begin(), bytes.end()));
}

std::string FileListDocumentText(const std::vector<FileEntry>& entries) {
    std::vector<std::string> lines;
    lines.reserve(entries.size());
    for (const FileEntry& entry : entries) lines.push_back(FileListLine(entry));
    return JoinTextLines(lines);
}

void WriteFileListDocument(const std::string& path, const std::vector<FileEntry>& entries) {
    std::string text = FileListDocumentText(entries);
    WriteFileAtomically(path, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()),
                                                            text.size()));
}

std::string WithPflExtension(const std::string& name) {
    return FileExtension(name) == ".pfl" ? name : name + ".pfl";
}

}  // namespace pictorix
