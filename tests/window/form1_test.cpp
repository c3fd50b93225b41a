// The main window, offscreen, with scripted dialogs, against the simulated deco on a pty.
#include "window/qt_main_window.h"
#include "window/qt_dialogs.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
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
#include <csignal>
#include <filesystem>
#include <deque>
#include <functional>
#include <optional>

#include "cli/capturing_host.h"
#include "cli/cli_job.h"
#include "protocol/clock.h"
#include "protocol/flash_map.h"
#include "protocol/image_files.h"
#include "serial/announced_ports.h"
#include "sim/pty_deco.h"
#include "support/sim_session.h"

using testing_support::AsText;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;
using window::QtMainWindow;

namespace {

constexpr int JobTimeoutMs = 60000;
// Reply time-outs a fifth of their length, as the fault matrix has them, for tests that wait
// them out.
constexpr unsigned QuickTimeOuts = 5;

struct ScriptedDialogs : window::Dialogs {
  std::deque<bool> answers;  // Yes when empty
  std::vector<std::string> texts;
  std::vector<std::string> kinds;
  std::optional<std::string> chosenFile;
  std::string fileTitle, fileFilter, fileLast;
  bool Answer() {
    bool answer = answers.empty() ? true : answers.front();
    if (!answers.empty()) answers.pop_front();
    return answer;
  }
  bool Confirm(const std::string& text) override {
    kinds.push_back("Confirm");
    texts.push_back(text);
    return Answer();
  }
  bool Warning(const std::string& text) override {
    kinds.push_back("Warning");
    texts.push_back(text);
    return Answer();
  }
  void Message(const std::string& text) override {
    kinds.push_back("Message");
    texts.push_back(text);
  }
  void WarningMessage(const std::string& text) override { Message(text); }
  void ErrorReport(const std::string& text) override {
    kinds.push_back("Error");
    texts.push_back(text);
  }
  std::optional<std::string> OpenFile(const std::string& title, const std::string& filter,
                                  const std::string& last) override {
    fileTitle = title;
    fileFilter = filter;
    fileLast = last;
    return chosenFile;
  }
};

// A lock nobody else holds: window tests must not see each other as a second copy.
struct FreeLock : instance::InstanceLock {
  bool held = false;
  bool ExistsOrTake(const std::string&) override { return !(held = true); }
  void Release() override { held = false; }
  bool Held() const override { return held; }
};

// Counts the MsgWorkerDone messages that reach a window.
struct WorkerDoneCounter : QObject {
  explicit WorkerDoneCounter(QObject* window) { window->installEventFilter(this); }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == window::MsgWorkerDone) ++count;
    return false;
  }
  int count = 0;
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
    previousClock = protocol::SetClock(&clock);
    folderBefore = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(dir.Path()));
    form = std::make_unique<QtMainWindow>(&dialogs, std::make_unique<FreeLock>());
    int index = form->ComboBox1->findText(QString::fromStdString(deco.SlavePath()));
    if (index < 0) form->ComboBox1->addItem(QString::fromStdString(deco.SlavePath()));
    form->ComboBox1->setCurrentText(QString::fromStdString(deco.SlavePath()));
  }
  ~WindowTest() override {
    dialogs.answers.clear();
    protocol::SerialLink().reset();
    form.reset();
    QDir::setCurrent(folderBefore);
    protocol::SetClock(previousClock);
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
    form->Button4->click();
    ASSERT_TRUE(form->Form().Connected()) << LastMemoLine().toStdString();
  }
  bool WaitForJobEnd() {
    return QTest::qWaitFor([&] { return form->Form().Worker() == nullptr && !form->Button5->isHidden(); },
                           JobTimeoutMs);
  }
  void Tick(QCheckBox* box, QLineEdit* edit, const std::string& name) {
    box->setChecked(true);
    edit->setText(QString::fromStdString(dir.File(name)));
  }

  sim::PtyDeco deco;
  protocol::FastClock clock;
  protocol::Clock* previousClock;
  TempDir dir;
  QString folderBefore;
  ScriptedDialogs dialogs;
  std::unique_ptr<QtMainWindow> form;
};

class ServiceWindowTest : public WindowTest {
 protected:
  ServiceWindowTest() : WindowTest(testing_support::InService()) {
    form->RadioButton5->setChecked(true);
  }
};

class SilentExitTest : public WindowTest {
 protected:
  static sim::Settings DropsTheExitReply() {
    sim::Settings settings = testing_support::InService();
    settings.Fault.DropReplyAt = 12;  // 11 lines to connect, then "100"
    return settings;
  }
  SilentExitTest() : WindowTest(DropsTheExitReply()) { form->RadioButton5->setChecked(true); }
};

