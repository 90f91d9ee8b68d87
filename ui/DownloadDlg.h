// The main dialog: the owner of the run's state and of the one port object.
#pragma once

#include "framework/Afx.h"
#include "platform/Platform.h"
#include "port/IOComm.h"

#include <cstdint>
#include <string>

namespace marlet {

class CDownloadDlg : public CDialog {
public:
    // The constructor reads the settings and runs the first command-line pass.
    explicit CDownloadDlg(Platform& platform, CDialog* parent = nullptr);
    // The destructor writes the settings.
    ~CDownloadDlg() override;

    // Members, in the order the program declares them.
    int32_t AbortRequested = 0;
    int32_t DownloadInProgress = 0;
    std::string PortName;
    std::string FlashId;
    std::string FirmwareRev;
    std::string BootLoaderRev;
    std::string DLFileName;
    int32_t DLSpeed = 0;
    IOComm Comm;
    int Icon = 0;

    // Window hooks and handlers.
    int OnInitDialog() override;
    void OnSysCommand(uint32_t command, intptr_t position) override;
    void OnPaint() override;
    int OnQueryDragIcon() const { return Icon; }
    void OnSelchangePort();
    void OnGetPrinterInfo();
    void OnClose() override;
    void OnSelectFile();
    void OnDownloadNow();
    void OnAbortDownload();
    void OnHScroll(int code, int position, int controlId) override;
    void OnCommand(int id) override;
    void OnComboSelChange(int controlId) override;
    bool OnInterrupt() override;

    // Printer operations.
    int GetPrinterInformation();
    int DownloadFirmware();

    // Status box and messages.
    int SetStatus(const std::string& text);
    int SetStatusRaw(const std::string& text);
    int ShowMessage(const std::string& text);
    int CheckBusy();
    int CloseOnError(int status);

    // Settings.
    void LoadSettings();
    void SaveSettings();

    Platform& Services() { return platform_; }

private:
    Platform& platform_;
};

// The speed text shown for a speed index (empty outside 0 to 5).
std::string SpeedText(int32_t speedIndex);

} // namespace marlet
