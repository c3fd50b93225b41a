// The Qt view of the main window, offscreen, with scripted dialogs, against the simulated deco on
// a pty: the controls as the layout table builds them, and what a person's clicks, keys and
// double-clicks do. The behaviour behind them is tested without a toolkit
// (main_window_test.cpp and its siblings).
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
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <algorithm>
#include <deque>
#include <functional>
#include <optional>

#include "protocol/clock.h"
#include "protocol/image_files.h"
#include "sim/pty_deco.h"
#include "support/sim_session.h"
#include "window/fake_dialogs.h"
#include "window/qt_dialogs.h"
#include "window/qt_main_window.h"

using testing_support::AsText;
using testing_support::QuickTimeOuts;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;
using window::QtMainWindow;

namespace {

constexpr int JobTimeoutMs = 60000;

// A lock nobody else holds: window tests must not see each other as a second copy.
struct FreeLock : instance::InstanceLock {
  bool held = false;
  bool ExistsOrTake(const std::string&) override { return !(held = true); }
  void Release() override { held = false; }
  bool Held() const override { return held; }
};

// The share of a control's pixels, as drawn, that are lime green (red 0, green 255, blue 0).
double LimeShare(QWidget* control) {
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
    form = std::make_unique<QtMainWindow>(&dialogs, std::make_unique<FreeLock>());
    form->Form().Link().UseClock(clock);
    int index = form->ComboBox1->findText(QString::fromStdString(deco.SlavePath()));
    if (index < 0) form->ComboBox1->addItem(QString::fromStdString(deco.SlavePath()));
    form->ComboBox1->setCurrentText(QString::fromStdString(deco.SlavePath()));
  }
  ~WindowTest() override {
    dialogs.answers.clear();
    form.reset();
    QDir::setCurrent(folderBefore);
  }

  std::vector<QString> MemoLines() const {
    QStringList lines = form->Memo1->toPlainText().split('\n');
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
    Click(form->Button4);
    ASSERT_TRUE(form->Form().Connected()) << LastMemoLine().toStdString();
  }
  bool WaitForJobEnd() {
    return QTest::qWaitFor(
        [&] { return form->Form().Worker() == nullptr && !form->Button5->isHidden(); },
        JobTimeoutMs);
  }
  void Tick(QCheckBox* box, QLineEdit* edit, const std::string& name) {
    box->setChecked(true);
    edit->setText(QString::fromStdString(dir.File(name)));
  }

  sim::PtyDeco deco;
  protocol::FastClock clock;
  TempDir dir;
  QString folderBefore;
  testing_support::FakeDialogs dialogs;
  std::unique_ptr<QtMainWindow> form;
};

class ServiceWindowTest : public WindowTest {
 protected:
  ServiceWindowTest() : WindowTest(testing_support::InService()) {
    form->RadioButton5->setChecked(true);
  }
};

// A deco that shows -SE-, and reply time-outs that cost little to wait out.
class QuickTimeOutTest : public WindowTest {
 protected:
  QuickTimeOutTest() : WindowTest(testing_support::InService(), QuickTimeOuts) {
    form->RadioButton5->setChecked(true);
  }
};

}  // namespace

