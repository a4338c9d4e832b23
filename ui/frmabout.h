#pragma once
// The About window and the commands of the "&Help" menu.
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QTabWidget>
#include <QUrl>
#include <functional>

// Where the help and the maker's addresses are.
QUrl HelpFileUrl();                   // help.html in the program's folder
QUrl WebSiteUrl(const QString& from);  // the web page, telling where the user came from and the language
QUrl EmailUrl();                      // a new message to the support address

// Opens a file or link with the desktop's default program; tests put a recorder here.
using UrlOpener = std::function<void(const QUrl&)>;
void SetUrlOpener(UrlOpener opener);
void OpenUrl(const QUrl& url);

// The commands of the "&Help" menu.
void HelpHelptopics1Click();
void HelpEmailus1Click();
void HelpWebsite1Click();

class Tfrmabout : public QDialog {
    Q_OBJECT
public:
    explicit Tfrmabout(QWidget* parent = nullptr);

    void lbl1Click();
    void lbl2Click();
    void Button1Click();
    void DKLanguageController1LanguageChanged();

private:
    QTabWidget* PageControl1_;
    QLabel* Label1_;
    QLabel* Label2_;
    QLabel* Label3_;
    QLabel* lbl1_;
    QLabel* lbl2_;
    QPushButton* Button1_;
};
