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
#include <algorithm>
#include <map>

#include "window/qt_dialogs.h"

namespace window {

namespace {

constexpr int WorkerPollMs = 10;
// The system's active-border colour of the classic window.
const QColor ActiveBorder(0xD4, 0xD0, 0xC8);

QColor Colour(uint32_t bbggrr) {
  return QColor(static_cast<int>(bbggrr & 0xFF), static_cast<int>((bbggrr >> 8) & 0xFF),
                static_cast<int>((bbggrr >> 16) & 0xFF));
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
  setObjectName(FormName);
  setWindowTitle(WindowCaption);
  QFont font;
  font.setFamilies(QStringList(std::begin(FontFaces), std::end(FontFaces)));
  font.setPixelSize(FontPixels);
  setFont(font);
  Tint(this, QPalette::Window, Colour(WindowColour));
  move(FormBounds.Left, FormBounds.Top);
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

QWidget* QtMainWindow::MakeControl(const ControlLayout& row) {
  QWidget* parent = row.Parent.empty() ? this : Named(row.Parent);
  const QString caption = Q(row.Caption);
  QWidget* control = nullptr;
  switch (row.Kind) {
    case ControlKind::Memo: {
      auto* memo = new QPlainTextEdit(parent);
      memo->setReadOnly(true);
      memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
      memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
      memo->setLineWrapMode(QPlainTextEdit::NoWrap);
      Tint(memo, QPalette::Text, Colour(LogTextColour));
      for (const std::string& line : row.Items) memo->appendPlainText(Q(line));
      control = memo_ = memo;
      break;
    }
    case ControlKind::Frame:
      control = new QGroupBox(caption, parent);
      break;
    case ControlKind::List: {
      auto* list = new QComboBox(parent);
      for (const std::string& item : row.Items) list->addItem(Q(item));
      control = list;
      break;
    }
    case ControlKind::Label: {
      auto* label = new QLabel(caption, parent);
      if (row.Centred) label->setAlignment(Qt::AlignCenter);
      control = label;
      break;
    }
    case ControlKind::CheckBox:
      control = new QCheckBox(caption, parent);
      break;
    case ControlKind::Edit: {
      auto* edit = new QLineEdit(caption, parent);
      edit->installEventFilter(this);
      control = edit;
      break;
    }
    case ControlKind::Button:
      control = new QPushButton(caption, parent);
      break;
    case ControlKind::RadioButton: {
      auto* button = new QRadioButton(caption, parent);
      button->setChecked(row.Checked);
      control = button;
      break;
    }
    case ControlKind::ProgressBar:
      bar_ = new QProgressBar(parent);
      bar_->setRange(0, 100);
      bar_->setValue(0);
      bar_->setTextVisible(false);
      control = bar_;
      break;
  }
  control->setObjectName(row.Name);
  control->setGeometry(row.Box.Left, row.Box.Top, row.Box.Width, row.Box.Height);
  if (row.Kind == ControlKind::Label) {
    // A label grows to its caption, from the position given.
    control->resize(std::max(control->width(), control->sizeHint().width()), control->height());
  }
  if (!row.Hint.empty()) control->setToolTip(Q(row.Hint));
  if (row.Cursor == Pointer::Hand) control->setCursor(Qt::PointingHandCursor);
  if (row.Cursor == Pointer::Wait) control->setCursor(Qt::WaitCursor);
  if (!row.Visible) control->setVisible(false);
  // On the window's face, what shows the active-border colour fills it in; inside a frame it
  // shows the frame's.
  const bool activeBorderFace = row.Kind == ControlKind::Frame || row.Kind == ControlKind::Label ||
                                row.Kind == ControlKind::CheckBox ||
                                row.Kind == ControlKind::RadioButton;
  if (activeBorderFace && row.Parent.empty()) Tint(control, QPalette::Window, ActiveBorder);
  return control;
}

void QtMainWindow::BuildControls() {
  for (const ControlLayout& row : MainWindowLayout()) controls_.push_back(MakeControl(row));
  // The radio buttons stand on top of their frames, not inside them. Each frame's group
  // excludes by itself: Qt's automatic exclusion looks at all descendants of a parent, which
  // would mix the window's three with the two inside GroupBox1.
  std::map<std::string_view, QButtonGroup*> groups;
  for (const ControlLayout& row : MainWindowLayout()) {
    if (row.Group.empty()) continue;
    auto* button = qobject_cast<QRadioButton*>(Named(row.Name));
    button->raise();
    QButtonGroup*& group = groups[row.Group];
    if (!group) group = new QButtonGroup(button->parentWidget());
    group->addButton(button);
  }

  auto on = [this](Control control, void (TForm1::*handler)()) {
    connect(qobject_cast<QPushButton*>(Widget(control)), &QPushButton::clicked, this,
            [this, handler] { (form_.get()->*handler)(); });
  };
  on(Control::Button4, &TForm1::Button4Click);
  on(Control::Button5, &TForm1::Button5Click);
  on(Control::Button6, &TForm1::Button6Click);
  on(Control::Button1, &TForm1::Button1Click);
}

// Each parent's controls chained in their tab order.
void QtMainWindow::SetTabOrder() {
  std::map<std::string_view, std::map<int, QWidget*>> chains;
  for (size_t row = 0; row < controls_.size(); ++row) {
    const ControlLayout& layout = MainWindowLayout()[row];
    if (layout.TabOrder != NoTabOrder) chains[layout.Parent][layout.TabOrder] = controls_[row];
  }
  for (const auto& [parent, chain] : chains) {
    QWidget* previous = nullptr;
    for (const auto& [order, control] : chain) {
      if (previous) QWidget::setTabOrder(previous, control);
      previous = control;
    }
  }
}

QWidget* QtMainWindow::Widget(Control control) const {
  return controls_.at(LayoutRow(control));
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
  QWidget* list = Widget(Control::ComboBox1);
  if (connected) {
    list->setStyleSheet(
        QString("QComboBox { background-color: %1; border: 1px solid gray; padding-left: 3px; }")
            .arg(Colour(ConnectedPortColour).name()));
  } else {
    list->setStyleSheet(QString());
    // The style sheet leaves its palette and font behind; empty ones inherit the window's again.
    list->setPalette(QPalette());
    list->setFont(QFont());
  }
}

void QtMainWindow::AddLogLine(const std::string& line) {
  memo_->appendPlainText(Q(line));
  // During Connect the window's thread is busy: show each line as it comes.
  memo_->repaint();
}

void QtMainWindow::SetProgress(int32_t position) {
  bar_->setValue(position);
}

void QtMainWindow::SetBarColour(uint32_t colour) {
  Tint(bar_, QPalette::Highlight, Colour(colour));
}

void QtMainWindow::SetCaption(const std::string& caption) {
  setWindowTitle(Q(caption));
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

void QtMainWindow::RequestClose() {
  QMetaObject::invokeMethod(this, [this] { close(); }, Qt::QueuedConnection);
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
    if (watched == Widget(Control::Edit1)) form_->Edit1DblClick();
    if (watched == Widget(Control::Edit2)) form_->Edit2DblClick();
    if (watched == Widget(Control::Edit3)) form_->Edit3DblClick();
    for (Control field : {Control::Edit1, Control::Edit2, Control::Edit3})
      if (watched == Widget(field)) return true;
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
