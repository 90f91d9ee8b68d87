#include "platform/posix/SetupString.h"

#include <cctype>
#include <cstdint>
#include <vector>

namespace marlet {
namespace {

std::string Lower(std::string text)
{
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

// A decimal number of at most nine digits.
bool ParseNumber(const std::string& text, uint32_t& value)
{
    if (text.empty() || text.size() > 9)
        return false;
    uint32_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + uint32_t(c - '0');
    }
    value = v;
    return true;
}

// MODE's two-digit abbreviations stand for the classic rates.
bool ParseBaud(const std::string& text, uint32_t& baud)
{
    uint32_t v = 0;
    if (!ParseNumber(text, v) || v == 0)
        return false;
    switch (v) {
    case 11:
        v = 110;
        break;
    case 15:
        v = 150;
        break;
    case 30:
        v = 300;
        break;
    case 60:
        v = 600;
        break;
    case 12:
        v = 1200;
        break;
    case 24:
        v = 2400;
        break;
    case 48:
        v = 4800;
        break;
    case 96:
        v = 9600;
        break;
    case 19:
        v = 19200;
        break;
    default:
        break;
    }
    baud = v;
    return true;
}

bool ParseParity(const std::string& text, Dcb& dcb)
{
    const std::string v = Lower(text);
    uint8_t parity = 0;
    if (v == "n")
        parity = NoParity;
    else if (v == "o")
        parity = OddParity;
    else if (v == "e")
        parity = EvenParity;
    else if (v == "m")
        parity = MarkParity;
    else if (v == "s")
        parity = SpaceParity;
    else
        return false;
    // As the platform's parser does, only the parity itself is set: whether
    // parity is checked (fParity) is left as it was.
    dcb.Parity = parity;
    return true;
}

bool ParseDataBits(const std::string& text, Dcb& dcb)
{
    uint32_t v = 0;
    if (!ParseNumber(text, v) || v < 5 || v > 8)
        return false;
    dcb.ByteSize = uint8_t(v);
    return true;
}

bool ParseStopBits(const std::string& text, Dcb& dcb)
{
    if (text == "1")
        dcb.StopBits = OneStopBit;
    else if (text == "1.5")
        dcb.StopBits = One5StopBits;
    else if (text == "2")
        dcb.StopBits = TwoStopBits;
    else
        return false;
    return true;
}

bool ParseOnOff(const std::string& text, uint32_t& flag)
{
    const std::string v = Lower(text);
    if (v == "on")
        flag = 1;
    else if (v == "off")
        flag = 0;
    else
        return false;
    return true;
}

// Line control: on, off, hs (handshake) and, for RTS, tg (toggle).
bool ParseLineControl(const std::string& text, bool toggleAllowed, uint32_t& control)
{
    const std::string v = Lower(text);
    if (v == "off")
        control = 0;
    else if (v == "on")
        control = 1;
    else if (v == "hs")
        control = 2;
    else if (v == "tg" && toggleAllowed)
        control = 3;
    else
        return false;
    return true;
}

bool ApplyKey(const std::string& key, const std::string& value, Dcb& dcb)
{
    if (value.empty())
        return false;
    if (key == "baud")
        return ParseBaud(value, dcb.BaudRate);
    if (key == "parity")
        return ParseParity(value, dcb);
    if (key == "data")
        return ParseDataBits(value, dcb);
    if (key == "stop")
        return ParseStopBits(value, dcb);
    if (key == "xon") {
        uint32_t on = 0;
        if (!ParseOnOff(value, on))
            return false;
        dcb.fOutX = on;
        dcb.fInX = on;
        return true;
    }
    if (key == "odsr")
        return ParseOnOff(value, dcb.fOutxDsrFlow);
    if (key == "octs")
        return ParseOnOff(value, dcb.fOutxCtsFlow);
    if (key == "idsr")
        return ParseOnOff(value, dcb.fDsrSensitivity);
    if (key == "dtr")
        return ParseLineControl(value, false, dcb.fDtrControl);
    if (key == "rts")
        return ParseLineControl(value, true, dcb.fRtsControl);
    if (key == "to") {
        // Infinite time-out switch: it concerns the time-outs, not the DCB.
        uint32_t ignored = 0;
        return ParseOnOff(value, ignored);
    }
    return false;
}

bool ParseKeyForm(const std::string& text, Dcb& dcb)
{
    size_t pos = 0;
    bool any = false;
    bool baudNamed = false;
    bool stopNamed = false;
    while (pos < text.size()) {
        if (IsBlank(text[pos])) {
            ++pos;
            continue;
        }
        size_t end = pos;
        while (end < text.size() && !IsBlank(text[end]))
            ++end;
        const std::string token = text.substr(pos, end - pos);
        const size_t eq = token.find('=');
        if (eq == std::string::npos || eq == 0)
            return false;
        const std::string key = Lower(token.substr(0, eq));
        if (!ApplyKey(key, token.substr(eq + 1), dcb))
            return false;
        baudNamed = baudNamed || key == "baud";
        stopNamed = stopNamed || key == "stop";
        any = true;
        pos = end;
    }
    // The platform's parser always supplies the stop bits: without "stop=",
    // two at 110 baud (the MODE command's rule), one otherwise.
    if (any && !stopNamed)
        dcb.StopBits = baudNamed && dcb.BaudRate == 110 ? TwoStopBits : OneStopBit;
    return any;
}

bool ParseShortForm(const std::string& text, Dcb& dcb)
{
    std::vector<std::string> fields;
    size_t start = 0;
    while (true) {
        const size_t comma = text.find(',', start);
        fields.push_back(
            Trim(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start)));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    if (fields.size() > 5 || fields[0].empty())
        return false;
    if (!ParseBaud(fields[0], dcb.BaudRate))
        return false;
    if (fields.size() > 1 && !fields[1].empty() && !ParseParity(fields[1], dcb))
        return false;
    if (fields.size() > 2 && !fields[2].empty() && !ParseDataBits(fields[2], dcb))
        return false;
    if (fields.size() > 3 && !fields[3].empty() && !ParseStopBits(fields[3], dcb))
        return false;

    const std::string flow = fields.size() > 4 ? Lower(fields[4]) : std::string();
    if (flow.empty()) {
        dcb.fOutX = dcb.fInX = 0;
        dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = 0;
        dcb.fDtrControl = 1;
        dcb.fRtsControl = 1;
    } else if (flow == "x") {
        dcb.fOutX = dcb.fInX = 1;
        dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = 0;
        dcb.fDtrControl = 1;
        dcb.fRtsControl = 1;
    } else if (flow == "p") {
        dcb.fOutX = dcb.fInX = 0;
        dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = 1;
        dcb.fDtrControl = 2;
        dcb.fRtsControl = 2;
    } else {
        return false;
    }
    return true;
}

// Drops a leading "COMn:" device name and the blanks after it.
std::string WithoutDeviceName(const std::string& text)
{
    const std::string trimmed = Trim(text);
    const std::string lower = Lower(trimmed);
    if (lower.compare(0, 3, "com") != 0)
        return trimmed;
    size_t pos = 3;
    while (pos < lower.size() && std::isdigit(static_cast<unsigned char>(lower[pos])))
        ++pos;
    if (pos == 3 || pos >= lower.size() || lower[pos] != ':')
        return trimmed;
    return Trim(trimmed.substr(pos + 1));
}

} // namespace

bool ParseSetupString(const std::string& setup, Dcb& dcb)
{
    const std::string text = WithoutDeviceName(setup);
    if (text.empty())
        return false;
    Dcb work = dcb;
    const bool ok =
        text.find('=') != std::string::npos ? ParseKeyForm(text, work) : ParseShortForm(text, work);
    if (!ok)
        return false;
    dcb = work;
    return true;
}

} // namespace marlet