// A deco in standby, and reply time-outs that cost little to wait out.
class QuickTimeOutTest : public WindowTest {
 protected:
  QuickTimeOutTest() : WindowTest(sim::Settings(), QuickTimeOuts) {}
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
  EXPECT_EQ(form->ComboBox2->currentText(), "115200");
  EXPECT_EQ(form->ComboBox1->currentText().toStdString(), deco.SlavePath());
  EXPECT_EQ(form->Memo1->toPlainText(),
            "***      Close all other active applications       ***\n"
            "***      Deco must be standby or -SE-            ***\n"
            "***   [Connect] before [READ] or [WRITE]    ***");
  EXPECT_EQ(form->Memo1->palette().color(QPalette::Text), QColor(Qt::red));
  EXPECT_EQ(protocol::SectorBase()[19], 0x80000000u);
  // The run's time stamp, as the command line builds it: a four-digit year, no zone word.
  std::string year = QString::number(QDate::currentDate().year()).toStdString();
  EXPECT_NE(transfer::FirmwareReadBackName().find(year), std::string::npos)
      << transfer::FirmwareReadBackName();
  EXPECT_EQ(transfer::FirmwareReadBackName().find("UTC"), std::string::npos);
  EXPECT_EQ(form->GroupBox1->nextInFocusChain()->objectName(), "ComboBox1");
  EXPECT_FALSE(form->Form().Connected());
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
      EXPECT_EQ(transfer::SafeMethod(), index == 1);
      EXPECT_EQ(transfer::DifferentBlocksMethod(), index == 2);
    }
  } while (std::next_permutation(std::begin(order), std::end(order)));
}

TEST_F(WindowTest, StatusLinesTheEmptyOneAddsNothing) {
  size_t before = MemoLines().size();
  protocol::PostStatus("");
  protocol::PostStatus("one line");
  EXPECT_EQ(MemoLines().size(), before + 1);
  EXPECT_EQ(LastMemoLine(), "one line");
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
  EXPECT_EQ(protocol::SerialLink(), nullptr);
  EXPECT_EQ(form->Button4->text(), "Connect");
  EXPECT_TRUE(form->ComboBox1->isEnabled());
  EXPECT_EQ(form->ComboBox1->grab().toImage(), idle);  // its own colours again
  EXPECT_EQ(LastMemoLine(), "==============================");
  EXPECT_FALSE(deco.Model().InService());
  EXPECT_TRUE(dialogs.texts.empty());
}

// Each failed connect: back to "Connect" with no message box, and one log line with the reason
// and what to check.
TEST_F(QuickTimeOutTest, FailedConnectsSayWhyAndReturnToIdleWithoutAMessage) {
  ShowForm();
  struct Row {
    const char* name;
    std::string port;
    QRadioButton* status;
    std::string reason;
  } rows[] = {
      {"a missing port", "/dev/pyrelink-missing", form->RadioButton4,
       "Communication error 2: No such file or directory"},
      {"a deco in standby, taken to show -SE-", deco.SlavePath(), form->RadioButton5,
       "Communication error 9997: Timeout during operation"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    QString port = QString::fromStdString(row.port);
    if (form->ComboBox1->findText(port) < 0) form->ComboBox1->addItem(port);
    form->ComboBox1->setCurrentText(port);
    Click(row.status);
    ASSERT_TRUE(row.status->isChecked());
    Click(form->Button4);
    EXPECT_FALSE(form->Form().Connected());
    EXPECT_EQ(protocol::SerialLink(), nullptr);
    EXPECT_EQ(form->Button4->text(), "Connect");
    EXPECT_TRUE(form->ComboBox1->isEnabled());
    EXPECT_EQ(LimeShare(form->ComboBox1), 0.0);
    EXPECT_TRUE(dialogs.texts.empty());
    EXPECT_EQ(LastMemoLine().toStdString(),
              "Connect failed: " + row.reason + ". Check the port " + row.port +
                  ", the Baud and the Status of deco (Standby --:-- or Service -SE-).");
    EXPECT_FALSE(deco.Model().InService());
  }
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
  } rows[] = {
      {"a click queued during the connect", true, Arrives::Queued, false},
      {"a space bar press queued during the connect", true, Arrives::Queued, true},
      {"a click queued during the disconnect", false, Arrives::Queued, false},
      {"a click delivered during the connect", true, Arrives::During, false},
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
        QTest::keyClick(form->Button4, Qt::Key_Space);
      } else {
        Click(form->Button4);
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
  }
}

