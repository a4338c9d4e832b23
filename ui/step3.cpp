// Step 3 of the main window: the file name with its sample and placeholders, the
// format options with their key filters, the options of a run, and the run itself.
#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMenuBar>
#include <thread>

#include "core/error.h"
#include "engine/ini_file.h"
#include "engine/naming.h"
#include "engine/settings.h"
#include "ui/application.h"
#include "ui/file_list.h"
#include "ui/frmconv.h"
#include "ui/language.h"
#include "ui/main_window.h"
#include "ui/paths.h"
#include "ui/placeholder_menu.h"
#include "ui/previews.h"
#include "ui/widgets.h"
#include "ui/window_settings.h"

namespace {

// Hands the key presses of one control to a handler; a handler that returns true has
// dealt with the key.
class KeyPressFilter : public QObject {
public:
    KeyPressFilter(QObject* parent, std::function<bool(QKeyEvent*)> handler)
        : QObject(parent), handler_(std::move(handler)) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
        bool handled = false;
        Guarded([&] { handled = handler_(static_cast<QKeyEvent*>(event)); });
        return handled;
    }

private:
    std::function<bool(QKeyEvent*)> handler_;
};

// What a key press would type into an edit. Keys that type nothing (arrows, Delete,
// shortcuts such as Ctrl+V) are no business of the filters.
enum class TypedKey { Nothing, Backspace, Digit, Other };

TypedKey Typed(const QKeyEvent* key) {
    if (key->key() == Qt::Key_Backspace) return TypedKey::Backspace;
    if (key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) return TypedKey::Nothing;
    const QString text = key->text();
    if (text.isEmpty() || !text.at(0).isPrint()) return TypedKey::Nothing;
    return text.size() == 1 && text.at(0) >= QLatin1Char('0') && text.at(0) <= QLatin1Char('9') ? TypedKey::Digit
                                                                                                 : TypedKey::Other;
}

// Whether a text holds a whole number above the limit; a run of digits too long for any
// integer is above it too.
bool NumberAbove(const QString& text, int limit) {
    bool ok = false;
    const qlonglong value = text.trimmed().toLongLong(&ok);
    if (ok) return value > limit;
    const QString digits = text.trimmed();
    return !digits.isEmpty() && std::all_of(digits.begin(), digits.end(), [](QChar c) { return c.isDigit(); });
}

bool NumberBelow(const QString& text, int limit) {
    bool ok = false;
    const qlonglong value = text.trimmed().toLongLong(&ok);
    return ok && value < limit;
}

// The text as an integer, or the failure the conversion of a malformed number gives.
int IntegerOf(const QString& text) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok) throw pictorix::Error("'" + text.toStdString() + "' is not a valid integer value");
    return value;
}

// Replaces an edit's text the way the key filters do: the caret goes to the start, so
// the key that follows inserts nothing into a full edit and a backspace deletes nothing.
void ReplaceBeforeKey(QLineEdit* edit, const QString& text) {
    edit->setText(text);
    edit->setCursorPosition(0);
}

template <class W>
W* Control(QWidget* page, const char* name) {
    W* found = page->findChild<W*>(QString::fromLatin1(name));
    if (!found) throw pictorix::Error(std::string("step 3 has no control ") + name);
    return found;
}

}  // namespace

