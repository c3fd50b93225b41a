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

using testing_support::AsText;
using testing_support::QuickTimeOuts;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;
using window::Control;
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
  std::unique_ptr<QtMainWindow> form;
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

}  // namespace

// Each control of the layout table as the Qt view built it: its parent, place and size,
// caption, hint, items, cursor and state. The window's own start-up follows.
TEST_F(WindowTest, EachControlStandsAsTheLayoutTableGivesIt) {
  using window::ControlKind;
  for (const window::ControlLayout& row : window::MainWindowLayout()) {
    SCOPED_TRACE(row.Name);
    auto* control = form->findChild<QWidget*>(row.Name);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->parentWidget()->objectName().toStdString(),
              row.Parent.empty() ? window::FormName : row.Parent);
    const QRect box(row.Box.Left, row.Box.Top, row.Box.Width, row.Box.Height);
    if (row.Kind == ControlKind::Label) {  // grown to its caption
      EXPECT_EQ(control->pos(), box.topLeft());
      EXPECT_EQ(control->height(), box.height());
      EXPECT_GE(control->width(), box.width());
    } else {
      EXPECT_EQ(control->geometry(), box);
    }
    QString caption;
    if (auto* b = qobject_cast<QAbstractButton*>(control)) caption = b->text();
    if (auto* g = qobject_cast<QGroupBox*>(control)) caption = g->title();
    if (auto* l = qobject_cast<QLabel*>(control)) caption = l->text();
    if (auto* e = qobject_cast<QLineEdit*>(control)) caption = e->text();
    EXPECT_EQ(caption.toStdString(), row.Caption);
    EXPECT_EQ(control->toolTip().toStdString(), row.Hint);
    EXPECT_EQ(control->isHidden(), !row.Visible);
    if (auto* button = qobject_cast<QAbstractButton*>(control)) {
      EXPECT_EQ(button->isChecked(), row.Checked);
    }
    if (auto* label = qobject_cast<QLabel*>(control)) {
      EXPECT_EQ(label->alignment() == Qt::AlignCenter, row.Centred);
    }
    const std::map<window::Pointer, Qt::CursorShape> shapes = {
        {window::Pointer::Arrow, Qt::ArrowCursor},
        {window::Pointer::Hand, Qt::PointingHandCursor},
        {window::Pointer::Wait, Qt::WaitCursor}};
    EXPECT_EQ(control->cursor().shape(), shapes.at(row.Cursor));
    // Start-up lists the system's ports instead of the port list's items.
    std::vector<std::string> items;
    if (auto* list = qobject_cast<QComboBox*>(control); list && row.Named != Control::ComboBox1)
      for (int i = 0; i < list->count(); ++i) items.push_back(list->itemText(i).toStdString());
    if (auto* memo = qobject_cast<QPlainTextEdit*>(control))
      for (const QString& line : memo->toPlainText().split('\n'))
        items.push_back(line.toStdString());
    if (row.Named != Control::ComboBox1) {
      EXPECT_EQ(items, row.Items);
    }
  }
  EXPECT_EQ(form->windowTitle(), "Pyrelink 607X  v1.0.0");
  // Start-up chose the last speed in the list as shown.
  EXPECT_EQ(List("ComboBox2")->currentText(), "115200");
  EXPECT_EQ(Memo()->toPlainText(),
            "***      Close all other active applications       ***\n"
            "***      Deco must be standby or -SE-            ***\n"
            "***   [Connect] before [READ] or [WRITE]    ***");
  EXPECT_EQ(Memo()->palette().color(QPalette::Text), QColor(Qt::red));
  EXPECT_EQ(Named("GroupBox1")->nextInFocusChain()->objectName(), "ComboBox1");
}

