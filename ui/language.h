#pragma once
// The user-interface languages: the language files in lib/ beside the program, the
// current language, the translation of every window and panel that shows text, and the
// message constants the program's own code asks for by name.
//
// A language file is a UTF-8 INI file "*.lng":
//   [Language]             id=1031 (a Windows language identifier), name=Deutsch
//   [TForm1]               one section per window or panel class; keys
//                          objectName.property=text, where property is a Qt property
//                          ("text", "title", "toolTip", "windowTitle", ...) or one of
//                          "items" (the entries of a list, separated by "|") and
//                          "tabText" (the caption of a tab page)
//   [Constants]            sactions_rotate=Drehen, ...
// English (1033) is built in: its texts are the ones the windows are made with.
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <map>
#include <string>
#include <vector>

constexpr int kBuiltInLanguage = 1033;

// The system's name of a Windows language identifier, e.g. 1031 -> "German (Germany)";
// empty for an identifier the table does not know.
QString LanguageDisplayName(int id);

class LanguageController : public QObject {
    Q_OBJECT
public:
    // The one controller of the program.
    static LanguageController& instance();

    // Registers every "*.lng" of the folder (not its subfolders) whose identifier is
    // neither 0 nor 1033; a later file with the same identifier replaces the earlier.
    // Forgets what an earlier scan found.
    void scan(const QString& folder);

    // The language list: index 0 is the built-in English, then the files in the order
    // they were found.
    int count() const { return int(languages_.size()); }
    int id(int index) const { return languages_.at(std::size_t(index)).id; }
    QString displayName(int index) const { return languages_.at(std::size_t(index)).displayName; }

    int current() const { return current_; }
    // Makes the language current; an identifier without a file selects the built-in
    // language. When the language really changes, every registered window is translated
    // again and its language-changed function runs, then the constants change.
    void setCurrent(int id);

    // The current language's text of a message constant (names compare without regard
    // to letter case). Throws pictorix::Error for a name that is not in the table.
    QString constant(const QString& name) const;

    // The current language's text of one key of a section ("Tfrmconv", "Label1.text"), or
    // `builtIn` when the language does not translate it: for texts a window sets anew.
    QString text(const QString& section, const QString& key, const QString& builtIn) const;

    // Registers a window or panel: `section` names its class in the language files,
    // `ignore` holds masks ("tx3folder.text", "lb3format.*") of properties that are
    // never translated, and `changed` (may be empty) is its language-changed handler.
    // A window registered while another language than English is current is translated
    // at once and its handler runs. The registration ends when the window is destroyed.
    void attach(QWidget* window, const QString& section, const QStringList& ignore = {},
                std::function<void()> changed = {});

    // For tests: forgets the files and goes back to English.
    void reset();

    // The translatable texts a registered window shows in English, as a language file
    // names them ("Label21.text" -> "Width:"): what a complete language file translates.
    // Texts without a letter, input fields and the window's ignore list are left out.
    std::map<QString, QString> builtInTexts(QWidget* window) const;
    // The section of a registered window; empty when it is not registered.
    QString sectionOf(QWidget* window) const;

signals:
    void languageChanged(int id);

private:
    struct Language {
        int id = kBuiltInLanguage;
        QString displayName;
        QString file;  // empty for the built-in language
    };
    struct Window {
        QPointer<QWidget> widget;
        QString section;
        QStringList ignore;
        std::function<void()> changed;
    };
    using Texts = std::map<QString, QString>;  // "objectName.property" -> text

    LanguageController();
    void loadTexts();
    void translate(Window& window);
    bool ignored(const Window& window, const QString& key) const;

    std::vector<Language> languages_;
    int current_ = kBuiltInLanguage;
    // The current language's texts per section (lower-cased section name); empty for
    // English.
    QHash<QString, Texts> texts_;
    QHash<QString, QString> constants_;  // lower-cased name -> text
    std::vector<Window> windows_;
};

// Shorthand for LanguageController::instance().constant(name).
QString Constant(const char* name);