TEST_F(WindowTest, ControlTableAndInitialState) {
  EXPECT_EQ(form->windowTitle(), "Pyrelink 607X  v1.0.0");
  struct Row {
    const char* name;
    const char* parent;
    QRect geometry;
    const char* caption;
  } rows[] = {
      {"Memo1", "Form1", {288, 248, 273, 145}, nullptr},
      {"GroupBox1", "Form1", {24, 16, 537, 81}, "COMMUNICATION"},
      {"ComboBox1", "GroupBox1", {72, 32, 97, 21}, nullptr},
      {"ComboBox2", "GroupBox1", {224, 32, 81, 21}, nullptr},
      {"Label1", "GroupBox1", {16, 36, 47, 13}, "Serial port"},
      {"Label2", "GroupBox1", {192, 36, 25, 13}, "Baud"},
      {"GroupBox2", "Form1", {24, 104, 537, 129}, "FILES"},
      {"CheckBox1", "GroupBox2", {24, 24, 97, 17}, "Firmware 2MB"},
      {"CheckBox2", "GroupBox2", {24, 56, 97, 17}, "Eeprom 2KB"},
      {"CheckBox3", "GroupBox2", {24, 88, 97, 17}, "Channel 512KB"},
      {"Edit1", "GroupBox2", {128, 24, 393, 21}, "Fw.bin"},
      {"Edit2", "GroupBox2", {128, 56, 393, 21}, "E.bin"},
      {"Edit3", "GroupBox2", {128, 88, 393, 21}, "Ch.bin"},
      {"Button4", "GroupBox1", {440, 32, 81, 25}, "Connect"},
      {"Button5", "Form1", {24, 360, 73, 33}, "READ"},
      {"Button6", "Form1", {168, 360, 73, 33}, "WRITE"},
      {"RadioGroup1", "Form1", {24, 248, 249, 97}, "WRITE METHOD"},
      {"RadioButton1", "Form1", {48, 272, 209, 17}, "Normal (Write once)"},
      {"RadioButton2", "Form1", {48, 296, 209, 17}, "Safe (Write, Verify, Rewrite diff. blocks)"},
      {"RadioButton3", "Form1", {48, 320, 209, 17}, "Different blocks (Verify before Writing)"},
      {"ProgressBar1", "Form1", {24, 400, 505, 17}, nullptr},
      {"Button1", "Form1", {104, 360, 57, 33}, "Abort"},
      {"Label4", "Form1", {528, 400, 33, 17}, " "},
      {"RadioGroup2", "GroupBox1", {320, 16, 105, 57}, "Status of deco"},
      {"RadioButton4", "GroupBox1", {328, 32, 89, 17}, "Standby --:--"},
      {"RadioButton5", "GroupBox1", {328, 48, 89, 17}, "Service -SE-"},
  };
  for (const Row& row : rows) {
    auto* control = form->findChild<QWidget*>(row.name);
    ASSERT_NE(control, nullptr) << row.name;
    EXPECT_EQ(control->parentWidget()->objectName(), row.parent) << row.name;
    EXPECT_EQ(control->geometry(), row.geometry) << row.name;
    if (!row.caption) continue;
    QString caption;
    if (auto* b = qobject_cast<QAbstractButton*>(control)) caption = b->text();
    if (auto* g = qobject_cast<QGroupBox*>(control)) caption = g->title();
    if (auto* l = qobject_cast<QLabel*>(control)) caption = l->text();
    if (auto* e = qobject_cast<QLineEdit*>(control)) caption = e->text();
    EXPECT_EQ(caption, row.caption) << row.name;
  }
  EXPECT_EQ(form->CheckBox2->toolTip(), "Don't forget to write Eeprom !");
  EXPECT_EQ(form->Edit2->toolTip(), "Double click to select file");
  EXPECT_EQ(form->RadioButton3->toolTip(), "May be faster");
  EXPECT_EQ(form->Button5->toolTip(), "Read data from deco and save to files");
  EXPECT_EQ(form->Edit1->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(form->Button1->cursor().shape(), Qt::WaitCursor);
  EXPECT_TRUE(form->Button1->isHidden());
  EXPECT_TRUE(form->RadioButton1->isChecked());
  EXPECT_TRUE(form->RadioButton4->isChecked());
  // Start-up chose the last speed in the list as shown.
  EXPECT_EQ(form->ComboBox2->currentText(), "115200");
  EXPECT_EQ(form->Memo1->toPlainText(),
            "***      Close all other active applications       ***\n"
            "***      Deco must be standby or -SE-            ***\n"
            "***   [Connect] before [READ] or [WRITE]    ***");
  EXPECT_EQ(form->Memo1->palette().color(QPalette::Text), QColor(Qt::red));
  EXPECT_EQ(form->GroupBox1->nextInFocusChain()->objectName(), "ComboBox1");
}

TEST_F(WindowTest, RadioButtonsExcludeEachOtherUnderTheMouse) {
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  QRadioButton* methods[] = {form->RadioButton1, form->RadioButton2, form->RadioButton3};
  QRadioButton* status[] = {form->RadioButton4, form->RadioButton5};
  auto checked = [](auto& group) {
    std::vector<QRadioButton*> on;
    for (QRadioButton* button : group)
      if (button->isChecked()) on.push_back(button);
    return on;
  };
  auto click = [](QRadioButton* button) {
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
  };
  // Every order, each button clicked twice in a row: the clicked one alone is ticked in its
  // own group, and the other group keeps its one.
  for (QRadioButton* button : {status[1], status[1], status[0], status[0]}) {
    click(button);
    EXPECT_EQ(checked(status), std::vector<QRadioButton*>{button});
    EXPECT_EQ(checked(methods).size(), 1u);
  }
  Connect();
  int order[] = {0, 1, 2};
  do {
    for (int index : order) {
      for (int twice = 0; twice < 2; ++twice) {
        click(methods[index]);
        ASSERT_EQ(checked(methods), std::vector<QRadioButton*>{methods[index]})
            << methods[index]->objectName().toStdString();
        EXPECT_EQ(checked(status), std::vector<QRadioButton*>{status[0]});
      }
      form->Button6->click();  // no box ticked: the method is taken, then the job refused
      const transfer::WriteMethod chosen = form->Form().ChosenWriteMethod();
      EXPECT_EQ(chosen == transfer::WriteMethod::Safe, index == 1);
      EXPECT_EQ(chosen == transfer::WriteMethod::DifferentBlocks, index == 2);
    }
  } while (std::next_permutation(std::begin(order), std::end(order)));
}

TEST_F(WindowTest, ConnectAndDisconnect) {
  ShowForm();
  const QImage idle = form->ComboBox1->grab().toImage();
  EXPECT_EQ(LimeShare(form->ComboBox1), 0.0);
  Click(form->Button4);
  ASSERT_TRUE(form->Form().Connected()) << LastMemoLine().toStdString();
  EXPECT_EQ(form->Button4->text(), "Disconnect");
  EXPECT_FALSE(form->ComboBox1->isEnabled());
  EXPECT_FALSE(form->ComboBox2->isEnabled());
  EXPECT_FALSE(form->RadioButton4->isEnabled());
  // Lime green as drawn, although disabled: most of the port list's face.
  EXPECT_GT(LimeShare(form->ComboBox1), 0.5);
  auto lines = MemoLines();
  EXPECT_EQ(lines[3], "Display of deco must show -SE-");
  EXPECT_EQ(lines.back(), "OK");
  EXPECT_EQ(lines[lines.size() - 2], "Initializing deco ...");
  Click(form->Button4);
  EXPECT_FALSE(form->Form().Connected());
  EXPECT_FALSE(form->Form().Link().IsOpen());
  EXPECT_EQ(form->Button4->text(), "Connect");
  EXPECT_TRUE(form->ComboBox1->isEnabled());
  EXPECT_EQ(form->ComboBox1->grab().toImage(), idle);  // its own colours again
  EXPECT_EQ(LastMemoLine(), "==============================");
  EXPECT_FALSE(deco.Model().InService());
  EXPECT_TRUE(dialogs.asked.empty());
}

// Connect and Disconnect hold the window's thread for seconds. A click or key meant for the old
// caption, queued meanwhile or delivered while a log line is shown, must not run against the
// new one once the exchange is over.
TEST_F(ServiceWindowTest, InputWhileConnectOrDisconnectHoldsTheWindowIsDropped) {
  ShowForm();
  enum class Arrives { Queued, During };
  struct Row {
    const char* name;
    bool connecting;
    Arrives arrives;
    bool key;
    QPushButton* target;
  } rows[] = {
      {"a click queued during the connect", true, Arrives::Queued, false, form->Button4},
      {"a space bar press queued during the connect", true, Arrives::Queued, true, form->Button4},
      {"a click queued during the disconnect", false, Arrives::Queued, false, form->Button4},
      {"a click delivered during the connect", true, Arrives::During, false, form->Button4},
      // READ is shown and enabled meanwhile, and the window counts as connected.
      {"a click on READ delivered during the connect", true, Arrives::During, false, form->Button5},
      {"a click on READ queued during the connect", true, Arrives::Queued, false, form->Button5},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (form->Form().Connected() == row.connecting) Click(form->Button4);
    ASSERT_NE(form->Form().Connected(), row.connecting);
    if (!form->Form().Connected())
      (deco.Model().InService() ? form->RadioButton5 : form->RadioButton4)->setChecked(true);
    const QString shownMeanwhile = row.connecting ? "Initializing deco ..." : "Exit -SE-";
    bool injected = false;
    bool delivered = false;
    auto press = [&] {
      if (row.key) {
        QTest::keyClick(row.target, Qt::Key_Space);
      } else {
        Click(row.target);
      }
      delivered = true;
    };
    QMetaObject::Connection hook =
        QObject::connect(form->Memo1, &QPlainTextEdit::textChanged, form.get(), [&] {
          if (injected || form->Memo1->document()->lastBlock().text() != shownMeanwhile) return;
          injected = true;
          if (row.arrives == Arrives::During) {
            press();
          } else {
            QTimer::singleShot(0, form.get(), press);
          }
        });
    const size_t before = MemoLines().size();
    dialogs.asked.clear();
    Click(form->Button4);
    QCoreApplication::processEvents();  // what was queued comes now at the latest
    QObject::disconnect(hook);
    ASSERT_TRUE(injected);
    ASSERT_TRUE(delivered);
    EXPECT_EQ(form->Form().Connected(), row.connecting);
    EXPECT_EQ(form->Button4->text().toStdString(), row.connecting ? "Disconnect" : "Connect");
    EXPECT_EQ(deco.Model().InService(), row.connecting);
    std::vector<std::string> lines = MemoLinesFrom(before);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), row.connecting ? "OK" : "==============================");
    const char* opposite = row.connecting ? "Exit -SE-" : "Display of deco must show -SE-";
    EXPECT_EQ(std::count(lines.begin(), lines.end(), opposite), 0);
    EXPECT_TRUE(dialogs.asked.empty()) << dialogs.asked.front().text;
    EXPECT_EQ(form->Form().Worker(), nullptr);
  }
}

