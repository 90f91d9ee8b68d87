// The three short printer operations: the boot loader's information, the
// revision check against running firmware, and the reset.
#include "app/DownloadApp.h"
#include "app/ProcessValues.h"
#include "protocol/Commands.h"
#include "ui/DownloadDlg.h"
#include "ui/Resource.h"

namespace marlet {

namespace {

const char* const kNotInBootMode =
    "Printer does not appear to be in Boot Load Mode!\n\nDisconnect printer's power "
    "cord and reconnect power cord while pressing \"Power\" button.";

void ShowInformationFields(CDownloadDlg& dlg)
{
    if (DialogWindow* window = dlg.Window()) {
        window->SetItemText(IDC_BOOT_LOADER_REV, dlg.BootLoaderRev);
        window->SetItemText(IDC_FIRMWARE_REV, dlg.FirmwareRev);
        window->SetItemText(IDC_FLASH_ID, dlg.FlashId);
    }
}

} // namespace

int CDownloadDlg::GetPrinterInformation()
{
    if (CheckBusy())
        return 0;

    BootLoaderRev.clear();
    FirmwareRev.clear();
    FlashId.clear();
    ShowInformationFields(*this);
    if (DialogWindow* window = Window())
        window->RedrawNow();

    SetStatus("Communicating with Printer");
    AbortRequested = 0;
    if (DialogWindow* window = Window())
        PortName = window->GetItemText(IDC_PORT);

    if (Comm.Open(PortName, BootSetup, 0) == 0)
        return CloseOnError(0);
    PrepareExchange(Comm, Exchange::PrinterInformation);

    IClock& clock = Services().clock;
    ReplyBuffer reply{};
    DrainInput(Comm, clock, reply.data(), 5);

    QueryResult result =
        RunQuery(Comm, clock, BootRevisionQuery, reply.data(), reply.size(), BootReplyReadSize);
    if (!result.written)
        return CloseOnError(0);
    if (result.count == 0) {
        Comm.Close();
        ShowMessage(kNotInBootMode);
        return 0;
    }
    const std::string bootLoaderRev = ReplyText(reply.data(), size_t(result.received));

    result = RunQuery(Comm, clock, FlashIdQuery, reply.data(), reply.size(), BootReplyReadSize);
    if (!result.written || result.count == 0)
        return CloseOnError(0);
    const std::string flashId = ReplyText(reply.data(), size_t(result.received));

    result =
        RunQuery(Comm, clock, FirmwareRevisionQuery, reply.data(), reply.size(), BootReplyReadSize, true);
    if (!result.written || result.count == 0)
        return CloseOnError(0);
    const std::string firmwareRev = ReplyText(reply.data(), size_t(result.received));

    BootLoaderRev = bootLoaderRev;
    FlashId = flashId;
    FirmwareRev = firmwareRev;
    Comm.Close();
    ShowInformationFields(*this);
    SetStatus("Printer information read out of printer");
    return 1;
}

int CDownloadApp::VerifyRevision(CDownloadDlg& dlg, const std::string& expected)
{
    IOComm& comm = dlg.Comm;
    if (comm.Open(dlg.PortName, "", 0) == 0)
        return CloseOnError(dlg, 0);
    PrepareExchange(comm, Exchange::StatusQuery);

    IClock& clock = dlg.Services().clock;
    StatusBuffer reply{};
    DrainInput(comm, clock, reply.data(), 1);

    const QueryResult result =
        RunQuery(comm, clock, StatusQuery, reply.data(), reply.size(), StatusReplyReadSize);
    if (!result.written)
        return CloseOnError(dlg, 0);
    comm.Close();
    if (result.count == 0)
        return 0;

    std::string revision;
    if (!FindStatusRevision(reply, revision))
        return 0;
    return RevisionMatches(revision, expected) ? 1 : 0;
}

int CDownloadApp::ResetPrinter(CDownloadDlg& dlg)
{
    if (dlg.PortName.empty()) {
        dlg.ShowMessage("I/O Port not specified, or I/O Port not specified before Reset printer request.");
        return 0;
    }
    IOComm& comm = dlg.Comm;
    if (comm.Open(dlg.PortName, "", 1) == 0)
        return CloseOnError(dlg, 0);
    if (comm.OutputString(ResetSequence) == 0)
        return CloseOnError(dlg, 0);
    comm.Close();
    dlg.Services().clock.Sleep(1000);
    return 1;
}

} // namespace marlet