// A click, a space bar press or a double click on a control reaches the window's behaviour.
TEST_F(WindowTest, InputOnEachControlReachesTheBehaviour) {
  ShowForm();
  Button("Button1")->show();  // Abort, which a job shows
  auto click = [](QWidget* control) { QTest::mouseClick(control, Qt::LeftButton); };
  auto space = [](QWidget* control) { QTest::keyClick(control, Qt::Key_Space); };
  auto doubleClick = [](QWidget* control) { QTest::mouseDClick(control, Qt::LeftButton); };
  struct Row {
    const char* control;
    std::function<void(QWidget*)> input;
    const char* opened;
  } rows[] = {
      {"Button5", click, "Message Please [Connect] before READING"},
      {"Button5", space, "Message Please [Connect] before READING"},
      {"Button6", click, "Message Please [Connect] before WRITING"},
      {"Button6", space, "Message Please [Connect] before WRITING"},
      {"Button1", click,
       "Confirm READ is still active.\r\nExtracted file will be incomplete.\r\nAre you sure to "
       "quit?"},
      {"Edit1", doubleClick, "OpenFile Open FIRMWARE File (2MB)"},
      {"Edit2", doubleClick, "OpenFile Open EEPROM File (2KB)"},
      {"Edit3", doubleClick, "OpenFile Open CHANNEL File (512KB)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.control);
    dialogs.asked.clear();
    dialogs.fileTitle.clear();
    row.input(Named(row.control));
    std::vector<std::string> opened;
    for (const auto& box : dialogs.asked) opened.push_back(box.kind + " " + box.text);
    if (!dialogs.fileTitle.empty()) opened.push_back("OpenFile " + dialogs.fileTitle);
    EXPECT_EQ(opened, std::vector<std::string>{row.opened});
  }
  EXPECT_FALSE(form->Form().Connected());
  Click(Button("Button4"));
  EXPECT_TRUE(form->Form().Connected());
}

TEST_F(WindowTest, RadioButtonsExcludeEachOtherUnderTheMouse) {
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  QRadioButton* methods[] = {Radio("RadioButton1"), Radio("RadioButton2"), Radio("RadioButton3")};
  QRadioButton* status[] = {Radio("RadioButton4"), Radio("RadioButton5")};
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
      Button("Button6")->click();  // no box ticked: the method is taken, then the job refused
      const transfer::WriteMethod chosen = form->Form().ChosenWriteMethod();
      EXPECT_EQ(chosen == transfer::WriteMethod::Safe, index == 1);
      EXPECT_EQ(chosen == transfer::WriteMethod::DifferentBlocks, index == 2);
    }
  } while (std::next_permutation(std::begin(order), std::end(order)));
}

