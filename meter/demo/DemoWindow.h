// The demo window: a device list, the meter, buttons for the meter's methods, switches for
// its look, its state, and a log of every signal it sends.
#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class DemoWindow;
}

class DemoWindow : public QWidget {
  Q_OBJECT

 public:
  explicit DemoWindow(QWidget* parent = nullptr);
  ~DemoWindow() override;

 private:
  void log(const QString& line);
  void fillDevices();
  QString takeFile() const;

  std::unique_ptr<Ui::DemoWindow> ui_;
};