TEST_F(ServiceWindowTest, ReadByClick) {
  ShowForm();
  Connect();
  Tick(form->CheckBox1, form->Edit1, "Fw.bin");
  Tick(form->CheckBox3, form->Edit3, "Ch.bin");
  WriteFile(dir.File("Fw.bin"), "old");
  Click(form->Button5);
  EXPECT_EQ(dialogs.AskedTexts(),
            std::vector<std::string>{"Do you really want to overwrite   Fw.bin ?"});
  EXPECT_FALSE(form->Button1->isHidden());
  EXPECT_TRUE(form->Button5->isHidden());
  EXPECT_FALSE(form->Button4->isEnabled());
  ASSERT_TRUE(WaitForJobEnd());
  EXPECT_EQ(ReadFile(dir.File("Fw.bin")), AsText(deco.Model().Flash()));
  EXPECT_EQ(ReadFile(dir.File("Ch.bin")), AsText(deco.Model().Flash()).substr(0, 524288));
  EXPECT_EQ(LastMemoLine(), "CHANNEL is extracted from FIRMWARE. OK!");
  EXPECT_EQ(form->ProgressBar1->value(), 100);
  EXPECT_EQ(form->Label4->text(), "100%");
  // Job ended while connected: lists enabled again, port list still lime, "Disconnect".
  EXPECT_TRUE(form->ComboBox1->isEnabled());
  EXPECT_GT(LimeShare(form->ComboBox1), 0.5);
  EXPECT_EQ(form->Button4->text(), "Disconnect");
  EXPECT_TRUE(form->Button1->isHidden());
}