TEST_F(ServiceWindowTest, ReadAllThreeWithQuestions) {
  ShowForm();
  form->RadioButton4->setChecked(true);
  form->RadioButton5->setChecked(true);
  form->Button5->click();
  EXPECT_EQ(dialogs.texts.back(), "Please [Connect] before READING");
  Connect();
  Tick(form->CheckBox1, form->Edit1, "Fw.bin");
  Tick(form->CheckBox2, form->Edit2, "E.bin");
  Tick(form->CheckBox3, form->Edit3, "Ch.bin");
  WriteFile(dir.File("Fw.bin"), "old");
  WriteFile(dir.File("E.bin"), "old");
  dialogs.answers = {true, false};
  form->Button5->click();
  ASSERT_EQ(dialogs.texts.size(), 4u);
  EXPECT_EQ(dialogs.texts[1], "Do you really want to overwrite   Fw.bin ?");
  EXPECT_EQ(dialogs.texts[2], "Do you really want to overwrite   E.bin ?");
  EXPECT_EQ(dialogs.texts[3], "READ ignored!");
  EXPECT_EQ(form->Form().Worker(), nullptr);

  form->Button5->click();
  EXPECT_FALSE(form->Button1->isHidden());
  EXPECT_TRUE(form->Button5->isHidden());
  EXPECT_FALSE(form->Button4->isEnabled());
  ASSERT_TRUE(WaitForJobEnd());
  EXPECT_EQ(ReadFile(dir.File("Fw.bin")), AsText(deco.Model().Flash()));
  EXPECT_EQ(ReadFile(dir.File("Ch.bin")), AsText(deco.Model().Flash()).substr(0, 524288));
  EXPECT_EQ(LastMemoLine(), "CHANNEL is extracted from FIRMWARE. OK!");
  EXPECT_EQ(form->Label4->text(), "100%");
  // Job ended while connected: lists enabled again, port list still lime, "Disconnect".
  EXPECT_TRUE(form->ComboBox1->isEnabled());
  EXPECT_GT(LimeShare(form->ComboBox1), 0.5);
  EXPECT_EQ(form->Button4->text(), "Disconnect");
  EXPECT_TRUE(form->Button1->isHidden());
}

TEST_F(ServiceWindowTest, WriteConfirmationChecksAndMerge) {
  form->Button6->click();
  EXPECT_EQ(dialogs.texts.back(), "Please [Connect] before WRITING");
  Connect();
  form->ProgressBar1->setValue(42);
  dialogs.answers = {false};
  form->Button6->click();
  EXPECT_EQ(dialogs.texts.back(), "Patch deco is risky.  Continue?");
  EXPECT_EQ(form->ProgressBar1->value(), 42);

  form->RadioButton3->setChecked(true);
  Tick(form->CheckBox1, form->Edit1, "Fw.bin");
  form->Button6->click();
  EXPECT_EQ(dialogs.texts.back(), "Fw.bin does not exist or has wrong size. WRITE aborted!");
  EXPECT_EQ(form->ProgressBar1->value(), 0);
  EXPECT_TRUE(transfer::DifferentBlocksMethod());

  std::string flash = AsText(deco.Model().Flash());
  WriteFile(dir.File("Fw.bin"), flash);
  WriteFile(dir.File("Ch.bin"), flash.substr(0, 524288));
  Tick(form->CheckBox3, form->Edit3, "Ch.bin");
  form->Button6->click();
  auto lines = MemoLines();
  EXPECT_EQ(lines[lines.size() - 2], "Inserting Channel into Firmware file ...");
  EXPECT_EQ(lines.back().toStdString(),
            "CHANNEL is inserted into FIRMWARE file: " + transfer::MergedFileName() + " !");
  EXPECT_TRUE(transfer::ChannelMerged());
  EXPECT_EQ(transfer::BlockCount(), transfer::FirmwareBlocks);
  ASSERT_TRUE(WaitForJobEnd());
  // The comparison found nothing to write, so the final check has nothing to read back.
  lines = MemoLines();
  EXPECT_EQ(lines[lines.size() - 2], "Verifing done. No different bytes found!");
  EXPECT_EQ(lines.back(), "Final check: no flash sector was written after the last comparison.");
}

