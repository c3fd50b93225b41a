#include "window/qt_main_window.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QTimer>

#include "window/qt_dialogs.h"

namespace window {

namespace {

constexpr int WindowLeft = 185;
constexpr int WindowTop = 80;
// Outer size 591 x 460 less the frame and caption of a classic window.
constexpr int ClientWidth = 583;
constexpr int ClientHeight = 426;
constexpr int FontPixels = 10;
constexpr int WorkerPollMs = 10;
const QColor Silver(0xC0, 0xC0, 0xC0);
const QColor ActiveBorder(0xD4, 0xD0, 0xC8);
const QColor LimeGreen(0, 255, 0);

template <typename Control>
Control* Make(QWidget* parent, const char* name, int left, int top, int width, int height) {
  auto* control = new Control(parent);
  control->setObjectName(name);
  control->setGeometry(left, top, width, height);
  return control;
}

void Tint(QWidget* widget, QPalette::ColorRole role, const QColor& colour) {
  QPalette palette = widget->palette();
  palette.setColor(role, colour);
  widget->setPalette(palette);
  widget->setAutoFillBackground(role == QPalette::Window);
}

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

// Input a user gives; what else comes meanwhile (paint, timers, the worker's calls) goes on.
bool IsUserInput(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
      return true;
    default:
      return false;
  }
}

}  // namespace

QtMainWindow::QtMainWindow(Dialogs* dialogs, std::unique_ptr<instance::InstanceLock> instanceLock)
    : dialogs_(dialogs) {
  if (!dialogs_) {
    ownDialogs_ = std::make_unique<QtDialogs>(this);
    dialogs_ = ownDialogs_.get();
  }
  setObjectName("Form1");
  setWindowTitle(WindowCaption);
  // The classic face first; on systems without it, narrow faces that keep the captions inside
  // the fixed control sizes.
  QFont font;
  font.setFamilies(
      {"MS Sans Serif", "Nimbus Sans Narrow", "Liberation Sans Narrow", "DejaVu Sans Condensed"});
  font.setPixelSize(FontPixels);
  setFont(font);
  Tint(this, QPalette::Window, Silver);
  move(WindowLeft, WindowTop);
  setFixedSize(ClientWidth, ClientHeight);
  BuildControls();
  SetTabOrder();
  workerWatch_ = new QTimer(this);
  workerWatch_->setInterval(WorkerPollMs);
  connect(workerWatch_, &QTimer::timeout, this, [this] { form_->WorkerWatchTimer(); });

  // Loading the layout creates the guard, which checks for a running copy before FormCreate.
  OneInstance1 = std::make_unique<instance::TOneInstance>(
      *this, instanceLock ? std::move(instanceLock) : instance::MakeInstanceLock());
  OneInstance1->InformUser = false;
  OneInstance1->RaisePriorInstance = false;
  OneInstance1->Loaded();
  form_ = std::make_unique<TForm1>(*this, *dialogs_);
}

QtMainWindow::~QtMainWindow() {
  // A running job stops while the controls it reports to still exist.
  form_.reset();
}

