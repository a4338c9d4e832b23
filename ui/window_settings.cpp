// The main window's settings: every option of step 3, the file list's columns, the
// filter and folder of step 1, "Immediate preview", the language, the window's place
// and size and the sizes of the panes, read at start and written on every close request.
#include "ui/window_settings.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QStandardPaths>
#include <algorithm>
#include <thread>

#include "engine/settings.h"
#include "ui/application.h"
#include "ui/file_list.h"
#include "ui/language.h"
#include "ui/main_window.h"
#include "ui/paths.h"
#include "ui/widgets.h"

using pictorix::IniFile;

namespace {

QRect Desktop() {
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

// The desktop folder that step 1 opens without a setting, ending with "/".
QString DesktopFolder() {
    QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (!desktop.isEmpty() && !desktop.endsWith(QLatin1Char('/'))) desktop += QLatin1Char('/');
    return desktop;
}

QString Text(const IniFile& ini, const char* section, const char* key, const QString& current) {
    return FromNativePath(ini.getString(section, key, ToNativePath(current)));
}

}  // namespace

QPoint MainWindowPlacement(const IniFile& settings, QSize size, QPoint current, const QRect& desktop) {
    const QPoint centred(desktop.x() + (desktop.width() - size.width()) / 2,
                         desktop.y() + (desktop.height() - size.height()) / 2);
    if (!settings.hasKey("pos_main", "form_top")) return centred;
    const int top = settings.getInt("pos_main", "form_top", current.y());
    if (top < 10 - size.height()) return centred;
    const int left = settings.getInt("pos_main", "form_left", current.x());
    if (left < 10 - size.width()) return centred;
    return {left, top};
}

int WindowRunJobs(const IniFile& settings) {
    const int jobs = settings.getInt("main", "jobs", 0);
    if (jobs >= 1) return jobs;
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

void TForm1::LoadSettings() {
    const IniFile ini = IniFile::Load(pictorix::SettingsFilePath());

    // Values that match no radio button change nothing.
    const int dest = ini.getInt("dest", "dest", 1);
    if (dest == 1) cb3samefolder_->setChecked(true);
    if (dest == 2) cb3followingfolder_->setChecked(true);
    tx3folder_->setText(Text(ini, "dest", "folder", tx3folder_->text()));

    // An index outside a list selects nothing in it.
    lb3format_->setCurrentIndex(ini.getInt("format", "format", lb3format_->currentIndex()));
    lbpdfcompression_->setCurrentIndex(ini.getInt("format", "pdfcompression", lbpdfcompression_->currentIndex()));
    cbgifcompression_->setCurrentIndex(ini.getInt("format", "gifcompression", cbgifcompression_->currentIndex()));
    // The arrows write the edit, and the edit its track bar.
    jpegupdown_->setPosition(ini.getInt("format", "jpegquality", jpegupdown_->position()));
    cbprogressivejpeg_->setChecked(ini.getBool("format", "progressivejpeg", cbprogressivejpeg_->isChecked()));
    pngupdown_->setPosition(ini.getInt("format", "pngquality", pngupdown_->position()));
    cbinterlacedpng_->setChecked(ini.getBool("format", "interlacedpng", cbinterlacedpng_->isChecked()));
    jp2updown_->setPosition(ini.getInt("format", "jp2quality", jp2updown_->position()));

    cbmodifyfilename_->setChecked(ini.getBool("filename", "modify", cbmodifyfilename_->isChecked()));
    UpDown1_->setPosition(ini.getInt("filename", "counterstart", UpDown1_->position()));
    tx3filename_->setText(Text(ini, "filename", "filename", tx3filename_->text()));

    const int exists = ini.getInt("fileoptions", "iffileexists", 1);
    if (exists == 1) cb3replace_->setChecked(true);
    if (exists == 2) cb3ask_->setChecked(true);
    if (exists == 3) cb3skip_->setChecked(true);
    cbkeepdatetime_->setChecked(ini.getBool("fileoptions", "keepdatetime", cbkeepdatetime_->isChecked()));
    cb3deletefiles_->setChecked(ini.getBool("fileoptions", "deletesourcefiles", cb3deletefiles_->isChecked()));

    cb3backup_->setChecked(ini.getBool("backup", "backup", cb3backup_->isChecked()));
    tx3backup_->setText(Text(ini, "backup", "folder", tx3backup_->text()));

    // A filter that is not in the list keeps the one shown.
    QComboBox* filter = shell_->filtercb();
    const int filterIndex = ini.getInt("main", "filterindex", filter->currentIndex());
    if (filterIndex >= 0 && filterIndex < filter->count()) {
        filter->setCurrentIndex(filterIndex);
        filtercbChange();
    }
    cbimmpreview_->setChecked(ini.getBool("main", "immediatepreview", cbimmpreview_->isChecked()));
    LanguageController& languages = LanguageController::instance();
    languages.setCurrent(ini.getInt("main", "lang", languages.current()));

    for (int column = 0; column < 3; ++column) {
        const std::string key = "column" + std::to_string(column + 1) + "w";
        lb1files_->setColumnWidth(column, ini.getInt("lb1files", key, lb1files_->columnWidth(column)));
    }

    resize(ini.getInt("pos_main", "form_width", width()), ini.getInt("pos_main", "form_height", height()));
    move(MainWindowPlacement(ini, size(), pos(), Desktop()));

    // The panes keep at least one pixel. Before the window is first laid out the panes
    // have no sizes of their own yet: the designed ones stand for them, and the
    // stretching pane beside each takes whatever room is left.
    const int browser = std::max(1, ini.getInt("pos_step1", "selfiles_width", 321));
    Splitter1_->setSizes({browser, 330});
    const int preview1 = std::max(1, ini.getInt("pos_step1", "preview_height", 243));
    Panel3_->setSizes({300, preview1});
    const int preview2 = std::max(1, ini.getInt("pos_step2", "preview_height", 243));
    Panel6_->setSizes({300, preview2});

    if (ini.getBool("pos_main", "form_maximized", false)) setWindowState(windowState() | Qt::WindowMaximized);

    const QString folder = Text(ini, "step1", "selfiles_dir", DesktopFolder());
    if (!folder.isEmpty()) shell_->setFolder(folder);
}

void TForm1::SaveSettings() {
    const std::string path = pictorix::SettingsFilePath();
    IniFile ini = IniFile::Load(path);

    ini.setInt("dest", "dest", cb3samefolder_->isChecked() ? 1 : 2);
    ini.setString("dest", "folder", ToNativePath(tx3folder_->text()));

    ini.setInt("format", "format", lb3format_->currentIndex());
    ini.setInt("format", "pdfcompression", lbpdfcompression_->currentIndex());
    ini.setInt("format", "gifcompression", cbgifcompression_->currentIndex());
    ini.setInt("format", "jpegquality", tbjpegquality_->value());
    ini.setBool("format", "progressivejpeg", cbprogressivejpeg_->isChecked());
    ini.setString("format", "pngquality", sepngcompressionlevel_->text().toStdString());
    ini.setBool("format", "interlacedpng", cbinterlacedpng_->isChecked());
    ini.setInt("format", "jp2quality", tbjp2quality_->value());

    ini.setBool("filename", "modify", cbmodifyfilename_->isChecked());
    ini.setString("filename", "counterstart", tx3counter_->text().toStdString());
    ini.setString("filename", "filename", ToNativePath(tx3filename_->text()));

    ini.setInt("fileoptions", "iffileexists", cb3skip_->isChecked() ? 3 : cb3ask_->isChecked() ? 2 : 1);
    ini.setBool("fileoptions", "keepdatetime", cbkeepdatetime_->isChecked());
    ini.setBool("fileoptions", "deletesourcefiles", cb3deletefiles_->isChecked());

    ini.setBool("backup", "backup", cb3backup_->isChecked());
    ini.setString("backup", "folder", ToNativePath(tx3backup_->text()));

    ini.setInt("main", "filterindex", shell_->filtercb()->currentIndex());
    ini.setBool("main", "immediatepreview", cbimmpreview_->isChecked());
    ini.setInt("main", "lang", LanguageController::instance().current());

    for (int column = 0; column < 3; ++column)
        ini.setInt("lb1files", "column" + std::to_string(column + 1) + "w", lb1files_->columnWidth(column));

    // While maximized these are the maximized bounds.
    ini.setInt("pos_main", "form_top", pos().y());
    ini.setInt("pos_main", "form_left", pos().x());
    ini.setInt("pos_main", "form_width", width());
    ini.setInt("pos_main", "form_height", height());
    ini.setInt("pos_step1", "selfiles_width", Panel2_->width());
    ini.setInt("pos_step1", "preview_height", Panel4_->height());
    ini.setInt("pos_step2", "preview_height", Panel7_->height());
    ini.setBool("pos_main", "form_maximized", isMaximized());

    ini.setString("step1", "selfiles_dir", ToNativePath(shell_->folder()));
    ini.save(path);
}

bool TForm1::FormCloseQuery() {
    if (running_) return false;
    // A settings file that cannot be written is reported, and the window closes anyway.
    Guarded([this] { SaveSettings(); });
    return true;
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}
