#include "window/form1.h"

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

#include "protocol/flash_map.h"
#include "protocol/image_files.h"
#include "protocol/service_mode.h"
#include "serial/port_list.h"
#include "serial/serial_util.h"
#include "transfer/connection.h"
#include "transfer/scope_exit.h"

namespace window {

bool Connected = false;

namespace {

constexpr int WindowLeft = 185;
constexpr int WindowTop = 80;
// Outer size 591 x 460 less the frame and caption of a classic window.
constexpr int ClientWidth = 583;
constexpr int ClientHeight = 426;
constexpr int FontPixels = 10;
constexpr int WorkerPollMs = 10;
constexpr unsigned AbortSettleSeconds = 1;
const QColor Silver(0xC0, 0xC0, 0xC0);
const QColor ActiveBorder(0xD4, 0xD0, 0xC8);
const QColor LimeGreen(0, 255, 0);

const char* const OpeningLines[] = {
    "***      Close all other active applications       ***",
    "***      Deco must be standby or -SE-            ***",
    "***   [Connect] before [READ] or [WRITE]    ***",
};

constexpr const char* WriteQuestion =
    "WRITE is still active.\r\nYour deco will be dead if quit.\r\n Are you sure to quit?";
constexpr const char* ReadQuestion =
    "READ is still active.\r\nExtracted file will be incomplete.\r\nAre you sure to quit?";
constexpr const char* PortQuestion =
    "Serial port is not disconnected.\r\nDeco is still in Service mode.\r\nQuit anyway ?";

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

// text as a sentence: with a full stop at its end.
std::string Sentence(const std::string& text) {
  return !text.empty() && text.back() == '.' ? text : text + ".";
}

// A device that only spells the port name out ("\\.\COM3" for COM3) adds nothing to it.
bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

TForm1::TForm1(Dialogs* dialogs, std::unique_ptr<instance::InstanceLock> instanceLock)
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
  connect(workerWatch_, &QTimer::timeout, this, [this] { Guarded([this] { CheckWorkerEnd(); }); });