// The bar's colour as the view shows each phase's 0x00BBGGRR value; READ, WRITE, Abort and the
// write method by the mouse.
TEST_F(ServiceWindowTest, BarColourOfEachPhase) {
  ShowForm();
  std::vector<std::string> phases;  // each phase's first line and the colour the bar shows
  QObject::connect(form->Memo1, &QPlainTextEdit::textChanged, form.get(), [&] {
    QString line = form->Memo1->document()->lastBlock().text();
    if (form->Form().Connected() && line.endsWith(" ..."))
      phases.push_back(
          (line + " " + form->ProgressBar1->palette().color(QPalette::Highlight).name())
              .toStdString());
  });
  Connect();
  phases.clear();
  Tick(form->CheckBox3, form->Edit3, "Ch.bin");
  Click(form->Button5);  // READ
  ASSERT_TRUE(WaitForJobEnd());
  Click(form->Button6);  // WRITE, Normal: stopped once its first pass has begun
  ASSERT_TRUE(QTest::qWaitFor([&] { return phases.size() == 2; }, JobTimeoutMs));
  Click(form->Button1);
  EXPECT_EQ(dialogs.asked.back().text, "Thread Aborted");
  EXPECT_FALSE(form->Button5->isHidden());
  std::string image = ReadFile(dir.File("Ch.bin"));
  image[0x100] = static_cast<char>(image[0x100] ^ 1);  // sector 0: erase only, quickly done
  WriteFile(dir.File("Ch.bin"), image);
  // Different blocks: read back, then write what differs.
  QTest::mouseClick(form->RadioButton3, Qt::LeftButton, {},
                    QPoint(6, form->RadioButton3->height() / 2));
  Click(form->Button6);
  ASSERT_TRUE(WaitForJobEnd());
  EXPECT_EQ(phases,
            (std::vector<std::string>{"Read CHANNEL ... #0000ff",          // read job: blue
                                      "Write Ch.bin to deco ... #ff0000",  // first write pass: red
                                      "Read CHANNEL ... #008080",          // read-back: teal
                                      "Write Ch.bin to deco ... #ff00ff"}));  // rewrite: magenta
}

