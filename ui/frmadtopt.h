#pragma once
// The additional options dialog: the colour depth of the outputs and the thumbnail
// copies. It keeps nothing of its own: it reads the sections "colordepth" and "thumb"
// of the settings file when it is created and writes them on Ok; the run reads them
// from the file.
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QToolButton>
#include <functional>

class UpDown;

class Tfrmadtopt : public QDialog {
    Q_OBJECT
public:
    // A folder chosen with the title, without its final "/"; empty when cancelled.
    using BrowseForFolder = std::function<QString(QWidget*, const QString& title)>;

    // Loads the two sections from `settingsPath` (FormCreate).
    Tfrmadtopt(const std::string& settingsPath, BrowseForFolder browse, QWidget* parent = nullptr);

    void LoadAdditionalOptions();
    // Writes all nine keys; throws pictorix::Error("Unable to write to ...") when the
    // file cannot be written, and then nothing is written.
    void SaveAdditionalOptions();

    void cbcreatethumbClick();
    void SpeedButton1Click();
    void btnaddpmClick();
    void Button1Click();
    void Button2Click();
    void DKLanguageController1LanguageChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::string settingsPath_;
    BrowseForFolder browse_;

    QTabWidget* PageControl1_;
    QWidget* TabSheet1_;
    QWidget* TabSheet2_;
    QRadioButton* cborig_;
    QRadioButton* cb1_;
    QRadioButton* cb4_;
    QRadioButton* cb8_;
    QRadioButton* cb16_;
    QRadioButton* cb24_;
    QRadioButton* cb32_;
    QCheckBox* cbcreatethumb_;
    QLabel* Label21_;
    QLineEdit* sewidth_;
    UpDown* udwidth_;
    QComboBox* lbwt_;
    QLabel* Label22_;
    QLineEdit* seheight_;
    UpDown* udheight_;
    QComboBox* lbht_;
    QLabel* Label23_;
    QComboBox* lbuse_;
    QLabel* Label1_;
    QLineEdit* txfolder_;
    QToolButton* SpeedButton1_;
    QLabel* Label2_;
    QLineEdit* txfilename_;
    QToolButton* btnaddpm_;
    QMenu* filenamemenu_;
    QPushButton* Button1_;
    QPushButton* Button2_;
};