  // Loading the layout creates the guard, which checks for a running copy before FormCreate.
  OneInstance1 = std::make_unique<instance::TOneInstance>(
      *this, instanceLock ? std::move(instanceLock) : instance::MakeInstanceLock());
  OneInstance1->InformUser = false;
  OneInstance1->RaisePriorInstance = false;
  OneInstance1->Loaded();
  FormCreate();
}

TForm1::~TForm1() {
  if (FWorker) {
    FWorker->Terminate();
    WaitForWorkerEnd();
    FWorker.reset();
  }
  if (protocol::MainWindowHandle().load() == this) protocol::MainWindowHandle() = nullptr;
}

void TForm1::BuildControls() {
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
    connect(button, &QPushButton::clicked, this,
            [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
  };
  on(Button4, &TForm1::Button4Click);
  on(Button5, &TForm1::Button5Click);
  on(Button6, &TForm1::Button6Click);
  on(Button1, &TForm1::Button1Click);
}

void TForm1::SetTabOrder() {
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

void TForm1::FormCreate() {
  protocol::MainWindowHandle() = this;
  transfer::IsWriteJob() = false;
  transfer::FlashWriteActive() = false;
  protocol::BaseTimeout() = protocol::StandardBaseTimeout;
  protocol::SerialLink().reset();

  std::vector<std::string> ports;
  serial::SplitList(serial::ListSerialPorts(), ',', ports);
  ComboBox1->clear();
  for (const std::string& port : ports) ComboBox1->addItem(Q(port));
  ComboBox1->setCurrentIndex(ComboBox1->count() - 1);
  if (ComboBox2->count() > 0) ComboBox2->setCurrentIndex(ComboBox2->count() - 1);

  protocol::FillFlashTables();
  transfer::SetTimeStampedNames(transfer::LocalTimeStamp());
  Connected = false;
}

void TForm1::SetButtons(bool enabled) {
  Button1->setVisible(!enabled);
  Button4->setEnabled(enabled);
  Button5->setVisible(enabled);
  Button6->setVisible(enabled);
  for (QWidget* control : std::initializer_list<QWidget*>{
           ComboBox1, ComboBox2, CheckBox1, CheckBox2, CheckBox3, Edit1, Edit2, Edit3, RadioButton1,
           RadioButton2, RadioButton3, RadioButton4, RadioButton5})
    control->setEnabled(enabled);
}

void TForm1::Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    dialogs_->ErrorReport(error.what());
  }
}

void TForm1::RunOnWindowThread(const std::function<void()>& action) {
  if (QThread::currentThread() == thread()) {
    action();
  } else {
    QMetaObject::invokeMethod(this, action, Qt::BlockingQueuedConnection);
  }
}

// Waits for the worker's end while serving its synchronous calls, so that a worker blocked in
// one of them always reaches its next check point. A job-done message that arrives meanwhile
// waits until this wait is over: handled inside it, it would destroy the worker being waited
// for.
void TForm1::WaitForWorkerEnd() {
  if (!FWorker) return;
  transfer::TIOThread& worker = *FWorker;
  waitingForWorker_ = true;
  QEventLoop loop;
  QTimer poll;
  connect(&poll, &QTimer::timeout, &loop, [&] {
    if (worker.Finished()) loop.quit();
  });
  poll.start(WorkerPollMs);
  if (!worker.Finished()) loop.exec(QEventLoop::ExcludeUserInputEvents);
  worker.WaitFor();
  waitingForWorker_ = false;
  if (workerDoneDeferred_) {
    workerDoneDeferred_ = false;
    PostWorkerDone();
  }
}

// ---- messages from the worker ---------------------------------------------------------------

bool TForm1::event(QEvent* event) {
  if (event->type() == MsgWorkerDone) {
    if (waitingForWorker_) {
      workerDoneDeferred_ = true;
    } else {
      Guarded([this] { WorkerDone(); });
    }
    return true;
  }
  if (event->type() == MsgStatusText) {
    ShowStatusText();
    return true;
  }
  return QWidget::event(event);
}

void TForm1::ShowStatusText() {
  std::string text = protocol::StatusText();
  if (text.empty()) return;
  Memo1->appendPlainText(Q(text));
  // During Connect the window's thread is busy: show each line as it comes.
  Memo1->repaint();
}

void TForm1::ShowStatusText(const std::string&) {
  RunOnWindowThread([this] {
    QEvent message(MsgStatusText);
    QCoreApplication::sendEvent(this, &message);
  });
}

void TForm1::UpdateProgress(int32_t progress, const std::string& message) {
  RunOnWindowThread([this, progress, message] {
    if (progress >= 0) {
      ProgressBar1->setValue(progress);
      Label4->setText(QString::number(progress) + "%");
    }
    if (!message.empty()) Memo1->appendPlainText(Q(message));
  });
}

void TForm1::SetBarColour(uint32_t colour) {
  RunOnWindowThread([this, colour] {
    QColor bar(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
               static_cast<int>((colour >> 16) & 0xFF));
    Tint(ProgressBar1, QPalette::Highlight, bar);
  });
}

void TForm1::PostWorkerDone() {
  QCoreApplication::postEvent(this, new QEvent(MsgWorkerDone));
}

void TForm1::WorkerDone() {
  if (FWorker) {
    WaitForWorkerEnd();
    CheckWorkerEnd();
    FWorker.reset();
  }
  SetButtons(true);
}

// A job that ends by an error posts no done message: the window waits for Abort. Once the worker
// has ended, the log says, once, what the job left behind and how to go on.
void TForm1::CheckWorkerEnd() {
  if (FWorker && !FWorker->Finished()) return;
  workerWatch_->stop();
  if (!FWorker || workerEndTold_) return;
  workerEndTold_ = true;
  if (!FWorker->ErrorText().empty()) TellWhatTheJobLeft(FWorker->Terminated());
}

void TForm1::TellWhatTheJobLeft(bool aborting) {
  if (transfer::IsWriteJob()) {
    std::string speed;
    if (protocol::SerialLink())
      speed = " at " + std::to_string(protocol::SerialLink()->LineSettings.BaudRate) + " baud";
    AddLogLine("The deco is still in Service mode (-SE-)" + speed +
               ". Do not switch it off: its memory may be incomplete.");
    AddLogLine(aborting
                   ? "It can be written again with [WRITE]."
                   : "It can be written again: press [Abort] to return to idle, then [WRITE].");
    return;
  }
  for (const ReadTarget& target : readTargets_) {
    const FileState now = StateOf(target.File);
    const std::string name = protocol::BareFileName(target.File);
    if (now == target.Before) {
      AddLogLine(now.Exists ? name + " was not read: the file is as it was."
                            : name + " was not read.");
    } else if (static_cast<int64_t>(now.Size) < target.ImageBytes) {
      AddLogLine(name + " is incomplete: " + std::to_string(now.Size) + " of " +
                 std::to_string(target.ImageBytes) + " bytes.");
    } else {
      AddLogLine(name + " is complete: " + std::to_string(now.Size) + " bytes.");
    }
  }
  if (!aborting) AddLogLine("Press [Abort] to return to idle.");
}

// ---- job dialogs and instance host ------------------------------------------------------------

bool TForm1::Confirm(const std::string& text) {
  return dialogs_->Confirm(Q(text));
}
void TForm1::Message(const std::string& text) {
  dialogs_->Message(Q(text));
}

void TForm1::AddLogLine(const std::string& text) {
  Memo1->appendPlainText(Q(text));
  Memo1->repaint();
}

std::string TForm1::OwnerName() {
  return objectName().toStdString();
}
std::string TForm1::ApplicationTitle() {
  return QApplication::applicationDisplayName().toStdString();
}
void TForm1::SetApplicationTitle(const std::string& title) {
  QApplication::setApplicationDisplayName(Q(title));
}
void TForm1::Terminate() {
  terminationRequested_ = true;
  QCoreApplication::exit(0);
}
void TForm1::ShowErrorReport(const std::string& text) {
  dialogs_->ErrorReport(Q(text));
}
void TForm1::ShowWarning(const std::string& text) {
  dialogs_->WarningMessage(Q(text));
}

bool TForm1::RaiseWindowTitled(const std::string& title) {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->windowTitle() != Q(title)) continue;
    if (widget->isMinimized()) widget->showNormal();
    widget->raise();
    widget->activateWindow();
    return true;
  }
  return false;
}

