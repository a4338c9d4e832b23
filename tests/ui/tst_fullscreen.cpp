// The viewer window: fit mode and its percentage, the zoom box and its arrows.
#include <QComboBox>
#include <QLineEdit>
#include <QScrollArea>
#include <QTest>
#include <QToolButton>

#include "ui/application.h"
#include "ui/fullscreen.h"
#include "ui/widgets.h"

class tst_Fullscreen : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void fitZoomPercent_data();
    void fitZoomPercent();
    void shrinkToFitFollowsTheViewArea_data();
    void shrinkToFitFollowsTheViewArea();
    void zoomBox();
    void arrowsAndCloseButtons();

private:
    Tfrmfullscreen* makeViewer(QSize viewArea, QSize picture);
    QComboBox* zoom() const { return viewer_->findChild<QComboBox*>("ComboBox1"); }
    QToolButton* fit() const { return viewer_->findChild<QToolButton*>("btnstf"); }

    Tfrmfullscreen* viewer_ = nullptr;
    QStringList errors_;
};

void tst_Fullscreen::initTestCase() {
    SetErrorReporter([this](const QString& text) { errors_ << text; });
}

void tst_Fullscreen::cleanup() {
    delete viewer_;
    viewer_ = nullptr;
    QVERIFY(errors_.isEmpty());
    QVERIFY2(QApplication::topLevelWidgets().isEmpty(), "a window was left behind");
}

Tfrmfullscreen* tst_Fullscreen::makeViewer(QSize viewArea, QSize picture) {
    viewer_ = new Tfrmfullscreen;
    viewer_->show();
    if (!QTest::qWaitForWindowExposed(viewer_)) qFatal("viewer not shown");
    // Grow or shrink the window until the picture's area has the wanted size.
    viewer_->resize(viewer_->size() + viewArea - viewer_->viewSize());
    if (viewer_->viewSize() != viewArea) qFatal("cannot size the view area");
    QImage image(picture, QImage::Format_RGB32);
    image.fill(Qt::blue);
    viewer_->setPicture(image);
    return viewer_;
}

void tst_Fullscreen::fitZoomPercent_data() {
    QTest::addColumn<QSize>("view");
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<int>("percent");
    QTest::newRow("wider than the view") << QSize(500, 400) << QSize(2000, 1000) << 25;
    QTest::newRow("fits") << QSize(500, 400) << QSize(300, 200) << 100;
    QTest::newRow("exactly the view") << QSize(500, 400) << QSize(500, 400) << 100;
    QTest::newRow("higher than the view") << QSize(500, 400) << QSize(100, 1000) << 40;
    QTest::newRow("half goes to even, down") << QSize(125, 1000) << QSize(1000, 1000) << 12;
    QTest::newRow("half goes to even, up") << QSize(135, 1000) << QSize(1000, 1000) << 14;
}

void tst_Fullscreen::fitZoomPercent() {
    QFETCH(QSize, view);
    QFETCH(QSize, picture);
    QFETCH(int, percent);
    QCOMPARE(FitZoomPercent(view, picture), percent);
}

void tst_Fullscreen::shrinkToFitFollowsTheViewArea_data() {
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QString>("shown");
    QTest::newRow("2000 x 1000") << QSize(2000, 1000) << "25";
    QTest::newRow("300 x 200") << QSize(300, 200) << "100";
}

void tst_Fullscreen::shrinkToFitFollowsTheViewArea() {
    QFETCH(QSize, picture);
    QFETCH(QString, shown);
    makeViewer(QSize(500, 400), picture);
    QVERIFY(fit()->isChecked());
    QVERIFY(viewer_->view()->fit());
    QCOMPARE(zoom()->currentText(), shown);

    // Resizing applies the fit again.
    viewer_->resize(viewer_->size() + QSize(500, 0));
    QCOMPARE(zoom()->currentText(), QString::number(FitZoomPercent(viewer_->viewSize(), picture)));
    QVERIFY(fit()->isChecked());
}

void tst_Fullscreen::zoomBox() {
    makeViewer(QSize(500, 400), QSize(200, 100));
    QLineEdit* edit = zoom()->lineEdit();
    edit->selectAll();
    QTest::keyClicks(edit, "250");
    QCOMPARE(zoom()->currentText(), QStringLiteral("250"));
    QVERIFY(!fit()->isChecked());
    QCOMPARE(viewer_->view()->scale(), 2.5);
    QCOMPARE(viewer_->view()->size(), QSize(500, 250));

    QTest::keyClicks(edit, "x-%");  // only digits and backspace are taken
    QCOMPARE(zoom()->currentText(), QStringLiteral("250"));
    QTest::keyClicks(edit, "12");  // at most four characters
    QCOMPARE(zoom()->currentText(), QStringLiteral("2501"));

    edit->clear();  // an emptied box means 100
    QCOMPARE(zoom()->currentText(), QStringLiteral("100"));
    QCOMPARE(viewer_->view()->scale(), 1.0);

    zoom()->setCurrentIndex(zoom()->findText("50"));
    QCOMPARE(viewer_->view()->scale(), 0.5);

    // Pressing "Shrink to fit" again fits and shows the percentage.
    fit()->click();
    QVERIFY(viewer_->view()->fit());
    QCOMPARE(zoom()->currentText(), QStringLiteral("100"));
}

void tst_Fullscreen::arrowsAndCloseButtons() {
    makeViewer(QSize(300, 300), QSize(600, 300));
    QCOMPARE(zoom()->currentText(), QStringLiteral("50"));
    auto* arrows = viewer_->findChild<UpDown*>("UpDown1");
    arrows->upButton()->click();  // from the percentage shown
    QCOMPARE(zoom()->currentText(), QStringLiteral("51"));
    QVERIFY(!fit()->isChecked());
    QCOMPARE(viewer_->view()->scale(), 0.51);
    zoom()->setEditText("1");
    arrows->downButton()->click();  // the arrows stop at 1
    QCOMPARE(zoom()->currentText(), QStringLiteral("1"));

    viewer_->findChild<QToolButton*>("ToolButton6")->click();
    QVERIFY(!viewer_->isVisible());
    viewer_->show();
    QTest::mouseDClick(viewer_->view(), Qt::LeftButton, {}, QPoint(2, 2));
    QVERIFY(!viewer_->isVisible());
}

QTEST_MAIN(tst_Fullscreen)
#include "tst_fullscreen.moc"
