#pragma once
// File-list documents ("*.pfl"): the file list of step 1 kept as text, one full
// path per line in list order, every line ending with CR LF. On reading a line ends
// at CR, LF or CR LF, and every line, empty ones included, is one entry.
#include <string>
#include <vector>

#include "engine/batch.h"

namespace pictorix {

// The entry of one listed path: name, upper-case type and folder ending with "/".
// A relative path is made absolute; a folder path names the folder itself (its
// trailing "/" is ignored). An empty path gives an entry with empty name, type and
// folder, which is how an empty line of a document is listed.
FileEntry FileListEntry(const std::string& path);

// The line written for an entry: its folder, "/" if missing, then its name. The
// empty entry gives an empty line, so that it reads back as itself instead of as
// the root folder.
std::string FileListLine(const FileEntry& entry);

// The lines of a document. Throws Error when it cannot be read.
std::vector<std::string> ReadFileListDocument(const std::string& path);

std::string FileListDocumentText(const std::vector<FileEntry>& entries);

// Writes the document, replacing an existing file whole (never leaving half of it).
// Throws Error when it cannot be written.
void WriteFileListDocument(const std::string& path, const std::vector<FileEntry>& entries);

// The name a save under the first filter ("Files list (*.pfl)") writes: ".pfl" is
// appended unless the name's extension, with its dot, is exactly ".pfl"
// (case-sensitive): files gives files.pfl, list.PFL gives list.PFL.pfl.
std::string WithPflExtension(const std::string& name);

}  // namespace pictorix
