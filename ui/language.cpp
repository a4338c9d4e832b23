#include "ui/language.h"

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QRadioButton>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QTabWidget>
#include <QTreeWidget>
#include <QTextEdit>
#include <algorithm>
#include <utility>

#include "core/error.h"

namespace {

// The message constants and their English texts.
const std::pair<const char*, const char*> kConstants[] = {
    {"sactions_rotate", "Rotate"},
    {"sactions_mirror", "Mirror"},
    {"sactions_resize", "Resize"},
    {"sactions_canvassize", "Canvas Size"},
    {"sactions_crop", "Crop"},
    {"sactions_contrast", "Contrast"},
    {"sactions_brightness", "Brightness"},
    {"sactions_blur", "Blur"},
    {"sactions_picturewm", "Picture watermark"},
    {"sactions_textwm", "Text watermark"},
    {"smainoutputdir", "Please select directory to save converted images in"},
    {"smainbackupdir", "Please select directory to backup files into"},
    {"smainpleaseselectfiles", "Please select at least one file to start the convertion."},
    {"smainfileexists", "File %s already exists. Do you want to replace this file?"},
    {"smainpercentdone", "% Done"},
    {"smainjustdone", "Done"},
    {"smain_sample", "Sample"},
};

// Windows language identifiers and the locales they stand for.
const std::pair<int, const char*> kLocales[] = {
    {1025, "ar_SA"}, {1026, "bg_BG"}, {1027, "ca_ES"}, {1028, "zh_TW"}, {1029, "cs_CZ"}, {1030, "da_DK"},
    {1031, "de_DE"}, {1032, "el_GR"}, {1033, "en_US"}, {1034, "es_ES"}, {1035, "fi_FI"}, {1036, "fr_FR"},
    {1037, "he_IL"}, {1038, "hu_HU"}, {1039, "is_IS"}, {1040, "it_IT"}, {1041, "ja_JP"}, {1042, "ko_KR"},
    {1043, "nl_NL"}, {1044, "nb_NO"}, {1045, "pl_PL"}, {1046, "pt_BR"}, {1048, "ro_RO"}, {1049, "ru_RU"},
    {1050, "hr_HR"}, {1051, "sk_SK"}, {1053, "sv_SE"}, {1054, "th_TH"}, {1055, "tr_TR"}, {1057, "id_ID"},
    {1058, "uk_UA"}, {1059, "be_BY"}, {1060, "sl_SI"}, {1061, "et_EE"}, {1062, "lv_LV"}, {1063, "lt_LT"},
    {1066, "vi_VN"}, {1081, "hi_IN"}, {1086, "ms_MY"}, {2052, "zh_CN"}, {2055, "de_CH"}, {2057, "en_GB"},
    {2058, "es_MX"}, {2060, "fr_BE"}, {2067, "nl_BE"}, {2070, "pt_PT"}, {3076, "zh_HK"}, {3079, "de_AT"},
    {3081, "en_AU"}, {3082, "es_ES"}, {3084, "fr_CA"}, {4105, "en_CA"}, {4108, "fr_CH"},
};

const char* const kBuiltInPrefix = "pictorix.builtin.";

struct LanguageFile {
    int id = 0;
    QString name;
    QHash<QString, std::map<QString, QString>> sections;  // lower-cased section name
};

// Reads a language file: sections, "key=value" lines, ";" and "#" comments.
LanguageFile ReadLanguageFile(const QString& path) {
    LanguageFile result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return result;
    QString text = QString::fromUtf8(file.readAll());
    if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
    QString section;
    for (QString line : text.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")))) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#'))) continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = line.mid(1, line.size() - 2).trimmed().toLower();
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0) continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        auto& keys = result.sections[section];
        keys.emplace(key, value);  // the first of two equal keys counts
    }
    const auto language = result.sections.value(QStringLiteral("language"));
    if (auto it = language.find(QStringLiteral("id")); it != language.end()) {
        bool ok = false;
        const int id = it->second.toInt(&ok);
        if (ok) result.id = id;
    }
    if (auto it = language.find(QStringLiteral("name")); it != language.end()) result.name = it->second;
    return result;
}

bool IsInputField(const QObject* object) {
    return qobject_cast<const QLineEdit*>(object) || qobject_cast<const QAbstractSpinBox*>(object) ||
           qobject_cast<const QPlainTextEdit*>(object) || qobject_cast<const QTextEdit*>(object);
}

