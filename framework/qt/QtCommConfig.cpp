// The port configuration dialog: the serial settings of one port.
#include "framework/qt/QtControls.h"
#include "framework/qt/QtWindows.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QIntValidator>
#include <QLineEdit>
#include <QVBoxLayout>

namespace marlet {

namespace {

enum Flow { FlowXonXoff = 0, FlowHardware = 1, FlowNone = 2 };

int FlowOf(const Dcb& dcb)
{
    if (dcb.fOutX != 0 || dcb.fInX != 0)
        return FlowXonXoff;
    if (dcb.fOutxCtsFlow != 0 || dcb.fRtsControl == 2)
        return FlowHardware;
    return FlowNone;
}

// What the platform's own dialog writes for each flow control choice.
void SetFlow(Dcb& dcb, int flow)
{
    const bool xon = flow == FlowXonXoff;
    const bool hardware = flow == FlowHardware;
    dcb.fOutX = xon ? 1 : 0;
    dcb.fInX = xon ? 1 : 0;
    dcb.fOutxCtsFlow = hardware ? 1 : 0;
    dcb.fOutxDsrFlow = hardware ? 1 : 0;
    dcb.fDtrControl = hardware ? 2 : 1;
    dcb.fRtsControl = hardware ? 2 : 1;
}

void SelectData(QComboBox* box, int value, int fallback)
{
    int index = box->findData(value);
    if (index < 0)
        index = box->findData(fallback);
    box->setCurrentIndex(index);
}

} // namespace

bool QtWindowSystem::CommConfigDialog(const std::string& device, WindowHandle owner, CommConfig& config)
{
    QWidget* parent = WidgetOf(owner);
    QDialog dialog(parent);
    dialog.setWindowTitle(qtui::ToQt(device) + QStringLiteral(" Properties"));
    dialog.setWindowModality(Qt::ApplicationModal);

    auto* speed = new QComboBox(&dialog);
    speed->setEditable(true);
    speed->setValidator(new QIntValidator(1, 4000000, speed));
    for (int rate :
         {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200, 230400, 460800, 921600})
        speed->addItem(QString::number(rate));
    speed->setEditText(QString::number(config.dcb.BaudRate));

    auto* dataBits = new QComboBox(&dialog);
    for (int bits = 5; bits <= 8; ++bits)
        dataBits->addItem(QString::number(bits), bits);
    SelectData(dataBits, config.dcb.ByteSize, 8);

    auto* parity = new QComboBox(&dialog);
    parity->addItem(QStringLiteral("Even"), int(EvenParity));
    parity->addItem(QStringLiteral("Odd"), int(OddParity));
    parity->addItem(QStringLiteral("None"), int(NoParity));
    parity->addItem(QStringLiteral("Mark"), int(MarkParity));
    parity->addItem(QStringLiteral("Space"), int(SpaceParity));
    SelectData(parity, config.dcb.Parity, NoParity);

    auto* stopBits = new QComboBox(&dialog);
    stopBits->addItem(QStringLiteral("1"), int(OneStopBit));
    stopBits->addItem(QStringLiteral("1.5"), int(One5StopBits));
    stopBits->addItem(QStringLiteral("2"), int(TwoStopBits));
    SelectData(stopBits, config.dcb.StopBits, OneStopBit);

    auto* flow = new QComboBox(&dialog);
    flow->addItem(QStringLiteral("Xon / Xoff"), int(FlowXonXoff));
    flow->addItem(QStringLiteral("Hardware"), int(FlowHardware));
    flow->addItem(QStringLiteral("None"), int(FlowNone));
    SelectData(flow, FlowOf(config.dcb), FlowNone);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&Bits per second:"), speed);
    form->addRow(QStringLiteral("&Data bits:"), dataBits);
    form->addRow(QStringLiteral("&Parity:"), parity);
    form->addRow(QStringLiteral("&Stop bits:"), stopBits);
    form->addRow(QStringLiteral("&Flow control:"), flow);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addLayout(form);
    layout->addWidget(buttons);

    if (dialog.exec() != QDialog::Accepted)
        return false;
    bool valid = false;
    const uint32_t rate = speed->currentText().toUInt(&valid);
    CommConfig chosen = config;
    if (valid && rate > 0)
        chosen.dcb.BaudRate = rate;
    chosen.dcb.ByteSize = uint8_t(dataBits->currentData().toInt());
    chosen.dcb.Parity = uint8_t(parity->currentData().toInt());
    chosen.dcb.fParity = chosen.dcb.Parity != NoParity ? 1 : 0;
    chosen.dcb.StopBits = uint8_t(stopBits->currentData().toInt());
    SetFlow(chosen.dcb, flow->currentData().toInt());
    config = chosen;
    return true;
}

} // namespace marlet
