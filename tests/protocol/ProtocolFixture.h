// A main dialog on a fake machine with the simulated printer at the far end of
// a fake serial port, USB printer port or network port, in virtual time.
#pragma once

#include "framework/MemoryWindow.h"
#include "sim/SimPeer.h"
#include "support/World.h"
#include "ui/DownloadDlg.h"
#include "ui/Resource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace marlet::test {

inline const std::string kCom1 = "\\\\.\\COM1";
inline const std::string kNetAddress = "192.0.2.10";
constexpr uint16_t kNetPort = 9100;
inline const std::string kNetName = "192.0.2.10:9100";
inline const std::string kPrinterClass = "{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
inline const std::string kUsbPath = "\\\\?\\usb#vid_0613&pid_2000#1#" + kPrinterClass;

inline const std::string kCloseOnError =
    "Closing communications Port due to an Error. Communications request Failed.";
inline const std::string kNotInBootMode =
    "Printer does not appear to be in Boot Load Mode!\n\nDisconnect printer's "
    "power cord and reconnect power cord while pressing \"Power\" button.";

// A firmware image: never begins with 00 or 02 and holds every byte value.
inline std::string ImageBytes(size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + 0x55) & 0xFF);
    return bytes;
}

// A text as the status box shows it after ShowMessage: line feeds become blanks.
inline std::string Flattened(std::string text)
{
    for (char& c : text)
        if (c == '\n')
            c = ' ';
    return text;
}

inline std::string AsText(const std::vector<uint8_t>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

// Byte strings compared without printing them whole.
inline ::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected)
{
    if (actual == expected)
        return ::testing::AssertionSuccess();
    size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at])
        ++at;
    return ::testing::AssertionFailure() << actual.size() << " bytes where " << expected.size()
                                         << " were expected; first difference at offset " << at;
}

// Message boxes with the virtual time at which each was shown.
class ClockedWindows : public ScriptedWindowSystem {
public:
    explicit ClockedWindows(FakeClock& clock) : clock_(clock) {}
    int MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                   MessageButtons buttons) override
    {
        times.push_back(clock_.now);
        return ScriptedWindowSystem::MessageBox(owner, text, caption, buttons);
    }
    std::vector<uint32_t> times;

private:
    FakeClock& clock_;
};

// The main window's controls, keeping every status text in order.
class StatusWindow : public MemoryDialogWindow {
public:
    void SetItemText(int id, const std::string& text) override
    {
        if (id == IDC_STATUS)
            statuses.push_back(text);
        MemoryDialogWindow::SetItemText(id, text);
    }
    std::vector<std::string> statuses;
};

// The simulated printer behind a gate that can hold its input back or mute
// its replies, noting when the port was opened and closed.
class GatedPrinter : public FakePeer {
public:
    GatedPrinter(sim::SimConfig config, FakeClock& clock) : peer(std::move(config)), clock_(clock) {}

    size_t Receive(const uint8_t* data, size_t length, uint32_t now) override
    {
        if (limitInput)
            length = std::min(length, limitInput(peer.Sim().Received().size()));
        return peer.Receive(data, length, now);
    }
    size_t Send(uint8_t* data, size_t length, uint32_t now) override
    {
        if (chatter && length > 0) {
            data[0] = 'x';
            return 1;
        }
        return mute ? 0 : peer.Send(data, length, now);
    }
    void Opened(uint32_t now) override
    {
        opens.push_back(now);
        peer.Opened(now);
    }
    void Closed(uint32_t now) override
    {
        closes.push_back(now);
        peer.Closed(now);
        if (onClosed)
            onClosed();
    }
    void Configured(const CommConfig& config, uint32_t now) override
    {
        configs.push_back(config);
        peer.Configured(config, now);
    }
    bool RefusesConfig(const CommConfig& config, uint32_t now) override
    {
        return peer.RefusesConfig(config, now);
    }
    // The printer sees time pass while the program only polls its line state.
    bool XoffHeld() override
    {
        peer.Sim().Tick(clock_.now);
        return peer.XoffHeld();
    }
    bool Gone() override { return peer.Gone(); }

