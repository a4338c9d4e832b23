#include "ui/frmabout.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QUrlQuery>
#include <QVBoxLayout>

#include "engine/settings.h"
#include "ui/language.h"
#include "ui/paths.h"

namespace {

const char* const kWebSite = "https://www.pictorix.org/";
const char* const kEmail = "support@pictorix.org";

UrlOpener& Opener() {
    static UrlOpener opener;
    return opener;
}

// A label that reads as a link: blue, underlined, the hand cursor, and a click.
class LinkLabel : public QLabel {
public:
    LinkLabel(const QString& text, std::function<void()> clicked) : QLabel(text), clicked_(std::move(clicked)) {
        QFont f = font();
        f.setUnderline(true);
        setFont(f);
        QPalette p = palette();
        p.setColor(QPalette::WindowText, Qt::blue);
        setPalette(p);
        setCursor(Qt::PointingHandCursor);
        setAttribute(Qt::WA_TranslucentBackground);
    }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) clicked_();
        QLabel::mouseReleaseEvent(event);
    }

private:
    std::function<void()> clicked_;
};

}  // namespace

QUrl HelpFileUrl() { return QUrl::fromLocalFile(FromNativePath(pictorix::ProgramFolder()) + QStringLiteral("help.html")); }

QUrl WebSiteUrl(const QString& from) {
    QUrl url(QString::fromLatin1(kWebSite));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("from"), from);
    query.addQueryItem(QStringLiteral("lang"), QString::number(LanguageController::instance().current()));
    url.setQuery(query);
    return url;
}

QUrl EmailUrl() { return QUrl(QStringLiteral("mailto:") + QString::fromLatin1(kEmail)); }

void SetUrlOpener(UrlOpener opener) { Opener() = std::move(opener); }

void OpenUrl(const QUrl& url) {
    // Nothing is checked: a missing file or handler is the desktop's to report.
    if (Opener())
        Opener()(url);
    else
        QDesktopServices::openUrl(url);
}

void HelpHelptopics1Click() { OpenUrl(HelpFileUrl()); }
void HelpEmailus1Click() { OpenUrl(EmailUrl()); }
void HelpWebsite1Click() { OpenUrl(WebSiteUrl(QStringLiteral("menuwebsite"))); }

Tfrmabout::Tfrmabout(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmabout"));
    setWindowTitle(QStringLiteral("About Pictorix"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setModal(true);

    PageControl1_ = new QTabWidget(this);
    PageControl1_->setObjectName(QStringLiteral("PageControl1"));
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("TabSheet1"));
    PageControl1_->addTab(page, QStringLiteral("About"));

    auto* title = new QLabel(QStringLiteral("<b>Pictorix</b><br>batch image conversion and editing"));
    title->setObjectName(QStringLiteral("Label4"));
    Label3_ = new QLabel(QStringLiteral("Build number: 1.8.25 (Compiled March 1, 2006)"));
    Label3_->setObjectName(QStringLiteral("Label3"));
    Label1_ = new QLabel(QStringLiteral("Web-site:"));
    Label1_->setObjectName(QStringLiteral("Label1"));
    Label2_ = new QLabel(QStringLiteral("E-mail:"));
    Label2_->setObjectName(QStringLiteral("Label2"));
    lbl1_ = new LinkLabel(QString::fromLatin1(kWebSite), [this] { lbl1Click(); });
    lbl1_->setObjectName(QStringLiteral("lbl1"));
    lbl2_ = new LinkLabel(QString::fromLatin1(kEmail), [this] { lbl2Click(); });
    lbl2_->setObjectName(QStringLiteral("lbl2"));

    // The links stand 5 pixels right of their captions, however wide a translation is.
    auto* web = new QHBoxLayout;
    web->setSpacing(5);
    web->addWidget(Label1_);
    web->addWidget(lbl1_);
    web->addStretch(1);
    auto* mail = new QHBoxLayout;
    mail->setSpacing(5);
    mail->addWidget(Label2_);
    mail->addWidget(lbl2_);
    mail->addStretch(1);
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->addWidget(title);
    pageLayout->addSpacing(8);
    pageLayout->addWidget(Label3_);
    pageLayout->addLayout(web);
    pageLayout->addLayout(mail);
    pageLayout->addStretch(1);

    Button1_ = new QPushButton(QStringLiteral("Close"));
    Button1_->setObjectName(QStringLiteral("Button1"));
    Button1_->setDefault(true);
    connect(Button1_, &QPushButton::clicked, this, [this] { Button1Click(); });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Button1_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(PageControl1_, 1);
    layout->addLayout(buttons);
    setFixedSize(360, 240);

    LanguageController::instance().attach(this, QStringLiteral("Tfrmabout"),
                                          {QStringLiteral("Label3.*"), QStringLiteral("lbl1.*"),
                                           QStringLiteral("lbl2.*")},
                                          [this] { DKLanguageController1LanguageChanged(); });
    DKLanguageController1LanguageChanged();
}

void Tfrmabout::lbl1Click() { OpenUrl(WebSiteUrl(QStringLiteral("about"))); }
void Tfrmabout::lbl2Click() { OpenUrl(EmailUrl()); }
void Tfrmabout::Button1Click() { accept(); }

void Tfrmabout::DKLanguageController1LanguageChanged() {
    // The rows' layouts keep each link 5 pixels right of its caption; only the sizes
    // of the captions need refreshing after a translation.
    Label1_->adjustSize();
    Label2_->adjustSize();
}