QTabWidget* TabWidgetOf(QWidget* page, int* index) {
    for (QWidget* w = page ? page->parentWidget() : nullptr; w; w = w->parentWidget()) {
        if (auto* tabs = qobject_cast<QTabWidget*>(w)) {
            *index = tabs->indexOf(page);
            if (*index >= 0) return tabs;
        }
    }
    return nullptr;
}

// The value of one translatable property of an object, as the language files write it.
QString ReadProperty(QObject* object, const QString& property) {
    if (property == QLatin1String("items")) {
        QStringList items;
        if (auto* combo = qobject_cast<QComboBox*>(object))
            for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
        else if (auto* list = qobject_cast<QListWidget*>(object))
            for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
        return items.join(QLatin1Char('|'));
    }
    if (property == QLatin1String("tabText")) {
        int index = -1;
        QTabWidget* tabs = TabWidgetOf(qobject_cast<QWidget*>(object), &index);
        return tabs ? tabs->tabText(index) : QString();
    }
    if (property == QLatin1String("headers")) {
        QStringList headers;
        if (auto* tree = qobject_cast<QTreeWidget*>(object))
            for (int i = 0; i < tree->columnCount(); ++i) headers << tree->headerItem()->text(i);
        return headers.join(QLatin1Char('|'));
    }
    return object->property(property.toLatin1().constData()).toString();
}

void WriteProperty(QObject* object, const QString& property, const QString& text) {
    if (property == QLatin1String("items")) {
        const QStringList items = text.split(QLatin1Char('|'));
        if (auto* combo = qobject_cast<QComboBox*>(object)) {
            for (int i = 0; i < combo->count() && i < items.size(); ++i) combo->setItemText(i, items[i]);
        } else if (auto* list = qobject_cast<QListWidget*>(object)) {
            for (int i = 0; i < list->count() && i < items.size(); ++i) list->item(i)->setText(items[i]);
        }
        return;
    }
    if (property == QLatin1String("tabText")) {
        int index = -1;
        if (QTabWidget* tabs = TabWidgetOf(qobject_cast<QWidget*>(object), &index)) tabs->setTabText(index, text);
        return;
    }
    if (property == QLatin1String("headers")) {
        const QStringList headers = text.split(QLatin1Char('|'));
        if (auto* tree = qobject_cast<QTreeWidget*>(object))
            for (int i = 0; i < tree->columnCount() && i < headers.size(); ++i) tree->headerItem()->setText(i, headers[i]);
        return;
    }
    object->setProperty(property.toLatin1().constData(), text);
}

// Writes a translated text. A caption placed by hand, outside any layout, takes the size
// of its new text; the window's language-changed handler then re-aligns its neighbours.
void ApplyText(QObject* target, const QString& property, const QString& text) {
    WriteProperty(target, property, text);
    auto* widget = qobject_cast<QWidget*>(target);
    if (widget && property == QLatin1String("text") && widget->parentWidget() && !widget->parentWidget()->layout() &&
        (qobject_cast<QLabel*>(widget) || qobject_cast<QCheckBox*>(widget) || qobject_cast<QRadioButton*>(widget)))
        widget->adjustSize();
}

bool HasProperty(QObject* object, const QString& property) {
    if (property == QLatin1String("items"))
        return qobject_cast<QComboBox*>(object) || qobject_cast<QListWidget*>(object);
    if (property == QLatin1String("tabText")) return qobject_cast<QWidget*>(object) != nullptr;
    if (property == QLatin1String("headers")) return qobject_cast<QTreeWidget*>(object) != nullptr;
    return object->metaObject()->indexOfProperty(property.toLatin1().constData()) >= 0;
}

bool HasLetter(const QString& text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.isLetter(); });
}