    sim::PrinterSim& Sim() { return peer.Sim(); }

    // Lengths of the pieces the printer took from the byte at offset `from` on.
    std::vector<size_t> RunsFrom(size_t from)
    {
        std::vector<size_t> runs;
        for (const sim::ReceivedRun& run : Sim().Record())
            if (run.offset >= from)
                runs.push_back(run.length);
        return runs;
    }

    sim::SimPeer peer;
    std::function<size_t(size_t received)> limitInput; // at most this many bytes taken now
    bool mute = false;                                 // sends nothing
    bool chatter = false;                              // sends a byte whenever asked
    std::function<void()> onClosed;
    std::vector<uint32_t> opens, closes;
    std::vector<CommConfig> configs;

private:
    FakeClock& clock_;
};

class ProtocolTest : public ::testing::Test {
protected:
    ProtocolTest() { SetWindowSystem(&windows); }
    ~ProtocolTest() override
    {
        if (dialog)
            dialog->AttachWindow(nullptr);
        dialog.reset();
    }

    GatedPrinter& SerialPrinter(sim::SimConfig config = {}, const std::string& device = kCom1)
    {
        GatedPrinter& printer = NewPrinter(std::move(config));
        world.comm.Add(device).peer = &printer;
        return printer;
    }
    GatedPrinter& NetworkPrinter(sim::SimConfig config = {})
    {
        GatedPrinter& printer = NewPrinter(std::move(config));
        world.sockets.Add(kNetAddress, kNetPort).peer = &printer;
        return printer;
    }
    // A USB printer interface with port number 1 (USB001).
    GatedPrinter& UsbPrinter(sim::SimConfig config = {})
    {
        GatedPrinter& printer = NewPrinter(std::move(config));
        world.system.usbPrinters = {{kUsbPath}};
        std::string keyName = kUsbPath;
        for (char& c : keyName)
            if (c == '\\')
                c = '#';
        world.registry.SetDword("SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\" + kPrinterClass + "\\" +
                                    keyName + "\\#\\Device Parameters",
                                "Port Number", 1);
        world.comm.Add(kUsbPath, FakeCommDevice::Kind::Device).peer = &printer;
        return printer;
    }
    GatedPrinter& NewPrinter(sim::SimConfig config)
    {
        printers.push_back(std::make_unique<GatedPrinter>(std::move(config), world.clock));
        return *printers.back();
    }

    // The main dialog with its window, the port selector showing portName and
    // the file box fileName.
    CDownloadDlg& Dialog(const std::string& portName, const std::string& fileName = "fw.bot")
    {
        dialog = std::make_unique<CDownloadDlg>(world.platform);
        dialog->AttachWindow(&window);
        window.SetItemText(IDC_PORT, portName);
        window.SetItemText(IDC_FILE_NAME, fileName);
        window.statuses.clear();
        return *dialog;
    }

    std::vector<std::string> BoxTexts() const
    {
        std::vector<std::string> texts;
        for (const auto& box : windows.boxes)
            texts.push_back(box.text);
        return texts;
    }

    // The percentages of the progress texts shown, checking each one's bar.
    std::vector<int> ProgressShown() const
    {
        const std::string lead = "Flash Update In Progress, ";
        std::vector<int> shown;
        for (const std::string& text : window.statuses) {
            if (text.compare(0, lead.size(), lead) != 0)
                continue;
            const int value = std::stoi(text.substr(lead.size()));
            const std::string expected =
                lead + std::to_string(value) + "% Complete \r\n" + std::string(value, '*');
            EXPECT_EQ(text, expected);
            shown.push_back(value);
        }
        return shown;
    }

    size_t SleepsOf(uint32_t ms) const
    {
        size_t count = 0;
        for (uint32_t s : world.clock.sleeps)
            count += s == ms ? 1 : 0;
        return count;
    }

    World world;
    ClockedWindows windows{world.clock};
    std::vector<std::unique_ptr<GatedPrinter>> printers;
    StatusWindow window;
    std::unique_ptr<CDownloadDlg> dialog;
};

} // namespace marlet::test
