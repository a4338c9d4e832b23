#pragma once
// The viewer window: one preview picture in a resizable window with zoom.
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QScrollArea>
#include <QToolButton>
#include <QWidget>

class UpDown;

// The zoom that "Shrink to fit" shows: the percentage at which the picture fits into
// the view, rounded to the nearest integer with halves to even, or 100 when the
// picture fits as it is. A 2000 x 1000 picture in a 500 x 400 view gives 25.
int FitZoomPercent(QSize view, QSize picture);

// The picture at a fixed scale, or whole and shrunk to fit the scroll area's view.
class ZoomView : public QWidget {
    Q_OBJECT
public:
    explicit ZoomView(QWidget* parent = nullptr);

    void setPicture(const QImage& picture);
    const QImage& picture() const { return picture_; }
    // Fit: the widget follows the view and draws the picture shrunk to fit, never enlarged.
    void setFit();
    // Fixed: the widget is the picture's size times the scale.
    void setScale(double scale);
    bool fit() const { return fit_; }
    double scale() const { return scale_; }

signals:
    void doubleClicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    QImage picture_;
    bool fit_ = true;
    double scale_ = 1.0;
};

class Tfrmfullscreen : public QWidget {
    Q_OBJECT
public:
    explicit Tfrmfullscreen(QWidget* parent = nullptr);

    // Takes a copy of the picture and applies the zoom as "Shrink to fit" does.
    void setPicture(const QImage& picture);
    ZoomView* view() const { return view_; }
    // The size of the area that shows the picture.
    QSize viewSize() const;

    // Handlers of the window's controls.
    void btnstfClick();
    void ComboBox1Change();
    void UpDown1Changing();
    void ToolButton6Click();
    void Image1DblClick();

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setZoomText(const QString& text);

    QToolButton* btnstf_;
    QComboBox* ComboBox1_;
    UpDown* UpDown1_;
    QLabel* percent_;
    QToolButton* ToolButton6_;
    QScrollArea* image_;
    ZoomView* view_;
    bool settingZoomText_ = false;
};