TEST_F(ServiceWindowTest, AbortDuringReadAndDuringWrite) {
  Connect();
  Tick(form->CheckBox1, form->Edit1, "Fw.bin");
  form->Button5->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->ProgressBar1->value() >= 5; }, 3000))
      << form->Memo1->toPlainText().toStdString();
  form->Button1->click();
  ASSERT_GE(dialogs.texts.size(), 2u);
  EXPECT_EQ(dialogs.texts[dialogs.texts.size() - 2],
            "READ is still active.\r\nExtracted file will be incomplete.\r\nAre you sure to quit?");
  EXPECT_EQ(dialogs.texts.back(), "Thread Aborted");
  EXPECT_EQ(form->Form().Worker(), nullptr);
  EXPECT_FALSE(form->Button5->isHidden());
  EXPECT_EQ(protocol::FileSizeOf(dir.File("Fw.bin")) % 256, 0);
  WorkerDoneCounter doneMessages(form.get());
  QCoreApplication::sendPostedEvents(form.get());  // the worker has ended: all it posted is here
  EXPECT_EQ(doneMessages.count, 0);                // no MsgWorkerDone follows an abort

  form->CheckBox1->setChecked(false);
  Tick(form->CheckBox3, form->Edit3, "Ch.bin");
  WriteFile(dir.File("Ch.bin"), AsText(deco.Model().Flash()).substr(0, 524288));
  form->Button6->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->ProgressBar1->value() >= 13; }, JobTimeoutMs));
  form->Button1->click();
  EXPECT_EQ(dialogs.texts[dialogs.texts.size() - 2],
            "WRITE is still active.\r\nYour deco will be dead if quit.\r\n Are you sure to quit?");
  EXPECT_EQ(dialogs.texts.back(), "Thread Aborted");
  EXPECT_FALSE(transfer::FlashWriteActive());
}

TEST_F(ServiceWindowTest, AbortOrCloseWithTheJobDoneMessageAlreadyQueued) {
  for (bool closing : {false, true}) {
    SCOPED_TRACE(closing ? "close" : "Abort");
    if (!form->Form().Connected()) Connect();
    Tick(form->CheckBox1, form->Edit1, "Fw.bin");
    form->Button5->click();
    ASSERT_NE(form->Form().Worker(), nullptr);
    // The worker's last act is to post this; it may be queued when the user stops the job.
    QCoreApplication::postEvent(form.get(), new QEvent(window::MsgWorkerDone));
    // Yes to the job question; No to the port question that closing asks next.
    dialogs.answers = closing ? std::deque<bool>{true, false} : std::deque<bool>{true};
    if (closing) {
      EXPECT_FALSE(form->Form().FormCloseQuery());
    } else {
      form->Button1->click();
      EXPECT_EQ(dialogs.texts.back(), "Thread Aborted");
    }
    EXPECT_EQ(form->Form().Worker(), nullptr);
    QCoreApplication::sendPostedEvents(form.get());  // handled with no worker: controls back
    EXPECT_FALSE(form->Button5->isHidden());
    EXPECT_TRUE(form->Button1->isHidden());
  }
}

