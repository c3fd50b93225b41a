// The window's behaviour around its jobs, without a toolkit: the questions and refusals of
// READ and WRITE, the merge before a WRITE, Abort, and a job-done message that meets a stop.
// Through a recording fake view, against the simulated deco.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>

#include "protocol/image_files.h"
#include "transfer/job_plan.h"
#include "transfer/time_stamp.h"
#include "window/main_window_fixture.h"

using testing_support::AsText;
using testing_support::FakeView;
using testing_support::ReadFile;
using testing_support::ServiceMainWindowTest;
using testing_support::WriteFile;
using testing_support::PortQuestion;
using testing_support::ReadQuestion;
using testing_support::WriteQuestion;
using window::Control;

namespace {

using Asked = FakeView::Asked;

constexpr const char* Risky = "Patch deco is risky.  Continue?";
// Not a position the window ever sets: shows whether a command reset the progress display.
constexpr int32_t Untouched = 42;

// No control was enabled, disabled, shown or hidden.
void ExpectNoControlChanged(const std::vector<std::string>& journal) {
  for (const std::string& change : journal) {
    EXPECT_NE(change.rfind("SetEnabled", 0), 0u) << change;
    EXPECT_NE(change.rfind("SetVisible", 0), 0u) << change;
  }
}

}  // namespace

// Each READ that does not start: what it asks and says, and that nothing else changes.
TEST_F(ServiceMainWindowTest, ReadRefusalsAndQuestions) {
  struct Row {
    const char* name;
    bool connected;
    const char* ticked;    // F firmware, E EEPROM, C channel
    const char* existing;  // files that hold data
    const char* empty;     // files that exist with no data
    std::deque<bool> answers;
    std::vector<Asked> asked;
  } rows[] = {
      {"not connected",
       false,
       "FEC",
       "FEC",
       "",
       {},
       {{"Message", "Please [Connect] before READING"}}},
      {"No at the second of three questions: the third is not asked",
       true,
       "FEC",
       "FEC",
       "",
       {true, false},
       {{"Confirm", "Do you really want to overwrite   Fw.bin ?"},
        {"Confirm", "Do you really want to overwrite   E.bin ?"},
        {"Message", "READ ignored!"}}},
      {"a missing and an empty file are not asked about",
       true,
       "FEC",
       "C",
       "E",
       {false},
       {{"Confirm", "Do you really want to overwrite   Ch.bin ?"}, {"Message", "READ ignored!"}}},
      {"an unticked file is not asked about",
       true,
       "E",
       "FEC",
       "",
       {false},
       {{"Confirm", "Do you really want to overwrite   E.bin ?"}, {"Message", "READ ignored!"}}},
      {"no box ticked", true, "", "FEC", "", {}, {{"Message", "READ ignored!"}}},
  };
  const struct {
    char letter;
    Control box, edit;
    const char* file;
  } memories[] = {{'F', Control::CheckBox1, Control::Edit1, "Fw.bin"},
                  {'E', Control::CheckBox2, Control::Edit2, "E.bin"},
                  {'C', Control::CheckBox3, Control::Edit3, "Ch.bin"}};
  int number = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.connected && !form->Connected()) Connect();
    // Each row in a folder of its own; the questions name the files without it.
    const std::string folder = dir.File("row" + std::to_string(++number));
    std::filesystem::create_directory(folder);
    for (const auto& memory : memories) {
      const std::string file = folder + "/" + memory.file;
      view.Tick(memory.box, std::string(row.ticked).find(memory.letter) != std::string::npos);
      view.Type(memory.edit, file);
      if (std::string(row.existing).find(memory.letter) != std::string::npos)
        WriteFile(file, "old");
      if (std::string(row.empty).find(memory.letter) != std::string::npos) WriteFile(file, "");
    }
    view.asked.clear();
    view.journal.clear();
    view.progress = Untouched;
    view.answers = row.answers;
    form->Button5Click();
    EXPECT_EQ(view.asked, row.asked);
    EXPECT_EQ(form->Worker(), nullptr);
    EXPECT_EQ(view.progress, Untouched);
    ExpectNoControlChanged(view.journal);
  }
}

