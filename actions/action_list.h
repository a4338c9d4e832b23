#pragma once
// The ActionList: the ordered action strings of step 2, applied to every
// picture of a run in list order, and the action list files ("*.acf") that keep it.
//
// Every change raises exactly one change notification to each listener: add, remove,
// replace, exchange, clear of a non-empty list (clearing an empty list is no change
// and raises none), and a load, which replaces the whole list and raises one
// notification at its end whatever it read. An operation that fails (an index out of
// range, a file that cannot be read) changes nothing and raises none.
//
// File format: plain text (UTF-8 here), one action string per line in list order,
// every line, the last one included, ending with CR LF; an empty list is an empty
// file. On reading a line ends at CR, LF or CR LF; a last line without a line end
// counts; a line end at the very end adds no empty entry; empty lines in the middle
// are kept. Lines are taken as they stand: nothing is trimmed or checked, lines of an
// unknown kind included (the run passes over them).
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace pictorix {

class ActionList {
public:
    using Listener = std::function<void()>;
    using ListenerId = std::size_t;

    ActionList() = default;
    // A copy holds the same strings but none of the listeners. Assigning takes the
    // other list's strings and keeps this list's listeners; it counts as a load.
    ActionList(const ActionList& other) : items_(other.items_) {}
    ActionList& operator=(const ActionList& other);

    std::size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    // Throws Error for an index out of range.
    const std::string& at(std::size_t index) const;
    const std::vector<std::string>& items() const { return items_; }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

    // Appends one action string.
    void add(std::string action);
    // Removes the entry at index.
    void remove(std::size_t index);
    // Replaces the entry at index (a panel rewriting its action).
    void replace(std::size_t index, std::string action);
    // Exchanges the entries at a and b (moving an action up or down).
    void exchange(std::size_t a, std::size_t b);
    // Removes every entry; raises a notification only when the list was not empty.
    void clear();
    // Replaces the whole list by these strings.
    void load(std::vector<std::string> actions);
    // Replaces the whole list by the lines of an action list file's text.
    void loadText(const std::string& text);
    // Reads the file whole and replaces the list by its lines. Throws Error when it
    // cannot be read; the list is unchanged then.
    void loadFile(const std::string& path);

    // The file text: every entry followed by CR LF.
    std::string text() const;
    // Writes the file text, replacing an existing file (through a temporary file, so a
    // failure leaves no partial file). Throws Error when it cannot be written.
    void saveFile(const std::string& path) const;

    // Registers a listener of the change notification; the id removes it again.
    ListenerId addListener(Listener listener);
    void removeListener(ListenerId id);

private:
    void checkIndex(std::size_t index, const char* what) const;
    void notify() const;

    std::vector<std::string> items_;
    std::vector<std::pair<ListenerId, Listener>> listeners_;
    ListenerId nextListenerId_ = 1;
};

// The name a save under the first filter ("Actions list (*.acf)") writes: ".acf" is
// appended unless the name's extension, with its dot, is exactly ".acf"
// (case-sensitive): list gives list.acf, list.ACF gives list.ACF.acf.
std::string WithAcfExtension(const std::string& name);

}  // namespace pictorix