void QtMainWindow::BuildControls() {
  Memo1 = Make<QPlainTextEdit>(this, "Memo1", 288, 248, 273, 145);
  GroupBox1 = Make<QGroupBox>(this, "GroupBox1", 24, 16, 537, 81);
  GroupBox1->setTitle("COMMUNICATION");
  Tint(GroupBox1, QPalette::Window, ActiveBorder);
  ComboBox1 = Make<QComboBox>(GroupBox1, "ComboBox1", 72, 32, 97, 21);
  ComboBox1->addItems({"COM1", "COM2", "COM3", "COM4", "COM5", "COM6"});
  ComboBox2 = Make<QComboBox>(GroupBox1, "ComboBox2", 224, 32, 81, 21);
  ComboBox2->addItems({"9600", "38400", "115200"});
  Label1 = Make<QLabel>(GroupBox1, "Label1", 16, 36, 47, 13);
  Label1->setText("Serial port");
  Label2 = Make<QLabel>(GroupBox1, "Label2", 192, 36, 25, 13);
  Label2->setText("Baud");
  // Labels size themselves to their caption, from the position given.
  for (QLabel* label : {Label1, Label2})
    label->resize(std::max(label->width(), label->sizeHint().width()), label->height());
  GroupBox2 = Make<QGroupBox>(this, "GroupBox2", 24, 104, 537, 129);
  GroupBox2->setTitle("FILES");
  Tint(GroupBox2, QPalette::Window, ActiveBorder);
  CheckBox1 = Make<QCheckBox>(GroupBox2, "CheckBox1", 24, 24, 97, 17);
  CheckBox1->setText("Firmware 2MB");
  CheckBox2 = Make<QCheckBox>(GroupBox2, "CheckBox2", 24, 56, 97, 17);
  CheckBox2->setText("Eeprom 2KB");
  CheckBox2->setToolTip("Don't forget to write Eeprom !");
  CheckBox3 = Make<QCheckBox>(GroupBox2, "CheckBox3", 24, 88, 97, 17);
  CheckBox3->setText("Channel 512KB");
  struct EditRow {
    QLineEdit** field;
    const char* name;
    int top;
    const char* text;
  } edits[] = {{&Edit1, "Edit1", 24, "Fw.bin"},
               {&Edit2, "Edit2", 56, "E.bin"},
               {&Edit3, "Edit3", 88, "Ch.bin"}};
  for (const EditRow& row : edits) {
    QLineEdit* edit = Make<QLineEdit>(GroupBox2, row.name, 128, row.top, 393, 21);
    edit->setText(row.text);
    edit->setCursor(Qt::PointingHandCursor);
    edit->setToolTip("Double click to select file");
    edit->installEventFilter(this);
    *row.field = edit;
  }
  Button4 = Make<QPushButton>(GroupBox1, "Button4", 440, 32, 81, 25);
  Button4->setText("Connect");
  Button5 = Make<QPushButton>(this, "Button5", 24, 360, 73, 33);
  Button5->setText("READ");
  Button5->setToolTip("Read data from deco and save to files");
  Button6 = Make<QPushButton>(this, "Button6", 168, 360, 73, 33);
  Button6->setText("WRITE");
  Button6->setToolTip("Write files to deco");
  RadioGroup1 = Make<QGroupBox>(this, "RadioGroup1", 24, 248, 249, 97);
  RadioGroup1->setTitle("WRITE METHOD");
  Tint(RadioGroup1, QPalette::Window, ActiveBorder);
  RadioButton1 = Make<QRadioButton>(this, "RadioButton1", 48, 272, 209, 17);
  RadioButton1->setText("Normal (Write once)");
  RadioButton1->setChecked(true);
  RadioButton2 = Make<QRadioButton>(this, "RadioButton2", 48, 296, 209, 17);
  RadioButton2->setText("Safe (Write, Verify, Rewrite diff. blocks)");
  RadioButton3 = Make<QRadioButton>(this, "RadioButton3", 48, 320, 209, 17);
  RadioButton3->setText("Different blocks (Verify before Writing)");
  RadioButton3->setToolTip("May be faster");
  for (QRadioButton* button : {RadioButton1, RadioButton2, RadioButton3})
    Tint(button, QPalette::Window, ActiveBorder);
  ProgressBar1 = Make<QProgressBar>(this, "ProgressBar1", 24, 400, 505, 17);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);
  Button1 = Make<QPushButton>(this, "Button1", 104, 360, 57, 33);
  Button1->setText("Abort");
  Button1->setCursor(Qt::WaitCursor);
  Button1->setVisible(false);
  Label4 = Make<QLabel>(this, "Label4", 528, 400, 33, 17);
  Label4->setText(" ");
  Label4->setAlignment(Qt::AlignCenter);
  Tint(Label4, QPalette::Window, ActiveBorder);
  RadioGroup2 = Make<QGroupBox>(GroupBox1, "RadioGroup2", 320, 16, 105, 57);
  RadioGroup2->setTitle("Status of deco");
  RadioGroup2->setToolTip("See display of deco before connecting");
  RadioButton4 = Make<QRadioButton>(GroupBox1, "RadioButton4", 328, 32, 89, 17);
  RadioButton4->setText("Standby --:--");
  RadioButton4->setChecked(true);
  RadioButton4->setToolTip("See display of deco before connecting");
  RadioButton5 = Make<QRadioButton>(GroupBox1, "RadioButton5", 328, 48, 89, 17);
  RadioButton5->setText("Service -SE-");
  RadioButton5->setToolTip("See display of deco before connecting");
  // The radio buttons stand on top of their frames, not inside them.
  for (QRadioButton* button :
       {RadioButton1, RadioButton2, RadioButton3, RadioButton4, RadioButton5})
    button->raise();
  // Each group excludes by its own parent. Qt's automatic exclusion looks at all descendants of
  // a parent, which would mix the window's three with the two inside GroupBox1.
  auto* writeMethod = new QButtonGroup(this);
  for (QRadioButton* button : {RadioButton1, RadioButton2, RadioButton3})
    writeMethod->addButton(button);
  auto* decoStatus = new QButtonGroup(GroupBox1);
  for (QRadioButton* button : {RadioButton4, RadioButton5}) decoStatus->addButton(button);

  Memo1->setReadOnly(true);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Tint(Memo1, QPalette::Text, Qt::red);
  for (const char* line : OpeningLines) Memo1->appendPlainText(line);

  auto on = [this](QPushButton* button, void (TForm1::*handler)()) {
    connect(button, &QPushButton::clicked, this, [this, handler] { (form_.get()->*handler)(); });
  };
  on(Button4, &TForm1::Button4Click);
  on(Button5, &TForm1::Button5Click);
  on(Button6, &TForm1::Button6Click);
  on(Button1, &TForm1::Button1Click);
}