// Each WRITE that does not start: what it asks and says, and what it changes.
TEST_F(ServiceMainWindowTest, WriteRefusals) {
  const std::string fileMessage = " does not exist or has wrong size. WRITE aborted!";
  struct Row {
    const char* name;
    bool connected;
    Control method;
    const char* ticked;  // F firmware, E EEPROM, C channel
    std::deque<bool> answers;
    std::vector<Asked> asked;
    bool progressReset;
  } rows[] = {
      {"not connected",
       false,
       Control::RadioButton1,
       "F",
       {},
       {{"Message", "Please [Connect] before WRITING"}},
       false},
      {"No to the risk", true, Control::RadioButton1, "F", {false}, {{"Confirm", Risky}}, false},
      // The first failing file stops the checks: the message names it alone.
      {"a missing firmware, with every box ticked",
       true,
       Control::RadioButton2,
       "FEC",
       {},
       {{"Confirm", Risky}, {"Message", "Fw.bin" + fileMessage}},
       true},
      {"a missing firmware, Different blocks",
       true,
       Control::RadioButton3,
       "F",
       {},
       {{"Confirm", Risky}, {"Message", "Fw.bin" + fileMessage}},
       true},
      {"no box ticked",
       true,
       Control::RadioButton1,
       "",
       {},
       {{"Confirm", Risky}, {"Message", "CheckBoxes are not checked or File" + fileMessage}},
       true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.connected && !form->Connected()) Connect();
    view.Choose(row.method);
    const std::string ticked = row.ticked;
    Tick(Control::CheckBox1, Control::Edit1, "Fw.bin");
    view.Tick(Control::CheckBox1, ticked.find('F') != std::string::npos);
    view.Tick(Control::CheckBox2, ticked.find('E') != std::string::npos);
    view.Tick(Control::CheckBox3, ticked.find('C') != std::string::npos);
    view.asked.clear();
    view.journal.clear();
    view.progress = Untouched;
    view.SetText(Control::Label4, "42%");
    view.answers = row.answers;
    form->Button6Click();
    EXPECT_EQ(view.asked, row.asked);
    EXPECT_EQ(form->Worker(), nullptr);
    EXPECT_EQ(view.progress, row.progressReset ? 0 : Untouched);
    EXPECT_EQ(view.Text(Control::Label4), row.progressReset ? " " : "42%");
    ExpectNoControlChanged(view.journal);
  }
}

TEST_F(ServiceMainWindowTest, WriteMergesTheChannelIntoTheFirmwareBeforeTheJob) {
  Connect();
  view.Choose(Control::RadioButton3);
  const std::string flash = AsText(deco.Model().Flash());
  WriteFile(dir.File("Fw.bin"), flash);
  WriteFile(dir.File("Ch.bin"), flash.substr(0, protocol::ChannelImageBytes));
  Tick(Control::CheckBox1, Control::Edit1, "Fw.bin");
  Tick(Control::CheckBox3, Control::Edit3, "Ch.bin");
  form->Button6Click();
  ASSERT_NE(form->Worker(), nullptr);
  // The worker waits for its first hand-over: these lines came before it ran.
  ASSERT_GE(view.log.size(), 2u);
  EXPECT_EQ(view.log[view.log.size() - 2], "Inserting Channel into Firmware file ...");
  EXPECT_EQ(view.log.back(),
            "CHANNEL is inserted into FIRMWARE file: " + form->Names().MergedFileName + " !");
  EXPECT_TRUE(form->Plan().ChannelMerged);
  EXPECT_EQ(form->Plan().BlockCount, transfer::FirmwareBlocks);
  ASSERT_TRUE(WaitForJobEnd());
  // The comparison found nothing to write, so the final check has nothing to read back; the
  // comparison's read is the backup.
  ASSERT_GE(view.log.size(), 3u);
  EXPECT_EQ(view.log[view.log.size() - 3], "Verifing done. No different bytes found!");
  EXPECT_EQ(view.log[view.log.size() - 2],
            "Final check: no flash sector was written after the last comparison.");
  EXPECT_EQ(view.log.back(),
            "Backup of the deco before this WRITE: " + form->Names().BackupFolderName + ".");
}

