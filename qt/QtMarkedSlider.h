#pragma once

#include <QColor>
#include <QRect>
#include <QSlider>

class CSliderMarks;

// The frame slider with marks over the frames that hold labels: a band under the groove, in
// the slider's own rectangle, so no control moves. Each pixel column of the band belongs to the
// handle position whose centre stands on it; the columns come from CSliderMarks, which decides
// which of them are marked. Labelled columns get a short neutral bar, the current label's a full
// height bar in its colour with a darker bottom row (so light colours such as white still show
// on the light dialog). The handle is drawn over the band.
//
// Without marks (none attached, or none set) the slider paints exactly as a plain QSlider.
// GUI thread only; the marks object is not owned.
class QtMarkedSlider : public QSlider {
    Q_OBJECT
  public:
    explicit QtMarkedSlider(QWidget* parent = nullptr);

    // Attaches the marks (null detaches them) and repaints.
    void SetMarks(CSliderMarks* marks);

    // Where the marks go: the x of the handle centre at the first position, the number of
    // pixels that centre travels to the last position, and the band's rows.
    int MarkOriginX() const;
    int MarkSpan() const;
    QRect MarkBand() const;

    static QColor NeutralColor() { return QColor(140, 140, 140); }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QRect HandleRectAt(int position) const;

    CSliderMarks* m_marks = nullptr;
};
