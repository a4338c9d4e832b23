#include "ui/file_list.h"

#include <QCollator>
#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHeaderView>
#include <QStandardPaths>
#include <QStyle>
#include <algorithm>

#include "core/text_lines.h"
#include "engine/file_list_document.h"
#include "ui/paths.h"
#include "ui/widgets.h"

using pictorix::FileEntry;

const std::vector<FileFilter>& FileFilters() {
    static const std::vector<FileFilter> filters = {
        {"All supported image files",
         "*.bmp;*.rle;*.dib;*.jpg;*.jpeg;*.gif;*.png;*.psd;*.pdd;*.tif;*.tiff;*.fax;*.tga;*.vst;*.icb;*.vda;*.win;"
         "*.pcx;*.pcc;*.wmf;*.emf;*.ico;*.psp;*.bw;*.rgb;*.rgba;*.sgi;*.rla;*.rpf;*.ppm;*.pgm;*.pbm;*.cel;*.pic;"
         "*.pcd;*.scr;*.cut;*.pal;*.jp2;*.j2k;*.jpc;*.j2c;*.wbmp"},
        {"Windows Bitmap (*.bmp, *.rle, *.dib)", "*.bmp;*.rle;*.dib"},
        {"JPEG Images (*.jpg, *.jpeg)", "*.jpg;*.jpeg"},
        {"CompuServe GIF (*.gif)", "*.gif"},
        {"Portable Network Grapchics (*.png)", "*.png"},
        {"Photoshop images (*.psd, *.pdd)", "*.psd;*.pdd"},
        {"TIFF Image (*.tif, *.tiff, *.fax)", "*.tif;*.tiff;*.fax"},
        {"JPEG 2000 (*.jp2, *.j2k, *.jpc, *.j2c)", "*.jp2;*.j2k;*.jpc;*.j2c"},
        {"Truevision images (*.tga, *.vst, *.icb, *.vda, *.win)", "*.tga;*.vst;*.icb;*.vda;*.win"},
        {"ZSoft Paintbrush images (*.pcx, *.pcc)", "*.pcx;*.pcc"},
        {"MetaFiles (*.wmf, *.emf)", "*.wmf;*.emf"},
        {"Icons (*.ico)", "*.ico"},
        {"Paintshop Pro images (*.psp)", "*.psp"},
        {"SGI images (*.bw, *.rgb, *.rgba, *.sgi)", "*.bw;*.rgb;*.rgba;*.sgi"},
        {"SGI Wavefront images (*.rla, *.rpf)", "*.rla;*.rpf"},
        {"Portable pixel/gray map images (*.ppm, *.pgm, *.pbm)", "*.ppm;*.pgm;*.pbm"},
        {"Autodesk images files (*.cel, *.pic)", "*.cel;*.pic"},
        {"Kodak Photo-CD images (*.pcd)", "*.pcd"},
        {"Word 5.x screen capture files (*.scr)", "*.scr"},
        {"Dr. Halo images (*.cut, *.pal)", "*.cut;*.pal"},
        {"Wirelles Bitmap (*.wbmp)", "*.wbmp"},
        {"All Files (*.*)", "*.*"},
    };
    return filters;
}

QStringList NameFilters(const QString& masks) {
    QStringList filters;
    // Split at every ";", keeping empty fields as the masks are written.
    for (const QString& mask : masks.split(QLatin1Char(';'))) filters << (mask == QLatin1String("*.*") ? "*" : mask);
    return filters;
}

QString DialogFilters() {
    QStringList parts;
    for (const FileFilter& filter : FileFilters()) {
        QString description = QString::fromLatin1(filter.description);
        const qsizetype paren = description.indexOf(QLatin1String(" ("));
        if (paren >= 0) description.truncate(paren);
        parts << description + " (" + NameFilters(QString::fromLatin1(filter.masks)).join(QLatin1Char(' ')) + ")";
    }
    return parts.join(QStringLiteral(";;"));
}

// --- FileListView ---------------------------------------------------------------

FileListView::FileListView(QWidget* parent) : QTreeWidget(parent) {
    setObjectName(QStringLiteral("lb1files"));
    setColumnCount(3);
    setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Type"), QStringLiteral("Folder")});
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setAllColumnsShowFocus(true);
    header()->setSectionsClickable(true);
    header()->setStretchLastSection(true);
    setColumnWidth(NameColumn, 150);
    setColumnWidth(TypeColumn, 40);
    setColumnWidth(FolderColumn, 50);
    connect(header(), &QHeaderView::sectionClicked, this, &FileListView::columnClick);
}