// ---- commands -----------------------------------------------------------------------------------

void TForm1::ShowConnected(bool connected) {
  Button4->setText(connected ? "Disconnect" : "Connect");
  RadioButton4->setEnabled(!connected);
  RadioButton5->setEnabled(!connected);
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
  ComboBox1->setEnabled(!connected);
  ComboBox2->setEnabled(!connected);
}

void TForm1::Button4Click() {
  if (FWorker || holdingInput_) return;
  HoldInput([this] { ConnectOrDisconnect(); });
}

void TForm1::ConnectOrDisconnect() {
  protocol::BaseTimeout() = protocol::StandardBaseTimeout;
  bool standby = RadioButton4->isChecked();
  protocol::DecoInStandby() = standby;
  if (Connected) {
    transfer::DisconnectDeco();  // an error here goes to the error report; we stay connected
    Connected = false;
    ShowConnected(false);
    return;
  }
  Connected = true;
  ShowConnected(true);
  repaint();
  transfer::ConnectError error;
  const std::string port = ComboBox1->currentText().toStdString();
  if (transfer::ConnectDeco(port, ComboBox2->currentText().toStdString(), standby, error)) {
    AddLogLine("OK");
    return;
  }
  Connected = false;
  ShowConnected(false);
  // The exit attempt's lines alone leave the technician guessing: why, and what to check.
  std::string where = port.empty() ? "(none is selected)" : port;
  if (!error.Device.empty() && !EndsWith(error.Device, port)) where += " (" + error.Device + ")";
  AddLogLine("Connect failed: " + Sentence(error.Text) + " Check the port " + where +
             ", the Baud and the Status of deco (" + RadioButton4->text().toStdString() + " or " +
             RadioButton5->text().toStdString() + ").");
}

// Connect and Disconnect keep the window's thread for seconds while the log shows their lines.
// Input is dropped until they end, also what is still queued then: a click meant for "Connect"
// would otherwise run as Disconnect once the caption has changed.
void TForm1::HoldInput(const std::function<void()>& exchange) {
  holdingInput_ = true;
  qApp->installEventFilter(this);
  transfer::ScopeExit release([this] {
    QCoreApplication::processEvents();  // what was queued meets the filter now
    qApp->removeEventFilter(this);
    holdingInput_ = false;
  });
  exchange();
}

transfer::JobSelection TForm1::Snapshot() const {
  transfer::JobSelection selection;
  selection.Firmware = CheckBox1->isChecked();
  selection.Eeprom = CheckBox2->isChecked();
  selection.Channel = CheckBox3->isChecked();
  selection.FirmwareFile = Edit1->text().toStdString();
  selection.EepromFile = Edit2->text().toStdString();
  selection.ChannelFile = Edit3->text().toStdString();
  return selection;
}

void TForm1::StartWorker(const transfer::JobSelection& selection) {
  protocol::DecoInStandby() = RadioButton4->isChecked();
  bool writeJob = transfer::IsWriteJob();
  if (writeJob) {
    readTargets_.clear();
  } else {
    NoteReadTargets(selection);
  }
  FWorker = std::make_unique<transfer::TIOThread>(*this, selection);
  transfer::IsWriteJob() = writeJob;
  workerEndTold_ = false;
  workerWatch_->start();
  FWorker->Resume();
}

void TForm1::NoteReadTargets(const transfer::JobSelection& selection) {
  struct Memory {
    bool ticked;
    const std::string& file;
    int64_t imageBytes;
  } memories[] = {
      {selection.Firmware, selection.FirmwareFile, protocol::FirmwareImageBytes},
      {selection.Eeprom, selection.EepromFile, protocol::EepromImageBytes},
      {selection.Channel, selection.ChannelFile, protocol::ChannelImageBytes},
  };
  readTargets_.clear();
  for (const Memory& memory : memories) {
    if (memory.ticked)
      readTargets_.push_back({memory.file, memory.imageBytes, StateOf(memory.file)});
  }
}