TEST_F(ServiceWindowTest, BarColourOfEachPhase) {
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
  form->Button5->click();  // READ
  ASSERT_TRUE(WaitForJobEnd());
  form->Button6->click();  // WRITE, Normal: stopped once its first pass has begun
  ASSERT_TRUE(QTest::qWaitFor([&] { return phases.size() == 2; }, JobTimeoutMs));
  form->Button1->click();
  std::string image = ReadFile(dir.File("Ch.bin"));
  image[0x100] = static_cast<char>(image[0x100] ^ 1);  // sector 0: erase only, quickly done
  WriteFile(dir.File("Ch.bin"), image);
  form->RadioButton3->click();  // Different blocks: read back, then write what differs
  form->Button6->click();
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

TEST_F(ServiceWindowTest, CloseProtection) {
  EXPECT_TRUE(form->Form().FormCloseQuery());  // idle, not connected: nothing asked
  EXPECT_TRUE(dialogs.texts.empty());
  Connect();
  dialogs.answers = {false};
  EXPECT_FALSE(form->Form().FormCloseQuery());
  EXPECT_EQ(dialogs.kinds.back(), "Warning");
  EXPECT_EQ(dialogs.texts.back(),
            "Serial port is not disconnected.\r\nDeco is still in Service mode.\r\nQuit anyway ?");

  Tick(form->CheckBox1, form->Edit1, "Fw.bin");
  form->Button5->click();
  dialogs.texts.clear();
  dialogs.answers = {false, true};
  EXPECT_FALSE(form->Form().FormCloseQuery());  // job question refused; the port question still comes
  ASSERT_EQ(dialogs.texts.size(), 2u);
  EXPECT_NE(form->Form().Worker(), nullptr);
  dialogs.texts.clear();
  EXPECT_TRUE(form->Form().FormCloseQuery());  // Yes to both: the job stops
  EXPECT_EQ(dialogs.texts.size(), 2u);
  EXPECT_EQ(form->Form().Worker(), nullptr);
  EXPECT_TRUE(form->Button5->isHidden());  // the window is about to close: no SetButtons
}

TEST_F(SilentExitTest, DisconnectErrorGoesToTheErrorReportAndKeepsTheConnection) {
  Connect();
  form->Button4->click();
  ASSERT_EQ(dialogs.kinds.back(), "Error");
  EXPECT_EQ(dialogs.texts.back(), "Communication error 9997: Timeout during operation");
  EXPECT_TRUE(form->Form().Connected());
  EXPECT_NE(protocol::SerialLink(), nullptr);
  EXPECT_EQ(form->Button4->text(), "Disconnect");
}

TEST_F(WindowTest, WorkerDoneWithoutAWorkerStillEnablesTheControls) {
  form->Form().SetButtons(false);
  QEvent done(window::MsgWorkerDone);
  QCoreApplication::sendEvent(form.get(), &done);
  EXPECT_TRUE(form->Button1->isHidden());
  EXPECT_FALSE(form->Button5->isHidden());
  EXPECT_TRUE(form->Edit1->isEnabled());
}

TEST_F(WindowTest, FilePickersRememberTheLastName) {
  dialogs.chosenFile = "/data/dumps/Fw1.bin";
  form->Form().Edit1DblClick();
  EXPECT_EQ(dialogs.fileTitle, "Open FIRMWARE File (2MB)");
  EXPECT_EQ(dialogs.fileFilter, "Binary files (*.bin)|*.bin;*.BIN;");
  EXPECT_EQ(form->Edit1->text(), "/data/dumps/Fw1.bin");
  dialogs.chosenFile.reset();
  form->Form().Edit3DblClick();
  EXPECT_EQ(dialogs.fileTitle, "Open CHANNEL File (512KB)");
  EXPECT_EQ(dialogs.fileLast, "/data/dumps/Fw1.bin");
  EXPECT_EQ(form->Edit3->text(), "Ch.bin");
  EXPECT_EQ(window::QtFilterFromClassic("A|*.a;|B|*.b;*.c"), "A (*.a);;B (*.b *.c)");
}

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

namespace {

// Runs as an ordinary user when the tests run as root, who may read and write anything.
class AsOrdinaryUser {
 public:
  AsOrdinaryUser() : switched_(::geteuid() == 0) {
    if (switched_ && ::seteuid(NobodyId) != 0) switched_ = false;
  }
  ~AsOrdinaryUser() {
    if (switched_ && ::seteuid(0) != 0) std::abort();
  }

 private:
  static constexpr uid_t NobodyId = 65534;
  bool switched_;
};

// A limit on the size of the files this process writes, as a full disk would set one.
class FileSizeLimitOf {
 public:
  explicit FileSizeLimitOf(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &before_);
    rlimit limit = before_;
    limit.rlim_cur = bytes;
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimitOf() {
    ::setrlimit(RLIMIT_FSIZE, &before_);
    std::signal(SIGXFSZ, previousHandler_);
  }

 private:
  rlimit before_{};
  void (*previousHandler_)(int);
};

}  // namespace

// Each bad input through the window's buttons and through the command line: the same clear
// message from both, and not one command line to the deco.
TEST_F(ServiceWindowTest, BadInputFilesGetAClearMessageAndNothingIsSent) {
  namespace fs = std::filesystem;
  constexpr int64_t Firmware = protocol::FirmwareImageBytes;
  enum class Setup { None, Size, Sparse, Folder, Unreadable, FileSizeLimit };
  struct Row {
    const char* name;
    bool write;
    const char* method;
    const char* firmware;  // the name in the row's folder
    const char* channel;   // "" = not ticked
    Setup setup;
    int64_t size;
    const char* message;
  } rows[] = {
      {"missing", true, "normal", "Fw.bin", "", Setup::None, 0,
       "Fw.bin does not exist or has wrong size. WRITE aborted!"},
      {"empty", true, "normal", "Fw.bin", "", Setup::Size, 0,
       "Fw.bin does not exist or has wrong size. WRITE aborted!"},
      {"one byte short", true, "safe", "Fw.bin", "", Setup::Size, Firmware - 1,
       "Fw.bin does not exist or has wrong size. WRITE aborted!"},
      {"one byte long", true, "normal", "Fw.bin", "", Setup::Size, Firmware + 1,
       "Fw.bin does not exist or has wrong size. WRITE aborted!"},
      {"4 GiB + 2 MiB sparse (2 MiB in 32 bits)", true, "normal", "Fw.bin", "", Setup::Sparse,
       (int64_t{4} << 30) + Firmware, "Fw.bin does not exist or has wrong size. WRITE aborted!"},
      {"a folder to write", true, "normal", "Fw.bin", "", Setup::Folder, 0,
       "Fw.bin does not exist or has wrong size. WRITE aborted!"},
      {"unreadable", true, "normal", "Fw.bin", "", Setup::Unreadable, Firmware,
       "Fw.bin does not exist or has wrong size. WRITE aborted!"},
      {"the same file as firmware and channel", true, "normal", "Fw.bin", "Fw.bin", Setup::Size,
       Firmware, "Fw.bin does not exist or has wrong size. WRITE aborted!"},
      {"the same file to read into twice", false, "normal", "Same.bin", "Same.bin", Setup::None, 0,
       "Same.bin is named for two memories: each needs its own file. READ ignored!"},
      {"an output folder that does not exist", false, "normal", "missing/Fw.bin", "", Setup::None,
       0, "The folder of Fw.bin does not exist: "},
      {"a folder to read into", false, "normal", "Fw.bin", "", Setup::Folder, 0,
       "Fw.bin is a folder, not a file. READ ignored!"},
      {"an unwritable dump", false, "normal", "Fw.bin", "", Setup::Unreadable, 16,
       "Cannot write Fw.bin: Permission denied. READ ignored!"},
      {"a full disk", false, "normal", "Fw.bin", "", Setup::FileSizeLimit, 0,
       "Fw.bin needs 2048 KB, but this program may write files of 1024 KB only. READ ignored!"},
  };
  Connect();
  fs::permissions(dir.Path(), fs::perms::owner_all | fs::perms::others_exec | fs::perms::group_exec);
  int number = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string folder = dir.File("row" + std::to_string(++number));
    fs::create_directory(folder);
    fs::permissions(folder, fs::perms::all);
    const std::string firmware = folder + "/" + row.firmware;
    const std::string channel = *row.channel ? folder + "/" + row.channel : "";
    switch (row.setup) {
      case Setup::Size: WriteFile(firmware, std::string(static_cast<size_t>(row.size), '\x11')); break;
      case Setup::Sparse:
        WriteFile(firmware, "");
        fs::resize_file(firmware, static_cast<uintmax_t>(row.size));
        break;
      case Setup::Folder: fs::create_directory(firmware); break;
      case Setup::Unreadable:
        WriteFile(firmware, std::string(static_cast<size_t>(row.size), '\x11'));
        fs::permissions(firmware, fs::perms::none);
        break;
      case Setup::None:
      case Setup::FileSizeLimit: break;
    }
    AsOrdinaryUser ordinaryUser;
    std::optional<FileSizeLimitOf> limit;
    if (row.setup == Setup::FileSizeLimit) limit.emplace(Firmware / 2);
    const size_t commandsBefore = deco.Model().CommandLog().size();

    form->RadioButton1->setChecked(std::string(row.method) == "normal");
    form->RadioButton2->setChecked(std::string(row.method) == "safe");
    form->RadioButton3->setChecked(std::string(row.method) == "diff");
    form->CheckBox1->setChecked(true);
    form->Edit1->setText(QString::fromStdString(firmware));
    form->CheckBox3->setChecked(!channel.empty());
    form->Edit3->setText(QString::fromStdString(channel));
    dialogs.texts.clear();
    (row.write ? form->Button6 : form->Button5)->click();
    ASSERT_FALSE(dialogs.texts.empty());
    EXPECT_NE(dialogs.texts.back().find(row.message), std::string::npos)
        << dialogs.texts.back();
    EXPECT_EQ(form->Form().Worker(), nullptr);

    cli::JobOptions options;
    options.port = deco.SlavePath();
    options.service = true;
    options.write = row.write;
    options.method = row.method;
    options.selection.Firmware = true;
    options.selection.FirmwareFile = firmware;
    options.selection.Channel = !channel.empty();
    options.selection.ChannelFile = channel;
    testing_support::CapturingHost host;
    std::atomic<bool> interrupted{false};
    EXPECT_EQ(cli::RunReadOrWrite(options, host, interrupted), cli::ExitJobFailed);
    EXPECT_NE(host.Err().find(row.message), std::string::npos) << host.Err();
    EXPECT_EQ(deco.Model().CommandLog().size(), commandsBefore);
  }
}