void TForm1::connectStep3(QWidget* page) {
    cbmodifyfilename_ = Control<QCheckBox>(page, "cbmodifyfilename");
    tx3filename_ = Control<QLineEdit>(page, "tx3filename");
    btnaddpm_ = Control<QToolButton>(page, "btnaddpm");
    tx3counter_ = Control<QLineEdit>(page, "tx3counter");
    UpDown1_ = Control<UpDown>(page, "UpDown1");
    Label48_ = Control<QLabel>(page, "Label48");
    cb3replace_ = Control<QRadioButton>(page, "cb3replace");
    cb3ask_ = Control<QRadioButton>(page, "cb3ask");
    cb3skip_ = Control<QRadioButton>(page, "cb3skip");
    cbkeepdatetime_ = Control<QCheckBox>(page, "cbkeepdatetime");
    cb3deletefiles_ = Control<QCheckBox>(page, "cb3deletefiles");
    tbjpegquality_ = Control<QSlider>(page, "tbjpegquality");
    sejpegquality_ = Control<QLineEdit>(page, "sejpegquality");
    jpegupdown_ = Control<UpDown>(page, "jpegupdown");
    cbprogressivejpeg_ = Control<QCheckBox>(page, "cbprogressivejpeg");
    sepngcompressionlevel_ = Control<QLineEdit>(page, "sepngcompressionlevel");
    pngupdown_ = Control<UpDown>(page, "pngupdown");
    cbinterlacedpng_ = Control<QCheckBox>(page, "cbinterlacedpng");
    cbgifcompression_ = Control<QComboBox>(page, "cbgifcompression");
    tbjp2quality_ = Control<QSlider>(page, "tbjp2quality");
    sejp2quality_ = Control<QLineEdit>(page, "sejp2quality");
    jp2updown_ = Control<UpDown>(page, "jp2updown");
    lbpdfcompression_ = Control<QComboBox>(page, "lbpdfcompression");

    auto guarded = [this](void (TForm1::*handler)()) {
        return [this, handler] { Guarded([this, handler] { (this->*handler)(); }); };
    };
    connect(tx3filename_, &QLineEdit::textChanged, this, guarded(&TForm1::tx3filenameChange));
    connect(tx3counter_, &QLineEdit::textChanged, this, guarded(&TForm1::tx3filenameChange));
    connect(tbjpegquality_, &QSlider::valueChanged, this, guarded(&TForm1::tbjpegqualityChange));
    connect(sejpegquality_, &QLineEdit::textChanged, this, guarded(&TForm1::sejpegqualityChange));
    connect(tbjp2quality_, &QSlider::valueChanged, this, guarded(&TForm1::tbjp2qualityChange));
    connect(sejp2quality_, &QLineEdit::textChanged, this, guarded(&TForm1::sejp2qualityChange));
    connect(btnaddpm_, &QToolButton::clicked, this, guarded(&TForm1::btnaddpmClick));

    filenamemenu_ = CreatePlaceholderMenu(this, tx3filename_);

    auto filter = [this](QLineEdit* edit, std::function<bool(QKeyEvent*)> handler) {
        edit->installEventFilter(new KeyPressFilter(edit, std::move(handler)));
        // Text dropped on the edit would pass by the key filter.
        edit->setAcceptDrops(false);
    };
    filter(tx3counter_, [this](QKeyEvent* key) { return tx3counterKeyPress(key); });
    filter(sejpegquality_, [this](QKeyEvent* key) { return sejpegqualityKeyPress(sejpegquality_, key); });
    filter(sejp2quality_, [this](QKeyEvent* key) { return sejpegqualityKeyPress(sejp2quality_, key); });
    filter(sepngcompressionlevel_, [this](QKeyEvent* key) { return sepngcompressionlevelKeyPress(key); });

    tx3filenameChange();
}

// --- The file name --------------------------------------------------------------

void TForm1::tx3filenameChange() {
    if (tx3counter_->text().isEmpty()) {
        tx3counter_->setText(QStringLiteral("0"));  // refreshes the sample itself
        return;
    }
    const int counter = IntegerOf(tx3counter_->text());
    const std::string sample = pictorix::SampleName(ToNativePath(tx3filename_->text()), counter);
    Label48_->setText(Constant("smain_sample") + QStringLiteral(": ") + FromNativePath(sample));
}

void TForm1::InsertPlaceholder(const QString& text) { ::InsertPlaceholder(tx3filename_, text); }

void TForm1::btnaddpmClick() {
    filenamemenu_->popup(btnaddpm_->mapToGlobal(QPoint(0, btnaddpm_->height())));
}

bool TForm1::tx3counterKeyPress(QKeyEvent* key) {
    const TypedKey typed = Typed(key);
    if (typed == TypedKey::Nothing) return false;
    if (typed == TypedKey::Other) return true;
    // The text as it is before this key: a number above the limit goes back to it, and
    // the key that found it so is spent on that.
    if (NumberAbove(tx3counter_->text(), 32767)) {
        tx3counter_->setText(QStringLiteral("32767"));
        return true;
    }
    return false;
}

// --- The format options ---------------------------------------------------------

void TForm1::tbjpegqualityChange() {
    const QString text = QString::number(tbjpegquality_->value());
    if (sejpegquality_->text() != text) sejpegquality_->setText(text);
}

void TForm1::sejpegqualityChange() {
    // The track bar keeps itself within 0-100; when that changes its position, its
    // own handler writes the clamped value back.
    if (!sejpegquality_->text().isEmpty()) tbjpegquality_->setValue(IntegerOf(sejpegquality_->text()));
}

void TForm1::tbjp2qualityChange() {
    const QString text = QString::number(tbjp2quality_->value());
    if (sejp2quality_->text() != text) sejp2quality_->setText(text);
}

void TForm1::sejp2qualityChange() {
    if (!sejp2quality_->text().isEmpty()) tbjp2quality_->setValue(IntegerOf(sejp2quality_->text()));
}

bool TForm1::sejpegqualityKeyPress(QLineEdit* edit, QKeyEvent* key) {
    const TypedKey typed = Typed(key);
    if (typed == TypedKey::Nothing) return false;
    if (typed == TypedKey::Other) return true;
    if (NumberAbove(edit->text(), 100)) ReplaceBeforeKey(edit, QStringLiteral("100"));
    return false;
}

bool TForm1::sepngcompressionlevelKeyPress(QKeyEvent* key) {
    const TypedKey typed = Typed(key);
    if (typed == TypedKey::Nothing) return false;
    if (typed == TypedKey::Other) return true;
    if (NumberBelow(sepngcompressionlevel_->text(), 1)) ReplaceBeforeKey(sepngcompressionlevel_, QStringLiteral("1"));
    return false;
}

// --- The run --------------------------------------------------------------------