TEST_F(ServiceMainWindowTest, AbortAsksByTheJobAndReturnsToIdle) {
  struct Row {
    const char* name;
    bool write;
    int32_t stopAt;  // percent of the job's phase
    bool answer;
    std::vector<Asked> asked;
    bool stops;
    // The WRITE's method; the phases begun in turn (by their lines' starts) before the stop; the
    // lines the log then ends with.
    Control method = Control::RadioButton1;
    std::vector<std::string> phases = {};
    std::vector<std::string> told = {};
  } rows[] = {
      {"answered No: the job goes on", false, 5, false, {{"Confirm", ReadQuestion}}, false},
      {"during a READ",
       false,
       5,
       true,
       {{"Confirm", ReadQuestion}, {"Message", "Thread Aborted"}},
       true},
      {"during a WRITE's flash write",
       true,
       1,
       true,
       {{"Confirm", WriteQuestion}, {"Message", "Thread Aborted"}},
       true,
       Control::RadioButton1,
       {"Write "}},
      // A WRITE's reads are a WRITE's too (a Safe one's read-back follows a write): the
      // question is the WRITE's, and the log says where it stopped.
      {"during a Different blocks WRITE's reading",
       true,
       1,
       true,
       {{"Confirm", WriteQuestion}, {"Message", "Thread Aborted"}},
       true,
       Control::RadioButton3,
       {"Read CHANNEL ..."},
       {"The WRITE was stopped during: Read CHANNEL.", "Flash: no flash sector was erased.",
        "The deco is still in Service mode (-SE-) at 115200 baud. Do not switch it off: its "
        "memory may be incomplete.",
        "It can be written again with [WRITE]."}},
      {"after the job has ended: asked, and nothing more",
       false,
       -1,
       true,
       {{"Confirm", ReadQuestion}},
       false},
  };
  Connect();
  WriteFile(dir.File("Ch.bin"),
            AsText(deco.Model().Flash()).substr(0, protocol::ChannelImageBytes));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (!form->Worker()) {
      view.Tick(Control::CheckBox1, !row.write);
      view.Tick(Control::CheckBox3, row.write);
      view.Type(Control::Edit1, dir.File("Fw.bin"));
      view.Type(Control::Edit3, dir.File("Ch.bin"));
      view.Tick(row.method);
      (row.write ? form->Button6Click() : form->Button5Click());
      ASSERT_NE(form->Worker(), nullptr);
    }
    for (size_t seen = view.log.size(); const std::string& phase : row.phases) {
      ASSERT_TRUE(view.PumpUntil(
          [&] {
            for (; seen < view.log.size(); ++seen)
              if (view.log[seen].rfind(phase, 0) == 0) return true;
            return false;
          },
          testing_support::JobTimeoutMs))
          << phase;
    }
    if (row.stopAt < 0) {
      ASSERT_TRUE(WaitForJobEnd());
    } else {
      ASSERT_TRUE(view.PumpUntil([&] { return view.progress >= row.stopAt; }, 5000));
    }
    view.asked.clear();
    view.journal.clear();
    view.workerDonePosts = 0;
    view.answers = {row.answer};
    form->Button1Click();
    EXPECT_EQ(view.asked, row.asked);
    ASSERT_GE(view.log.size(), row.told.size());
    EXPECT_EQ(std::vector<std::string>(view.log.end() - static_cast<std::ptrdiff_t>(row.told.size()),
                                       view.log.end()),
              row.told);
    if (row.stops) {
      EXPECT_EQ(form->Worker(), nullptr);
      EXPECT_TRUE(view.State(Control::Button5).visible);
      EXPECT_FALSE(view.State(Control::Button1).visible);
      EXPECT_FALSE(form->WritingFlash());
      view.Pump();
      EXPECT_EQ(view.workerDonePosts, 0);  // a stopped worker posts no job-done message
      // A READ stops between blocks.
      if (!row.write) {
        EXPECT_EQ(protocol::FileSizeOf(dir.File("Fw.bin")) % 256, 0);
      }
    } else {
      ExpectNoControlChanged(view.journal);
    }
    if (row.stopAt >= 0 && !row.stops) {
      EXPECT_NE(form->Worker(), nullptr);
    }
  }
}

// The worker's last act is to post its job-done message; it may be queued when the user stops
// the job, and arrive while the window waits for the worker's end.
TEST_F(ServiceMainWindowTest, AbortOrCloseWithTheJobDoneMessageAlreadyQueued) {
  for (bool closing : {false, true}) {
    SCOPED_TRACE(closing ? "close" : "Abort");
    if (!form->Connected()) Connect();
    Tick(Control::CheckBox1, Control::Edit1, "Fw.bin");
    form->Button5Click();
    ASSERT_NE(form->Worker(), nullptr);
    view.PostWorkerDone();
    // Yes to the job question; No to the port question that closing asks next.
    view.answers = closing ? std::deque<bool>{true, false} : std::deque<bool>{true};
    view.journal.clear();
    if (closing) {
      EXPECT_FALSE(form->FormCloseQuery());
    } else {
      form->Button1Click();
      ASSERT_FALSE(view.asked.empty());
      EXPECT_EQ(view.asked.back().text, "Thread Aborted");
    }
    EXPECT_EQ(form->Worker(), nullptr);
    // The message waited until the stop was over: the controls came back after "Thread
    // Aborted", and not at all while closing.
    auto position = [&](const std::string& entry) {
      return std::find(view.journal.begin(), view.journal.end(), entry) - view.journal.begin();
    };
    const auto none = static_cast<std::ptrdiff_t>(view.journal.size());
    if (closing) {
      EXPECT_EQ(position("SetVisible Button5 1"), none);
    } else {
      EXPECT_LT(position("Ask Message"), position("SetVisible Button5 1"));
    }
    view.Pump();  // handled with no worker: controls back
    EXPECT_TRUE(view.State(Control::Button5).visible);
    EXPECT_FALSE(view.State(Control::Button1).visible);
  }
}
