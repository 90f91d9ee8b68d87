// The main dialog: construction with the settings and the first command-line
// pass, the window's set-up with the second pass, and the handlers.
#include "ui/DownloadDlg.h"

#include "app/DownloadApp.h"
#include "app/ProcessValues.h"
#include "framework/MemoryWindow.h"
#include "ui/AboutDlg.h"
#include "ui/Resource.h"

namespace marlet {

namespace {
constexpr int kMaxPorts = 50;
}

CDownloadDlg::CDownloadDlg(Platform& platform, CDialog* parent)
    : CDialog(IDD_DOWNLOAD_DIALOG, parent), Comm(platform), platform_(platform)
{
    DLSpeed = 0;
    LoadSettings();
    AbortRequested = 0;
    DownloadInProgress = 0;
    QuietMode = 0;
    CDownloadApp::ProcessCommandLine(*this);
}

CDownloadDlg::~CDownloadDlg() { SaveSettings(); }

int CDownloadDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    DialogWindow& window = *Window();
    MessageOwner = GetSafeHwnd();
    Icon = IDR_MAINFRAME;

    if (window.HasSysMenu()) {
        window.AppendSysMenu(0, "");
        window.AppendSysMenu(IDM_ABOUTBOX, "&About Download...");
        window.AppendSysMenu(0, "");
        window.AppendSysMenu(IDM_NO_MESSAGES, "No Messages");
        window.AppendSysMenu(IDM_XON_XOFF, "XOn/XOff (serial)");
        window.CheckSysMenu(IDM_NO_MESSAGES, NoMessages != 0);
        window.CheckSysMenu(IDM_XON_XOFF, XonXoff != 0);
    }
    window.SetIcon(Icon);

    // The port list, without names already held (ignoring case).
    for (int index = 0; index < kMaxPorts; ++index) {
        const std::string name = Comm.GetPortName(index);
        if (name.empty())
            break;
        bool held = false;
        for (int i = 0; i < window.ComboGetCount(IDC_PORT) && !held; ++i)
            held = combo::EqualIgnoringCase(window.ComboGetItem(IDC_PORT, i), name);
        if (!held)
            window.ComboAddString(IDC_PORT, name);
    }

    // The stored port: the first entry that begins with it; a name that no entry
    // begins with stays as given, so the port given on the command line is used.
    if (window.ComboSelectString(IDC_PORT, PortName) < 0 && !PortName.empty())
        window.SetItemText(IDC_PORT, PortName);
    OnSelchangePort();

    window.SetItemText(IDC_BOOT_LOADER_REV, BootLoaderRev);
    window.SetItemText(IDC_FIRMWARE_REV, FirmwareRev);
    window.SetItemText(IDC_FLASH_ID, FlashId);
    window.SetItemText(IDC_FILE_NAME, DLFileName);
    window.EditCaretToEnd(IDC_FILE_NAME);

    window.SliderSetRange(IDC_SPEED, 0, 5, true);
    window.SliderSetPos(IDC_SPEED, DLSpeed, true);

    FirstPass = 0;
    CDownloadApp::ProcessCommandLine(*this);
    return 1;
}

void CDownloadDlg::OnSysCommand(uint32_t command, intptr_t position)
{
    if (command == IDM_NO_MESSAGES) {
        NoMessages = NoMessages == 0 ? 1 : 0;
        if (Window())
            Window()->CheckSysMenu(IDM_NO_MESSAGES, NoMessages != 0);
    } else if (command == IDM_XON_XOFF) {
        XonXoff = XonXoff == 0 ? 1 : 0;
        if (Window())
            Window()->CheckSysMenu(IDM_XON_XOFF, XonXoff != 0);
    } else if ((command & 0xFFF0u) == IDM_ABOUTBOX) {
        CAboutDlg about;
        about.DoModal();
    } else {
        CDialog::OnSysCommand(command, position);
    }
}

// Painting is the window layer's; a minimised window shows Icon as its icon.
void CDownloadDlg::OnPaint() {}

void CDownloadDlg::OnGetPrinterInfo()
{
    if (CheckBusy())
        return;
    GetPrinterInformation();
}

void CDownloadDlg::OnClose()
{
    if (CheckBusy())
        return;
    if (Window())
        DLFileName = Window()->GetItemText(IDC_FILE_NAME);
    CDialog::OnClose();
}

void CDownloadDlg::OnDownloadNow()
{
    if (CheckBusy())
        return;
    SetStatus("");
    DownloadFirmware();
}

void CDownloadDlg::OnAbortDownload()
{
    SetStatus("");
    AbortRequested = 1;
}

void CDownloadDlg::OnCommand(int id)
{
    switch (id) {
    case IDC_GET_PRINTER_INFO:
        OnGetPrinterInfo();
        break;
    case IDC_SELECT_FILE:
        OnSelectFile();
        break;
    case IDC_DOWNLOAD_NOW:
        OnDownloadNow();
        break;
    case IDC_ABORT_DOWNLOAD:
        OnAbortDownload();
        break;
    default:
        CDialog::OnCommand(id);
        break;
    }
}

void CDownloadDlg::OnComboSelChange(int controlId)
{
    if (controlId == IDC_PORT)
        OnSelchangePort();
}

bool CDownloadDlg::OnInterrupt()
{
    if (DownloadInProgress == 0)
        return false;
    OnAbortDownload();
    return true;
}

} // namespace marlet
