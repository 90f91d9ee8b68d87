#include "support/Program.h"
#include "ui/Resource.h"

#include <gtest/gtest.h>

namespace marlet::test {
namespace {

TEST(Messages, SuppressionTable)
{
    struct Case {
        int quietMode;
        int noMessages;
        bool boxShown;
    };
    const Case cases[] = {{0, 0, true}, {1, 0, false}, {4, 0, false}, {0, 1, false}, {4, 1, false}};
    for (const Case& c : cases) {
        World w;
        w.windows.script = [&](CDialog& d, MemoryDialogWindow& window) {
            auto& dlg = static_cast<CDownloadDlg&>(d);
            QuietMode = c.quietMode;
            NoMessages = c.noMessages;
            const int shown = dlg.ShowMessage("First.\n\nSecond.");
            EXPECT_EQ(window.GetItemText(IDC_STATUS), "First.  Second."); // always reaches the status box
            EXPECT_EQ(shown, c.boxShown ? IDOK : 0);
            const int portBox = ShowMessageBox("port layer");
            EXPECT_EQ(portBox, c.boxShown ? IDOK : 0);
            EXPECT_EQ(window.GetItemText(IDC_STATUS), "First.  Second."); // the port layer leaves the status
        };
        Program(w).Run();
        if (c.boxShown) {
            ASSERT_EQ(w.windows.boxes.size(), 2u);
            EXPECT_EQ(w.windows.boxes[0].text, "First.\n\nSecond."); // line breaks kept in the box
            EXPECT_EQ(w.windows.boxes[0].caption, "Message");
            EXPECT_EQ(w.windows.boxes[1].owner, w.windows.window->Handle());
        } else {
            EXPECT_TRUE(w.windows.boxes.empty());
        }
    }
}

TEST(Messages, StatusWritesRepaintAtOnceAndRawKeepsLineBreaks)
{
    World w;
    w.windows.script = [&](CDialog& d, MemoryDialogWindow& window) {
        auto& dlg = static_cast<CDownloadDlg&>(d);
        const int before = window.redraws;
        dlg.SetStatusRaw("Flash Update In Progress, 41% Complete \r\n***");
        EXPECT_EQ(window.GetItemText(IDC_STATUS), "Flash Update In Progress, 41% Complete \r\n***");
        dlg.SetStatus("a\r\nb");
        EXPECT_EQ(window.GetItemText(IDC_STATUS), "a\r b");
        EXPECT_EQ(window.redraws, before + 2);
    };
    Program(w).Run();
}

TEST(Messages, BusyCheckAndCloseOnError)
{
    World w;
    w.comm.Add("\\\\.\\COM1");
    w.windows.script = [&](CDialog& d, MemoryDialogWindow&) {
        auto& dlg = static_cast<CDownloadDlg&>(d);
        EXPECT_EQ(dlg.CheckBusy(), 0);
        EXPECT_TRUE(w.windows.boxes.empty());
        ASSERT_NE(dlg.Comm.Open("COM1", "", 0), 0);
        EXPECT_EQ(dlg.CloseOnError(1), 1);
        EXPECT_EQ(w.comm.OpenHandles(), 0);
        EXPECT_TRUE(w.windows.boxes.empty());
        dlg.Comm.Open("COM1", "", 0);
        EXPECT_EQ(dlg.CloseOnError(0), 0);
        EXPECT_EQ(w.comm.OpenHandles(), 0);
        EXPECT_EQ(w.BoxTexts(),
                  std::vector<std::string>{
                      "Closing communications Port due to an Error. Communications request Failed."});
        dlg.DownloadInProgress = 1;
        EXPECT_EQ(dlg.CheckBusy(), 1);
        dlg.DownloadInProgress = 0;
    };
    Program(w).Run();
}

} // namespace
} // namespace marlet::test