// The properties of an object that carry text a language file may translate.
QStringList TranslatableProperties(QObject* object, bool topLevel) {
    QStringList properties;
    if (topLevel) properties << QStringLiteral("windowTitle");
    if (auto* action = qobject_cast<QAction*>(object)) {
        if (!action->isSeparator() && !action->menu()) properties << QStringLiteral("text");
        return properties;
    }
    if (qobject_cast<QMenu*>(object)) return properties << QStringLiteral("title");
    if (IsInputField(object)) return properties;
    if (qobject_cast<QLabel*>(object) || qobject_cast<QAbstractButton*>(object)) properties << QStringLiteral("text");
    if (qobject_cast<QGroupBox*>(object)) properties << QStringLiteral("title");
    if (qobject_cast<QComboBox*>(object)) properties << QStringLiteral("items");
    if (qobject_cast<QTreeWidget*>(object)) properties << QStringLiteral("headers");
    if (auto* widget = qobject_cast<QWidget*>(object)) {
        int index = -1;
        if (TabWidgetOf(widget, &index)) properties << QStringLiteral("tabText");
        properties << QStringLiteral("toolTip");
    }
    return properties;
}

QObject* FindTarget(QWidget* window, const QString& objectName) {
    if (window->objectName() == objectName) return window;
    return window->findChild<QObject*>(objectName);
}

}  // namespace

QString LanguageDisplayName(int id) {
    for (const auto& [lcid, name] : kLocales) {
        if (lcid != id) continue;
        const QLocale locale(QString::fromLatin1(name));
        return QLocale::languageToString(locale.language()) + QStringLiteral(" (") +
               QLocale::territoryToString(locale.territory()) + QLatin1Char(')');
    }
    return {};
}

LanguageController& LanguageController::instance() {
    static LanguageController controller;
    return controller;
}

LanguageController::LanguageController() { reset(); }

void LanguageController::reset() {
    languages_.clear();
    languages_.push_back({kBuiltInLanguage, LanguageDisplayName(kBuiltInLanguage), QString()});
    setCurrent(kBuiltInLanguage);  // translates the windows back when another language was current
    loadTexts();
}

void LanguageController::scan(const QString& folder) {
    languages_.resize(1);
    const QDir dir(folder);
    const QStringList names =
        dir.entryList({QStringLiteral("*.lng")}, QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (const QString& name : names) {
        const QString path = dir.filePath(name);
        const LanguageFile file = ReadLanguageFile(path);
        if (file.id == 0 || file.id == kBuiltInLanguage || file.id < 0 || file.id > 0xFFFF) continue;
        QString display = LanguageDisplayName(file.id);
        if (display.isEmpty()) display = file.name.isEmpty() ? QString::number(file.id) : file.name;
        auto same = std::find_if(languages_.begin(), languages_.end(), [&](const Language& l) { return l.id == file.id; });
        if (same != languages_.end())
            *same = {file.id, display, path};
        else
            languages_.push_back({file.id, display, path});
    }
}

void LanguageController::setCurrent(int id) {
    auto it = std::find_if(languages_.begin(), languages_.end(), [&](const Language& l) { return l.id == id; });
    if (it == languages_.end()) id = kBuiltInLanguage;
    if (id == current_) return;
    current_ = id;
    loadTexts();
    windows_.erase(std::remove_if(windows_.begin(), windows_.end(), [](const Window& w) { return w.widget.isNull(); }),
                   windows_.end());
    // Handlers may register new panels; walk a copy.
    std::vector<Window> windows = windows_;
    for (Window& w : windows) {
        if (w.widget.isNull()) continue;
        translate(w);
        if (w.changed) w.changed();
    }
    emit languageChanged(current_);
}

void LanguageController::loadTexts() {
    texts_.clear();
    const auto language =
        std::find_if(languages_.begin(), languages_.end(), [&](const Language& l) { return l.id == current_; });
    if (current_ == kBuiltInLanguage || language == languages_.end() || language->file.isEmpty()) {
        constants_.clear();
        for (const auto& [name, text] : kConstants)
            constants_.insert(QString::fromLatin1(name), QString::fromLatin1(text));
        return;
    }
    const LanguageFile file = ReadLanguageFile(language->file);
    for (auto it = file.sections.begin(); it != file.sections.end(); ++it) {
        if (it.key() == QLatin1String("constants")) {
            // A constant the file does not translate keeps the text it had.
            for (const auto& [name, text] : it.value()) {
                const QString key = name.toLower();
                for (auto c = constants_.begin(); c != constants_.end(); ++c)
                    if (c.key().toLower() == key) c.value() = text;
            }
        } else if (it.key() != QLatin1String("language")) {
            texts_.insert(it.key(), it.value());
        }
    }
}

bool LanguageController::ignored(const Window& window, const QString& key) const {
    for (const QString& mask : window.ignore) {
        const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(mask),
                                    QRegularExpression::CaseInsensitiveOption);
        if (re.match(key).hasMatch()) return true;
    }
    return false;
}

