#pragma once

#include <QObject>
#include <QProgressDialog>
#include <memory>
#include <string>

class QWidget;

// One long operation run on the GUI thread (see IAppServices::BeginProgress). A modal
// QProgressDialog appears once the operation has run, or is expected to run, for half a
// second; each step lets Qt handle what is waiting (painting, timers). Meanwhile every input
// event meant for another window is swallowed, so nothing re-enters the dialog's logic halfway
// through the operation, and Escape anywhere, or the box's button, asks the operation to stop.
class QtProgress : public QObject {
  public:
    QtProgress(QWidget* parent, const std::string& text, int total);
    ~QtProgress() override;
    QtProgress(const QtProgress&) = delete;
    QtProgress& operator=(const QtProgress&) = delete;

    // False once a stop was asked for.
    bool Step(int done);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    bool BelongsToBox(QObject* watched) const;

    std::unique_ptr<QProgressDialog> m_box;
    bool m_stop = false;
};