TEST_F(WindowTest, ConnectAndDisconnect) {
  ShowForm();
  const QImage idle = List("ComboBox1")->grab().toImage();
  EXPECT_EQ(LimeShare(List("ComboBox1")), 0.0);
  Click(Button("Button4"));
  ASSERT_TRUE(form->Form().Connected()) << LastMemoLine().toStdString();
  EXPECT_EQ(Button("Button4")->text(), "Disconnect");
  EXPECT_FALSE(List("ComboBox1")->isEnabled());
  EXPECT_FALSE(List("ComboBox2")->isEnabled());
  EXPECT_FALSE(Radio("RadioButton4")->isEnabled());
  // Lime green as drawn, although disabled: most of the port list's face.
  EXPECT_GT(LimeShare(List("ComboBox1")), 0.5);
  auto lines = MemoLines();
  EXPECT_EQ(lines[3], "Display of deco must show -SE-");
  EXPECT_EQ(lines.back(), "OK");
  EXPECT_EQ(lines[lines.size() - 2], "Initializing deco ...");
  Click(Button("Button4"));
  EXPECT_FALSE(form->Form().Connected());
  EXPECT_FALSE(form->Form().Link().IsOpen());
  EXPECT_EQ(Button("Button4")->text(), "Connect");
  EXPECT_TRUE(List("ComboBox1")->isEnabled());
  EXPECT_EQ(List("ComboBox1")->grab().toImage(), idle);  // its own colours again
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
      {"a click queued during the connect", true, Arrives::Queued, false, Button("Button4")},
      {"a space bar press queued during the connect", true, Arrives::Queued, true,
       Button("Button4")},
      {"a click queued during the disconnect", false, Arrives::Queued, false, Button("Button4")},
      {"a click delivered during the connect", true, Arrives::During, false, Button("Button4")},
      // READ is shown and enabled meanwhile, and the window counts as connected.
      {"a click on READ delivered during the connect", true, Arrives::During, false,
       Button("Button5")},
      {"a click on READ queued during the connect", true, Arrives::Queued, false,
       Button("Button5")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (form->Form().Connected() == row.connecting) Click(Button("Button4"));
    ASSERT_NE(form->Form().Connected(), row.connecting);
    if (!form->Form().Connected())
      (deco.Model().InService() ? Radio("RadioButton5") : Radio("RadioButton4"))->setChecked(true);
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
        QObject::connect(Memo(), &QPlainTextEdit::textChanged, form.get(), [&] {
          if (injected || Memo()->document()->lastBlock().text() != shownMeanwhile) return;
          injected = true;
          if (row.arrives == Arrives::During) {
            press();
          } else {
            QTimer::singleShot(0, form.get(), press);
          }
        });
    const size_t before = MemoLines().size();
    dialogs.asked.clear();
    Click(Button("Button4"));
    QCoreApplication::processEvents();  // what was queued comes now at the latest
    QObject::disconnect(hook);
    ASSERT_TRUE(injected);
    ASSERT_TRUE(delivered);
    EXPECT_EQ(form->Form().Connected(), row.connecting);
    EXPECT_EQ(Button("Button4")->text().toStdString(), row.connecting ? "Disconnect" : "Connect");
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
  Tick(Box("CheckBox1"), Field("Edit1"), "Fw.bin");
  Tick(Box("CheckBox3"), Field("Edit3"), "Ch.bin");
  WriteFile(dir.File("Fw.bin"), "old");
  Click(Button("Button5"));
  EXPECT_EQ(dialogs.AskedTexts(),
            std::vector<std::string>{"Do you really want to overwrite   Fw.bin ?"});
  EXPECT_FALSE(Button("Button1")->isHidden());
  EXPECT_TRUE(Button("Button5")->isHidden());
  EXPECT_FALSE(Button("Button4")->isEnabled());
  ASSERT_TRUE(WaitForJobEnd());
  EXPECT_EQ(ReadFile(dir.File("Fw.bin")), AsText(deco.Model().Flash()));
  EXPECT_EQ(ReadFile(dir.File("Ch.bin")), AsText(deco.Model().Flash()).substr(0, 524288));
  EXPECT_EQ(LastMemoLine(), "CHANNEL is extracted from FIRMWARE. OK!");
  EXPECT_EQ(Bar()->value(), 100);
  EXPECT_EQ(Named<QLabel>("Label4")->text(), "100%");
  // Job ended while connected: lists enabled again, port list still lime, "Disconnect".
  EXPECT_TRUE(List("ComboBox1")->isEnabled());
  EXPECT_GT(LimeShare(List("ComboBox1")), 0.5);
  EXPECT_EQ(Button("Button4")->text(), "Disconnect");
  EXPECT_TRUE(Button("Button1")->isHidden());
}

// The bar's colour as the view shows each phase's 0x00BBGGRR value; READ, WRITE, Abort and the
// write method by the mouse.
TEST_F(ServiceWindowTest, BarColourOfEachPhase) {
  ShowForm();
  std::vector<std::string> phases;  // each phase's first line and the colour the bar shows
  QObject::connect(Memo(), &QPlainTextEdit::textChanged, form.get(), [&] {
    QString line = Memo()->document()->lastBlock().text();
    // The backup's own line is no phase: its read is.
    if (form->Form().Connected() && line.endsWith(" ...") && !line.startsWith("Backup into"))
      phases.push_back(
          (line + " " + Bar()->palette().color(QPalette::Highlight).name()).toStdString());
  });
  std::vector<QString> captions;  // the window's captions during the jobs
  QObject::connect(form.get(), &QWidget::windowTitleChanged, form.get(),
                   [&](const QString& caption) { captions.push_back(caption); });
  std::vector<int> checkBar;  // the bar's values once the final check has begun
  QObject::connect(Bar(), &QProgressBar::valueChanged, form.get(), [&](int value) {
    if (!phases.empty() && phases.back().rfind("Final check ...", 0) == 0) checkBar.push_back(value);
  });
  Connect();
  phases.clear();
  Tick(Box("CheckBox3"), Field("Edit3"), "Ch.bin");
  Click(Button("Button5"));  // READ
  ASSERT_TRUE(WaitForJobEnd());
  Click(Button("Button6"));  // WRITE, Normal: its backup, stopped once its first pass has begun
  ASSERT_TRUE(QTest::qWaitFor([&] { return phases.size() == 3; }, JobTimeoutMs));
  Click(Button("Button1"));
  EXPECT_EQ(dialogs.asked.back().text, "Thread Aborted");
  EXPECT_FALSE(Button("Button5")->isHidden());
  std::string image = ReadFile(dir.File("Ch.bin"));
  image[0x100] = static_cast<char>(image[0x100] ^ 1);  // sector 0: erase only, quickly done
  WriteFile(dir.File("Ch.bin"), image);
  // Different blocks: read back, then write what differs.
  QTest::mouseClick(Radio("RadioButton3"), Qt::LeftButton, {},
                    QPoint(6, Radio("RadioButton3")->height() / 2));
  Click(Button("Button6"));
  ASSERT_TRUE(WaitForJobEnd());
  EXPECT_EQ(phases,
            (std::vector<std::string>{"Read CHANNEL ... #0000ff",          // read job: blue
                                      "Read CHANNEL ... #008080",          // backup: teal
                                      "Write Ch.bin to deco ... #ff0000",  // first write pass: red
                                      "Read CHANNEL ... #008080",          // read-back: teal
                                      "Write Ch.bin to deco ... #ff00ff",  // rewrite: magenta
                                      "Final check ... #008080"}));        // final check: teal
  // The final check moves the bar from the start again, up to its own 100.
  ASSERT_FALSE(checkBar.empty());
  EXPECT_LT(checkBar.front(), 10);
  EXPECT_TRUE(std::is_sorted(checkBar.begin(), checkBar.end()));
  EXPECT_EQ(checkBar.back(), 100);
  // The time left is in the caption while a job runs, and goes with it.
  ASSERT_FALSE(captions.empty());
  EXPECT_TRUE(std::any_of(captions.begin(), captions.end(), [](const QString& caption) {
    return QRegularExpression("^Pyrelink 607X  v1\\.0\\.0 - \\d+:\\d\\d left$").match(caption).hasMatch();
  })) << captions.front().toStdString();
  EXPECT_EQ(form->windowTitle(), "Pyrelink 607X  v1.0.0");
}

TEST_F(WindowTest, MessageBoxesShowTheirIconTitleAndButtons) {
  window::QtDialogs real(form.get());
  struct Row {
    std::function<void()> show;
    QMessageBox::Icon icon;
    QString title;
    QMessageBox::StandardButtons buttons;
    // What Enter presses, where a box has a choice.
    QMessageBox::StandardButton byDefault = QMessageBox::NoButton;
  } rows[] = {
      {[&] { real.Message("Thread Aborted"); }, QMessageBox::NoIcon,
       QApplication::applicationDisplayName(), QMessageBox::Ok},
      {[&] { real.Confirm("Patch deco is risky.  Continue?"); }, QMessageBox::Question, "Confirm",
       QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes},
      {[&] { real.Warning("Quit anyway ?"); }, QMessageBox::Warning, "Warning",
       QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes},
      // Sending a half-written deco to standby is never what Enter does.
      {[&] { real.RiskWarning("Send the deco to standby anyway?"); }, QMessageBox::Warning,
       "Warning", QMessageBox::Yes | QMessageBox::No, QMessageBox::No},
  };
  for (const Row& row : rows) {
    std::optional<QMessageBox::Icon> icon;
    QString title;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton byDefault = QMessageBox::NoButton;
    std::function<void()> answer = [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return QTimer::singleShot(10, answer);
      icon = box->icon();
      title = box->windowTitle();
      buttons = box->standardButtons();
      byDefault = box->standardButton(box->defaultButton());
      box->reject();
    };
    QTimer::singleShot(0, answer);
    row.show();
    ASSERT_TRUE(icon.has_value());
    EXPECT_EQ(*icon, row.icon);
    EXPECT_EQ(title, row.title);
    EXPECT_EQ(buttons, row.buttons);
    if (row.byDefault != QMessageBox::NoButton) {
      EXPECT_EQ(byDefault, row.byDefault);
    }
  }
}

// A deco that restarts mid-READ (a power glitch) answers nothing more: once the window has asked
// it again, the connection ends without a word to it, and idle shows Connect.
TEST_F(QuickTimeOutTest, AJobEndedByAnErrorIsToldWithoutAClickAndAbortReturnsToIdle) {
  ShowForm();
  Connect();
  Tick(Box("CheckBox2"), Field("Edit2"), "E.bin");
  sim::Faults faults;
  faults.RestartAt = deco.Model().CommandCount() + 3;  // the third EEPROM block
  deco.Model().SetFaults(faults);
  const int commandsBefore = deco.Model().CommandCount();
  Click(Button("Button5"));
  // The view's timer lets the behaviour notice the end; no message comes from the worker.
  ASSERT_TRUE(QTest::qWaitFor([&] { return LastMemoLine() == "Press [Abort] to return to idle."; },
                              JobTimeoutMs))
      << Memo()->toPlainText().toStdString();
  EXPECT_FALSE(Button("Button1")->isHidden());
  Click(Button("Button1"));
  ASSERT_FALSE(dialogs.asked.empty());
  EXPECT_EQ(dialogs.asked.back().text, "Thread Aborted");
  EXPECT_EQ(form->Form().Worker(), nullptr);
  EXPECT_FALSE(Button("Button5")->isHidden());
  EXPECT_TRUE(Button("Button1")->isHidden());
  EXPECT_EQ(Button("Button4")->text(), "Connect");
  EXPECT_TRUE(Radio("RadioButton4")->isEnabled());
  EXPECT_FALSE(form->Form().Link().IsOpen());
  const std::vector<std::string> heard = deco.Model().CommandLog();
  EXPECT_EQ(std::count(heard.begin() + commandsBefore, heard.end(), "100"), 0);
}

// A close that comes while Connect or Disconnect holds input (the window manager's close button)
// is asked about once they end, and its question takes the answer: the window never closes
// unasked with the deco in service mode, and never waits on a box that takes no input.
TEST_F(ServiceWindowTest, ACloseDuringConnectOrDisconnectIsAskedWhenItEnds) {
  ShowForm();
  const char* const portQuestion =
      "Serial port is not disconnected.\r\nDeco is still in Service mode.\r\nQuit anyway ?";
  struct Row {
    const char* name;
    bool connecting;
    bool answer;         // to the port question
    bool asked;          // the port question comes
    bool closes;
  } rows[] = {
      {"during the connect, kept open", true, false, true, false},
      {"during the disconnect, no question", false, false, false, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (form->Form().Connected() == row.connecting) Click(Button("Button4"));
    const QString shownMeanwhile = row.connecting ? "Initializing deco ..." : "Exit -SE-";
    bool closedMeanwhile = false;
    bool refusedMeanwhile = false;
    QMetaObject::Connection hook =
        QObject::connect(Memo(), &QPlainTextEdit::textChanged, form.get(), [&] {
          if (closedMeanwhile || Memo()->document()->lastBlock().text() != shownMeanwhile) return;
          closedMeanwhile = true;
          refusedMeanwhile = !form->close();
        });
    dialogs.asked.clear();
    dialogs.answers = {row.answer};
    Click(Button("Button4"));
    QObject::disconnect(hook);
    ASSERT_TRUE(closedMeanwhile);
    EXPECT_TRUE(refusedMeanwhile) << "the window closed while the step held it";
    EXPECT_TRUE(dialogs.asked.empty()) << "a box while input is held takes no answer";
    EXPECT_EQ(form->Form().Connected(), row.connecting);
    QTest::qWait(50);  // the close that was put off comes now
    const bool asked = !dialogs.asked.empty() && dialogs.asked.back().text == portQuestion;
    EXPECT_EQ(asked, row.asked);
    EXPECT_EQ(form->isVisible(), !row.closes);
    if (row.closes) ShowForm();
  }
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

  Tick(Box("CheckBox1"), Field("Edit1"), "Fw.bin");
  Click(Button("Button5"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Bar()->value() >= 5; }, JobTimeoutMs));
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
  QTest::mouseDClick(Field("Edit2"), Qt::LeftButton);
  EXPECT_EQ(dialogs.fileTitle, "Open EEPROM File (2KB)");
  EXPECT_EQ(Field("Edit2")->text(), "/data/dumps/E1.bin");
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