void QtMainWindow::SetTabOrder() {
  QWidget* window[] = {GroupBox1,    Memo1,        GroupBox2,    Button5,      Button6, RadioGroup1,
                       RadioButton1, RadioButton2, RadioButton3, ProgressBar1, Button1};
  QWidget* communication[] = {ComboBox1,   ComboBox2,    Button4,
                              RadioGroup2, RadioButton4, RadioButton5};
  QWidget* files[] = {CheckBox1, CheckBox2, CheckBox3, Edit1, Edit2, Edit3};
  auto chain = [](QWidget* const* order, size_t count) {
    for (size_t i = 0; i + 1 < count; ++i) QWidget::setTabOrder(order[i], order[i + 1]);
  };
  chain(window, std::size(window));
  chain(communication, std::size(communication));
  chain(files, std::size(files));
}

QWidget* QtMainWindow::Widget(Control control) const {
  return NamedControl<QWidget*>(*this, control);
}

// ---- the view -------------------------------------------------------------------------------

bool QtMainWindow::Checked(Control control) const {
  auto* button = qobject_cast<QAbstractButton*>(Widget(control));
  return button && button->isChecked();
}

std::string QtMainWindow::Text(Control control) const {
  QWidget* widget = Widget(control);
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text().toStdString();
  if (auto* list = qobject_cast<QComboBox*>(widget)) return list->currentText().toStdString();
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text().toStdString();
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text().toStdString();
  return "";
}

void QtMainWindow::SetText(Control control, const std::string& text) {
  QWidget* widget = Widget(control);
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) edit->setText(Q(text));
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) button->setText(Q(text));
  if (auto* label = qobject_cast<QLabel*>(widget)) label->setText(Q(text));
}

void QtMainWindow::SetEnabled(Control control, bool enabled) {
  Widget(control)->setEnabled(enabled);
}

void QtMainWindow::SetVisible(Control control, bool visible) {
  Widget(control)->setVisible(visible);
}

void QtMainWindow::SetItems(Control control, const std::vector<std::string>& items) {
  auto* list = qobject_cast<QComboBox*>(Widget(control));
  if (!list) return;
  list->clear();
  for (const std::string& item : items) list->addItem(Q(item));
  list->setCurrentIndex(-1);
}

void QtMainWindow::ChooseLastItem(Control control) {
  auto* list = qobject_cast<QComboBox*>(Widget(control));
  if (list && list->count() > 0) list->setCurrentIndex(list->count() - 1);
}