TForm1::FileState TForm1::StateOf(const std::string& file) {
  namespace fs = std::filesystem;
  FileState state;
  std::error_code error;
  state.Exists = fs::exists(file, error);
  if (!state.Exists) return state;
  state.Size = fs::file_size(file, error);
  if (error) state.Size = 0;
  state.Time = fs::last_write_time(file, error);
  return state;
}

void TForm1::Button5Click() {
  if (FWorker) return;
  if (!Connected) {
    dialogs_->Message("Please [Connect] before READING");
    return;
  }
  transfer::JobSelection selection = Snapshot();
  if (!transfer::CheckReadFiles(selection, *this)) return;
  if (!transfer::AskReadOverwrites(selection, *this)) return;
  SetButtons(false);
  repaint();
  ProgressBar1->setValue(0);
  Label4->setText(" ");
  transfer::SetReadJobValues(selection);
  StartWorker(selection);
}

void TForm1::Button6Click() {
  if (FWorker) return;
  if (!Connected) {
    dialogs_->Message("Please [Connect] before WRITING");
    return;
  }
  if (!dialogs_->Confirm("Patch deco is risky.  Continue?")) return;
  ProgressBar1->setValue(0);
  Label4->setText(" ");
  transfer::SetWriteMethod(RadioButton2->isChecked()   ? transfer::WriteMethod::Safe
                           : RadioButton3->isChecked() ? transfer::WriteMethod::DifferentBlocks
                                                       : transfer::WriteMethod::Normal);
  transfer::JobSelection selection = Snapshot();
  if (!transfer::CheckWriteFiles(selection, *this)) return;
  SetButtons(false);
  repaint();
  try {
    transfer::MergeAndSetWriteJobValues(selection, *this);
  } catch (const std::exception& error) {
    // A merge that failed must stop the WRITE before any flash work.
    dialogs_->Message(Q(std::string(error.what()) + ". WRITE aborted!"));
    SetButtons(true);
    return;
  }
  StartWorker(selection);
}

void TForm1::Button1Click() {
  if (!dialogs_->Confirm(transfer::FlashWriteActive() ? WriteQuestion : ReadQuestion)) return;
  if (!FWorker) return;
  FWorker->Terminate();
  WaitForWorkerEnd();
  CheckWorkerEnd();
  FWorker.reset();
  protocol::WaitSeconds(AbortSettleSeconds);
  dialogs_->Message("Thread Aborted");
  SetButtons(true);
}

void TForm1::PickFile(QLineEdit* field, const char* title) {
  if (FWorker) return;
  std::optional<QString> chosen =
      dialogs_->OpenFile(title, QtFilterFromClassic(BinaryFilesFilter), openDialogFileName_);
  if (!chosen) return;
  openDialogFileName_ = *chosen;
  field->setText(*chosen);
}

void TForm1::Edit1DblClick() {
  PickFile(Edit1, "Open FIRMWARE File (2MB)");
}
void TForm1::Edit2DblClick() {
  PickFile(Edit2, "Open EEPROM File (2KB)");
}
void TForm1::Edit3DblClick() {
  PickFile(Edit3, "Open CHANNEL File (512KB)");
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (holdingInput_ && IsUserInput(event->type())) return true;
  if (event->type() == QEvent::MouseButtonDblClick) {
    if (watched == Edit1) Guarded([this] { Edit1DblClick(); });
    if (watched == Edit2) Guarded([this] { Edit2DblClick(); });
    if (watched == Edit3) Guarded([this] { Edit3DblClick(); });
    if (watched == Edit1 || watched == Edit2 || watched == Edit3) return true;
  }
  return QWidget::eventFilter(watched, event);
}

bool TForm1::FormCloseQuery() {
  bool canClose = true;
  if (FWorker && !dialogs_->Warning(transfer::FlashWriteActive() ? WriteQuestion : ReadQuestion))
    canClose = false;
  if (canClose && FWorker) {
    FWorker->Terminate();
    WaitForWorkerEnd();
    CheckWorkerEnd();
    FWorker.reset();
  }
  if (protocol::SerialLink() && !dialogs_->Warning(PortQuestion)) canClose = false;
  return canClose;
}

void TForm1::closeEvent(QCloseEvent* event) {
  bool canClose = true;
  Guarded([&] { canClose = FormCloseQuery(); });
  if (canClose) {
    event->accept();
  } else {
    event->ignore();
  }
}

}  // namespace window