namespace {

enum class Fault { DropReply, SlowReply, WeakWord };
// What a row does once Abort has returned the window to idle.
enum class ThenDo { Disconnect, WriteAgain, StayConnected };

// A job that ends by an error: the worker logs "ERROR: ..." and posts no done message, so the
// window waits for Abort.
struct JobErrorRow {
  const char* name;
  const char* ticks;  // F firmware, E EEPROM, C channel
  bool write = false;
  bool safe = false;
  Fault fault;
  int at = 0;  // the job's command that the fault hits, from 1
  unsigned timeoutDivisor = QuickTimeOuts;
  int waitMs = JobTimeoutMs;
  std::vector<std::string> before{};  // lines the job logs before its error line
  std::string error{};                // how its error line begins
  std::vector<std::string> after{};   // the lines right after it
  ThenDo then;
};

void PrintTo(const JobErrorRow& row, std::ostream* out) {
  *out << row.name;
}

class JobErrorTest : public WindowTest, public ::testing::WithParamInterface<JobErrorRow> {
 protected:
  JobErrorTest() : WindowTest(testing_support::InService(), GetParam().timeoutDivisor) {
    form->RadioButton5->setChecked(true);
  }
};

constexpr const char* AbortLine = "Press [Abort] to return to idle.";
constexpr const char* StillInService =
    "The deco is still in Service mode (-SE-) at 115200 baud. Do not switch it off: its memory "
    "may be incomplete.";
constexpr const char* WriteAgain =
    "It can be written again: press [Abort] to return to idle, then [WRITE].";
constexpr const char* TimeoutError = "ERROR: Communication error 9997: Timeout during operation";
constexpr int EepromReadCommands = 16;
constexpr uint32_t WeakWordInSector3 = 0x7FE10100u;
constexpr uint32_t WeakWordValue = 0x12345678u;

}  // namespace

