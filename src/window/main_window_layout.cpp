#include "window/main_window_layout.h"

#include <stdexcept>

namespace window {

namespace {

using K = ControlKind;

constexpr const char* DecoStatusHint = "See display of deco before connecting";
constexpr const char* FileFieldHint = "Double click to select file";

std::vector<ControlLayout> MakeLayout() {
  return {
      {.Name = "Memo1",
       .Kind = K::Memo,
       .Box = {288, 248, 273, 145},
       .Items = {"***      Close all other active applications       ***",
                 "***      Deco must be standby or -SE-            ***",
                 "***   [Connect] before [READ] or [WRITE]    ***"},
       .TabOrder = 1},
      {.Name = "GroupBox1",
       .Kind = K::Frame,
       .Box = {24, 16, 537, 81},
       .Caption = "COMMUNICATION",
       .TabOrder = 0,
       .StartsGroup = true},
      {.Name = "ComboBox1",
       .Kind = K::List,
       .Box = {72, 32, 97, 21},
       .Parent = "GroupBox1",
       .Items = {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6"},
       .TabOrder = 0,
       .StartsGroup = true,
       .Named = Control::ComboBox1},
      {.Name = "ComboBox2",
       .Kind = K::List,
       .Box = {224, 32, 81, 21},
       .Parent = "GroupBox1",
       .Items = {"9600", "38400", "115200"},
       .TabOrder = 1,
       .Named = Control::ComboBox2},
      {.Name = "Label1",
       .Kind = K::Label,
       .Box = {16, 36, 47, 13},
       .Parent = "GroupBox1",
       .Caption = "Serial port"},
      {.Name = "Label2",
       .Kind = K::Label,
       .Box = {192, 36, 25, 13},
       .Parent = "GroupBox1",
       .Caption = "Baud"},
      {.Name = "GroupBox2",
       .Kind = K::Frame,
       .Box = {24, 104, 537, 129},
       .Caption = "FILES",
       .TabOrder = 2,
       .StartsGroup = true},
      {.Name = "CheckBox1",
       .Kind = K::CheckBox,
       .Box = {24, 24, 97, 17},
       .Parent = "GroupBox2",
       .Caption = "Firmware 2MB",
       .TabOrder = 0,
       .StartsGroup = true,
       .Named = Control::CheckBox1},
      {.Name = "CheckBox2",
       .Kind = K::CheckBox,
       .Box = {24, 56, 97, 17},
       .Parent = "GroupBox2",
       .Caption = "Eeprom 2KB",
       .Hint = "Don't forget to write Eeprom !",
       .TabOrder = 1,
       .Named = Control::CheckBox2},
      {.Name = "CheckBox3",
       .Kind = K::CheckBox,
       .Box = {24, 88, 97, 17},
       .Parent = "GroupBox2",
       .Caption = "Channel 512KB",
       .TabOrder = 2,
       .Named = Control::CheckBox3},
      {.Name = "Edit1",
       .Kind = K::Edit,
       .Box = {128, 24, 393, 21},
       .Parent = "GroupBox2",
       .Caption = "Fw.bin",
       .Hint = FileFieldHint,
       .Cursor = Pointer::Hand,
       .TabOrder = 3,
       .Named = Control::Edit1},
      {.Name = "Edit2",
       .Kind = K::Edit,
       .Box = {128, 56, 393, 21},
       .Parent = "GroupBox2",
       .Caption = "E.bin",
       .Hint = FileFieldHint,
       .Cursor = Pointer::Hand,
       .TabOrder = 4,
       .Named = Control::Edit2},
      {.Name = "Edit3",
       .Kind = K::Edit,
       .Box = {128, 88, 393, 21},
       .Parent = "GroupBox2",
       .Caption = "Ch.bin",
       .Hint = FileFieldHint,
       .Cursor = Pointer::Hand,
       .TabOrder = 5,
       .Named = Control::Edit3},
      {.Name = "Button4",
       .Kind = K::Button,
       .Box = {440, 32, 81, 25},
       .Parent = "GroupBox1",
       .Caption = "Connect",
       .TabOrder = 2,
       .Named = Control::Button4},
      {.Name = "Button5",
       .Kind = K::Button,
       .Box = {24, 360, 73, 33},
       .Caption = "READ",
       .Hint = "Read data from deco and save to files",
       .TabOrder = 3,
       .StartsGroup = true,
       .Named = Control::Button5},
      {.Name = "Button6",
       .Kind = K::Button,
       .Box = {168, 360, 73, 33},
       .Caption = "WRITE",
       .Hint = "Write files to deco",
       .TabOrder = 4,
       .StartsGroup = true,
       .Named = Control::Button6},
      {.Name = "RadioGroup1",
       .Kind = K::Frame,
       .Box = {24, 248, 249, 97},
       .Caption = "WRITE METHOD",
       .TabOrder = 5,
       .StartsGroup = true},
      {.Name = "RadioButton1",
       .Kind = K::RadioButton,
       .Box = {48, 272, 209, 17},
       .Caption = "Normal (Write once)",
       .Checked = true,
       .TabOrder = 6,
       .StartsGroup = true,
       .Group = "RadioGroup1",
       .Named = Control::RadioButton1},
      {.Name = "RadioButton2",
       .Kind = K::RadioButton,
       .Box = {48, 296, 209, 17},
       .Caption = "Safe (Write, Verify, Rewrite diff. blocks)",
       .TabOrder = 7,
       .Group = "RadioGroup1",
       .Named = Control::RadioButton2},
      {.Name = "RadioButton3",
       .Kind = K::RadioButton,
       .Box = {48, 320, 209, 17},
       .Caption = "Different blocks (Verify before Writing)",
       .Hint = "May be faster",
       .TabOrder = 8,
       .Group = "RadioGroup1",
       .Named = Control::RadioButton3},
      {.Name = "ProgressBar1",
       .Kind = K::ProgressBar,
       .Box = {24, 400, 505, 17},
       .TabOrder = 9,
       .StartsGroup = true},
      // Shown while a job runs.
      {.Name = "Button1",
       .Kind = K::Button,
       .Box = {104, 360, 57, 33},
       .Caption = "Abort",
       .Visible = false,
       .Cursor = Pointer::Wait,
       .TabOrder = 10,
       .StartsGroup = true,
       .Named = Control::Button1},
      {.Name = "Label4",
       .Kind = K::Label,
       .Box = {528, 400, 33, 17},
       .Caption = " ",
       .StartsGroup = true,
       .Centred = true,
       .Named = Control::Label4},
      {.Name = "RadioGroup2",
       .Kind = K::Frame,
       .Box = {320, 16, 105, 57},
       .Parent = "GroupBox1",
       .Caption = "Status of deco",
       .Hint = DecoStatusHint,
       .TabOrder = 3,
       .StartsGroup = true},
      {.Name = "RadioButton4",
       .Kind = K::RadioButton,
       .Box = {328, 32, 89, 17},
       .Parent = "GroupBox1",
       .Caption = "Standby --:--",
       .Hint = DecoStatusHint,
       .Checked = true,
       .TabOrder = 4,
       .StartsGroup = true,
       .Group = "RadioGroup2",
       .Named = Control::RadioButton4},
      {.Name = "RadioButton5",
       .Kind = K::RadioButton,
       .Box = {328, 48, 89, 17},
       .Parent = "GroupBox1",
       .Caption = "Service -SE-",
       .Hint = DecoStatusHint,
       .TabOrder = 5,
       .Group = "RadioGroup2",
       .Named = Control::RadioButton5},
  };
}

}  // namespace

const std::vector<ControlLayout>& MainWindowLayout() {
  static const std::vector<ControlLayout> layout = MakeLayout();
  return layout;
}

size_t LayoutRow(std::string_view name) {
  const std::vector<ControlLayout>& layout = MainWindowLayout();
  for (size_t row = 0; row < layout.size(); ++row)
    if (name == layout[row].Name) return row;
  throw std::out_of_range("no control " + std::string(name) + " in the layout table");
}

size_t LayoutRow(Control control) {
  const std::vector<ControlLayout>& layout = MainWindowLayout();
  for (size_t row = 0; row < layout.size(); ++row)
    if (layout[row].Named == control) return row;
  throw std::out_of_range("no control number " + std::to_string(static_cast<int>(control)) +
                          " in the layout table");
}

const ControlLayout& LayoutOf(Control control) {
  return MainWindowLayout()[LayoutRow(control)];
}

int ControlId(size_t row) {
  return FirstControlId + static_cast<int>(row);
}

}  // namespace window