void LanguageController::translate(Window& window) {
    QWidget* widget = window.widget;
    if (current_ == kBuiltInLanguage) {
        // Give every translated property its built-in text back.
        QList<QObject*> objects = widget->findChildren<QObject*>();
        objects.prepend(widget);
        for (QObject* object : objects) {
            for (const QByteArray& name : object->dynamicPropertyNames()) {
                if (!name.startsWith(kBuiltInPrefix)) continue;
                ApplyText(object, QString::fromLatin1(name.mid(int(qstrlen(kBuiltInPrefix)))),
                          object->property(name.constData()).toString());
            }
        }
        return;
    }
    const auto section = texts_.find(window.section.toLower());
    if (section == texts_.end()) return;
    for (const auto& [key, text] : section.value()) {
        const qsizetype dot = key.lastIndexOf(QLatin1Char('.'));
        if (dot <= 0) continue;
        const QString objectName = key.left(dot), property = key.mid(dot + 1);
        QObject* target = FindTarget(widget, objectName);
        if (!target || !HasProperty(target, property) || ignored(window, key)) continue;
        if (IsInputField(target) && (property == QLatin1String("text") || property == QLatin1String("plainText")))
            continue;
        const QByteArray stored = QByteArray(kBuiltInPrefix) + property.toLatin1();
        if (!target->property(stored.constData()).isValid())
            target->setProperty(stored.constData(), ReadProperty(target, property));
        ApplyText(target, property, text);
    }
}

void LanguageController::attach(QWidget* window, const QString& section, const QStringList& ignore,
                                std::function<void()> changed) {
    // Labels without a name of their own get one from their English text ("Width:" ->
    // "lblWidth"), so that a language file can reach every text a window shows.
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (!label->objectName().isEmpty() || !HasLetter(label->text())) continue;
        QString name = QStringLiteral("lbl");
        for (QChar c : label->text())
            if (c.isLetterOrNumber() && c.unicode() < 128) name += c;
        label->setObjectName(name);
    }
    windows_.push_back({window, section, ignore, std::move(changed)});
    if (current_ != kBuiltInLanguage) {
        Window w = windows_.back();
        translate(w);
        if (w.changed) w.changed();
    }
}

QString LanguageController::constant(const QString& name) const {
    const QString key = name.toLower();
    for (auto it = constants_.begin(); it != constants_.end(); ++it)
        if (it.key().toLower() == key) return it.value();
    throw pictorix::Error("Unknown message constant: " + name.toStdString());
}

QString LanguageController::text(const QString& section, const QString& key, const QString& builtIn) const {
    const auto found = texts_.find(section.toLower());
    if (found == texts_.end()) return builtIn;
    const auto it = found.value().find(key);
    return it == found.value().end() ? builtIn : it->second;
}

QString LanguageController::sectionOf(QWidget* window) const {
    for (const Window& w : windows_)
        if (w.widget == window) return w.section;
    return {};
}

std::map<QString, QString> LanguageController::builtInTexts(QWidget* window) const {
    std::map<QString, QString> texts;
    const auto registered =
        std::find_if(windows_.begin(), windows_.end(), [&](const Window& w) { return w.widget == window; });
    if (registered == windows_.end()) return texts;
    QList<QObject*> objects = window->findChildren<QObject*>();
    objects.prepend(window);
    for (QObject* object : objects) {
        if (object->objectName().isEmpty()) continue;
        for (const QString& property : TranslatableProperties(object, object == window)) {
            const QString key = object->objectName() + QLatin1Char('.') + property;
            if (ignored(*registered, key)) continue;
            const QByteArray stored = QByteArray(kBuiltInPrefix) + property.toLatin1();
            const QVariant builtIn = object->property(stored.constData());
            const QString text = builtIn.isValid() ? builtIn.toString() : ReadProperty(object, property);
            if (HasLetter(text)) texts.emplace(key, text);
        }
    }
    return texts;
}

QString Constant(const char* name) { return LanguageController::instance().constant(QString::fromLatin1(name)); }
