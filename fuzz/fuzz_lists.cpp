// The two small text documents: action list files (.acf) and file-list documents
// (.pfl), read from a file as the program reads them. The first byte picks the kind.
// Each must read without fault, and what it read must survive being written and
// read again unchanged.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "actions/action_list.h"
#include "engine/file_list_document.h"

using namespace pictorix;

namespace {

// The input as a file that has a path, without touching the disk.
std::string AsFile(const std::uint8_t* data, std::size_t size) {
    static int fd = ::memfd_create("pictorix-fuzz", 0);
    if (fd < 0) std::abort();
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();
    return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::string path = AsFile(data + 1, size - 1);
    if (data[0] & 1) {
        ActionList list;
        list.loadFile(path);
        ActionList again;
        again.loadText(list.text());
        if (again.items() != list.items()) std::abort();
    } else {
        std::vector<FileEntry> entries;
        for (const std::string& line : ReadFileListDocument(path)) entries.push_back(FileListEntry(line));
        const std::string text = FileListDocumentText(entries);
        const std::string again = AsFile(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        std::vector<FileEntry> reread;
        for (const std::string& line : ReadFileListDocument(again)) reread.push_back(FileListEntry(line));
        if (reread.size() != entries.size()) std::abort();
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (FileListLine(reread[i]) != FileListLine(entries[i])) std::abort();
    }
    return 0;
}
