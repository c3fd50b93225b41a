// The Qt view of the main window at work, offscreen, against the simulated deco on a pty:
// Connect and Disconnect, jobs started and stopped by clicks, and the close question.
#include "window/qt_window_fixture.h"

using testing_support::AsText;
using testing_support::LimeShare;
using testing_support::JobTimeoutMs;
using testing_support::QuickTimeOutTest;
using testing_support::ReadFile;
using testing_support::ServiceWindowTest;
using testing_support::TempDir;
using testing_support::WindowTest;
using testing_support::WriteFile;
using window::Control;
using window::QtMainWindow;

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
