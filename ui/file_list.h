#pragma once
// The file list of step 1 and the folder browser that feeds it.
#include <QComboBox>
#include <QFileSystemWatcher>
#include <QListWidget>
#include <QString>
#include <QStringList>
#include <QToolButton>
#include <QTreeWidget>
#include <vector>

#include "engine/batch.h"

// One entry of the file-type filter: what the list shows and its masks ("*.jpg;*.jpeg").
struct FileFilter {
    const char* description;
    const char* masks;
};
// The filters of the folder browser and the open dialog, "All supported image files"
// first and "All Files (*.*)" last.
const std::vector<FileFilter>& FileFilters();
// The masks of a filter as this platform's name filters: "*.*" matches names without a
// dot as well, as it does for the users the masks were written for.
QStringList NameFilters(const QString& masks);
// The filters for QFileDialog ("Windows Bitmap (*.bmp *.rle *.dib);;...").
QString DialogFilters();

// lb1files: Name, Type and Folder of each listed file, unsorted or sorted by name.
class FileListView : public QTreeWidget {
    Q_OBJECT
public:
    enum Column { NameColumn = 0, TypeColumn = 1, FolderColumn = 2 };

    explicit FileListView(QWidget* parent = nullptr);

    // Appends the file (at its sorted place in name-sorted mode) and selects it.
    void addfile(const QString& path);
    int count() const { return topLevelItemCount(); }
    pictorix::FileEntry entry(int index) const;
    std::vector<pictorix::FileEntry> entries() const;
    // The file an entry names: its folder, "/" if missing, then its name.
    QString fullPath(int index) const;

    // The selected entry, -1 for none.
    int selectedIndex() const;
    // Selects one entry, or none for -1.
    void selectIndex(int index);
    void removeAt(int index);

    bool nameSorted() const { return nameSorted_; }
    // A click on a column header: "Name" switches to name-sorted mode (sorting at once
    // when the mode changes); "Type" and "Folder" sort once by that column, case-
    // insensitively, and return to unsorted mode.
    void columnClick(int column);

private:
    void sortBy(int column, bool caseSensitive);
    int sortedInsertPosition(const QString& name) const;

    bool nameSorted_ = false;
};

// The folder browser of step 1: the folder combo shellcb, the "Top" button, the
// folder's contents shelllv (folders first, then the files that match the filter)
// and the filter combo filtercb.
class ShellBrowser : public QObject {
    Q_OBJECT
public:
    explicit ShellBrowser(QWidget* parent);

    QComboBox* shellcb() const { return shellcb_; }
    QToolButton* topButton() const { return SpeedButton7_; }
    QListWidget* shelllv() const { return shelllv_; }
    QComboBox* filtercb() const { return filtercb_; }

    const QString& folder() const { return folder_; }
    // Shows a folder; a folder that does not exist changes nothing.
    void setFolder(const QString& folder);
    // Up to the parent folder; at the root nothing happens.
    void goUp();
    // The masks shelllv shows ("*.bmp;*.jpg").
    void setMasks(const QString& masks);
    const QString& masks() const { return masks_; }
    // The masks of the filter chosen in filtercb.
    QString selectedFilterMasks() const;

    // Full paths of the items selected in shelllv, files and folders, in view order.
    QStringList selectedPaths() const;
    // The files "Add all" adds: for each mask of the chosen filter in turn, the
    // matching files of the folder, without hidden files, folders and special files.
    QStringList filesToAddAll() const;
    // Lists the folder again.
    void refresh();

signals:
    // A file (not a folder) was clicked in shelllv.
    void fileClicked(const QString& path);

private:
    void fillFolderCombo();
    void itemActivated(QListWidgetItem* item);

    QComboBox* shellcb_;
    QToolButton* SpeedButton7_;
    QListWidget* shelllv_;
    QComboBox* filtercb_;
    QFileSystemWatcher watcher_;
    QString folder_;
    QString masks_;
};
