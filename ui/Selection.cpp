// The port selector, the speed slider and the file chooser.
#include "app/ProcessValues.h"
#include "framework/MemoryWindow.h"
#include "ui/DownloadDlg.h"
#include "ui/Resource.h"

namespace marlet {

std::string SpeedText(int32_t speedIndex)
{
    static const char* const kTexts[] = {
        "Serial Speed: 19200 Baud",  "Serial Speed: 38400 Baud",  "Serial Speed: 57600 Baud",
        "Serial Speed: 115200 Baud", "Serial Speed: 230400 Baud", "Serial Speed: 460800 Baud",
    };
    return speedIndex >= 0 && speedIndex <= 5 ? kTexts[speedIndex] : std::string();
}

void CDownloadDlg::OnSelchangePort()
{
    DialogWindow* window = Window();
    if (window == nullptr)
        return;
    const std::string text = window->GetItemText(IDC_PORT);
    if (CheckBusy()) {
        // Show the port in use again.
        if (window->ComboSelectString(IDC_PORT, PortName) < 0)
            window->SetItemText(IDC_PORT, PortName);
        return;
    }
    PortName = text;
    const bool serial = text.find("COM") != std::string::npos && !text.empty() && text.back() == ':';
    window->EnableItem(IDC_SPEED, serial);
    window->EnableItem(IDC_SPEED_LABEL, serial);
}

void CDownloadDlg::OnHScroll(int code, int position, int controlId)
{
    DialogWindow* window = Window();
    const bool handled = code == SB_LINELEFT || code == SB_LINERIGHT || code == SB_PAGELEFT ||
                         code == SB_PAGERIGHT || code == SB_THUMBTRACK;
    if (handled && window != nullptr) {
        DLSpeed = window->SliderGetPos(IDC_SPEED);
        if (DLSpeed >= 3 && NoMessages == 0) {
            const int answer = Windows().MessageBox(GetSafeHwnd(),
                                                    "This is a special high speed setting, not all printers "
                                                    "support this speed.\n\nDo you wish to "
                                                    "use this setting?",
                                                    "Warning", MessageButtons::YesNo);
            if (answer != IDYES) {
                window->SliderSetPos(IDC_SPEED, 2, true);
                DLSpeed = 2;
            }
        }
        SetStatus(SpeedText(DLSpeed));
    }
    CDialog::OnHScroll(code, position, controlId);
}

void CDownloadDlg::OnSelectFile()
{
    const std::string filter = "Boot files    (*.bot;*.cbt;*.cbf;*.cbl)|*.bot;*.cbt;*.cbf;*.cbl||";
    if (CheckBusy())
        return;
    AbortRequested = 0;
    SetStatus("");
    // The folder of the current file: up to and including its last separator.
    const size_t separator = DLFileName.find_last_of("\\/");
    const std::string folder =
        separator == std::string::npos ? DLFileName : DLFileName.substr(0, separator + 1);
    std::string chosen;
    if (!Windows().FileOpenDialog(GetSafeHwnd(), filter, folder, chosen))
        return;
    DLFileName = chosen;
    if (DialogWindow* window = Window()) {
        window->SetItemText(IDC_FILE_NAME, DLFileName);
        window->EditCaretToEnd(IDC_FILE_NAME);
    }
    SetStatus("Download File: " + DLFileName);
}

} // namespace marlet
