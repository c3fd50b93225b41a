// The layout table holds together: what the behaviour names is in it once, each control lies
// inside what holds it, the tab order and the radio buttons' groups are whole. The views build
// from it (form1_test.cpp checks the Qt view's controls against it, the Wine test the Win32
// view's).
#include "window/main_window_layout.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

using window::ControlKind;
using window::ControlLayout;
using window::MainWindowLayout;

namespace {

window::Bounds ClientArea(const ControlLayout& row) {
  if (row.Parent.empty()) return {0, 0, window::ClientWidth, window::ClientHeight};
  const window::Bounds frame = MainWindowLayout()[window::LayoutRow(row.Parent)].Box;
  return {0, 0, frame.Width, frame.Height};
}

bool Inside(const window::Bounds& inner, const window::Bounds& outer) {
  return inner.Left >= outer.Left && inner.Top >= outer.Top &&
         inner.Left + inner.Width <= outer.Left + outer.Width &&
         inner.Top + inner.Height <= outer.Top + outer.Height;
}

}  // namespace

TEST(MainWindowLayoutTest, EachControlTheBehaviourNamesHasOneRowOfItsName) {
  constexpr int Count = static_cast<int>(window::Control::Label4) + 1;
  for (int number = 0; number < Count; ++number) {
    const auto control = static_cast<window::Control>(number);
    int rows = 0;
    for (const ControlLayout& row : MainWindowLayout()) rows += row.Named == control ? 1 : 0;
    EXPECT_EQ(rows, 1) << number;
    EXPECT_EQ(MainWindowLayout()[window::LayoutRow(control)].Named, control);
  }
  EXPECT_THROW(window::LayoutRow("Button2"), std::out_of_range);
}

TEST(MainWindowLayoutTest, EachControlLiesInsideAFrameMadeBeforeIt) {
  std::set<std::string> made;
  for (const ControlLayout& row : MainWindowLayout()) {
    SCOPED_TRACE(row.Name);
    EXPECT_TRUE(made.insert(row.Name).second) << "a second row of this name";
    if (!row.Parent.empty()) {
      EXPECT_TRUE(made.count(std::string(row.Parent)));
      EXPECT_EQ(MainWindowLayout()[window::LayoutRow(row.Parent)].Kind, ControlKind::Frame);
    }
    EXPECT_TRUE(Inside(row.Box, ClientArea(row)));
  }
}

TEST(MainWindowLayoutTest, EachParentsTabOrderCountsFromNoughtWithoutAGap) {
  std::map<std::string_view, std::set<int>> orders;
  for (const ControlLayout& row : MainWindowLayout()) {
    if (row.Kind == ControlKind::Label) {
      EXPECT_EQ(row.TabOrder, window::NoTabOrder) << row.Name;
      continue;
    }
    EXPECT_TRUE(orders[row.Parent].insert(row.TabOrder).second) << row.Name;
  }
  for (const auto& [parent, order] : orders) {
    SCOPED_TRACE(std::string(parent));
    EXPECT_EQ(*order.begin(), 0);
    EXPECT_EQ(*order.rbegin(), static_cast<int>(order.size()) - 1);
  }
}

// Each group stands on its frame, beside it under one parent; one button is chosen, and the
// first in the tab order begins the group that the arrow keys move in.
TEST(MainWindowLayoutTest, EachRadioButtonStandsOnItsGroupsFrame) {
  std::map<std::string_view, std::vector<const ControlLayout*>> groups;
  for (const ControlLayout& row : MainWindowLayout()) {
    EXPECT_EQ(row.Kind == ControlKind::RadioButton, !row.Group.empty()) << row.Name;
    if (!row.Group.empty()) groups[row.Group].push_back(&row);
  }
  EXPECT_EQ(groups.size(), 2u);
  for (const auto& [name, buttons] : groups) {
    SCOPED_TRACE(std::string(name));
    const ControlLayout& frame = MainWindowLayout()[window::LayoutRow(name)];
    EXPECT_EQ(frame.Kind, ControlKind::Frame);
    int chosen = 0;
    const ControlLayout* first = buttons.front();
    for (const ControlLayout* button : buttons) {
      SCOPED_TRACE(button->Name);
      EXPECT_EQ(button->Parent, frame.Parent);
      EXPECT_TRUE(Inside(button->Box, frame.Box));
      EXPECT_GT(button->TabOrder, frame.TabOrder);
      chosen += button->Checked ? 1 : 0;
      if (button->TabOrder < first->TabOrder) first = button;
    }
    EXPECT_EQ(chosen, 1);
    for (const ControlLayout* button : buttons)
      EXPECT_EQ(button->StartsGroup, button == first) << button->Name;
  }
}
