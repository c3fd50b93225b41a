// The Qt view of the main window, offscreen, with scripted dialogs, against the simulated deco on
// a pty: a window on a fast clock in a folder of its own, and its controls by their names.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <optional>

#include "protocol/clock.h"
#include "protocol/image_files.h"
#include "sim/pty_deco.h"
#include "support/sim_session.h"
#include "window/fake_dialogs.h"
#include "window/main_window_layout.h"
#include "window/qt_dialogs.h"
#include "window/qt_main_window.h"

namespace testing_support {

// A lock nobody else holds: window tests must not see each other as a second copy.
struct FreeLock : instance::InstanceLock {
  bool held = false;
  bool ExistsOrTake(const std::string&) override { return !(held = true); }
  void Release() override { held = false; }
  bool Held() const override { return held; }
};

// The share of a control's pixels, as drawn, that are lime green (red 0, green 255, blue 0).
inline double LimeShare(QWidget* control) {
  QImage image = control->grab().toImage().convertToFormat(QImage::Format_RGB32);
  int64_t lime = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixel(x, y) == qRgb(0, 255, 0)) ++lime;
  return static_cast<double>(lime) / (image.width() * image.height());
}

class WindowTest : public ::testing::Test {
 protected:
  explicit WindowTest(const sim::Settings& settings = sim::Settings(), unsigned timeoutDivisor = 1)
      : deco(settings), clock(testing_support::TestClockDivisor, timeoutDivisor) {
    clock.SetBeforePause([this] { deco.CatchUp(); });
    folderBefore = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(dir.Path()));
    form = std::make_unique<window::QtMainWindow>(&dialogs, std::make_unique<FreeLock>());
    form->Form().Link().UseClock(clock);
    int index = List("ComboBox1")->findText(QString::fromStdString(deco.SlavePath()));
    if (index < 0) List("ComboBox1")->addItem(QString::fromStdString(deco.SlavePath()));
    List("ComboBox1")->setCurrentText(QString::fromStdString(deco.SlavePath()));
  }
  ~WindowTest() override {
    dialogs.answers.clear();
    form.reset();
    QDir::setCurrent(folderBefore);
  }

  std::vector<QString> MemoLines() const {
    QStringList lines = Memo()->toPlainText().split('\n');
    return std::vector<QString>(lines.begin(), lines.end());
  }
  QString LastMemoLine() const { return MemoLines().back(); }
  // The log lines from the index'th on.
  std::vector<std::string> MemoLinesFrom(size_t index) const {
    std::vector<std::string> lines;
    for (const QString& line : MemoLines()) lines.push_back(line.toStdString());
    lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(index));
    return lines;
  }
  // On screen, for input through the mouse and keys.
  void ShowForm() {
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  }
  void Click(QWidget* control) { QTest::mouseClick(control, Qt::LeftButton); }
  void Connect() {
    Click(Button("Button4"));
    ASSERT_TRUE(form->Form().Connected()) << LastMemoLine().toStdString();
  }
  bool WaitForJobEnd() {
    return QTest::qWaitFor(
        [&] { return form->Form().Worker() == nullptr && !Button("Button5")->isHidden(); },
        JobTimeoutMs);
  }
  // The window's controls by their names in the layout table.
  template <typename T = QWidget>
  T* Named(const char* name) const {
    return form->findChild<T*>(name);
  }
  QPushButton* Button(const char* name) const { return Named<QPushButton>(name); }
  QRadioButton* Radio(const char* name) const { return Named<QRadioButton>(name); }
  QCheckBox* Box(const char* name) const { return Named<QCheckBox>(name); }
  QLineEdit* Field(const char* name) const { return Named<QLineEdit>(name); }
  QComboBox* List(const char* name) const { return Named<QComboBox>(name); }
  QPlainTextEdit* Memo() const { return Named<QPlainTextEdit>("Memo1"); }
  QProgressBar* Bar() const { return Named<QProgressBar>("ProgressBar1"); }
  void Tick(QCheckBox* box, QLineEdit* edit, const std::string& name) {
    box->setChecked(true);
    edit->setText(QString::fromStdString(dir.File(name)));
  }

  sim::PtyDeco deco;
  protocol::FastClock clock;
  TempDir dir;
  QString folderBefore;
  testing_support::FakeDialogs dialogs;
  std::unique_ptr<window::QtMainWindow> form;
};

class ServiceWindowTest : public WindowTest {
 protected:
  ServiceWindowTest() : WindowTest(testing_support::InService()) {
    Radio("RadioButton5")->setChecked(true);
  }
};

// A deco that shows -SE-, and reply time-outs that cost little to wait out.
class QuickTimeOutTest : public WindowTest {
 protected:
  QuickTimeOutTest() : WindowTest(testing_support::InService(), QuickTimeOuts) {
    Radio("RadioButton5")->setChecked(true);
  }
};

}  // namespace testing_support
