// The Qt view of the main window, offscreen: the controls as the layout table builds them, what a
// person's clicks, keys and double-clicks on them reach, and the message boxes. The behaviour
// behind them is tested without a toolkit (main_window_test.cpp and its siblings); the window
// at work in form1_job_test.cpp.
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