pictorix::ConversionSettings TForm1::conversionSettings(const pictorix::IniFile& settingsFile) const {
    // The colour depth and the thumbnails come from the file; the rest is overwritten
    // from the controls.
    pictorix::ConversionSettings s = pictorix::ConversionSettings::FromIni(settingsFile);
    s.dest.dest = cb3samefolder_->isChecked() ? 1 : 2;
    s.dest.folder = ToNativePath(tx3folder_->text());

    pictorix::FormatOptions& f = s.format;
    f.format = lb3format_->currentIndex();
    f.jpegQuality = tbjpegquality_->value();
    f.progressiveJpeg = cbprogressivejpeg_->isChecked();
    // Only the PNG writer reads the level, so only a PNG run fails on a malformed one.
    if (f.format == 2) f.pngLevel = IntegerOf(sepngcompressionlevel_->text());
    f.interlacedPng = cbinterlacedpng_->isChecked();
    f.gifCompression = cbgifcompression_->currentIndex();
    f.jp2Quality = tbjp2quality_->value();
    f.pdfCompression = lbpdfcompression_->currentIndex();

    s.filename.modify = cbmodifyfilename_->isChecked();
    s.filename.filename = ToNativePath(tx3filename_->text());
    // Only a template reads the counter, so only then does a malformed one stop the run.
    bool counterOk = false;
    const int counter = tx3counter_->text().trimmed().toInt(&counterOk);
    if (!counterOk && s.filename.modify) IntegerOf(tx3counter_->text());
    s.filename.counterstart = counterOk ? counter : 0;
    // The arrows' position follows the text while it is a number they can hold.
    s.counterPosition = counterOk && counter >= UpDown1_->minimum() && counter <= UpDown1_->maximum()
                            ? counter
                            : UpDown1_->position();

    s.fileoptions.iffileexists = cb3skip_->isChecked() ? 3 : cb3ask_->isChecked() ? 2 : 1;
    s.fileoptions.keepdatetime = cbkeepdatetime_->isChecked();
    s.fileoptions.deletesourcefiles = cb3deletefiles_->isChecked();
    s.backup.backup = cb3backup_->isChecked();
    s.backup.folder = ToNativePath(tx3backup_->text());
    return s;
}

void TForm1::StepsStartconversion1Click() { KWizard1FinishButtonClick(); }

void TForm1::KWizard1FinishButtonClick() {
    if (running_) return;
    if (lb1files_->count() == 0) {
        dialogs_.message(this, Constant("smainpleaseselectfiles"));
        return;
    }
    // A text watermark in the preview writes the same file as the run's.
    stepTwoWorker_->waitForIdle();
    const pictorix::IniFile settingsFile = pictorix::IniFile::Load(pictorix::SettingsFilePath());
    const pictorix::ConversionSettings settings = conversionSettings(settingsFile);
    const int jobs = WindowRunJobs(settingsFile);
    const std::vector<pictorix::FileEntry> files = lb1files_->entries();
    const std::vector<std::string> actions = actionList_.items();

    if (!frmconv_) frmconv_ = new Tfrmconv(this);
    frmconv_->start(static_cast<int>(files.size()) * 4);

    // The run goes on a worker thread while this thread keeps the windows painted;
    // nothing of the main window takes input until the run has ended.
    pictorix::BatchResult result;
    {
        struct Lock {
            TForm1* w;
            explicit Lock(TForm1* window) : w(window) {
                w->running_ = true;
                w->centralWidget()->setEnabled(false);
                w->menuBar()->setEnabled(false);
            }
            ~Lock() {
                w->centralWidget()->setEnabled(true);
                w->menuBar()->setEnabled(true);
                w->running_ = false;
            }
        } lock(this);
        QApplication::setOverrideCursor(Qt::WaitCursor);

        Tfrmconv* progress = frmconv_;
        pictorix::BatchCallbacks callbacks;
        callbacks.progress = [progress](const pictorix::BatchProgress& p) {
            QMetaObject::invokeMethod(
                progress, [progress, p] { progress->ProgressStep(p.position, p.percent); }, Qt::QueuedConnection);
        };
        callbacks.askReplace = [this](const std::string& path) {
            pictorix::ReplaceAnswer answer = pictorix::ReplaceAnswer::No;
            QMetaObject::invokeMethod(
                this,
                [this, &answer, &path] {
                    QApplication::restoreOverrideCursor();
                    Guarded([&] { answer = dialogs_.askReplace(this, FromNativePath(path)); });
                    QApplication::setOverrideCursor(Qt::WaitCursor);
                },
                Qt::BlockingQueuedConnection);
            return answer;
        };

        QEventLoop loop;
        std::thread worker([&] {
            try {
                result = pictorix::RunBatch(files, actions, settings, callbacks, jobs);
            } catch (const std::exception& e) {
                result.completed = false;
                result.message = e.what();
            }
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
        loop.exec();
        worker.join();
        QApplication::restoreOverrideCursor();
    }

    if (result.completed) {
        frmconv_->finish();
        return;
    }
    const QString file = result.failedPath.empty() ? QString() : FromNativePath(result.failedPath);
    frmconv_->fail(file, FromNativePath(result.message));
    // The failure goes on to the handler of unexpected errors, which reports it too.
    throw pictorix::Error(result.message);
}
