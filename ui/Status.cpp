// The status box and the message boxes every operation reports through.
#include "app/ProcessValues.h"
#include "ui/DownloadDlg.h"
#include "ui/Resource.h"

namespace marlet {

int CDownloadDlg::SetStatus(const std::string& text)
{
    std::string line = text;
    for (char& c : line) {
        if (c == '\n')
            c = ' ';
    }
    return SetStatusRaw(line);
}

int CDownloadDlg::SetStatusRaw(const std::string& text)
{
    // Before the window exists (the first command-line pass) there is nothing to show.
    if (DialogWindow* window = Window()) {
        window->SetItemText(IDC_STATUS, text);
        window->RedrawNow();
    }
    return 1;
}

int CDownloadDlg::ShowMessage(const std::string& text)
{
    SetStatus(text);
    if (QuietMode != 0 || NoMessages != 0)
        return 0;
    return Windows().MessageBox(GetSafeHwnd(), text, "Message", MessageButtons::Ok);
}

int CDownloadDlg::CheckBusy()
{
    if (DownloadInProgress == 0)
        return 0;
    ShowMessage(
        "Firmware download is in progress. You must wait for the Firmware download to complete or click on "
        "\"Abort Download\". \n\nIn the mean time don't be messing about by clicking on things.");
    return 1;
}

int CDownloadDlg::CloseOnError(int status)
{
    Comm.Close();
    if (status == 0)
        ShowMessage("Closing communications Port due to an Error. Communications request Failed.");
    return status;
}

} // namespace marlet
