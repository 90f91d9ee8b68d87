// The firmware download: the boot-mode check, the optional speed change, and
// the image streamed block by block with progress, abort and the end pause.
#include "app/ProcessValues.h"
#include "protocol/Commands.h"
#include "ui/DownloadDlg.h"
#include "ui/Resource.h"

#include <algorithm>
#include <vector>

namespace marlet {

namespace {

const char* const kRevision196Question = "The bootloader in your printer has a of revision 1.96. Firmware "
                                         "downloading cannot be done with this version "
                                         "of the bootloader when the printer uses a USB interface. Also, if "
                                         "you are using a RS232 serial interface and "
                                         "the firmware download fails, you may need to try a different "
                                         "\"Serial Performance\" setting.\n\n Continue?";
const char* const kNotInBootMode =
    "Printer does not appear to be in Boot Load Mode!\n\nDisconnect printer's power "
    "cord and reconnect power cord while pressing \"Power\" button.";
const char* const kCannotOpenFile = "Boot File Error !  Could not open file.";
const char* const kCannotReadFile = "Boot File Error !  Could not read file.";
const char* const kZeroLength = "Zero length file error !";
const char* const kAborted = "Flash Update ABORTED.";

constexpr uint32_t kSmallBlock = 1000;
constexpr uint32_t kLargeBlock = 20000;
constexpr uint32_t kPacingMs = 150;
constexpr int kReadyPolls = 1000;
constexpr uint32_t kReadyPollMs = 10;
constexpr uint32_t kPartialWriteMs = 100;

bool BeginsWithCom(const std::string& name) { return name.compare(0, 3, "COM") == 0; }

// The shown percentage counts the bytes the printer accepted: 100 only once
// the whole file went out.
uint32_t ShownProgress(uint64_t accepted, uint32_t size)
{
    if (accepted >= size)
        return 100;
    return uint32_t(std::min<uint64_t>(99, accepted * 100 / size + 1));
}

std::string ProgressText(uint32_t shown)
{
    return "Flash Update In Progress, " + std::to_string(shown) + "% Complete \r\n" + std::string(shown, '*');
}

std::string DoneMessage(const std::string& file)
{
    return "Flash Update DONE. \n\nFile Downloaded: " + file +
           "\n\nYour printer should now reset and you should be able to use it.  \n\nIf your printer does "
           "not "
           "reset, disconnect the power cord and re-connect it to the power source.  If your printer has a "
           "red "
           "indicator light, the firmware download did not get programmed into the printer correctly.  "
           "Ensure "
           "that your cable connection is good and retry the download.  In the case of a serial "
           "communication "
           "equipped printer you may have to change the \"Serial Performance\" setting.";
}

// From the moment the firmware file is open until the run ends the dialog is
// busy and an interrupt from outside acts as "Abort Download"; both are undone
// on every way out. The port's substitution is kept off the image meanwhile.
class RunInProgress {
public:
    explicit RunInProgress(CDownloadDlg& dlg) : dlg_(dlg)
    {
        dlg_.DownloadInProgress = 1;
        Windows().CatchInterrupts(true);
    }
    ~RunInProgress() { End(); }
    RunInProgress(const RunInProgress&) = delete;
    RunInProgress& operator=(const RunInProgress&) = delete;

    void SuspendSubstitution()
    {
        savedDoExtra_ = dlg_.Comm.DoExtra;
        dlg_.Comm.DoExtra = 0;
        suspended_ = true;
    }
    void RestoreSubstitution()
    {
        if (suspended_)
            dlg_.Comm.DoExtra = savedDoExtra_;
        suspended_ = false;
    }
    void End()
    {
        RestoreSubstitution();
        if (!active_)
            return;
        active_ = false;
        dlg_.DownloadInProgress = 0;
        Windows().CatchInterrupts(false);
    }

private:
    CDownloadDlg& dlg_;
    bool active_ = true;
    bool suspended_ = false;
    uint32_t savedDoExtra_ = 0;
};

// A block of the file: its bytes, how many were read and whether the read worked.
struct Block {
    std::vector<uint8_t> bytes;
    uint32_t length = 0;
    bool readOk = true;