TEST_F(WindowTest, MessageBoxesShowTheirIconTitleAndButtons) {
  window::QtDialogs real(form.get());
  struct Row {
    std::function<void()> show;
    QMessageBox::Icon icon;
    QString title;
    QMessageBox::StandardButtons buttons;
  } rows[] = {
      {[&] { real.Message("Thread Aborted"); }, QMessageBox::NoIcon,
       QApplication::applicationDisplayName(), QMessageBox::Ok},
      {[&] { real.Confirm("Patch deco is risky.  Continue?"); }, QMessageBox::Question, "Confirm",
       QMessageBox::Yes | QMessageBox::No},
      {[&] { real.Warning("Quit anyway ?"); }, QMessageBox::Warning, "Warning",
       QMessageBox::Yes | QMessageBox::No},
  };
  for (const Row& row : rows) {
    std::optional<QMessageBox::Icon> icon;
    QString title;
    QMessageBox::StandardButtons buttons;
    std::function<void()> answer = [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return QTimer::singleShot(10, answer);
      icon = box->icon();
      title = box->windowTitle();
      buttons = box->standardButtons();
      box->reject();
    };
    QTimer::singleShot(0, answer);
    row.show();
    ASSERT_TRUE(icon.has_value());
    EXPECT_EQ(*icon, row.icon);
    EXPECT_EQ(title, row.title);
    EXPECT_EQ(buttons, row.buttons);
  }
}

TEST_F(QuickTimeOutTest, AJobEndedByAnErrorIsToldWithoutAClickAndAbortReturnsToIdle) {
  ShowForm();
  Connect();
  Tick(form->CheckBox2, form->Edit2, "E.bin");
  sim::Faults faults;
  faults.DropReplyAt = deco.Model().CommandCount() + 3;  // the third EEPROM block
  deco.Model().SetFaults(faults);
  Click(form->Button5);
  // The view's timer lets the behaviour notice the end; no message comes from the worker.
  ASSERT_TRUE(QTest::qWaitFor([&] { return LastMemoLine() == "Press [Abort] to return to idle."; },
                              JobTimeoutMs))
      << form->Memo1->toPlainText().toStdString();
  EXPECT_FALSE(form->Button1->isHidden());
  Click(form->Button1);
  ASSERT_FALSE(dialogs.asked.empty());
  EXPECT_EQ(dialogs.asked.back().text, "Thread Aborted");
  EXPECT_EQ(form->Form().Worker(), nullptr);
  EXPECT_FALSE(form->Button5->isHidden());
  EXPECT_TRUE(form->Button1->isHidden());
}

// Closing the window asks the behaviour; a No keeps the window open, and closing during a job
// waits for the worker's end while the window serves it.
TEST_F(ServiceWindowTest, TheCloseQuestion) {
  ShowForm();
  Connect();
  dialogs.answers = {false};
  EXPECT_FALSE(form->close());
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(dialogs.asked, (std::vector<testing_support::FakeDialogs::Asked>{
                               {"Warning",
                                "Serial port is not disconnected.\r\nDeco is still in Service "
                                "mode.\r\nQuit anyway ?"}}));

  Tick(form->CheckBox1, form->Edit1, "Fw.bin");
  Click(form->Button5);
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->ProgressBar1->value() >= 5; }, JobTimeoutMs));
  dialogs.asked.clear();
  dialogs.answers = {true, true};
  EXPECT_TRUE(form->close());
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(dialogs.asked.size(), 2u);
  EXPECT_EQ(form->Form().Worker(), nullptr);
}

TEST_F(WindowTest, DoubleClickOnAFileFieldOpensItsPicker) {
  ShowForm();
  dialogs.chosenFile = "/data/dumps/E1.bin";
  QTest::mouseDClick(form->Edit2, Qt::LeftButton);
  EXPECT_EQ(dialogs.fileTitle, "Open EEPROM File (2KB)");
  EXPECT_EQ(form->Edit2->text(), "/data/dumps/E1.bin");
  // The classic filter as the Qt file dialog takes it.
  EXPECT_EQ(window::QtFilterFromClassic(dialogs.fileFilter.c_str()),
            "Binary files (*.bin) (*.bin *.BIN)");
  EXPECT_EQ(window::QtFilterFromClassic("A|*.a;|B|*.b;*.c"), "A (*.a);;B (*.b *.c)");
}

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