TEST_P(JobErrorTest, TheLogSaysWhatTheJobLeftAndAbortReturnsToIdle) {
  const JobErrorRow& row = GetParam();
  const std::string ticks = row.ticks;
  ShowForm();
  Connect();
  if (ticks.find('F') != std::string::npos) Tick(form->CheckBox1, form->Edit1, "Fw.bin");
  if (ticks.find('E') != std::string::npos) {
    Tick(form->CheckBox2, form->Edit2, "E.bin");
    std::string image(static_cast<size_t>(protocol::EepromImageBytes), '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 5 + 1);
    if (row.write) WriteFile(dir.File("E.bin"), image);
  }
  if (ticks.find('C') != std::string::npos) {
    Tick(form->CheckBox3, form->Edit3, "Ch.bin");
    std::vector<uint8_t> flash = deco.Model().Flash();
    std::string image(flash.begin(), flash.begin() + protocol::ChannelImageBytes);
    for (int b = 0; b < 4; ++b)
      image[WeakWordInSector3 - protocol::FlashBase + static_cast<uint32_t>(b)] =
          static_cast<char>(WeakWordValue >> (8 * b));
    // A READ's target from an earlier run, which this one must not call its own.
    WriteFile(dir.File("Ch.bin"), row.write ? image : std::string(image.size(), 'x'));
  }
  if (row.safe) form->RadioButton2->setChecked(true);
  sim::Faults faults;
  const int at = deco.Model().CommandCount() + row.at;
  switch (row.fault) {
    case Fault::DropReply: faults.DropReplyAt = at; break;
    case Fault::SlowReply:
      // Twice the wait for a reply's first byte.
      faults.SlowReplyAt = at;
      faults.SlowReplyMs =
          clock.TimeoutMs(2 * protocol::FirstByteTimeoutFactor * protocol::StandardBaseTimeout);
      break;
    case Fault::WeakWord:
      faults.WeakWordAddress = WeakWordInSector3;
      faults.WeakWordFailures = 2;
      break;
  }
  deco.Model().SetFaults(faults);

  const size_t start = MemoLines().size();
  Click(row.write ? form->Button6 : form->Button5);
  ASSERT_NE(form->Form().Worker(), nullptr);
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return !form->Form().Worker() || form->Form().Worker()->Finished(); }, row.waitMs));
  // The window notices the end at its next look.
  const std::string lastLine = row.after.empty() ? row.error : row.after.back();
  (void)QTest::qWaitFor(
      [&] {
        std::vector<std::string> lines = MemoLinesFrom(start);
        return std::find(lines.begin(), lines.end(), lastLine) != lines.end();
      },
      1000);
  ASSERT_NE(form->Form().Worker(), nullptr) << "the job ended as if it had succeeded";

  std::vector<std::string> lines = MemoLinesFrom(start);
  auto error = std::find_if(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.rfind("ERROR: ", 0) == 0; });
  ASSERT_NE(error, lines.end()) << testing::PrintToString(lines);
  EXPECT_EQ(error->rfind(row.error, 0), 0u) << *error;
  for (const std::string& line : row.before)
    EXPECT_NE(std::find(lines.begin(), error, line), error) << line;
  EXPECT_EQ(std::vector<std::string>(error + 1, lines.end()), row.after);

  // Abort: the window idle again, still connected, and nothing said twice.
  dialogs.texts.clear();
  Click(form->Button1);
  ASSERT_FALSE(dialogs.texts.empty());
  EXPECT_EQ(dialogs.texts.back(), "Thread Aborted");
  EXPECT_EQ(form->Form().Worker(), nullptr);
  EXPECT_FALSE(form->Button5->isHidden());
  EXPECT_TRUE(form->Button1->isHidden());
  EXPECT_TRUE(form->Form().Connected());
  EXPECT_EQ(form->Button4->text(), "Disconnect");
  EXPECT_TRUE(deco.Model().InService());
  EXPECT_EQ(MemoLinesFrom(start).size(), lines.size());

  deco.Model().SetFaults(sim::Faults());
  const size_t afterAbort = MemoLines().size();
  switch (row.then) {
    case ThenDo::Disconnect: {
      if (row.fault == Fault::SlowReply) {
        ASSERT_TRUE(
            QTest::qWaitFor([] { return protocol::SerialLink()->PendingCountAll() > 0; }, 5000))
            << "the late reply did not come";
      }
      Click(form->Button4);
      std::vector<std::string> exit = MemoLinesFrom(afterAbort);
      EXPECT_EQ(std::count(exit.begin(), exit.end(), "ERROR when Exit -SE-"), 0);
      EXPECT_EQ(std::count(exit.begin(), exit.end(), "OK : Deco must be Standby now!"), 1);
      EXPECT_FALSE(form->Form().Connected());
      EXPECT_FALSE(deco.Model().InService());
      break;
    }
    case ThenDo::WriteAgain: {
      Click(form->Button6);
      ASSERT_TRUE(WaitForJobEnd());
      std::vector<uint8_t> eeprom = deco.Model().Eeprom();
      EXPECT_EQ(std::string(eeprom.begin(), eeprom.end()), ReadFile(dir.File("E.bin")));
      EXPECT_TRUE(form->Form().Connected());
      break;
    }
    case ThenDo::StayConnected:
      EXPECT_NE(protocol::SerialLink(), nullptr);
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, JobErrorTest,
    ::testing::Values(
        // The EEPROM is read, the firmware stops at block 50, the channel list is not reached.
        JobErrorRow{.name = "ReadTimesOut",
                    .ticks = "FEC",
                    .fault = Fault::DropReply,
                    .at = EepromReadCommands + 50,
                    .error = TimeoutError,
                    .after = {"Fw.bin is incomplete: 12544 of 2097152 bytes.",
                              "E.bin is complete: 2048 bytes.",
                              "Ch.bin was not read: the file is as it was.", AbortLine},
                    .then = ThenDo::Disconnect},
        // The reply to block 20 comes after its time-out, and must not be taken as the deco's
        // answer to the exit.
        JobErrorRow{.name = "ReadGetsALateReplyThenDisconnect",
                    .ticks = "F",
                    .fault = Fault::SlowReply,
                    .at = 20,
                    .error = TimeoutError,
                    .after = {"Fw.bin is incomplete: 4864 of 2097152 bytes.", AbortLine},
                    .then = ThenDo::Disconnect},
        JobErrorRow{.name = "EepromWriteTimesOut",
                    .ticks = "E",
                    .write = true,
                    .fault = Fault::DropReply,
                    .at = 5,
                    .error = TimeoutError,
                    .after = {StillInService, WriteAgain},
                    .then = ThenDo::WriteAgain},
        // A word in sector 3 ignores its programming twice: the Safe method's rewrite does not
        // mend it, and the final check finds it. No time-out is waited for: real ones.
        JobErrorRow{.name = "SafeChannelWriteFinalCheckFindsAWeakWord",
                    .ticks = "C",
                    .write = true,
                    .safe = true,
                    .fault = Fault::WeakWord,
                    .timeoutDivisor = 1,
                    .waitMs = 5 * JobTimeoutMs,
                    .before = {"Final check FAILED: sector(s) 3 differ from Ch.bin."},
                    .error = "ERROR: the final check found",
                    .after = {StillInService, WriteAgain},
                    .then = ThenDo::StayConnected}),
    [](const ::testing::TestParamInfo<JobErrorRow>& info) { return std::string(info.param.name); });
