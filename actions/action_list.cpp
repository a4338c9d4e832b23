#include "actions/action_list.h"

#include <algorithm>
#include <utility>

#include "core/error.h"
#include "core/file_util.h"
#include "core/text_lines.h"

namespace pictorix {

ActionList& ActionList::operator=(const ActionList& other) {
    if (this != &other) {
        items_ = other.items_;
        notify();
    }
    return *this;
}

const std::string& ActionList::at(std::size_t index) const {
    checkIndex(index, "read");
    return items_[index];
}

void ActionList::checkIndex(std::size_t index, const char* what) const {
    if (index >= items_.size())
        throw Error(std::string("Cannot ") + what + " action " + std::to_string(index) + ": the action list has " +
                    std::to_string(items_.size()) + " entries");
}

void ActionList::notify() const {
    // A listener may add or remove listeners; the ones registered when the change
    // happened are called.
    const auto listeners = listeners_;
    for (const auto& entry : listeners)
        if (entry.second) entry.second();
}

void ActionList::add(std::string action) {
    items_.push_back(std::move(action));
    notify();
}

void ActionList::remove(std::size_t index) {
    checkIndex(index, "delete");
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
    notify();
}

void ActionList::replace(std::size_t index, std::string action) {
    checkIndex(index, "replace");
    items_[index] = std::move(action);
    notify();
}

void ActionList::exchange(std::size_t a, std::size_t b) {
    checkIndex(a, "move");
    checkIndex(b, "move");
    std::swap(items_[a], items_[b]);
    notify();
}

void ActionList::clear() {
    if (items_.empty()) return;
    items_.clear();
    notify();
}

void ActionList::load(std::vector<std::string> actions) {
    items_ = std::move(actions);
    notify();
}

void ActionList::loadText(const std::string& text) { load(SplitTextLines(text)); }

void ActionList::loadFile(const std::string& path) {
    // Read whole before anything changes: a failed read leaves the list as it was.
    const std::vector<std::uint8_t> bytes = ReadFileBytes(path);
    loadText(std::string(bytes.begin(), bytes.end()));
}

std::string ActionList::text() const { return JoinTextLines(items_); }

void ActionList::saveFile(const std::string& path) const {
    const std::string content = text();
    WriteFileAtomically(path, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(content.data()),
                                                            content.size()));
}

ActionList::ListenerId ActionList::addListener(Listener listener) {
    const ListenerId id = nextListenerId_++;
    listeners_.emplace_back(id, std::move(listener));
    return id;
}

void ActionList::removeListener(ListenerId id) {
    std::erase_if(listeners_, [id](const auto& entry) { return entry.first == id; });
}

std::string WithAcfExtension(const std::string& name) {
    const std::size_t slash = name.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot >= nameStart && name.compare(dot, std::string::npos, ".acf") == 0)
        return name;
    return name + ".acf";
}

}  // namespace pictorix