void QtMainWindow::ShowPortConnected(bool connected) {
  // A drop-down list that cannot be typed in is drawn as a button, and grey while disabled,
  // whatever its palette says. A style sheet with a border of its own makes the style fill the
  // face flat, in every state and style.
  if (connected) {
    ComboBox1->setStyleSheet(
        QString("QComboBox { background-color: %1; border: 1px solid gray; padding-left: 3px; }")
            .arg(LimeGreen.name()));
  } else {
    ComboBox1->setStyleSheet(QString());
    // The style sheet leaves its palette and font behind; empty ones inherit the window's again.
    ComboBox1->setPalette(QPalette());
    ComboBox1->setFont(QFont());
  }
}

void QtMainWindow::AddLogLine(const std::string& line) {
  Memo1->appendPlainText(Q(line));
  // During Connect the window's thread is busy: show each line as it comes.
  Memo1->repaint();
}

void QtMainWindow::SetProgress(int32_t position) {
  ProgressBar1->setValue(position);
}

void QtMainWindow::SetBarColour(uint32_t colour) {
  QColor bar(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
             static_cast<int>((colour >> 16) & 0xFF));
  Tint(ProgressBar1, QPalette::Highlight, bar);
}

void QtMainWindow::Repaint() {
  repaint();
}

void QtMainWindow::RunOnWindowThread(const std::function<void()>& action) {
  if (QThread::currentThread() == thread()) {
    action();
  } else {
    QMetaObject::invokeMethod(this, action, Qt::BlockingQueuedConnection);
  }
}

void QtMainWindow::PostWorkerDone() {
  QCoreApplication::postEvent(this, new QEvent(MsgWorkerDone));
}

void QtMainWindow::ServeUntil(const std::function<bool()>& done) {
  if (done()) return;
  QEventLoop loop;
  QTimer poll;
  connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  poll.start(WorkerPollMs);
  loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void QtMainWindow::WatchWorker(bool on) {
  if (on) {
    workerWatch_->start();
  } else {
    workerWatch_->stop();
  }
}

void QtMainWindow::HoldInput(bool hold) {
  if (hold) {
    holdingInput_ = true;
    qApp->installEventFilter(this);
    return;
  }
  QCoreApplication::processEvents();  // what was queued meets the filter now
  qApp->removeEventFilter(this);
  holdingInput_ = false;
}

// ---- events ---------------------------------------------------------------------------------

bool QtMainWindow::event(QEvent* event) {
  if (event->type() == MsgWorkerDone) {
    form_->WorkerDone();
    return true;
  }
  return QWidget::event(event);
}

bool QtMainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (holdingInput_ && IsUserInput(event->type())) return true;
  if (event->type() == QEvent::MouseButtonDblClick) {
    if (watched == Edit1) form_->Edit1DblClick();
    if (watched == Edit2) form_->Edit2DblClick();
    if (watched == Edit3) form_->Edit3DblClick();
    if (watched == Edit1 || watched == Edit2 || watched == Edit3) return true;
  }
  return QWidget::eventFilter(watched, event);
}

void QtMainWindow::closeEvent(QCloseEvent* event) {
  event->setAccepted(form_->FormCloseQuery());
}

// ---- instance host --------------------------------------------------------------------------

std::string QtMainWindow::OwnerName() {
  return objectName().toStdString();
}
std::string QtMainWindow::ApplicationTitle() {
  return QApplication::applicationDisplayName().toStdString();
}
void QtMainWindow::SetApplicationTitle(const std::string& title) {
  QApplication::setApplicationDisplayName(Q(title));
}
void QtMainWindow::Terminate() {
  terminationRequested_ = true;
  QCoreApplication::exit(0);
}
void QtMainWindow::ShowErrorReport(const std::string& text) {
  dialogs_->ErrorReport(text);
}
void QtMainWindow::ShowWarning(const std::string& text) {
  dialogs_->WarningMessage(text);
}

bool QtMainWindow::RaiseWindowTitled(const std::string& title) {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->windowTitle() != Q(title)) continue;
    if (widget->isMinimized()) widget->showNormal();
    widget->raise();
    widget->activateWindow();
    return true;
  }
  return false;
}

}  // namespace window