    void ReadNext(IFiles& files, FileHandle file, uint32_t size)
    {
        length = 0;
        readOk = files.Read(file, bytes.data(), size, length);
        if (!readOk)
            length = 0;
        length = std::min(length, size);
    }
};

} // namespace

int CDownloadDlg::DownloadFirmware()
{
    if (CheckBusy())
        return 0;
    if (GetPrinterInformation() == 0)
        return 0;

    IClock& clock = Services().clock;
    IFiles& files = Services().files;
    clock.Sleep(200);

    if (BeginsWithCom(PortName) && BootLoaderRev.find("1.96") != std::string::npos && NoMessages == 0) {
        const int answer =
            Windows().MessageBox(GetSafeHwnd(), kRevision196Question, "Warning", MessageButtons::YesNo);
        if (answer != IDYES)
            return 0;
    }

    AbortRequested = 0;
    SetStatus("Flash Update");

    if (Comm.Open(PortName, BootSetup, 0) == 0)
        return CloseOnError(0);
    PrepareExchange(Comm, Exchange::BootModeCheck);

    ReplyBuffer reply{};
    const QueryResult check =
        RunQuery(Comm, clock, BootRevisionQuery, reply.data(), reply.size(), BootReplyReadSize);
    if (!check.written)
        return CloseOnError(0);
    if (check.count == 0) {
        Comm.Close();
        ShowMessage(kNotInBootMode);
        return 0;
    }

    if (DialogWindow* window = Window())
        DLFileName = window->GetItemText(IDC_FILE_NAME);
    FileHolder file(files, files.OpenExistingShared(DLFileName));
    if (!file.IsOpen()) {
        Comm.Close();
        ShowMessage(kCannotOpenFile);
        return 0;
    }

    SetStatus("Flash Update Started. ");
    RunInProgress run(*this);

    // A speed index outside the table is taken as 0: no speed change, small blocks.
    const int32_t speedIndex = SpeedRowFor(DLSpeed) != nullptr ? DLSpeed : 0;
    if (const SpeedRow* row = SpeedRowFor(speedIndex); row != nullptr && BeginsWithCom(PortName)) {
        if (Comm.OutputString(SpeedChange(row->code)) == 0)
            return CloseOnError(0);
        clock.Sleep(800);
        Comm.Close();
        clock.Sleep(800);
        if (Comm.Open(PortName, row->setup, 1) == 0)
            return CloseOnError(0);
    }

    const uint32_t blockSize = XonXoff != 0 && speedIndex >= 3 ? kLargeBlock : kSmallBlock;
    // A single write that gets no byte accepted for the stall bound is ended by
    // the comm device, whatever these time-outs would allow.
    const TimeoutPair transfer = TimeoutsFor(Exchange::ImageTransfer, PortTypeSerial);
    Comm.SetTimeouts(transfer.constant, transfer.multiplier);

    uint32_t fileSize = 0;
    if (!files.Size(file.Get(), fileSize)) {
        Comm.Close();
        ShowMessage(kCannotReadFile);
        return 0;
    }
    if (fileSize == 0) {
        ShowMessage(kZeroLength);
        return CloseOnError(0);
    }

    Block block;
    block.bytes.resize(kLargeBlock);
    block.ReadNext(files, file.Get(), blockSize);
    uint32_t offset = 0;
    uint64_t accepted = 0;
    uint32_t lastAcceptTick = clock.TickCount();
    bool stalled = false;

    run.SuspendSubstitution();
    while (block.length != 0 && block.readOk) {
        if (XonXoff != 0 || Comm.GetInterfaceType() == PortTypeUsb)
            clock.Sleep(kPacingMs);
        if (Comm.IsReady() == 0) {
            for (int poll = 0; poll < kReadyPolls; ++poll) {
                clock.Sleep(kReadyPollMs);
                if (Comm.IsReady() != 0)
                    break;
            }
        }

        const uint32_t pending = block.length - offset;
        Comm.Output(block.bytes.data() + offset, int(pending));
        const uint32_t taken = uint32_t(std::clamp<int64_t>(Comm.BytesWritten, 0, pending));
        offset += taken;
        accepted += taken;
        if (taken > 0)
            lastAcceptTick = clock.TickCount();

        if (offset >= block.length) {
            block.ReadNext(files, file.Get(), blockSize);
            offset = 0;
        } else {
            clock.Sleep(kPartialWriteMs);
        }

        Windows().PumpMessages();
        SetStatusRaw(ProgressText(ShownProgress(accepted, fileSize)));

        if (uint32_t(clock.TickCount() - lastAcceptTick) >= TransferStallMs)
            stalled = true;
        if (AbortRequested != 0 || stalled)
            break;
    }
    run.RestoreSubstitution();

    // A transfer that the printer stopped taking ends as an abort does.
    if (stalled)
        AbortRequested = 1;
    const bool readFailed = !block.readOk;

    file.Close();
    clock.Sleep(Comm.GetPortType() == PortTypeNetwork ? 10000 : 5000);
    Comm.Close();
    run.End();

    if (AbortRequested != 0) {
        ShowMessage(kAborted);
    } else if (readFailed) {
        ShowMessage(kCannotReadFile);
    } else {
        ShowMessage(DoneMessage(DLFileName));
        SetStatusRaw("Flash Update DONE. \r\nFile Downloaded: " + DLFileName);
    }
    return 1;
}

} // namespace marlet