void FileListView::addfile(const QString& path) {
    FileEntry entry = pictorix::FileListEntry(ToNativePath(path));
    auto* item = new QTreeWidgetItem;
    item->setText(NameColumn, FromNativePath(entry.name));
    item->setText(TypeColumn, FromNativePath(entry.type));
    item->setText(FolderColumn, FromNativePath(entry.folder));
    item->setToolTip(NameColumn, FromNativePath(pictorix::FileListLine(entry)));
    const int position = nameSorted_ ? sortedInsertPosition(item->text(NameColumn)) : count();
    insertTopLevelItem(position, item);
    selectIndex(position);
}

FileEntry FileListView::entry(int index) const {
    const QTreeWidgetItem* item = topLevelItem(index);
    FileEntry entry;
    if (!item) return entry;
    entry.name = ToNativePath(item->text(NameColumn));
    entry.type = ToNativePath(item->text(TypeColumn));
    entry.folder = ToNativePath(item->text(FolderColumn));
    return entry;
}

std::vector<FileEntry> FileListView::entries() const {
    std::vector<FileEntry> result;
    result.reserve(count());
    for (int i = 0; i < count(); ++i) result.push_back(entry(i));
    return result;
}

QString FileListView::fullPath(int index) const { return FromNativePath(entry(index).sourcePath()); }

int FileListView::selectedIndex() const {
    const QList<QTreeWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? -1 : indexOfTopLevelItem(selected.first());
}

void FileListView::selectIndex(int index) {
    QTreeWidgetItem* item = index >= 0 ? topLevelItem(index) : nullptr;
    if (!item) {
        clearSelection();
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
        return;
    }
    setCurrentItem(item);
    scrollToItem(item);
}

void FileListView::removeAt(int index) {
    // Removing the current item would move the selection to a neighbour on its own;
    // the caller decides what is selected afterwards.
    QSignalBlocker blocker(this);
    selectIndex(-1);
    delete takeTopLevelItem(index);
}

void FileListView::columnClick(int column) {
    if (column == NameColumn) {
        if (!nameSorted_) {
            nameSorted_ = true;
            sortBy(NameColumn, true);
        }
        return;
    }
    nameSorted_ = false;
    sortBy(column, false);
}

void FileListView::sortBy(int column, bool caseSensitive) {
    QCollator collator;
    collator.setCaseSensitivity(caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive);
    QTreeWidgetItem* selected = selectedIndex() >= 0 ? topLevelItem(selectedIndex()) : nullptr;
    QSignalBlocker blocker(this);
    QList<QTreeWidgetItem*> items = invisibleRootItem()->takeChildren();
    std::stable_sort(items.begin(), items.end(), [&](const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
        return collator.compare(a->text(column), b->text(column)) < 0;
    });
    addTopLevelItems(items);
    if (selected) selectIndex(indexOfTopLevelItem(selected));
}

int FileListView::sortedInsertPosition(const QString& name) const {
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseSensitive);
    int low = 0;
    int high = count();
    while (low < high) {  // after the last equal name
        const int middle = (low + high) / 2;
        if (collator.compare(topLevelItem(middle)->text(NameColumn), name) <= 0)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

// --- ShellBrowser ---------------------------------------------------------------

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kIsFolderRole = Qt::UserRole + 1;

}  // namespace

ShellBrowser::ShellBrowser(QWidget* parent) : QObject(parent) {
    shellcb_ = new QComboBox(parent);
    shellcb_->setObjectName(QStringLiteral("shellcb"));
    shellcb_->setMaxVisibleItems(20);

    SpeedButton7_ = MakeToolButton(parent, QStringLiteral("SpeedButton7"),
                                   parent->style()->standardIcon(QStyle::SP_FileDialogToParent), QStringLiteral("Top"));
    // As tall as the folder combo beside it; the layout rules set the height.
    SpeedButton7_->setMinimumHeight(0);
    SpeedButton7_->setMaximumHeight(QWIDGETSIZE_MAX);

    shelllv_ = new QListWidget(parent);
    shelllv_->setObjectName(QStringLiteral("shelllv"));
    shelllv_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    shelllv_->setUniformItemSizes(true);

    filtercb_ = new QComboBox(parent);
    filtercb_->setObjectName(QStringLiteral("filtercb"));
    for (const FileFilter& filter : FileFilters())
        filtercb_->addItem(QString::fromLatin1(filter.description), QString::fromLatin1(filter.masks));
    filtercb_->setCurrentIndex(0);

    // The layout rules keep the combos' heights; start them at their natural ones.
    for (QComboBox* combo : {shellcb_, filtercb_}) {
        combo->ensurePolished();
        combo->resize(combo->width(), combo->sizeHint().height());
    }

    masks_ = QStringLiteral("*.bmp;*.jpg;*.jpeg;*.png;*.gif;*.tiff;*.tif;*.pcx");

    connect(shellcb_, &QComboBox::activated, this, [this](int index) {
        setFolder(shellcb_->itemData(index).toString());
    });
    connect(SpeedButton7_, &QToolButton::clicked, this, &ShellBrowser::goUp);
    connect(shelllv_, &QListWidget::itemActivated, this, &ShellBrowser::itemActivated);
    connect(shelllv_, &QListWidget::itemClicked, this, [this] {
        // The first selected item decides, as in a multiple selection.
        const QList<QListWidgetItem*> selected = shelllv_->selectedItems();
        if (selected.isEmpty()) return;
        QListWidgetItem* first = selected.first();
        for (QListWidgetItem* item : selected)
            if (shelllv_->row(item) < shelllv_->row(first)) first = item;
        if (!first->data(kIsFolderRole).toBool()) emit fileClicked(first->data(kPathRole).toString());
    });
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { refresh(); });

    QString start = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (start.isEmpty() || !QFileInfo(start).isDir()) start = QDir::homePath();
    setFolder(start);
}

void ShellBrowser::setFolder(const QString& folder) {
    QFileInfo info(folder);
    if (folder.isEmpty() || !info.isDir()) return;
    const QString clean = QDir::cleanPath(info.absoluteFilePath());
    if (!folder_.isEmpty()) watcher_.removePath(folder_);
    folder_ = clean;
    watcher_.addPath(folder_);
    fillFolderCombo();
    refresh();
}

void ShellBrowser::goUp() {
    QDir dir(folder_);
    if (dir.isRoot()) return;
    setFolder(QFileInfo(folder_).absolutePath());
}

void ShellBrowser::setMasks(const QString& masks) {
    masks_ = masks;
    refresh();
}

QString ShellBrowser::selectedFilterMasks() const { return filtercb_->currentData().toString(); }

void ShellBrowser::fillFolderCombo() {
    QFileIconProvider icons;
    QSignalBlocker blocker(shellcb_);
    shellcb_->clear();
    // The chain from the root down to the folder, each indented under its parent.
    QStringList chain;
    for (QString path = folder_;;) {
        chain.prepend(path);
        QDir dir(path);
        if (dir.isRoot()) break;
        path = QFileInfo(path).absolutePath();
    }
    for (int i = 0; i < chain.size(); ++i) {
        QString name = QFileInfo(chain[i]).fileName();
        if (name.isEmpty()) name = chain[i];
        shellcb_->addItem(icons.icon(QFileIconProvider::Folder), QString(i * 2, QLatin1Char(' ')) + name, chain[i]);
    }
    shellcb_->setCurrentIndex(static_cast<int>(chain.size()) - 1);
    shellcb_->setToolTip(folder_);
    // Places to jump to from anywhere.
    const QString home = QDir::homePath();
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    bool separated = false;
    for (const QString& place : {desktop, home}) {
        if (place.isEmpty() || !QFileInfo(place).isDir() || chain.contains(place)) continue;
        if (!separated) shellcb_->insertSeparator(shellcb_->count());
        separated = true;
        shellcb_->addItem(icons.icon(QFileIconProvider::Folder), QFileInfo(place).fileName(), place);
    }
}

void ShellBrowser::refresh() {
    QFileIconProvider icons;
    const QList<QListWidgetItem*> selected = shelllv_->selectedItems();
    QStringList selectedPaths;
    for (QListWidgetItem* item : selected) selectedPaths << item->data(kPathRole).toString();

    shelllv_->clear();
    QDir dir(folder_);
    const QFileInfoList folders = dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    const QFileInfoList files =
        dir.entryInfoList(NameFilters(masks_), QDir::Files, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfoList* list : {&folders, &files}) {
        const bool isFolder = list == &folders;
        for (const QFileInfo& info : *list) {
            auto* item = new QListWidgetItem(icons.icon(info), info.fileName(), shelllv_);
            item->setData(kPathRole, info.absoluteFilePath());
            item->setData(kIsFolderRole, isFolder);
            if (selectedPaths.contains(info.absoluteFilePath())) item->setSelected(true);
        }
    }
}

QStringList ShellBrowser::selectedPaths() const {
    QList<QListWidgetItem*> selected = shelllv_->selectedItems();
    std::sort(selected.begin(), selected.end(),
              [this](QListWidgetItem* a, QListWidgetItem* b) { return shelllv_->row(a) < shelllv_->row(b); });
    QStringList paths;
    for (QListWidgetItem* item : selected) paths << item->data(kPathRole).toString();
    return paths;
}

QStringList ShellBrowser::filesToAddAll() const {
    QStringList paths;
    QDir dir(folder_);
    for (const QString& mask : NameFilters(selectedFilterMasks())) {
        if (mask.isEmpty()) continue;
        for (const QFileInfo& info : dir.entryInfoList({mask}, QDir::Files, QDir::Name | QDir::IgnoreCase))
            paths << info.absoluteFilePath();
    }
    return paths;
}

void ShellBrowser::itemActivated(QListWidgetItem* item) {
    if (item && item->data(kIsFolderRole).toBool()) setFolder(item->data(kPathRole).toString());
}
