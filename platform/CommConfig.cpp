#include "platform/CommConfig.h"

namespace marlet {
namespace {

void Put16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void Put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

uint32_t Get32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// Bit positions of the packed flags word, low bit first.
struct Field {
    uint32_t Dcb::*member;
    int shift;
    int width;
};

constexpr Field kFlagFields[] = {
    {&Dcb::fBinary, 0, 1},           {&Dcb::fParity, 1, 1},     {&Dcb::fOutxCtsFlow, 2, 1},
    {&Dcb::fOutxDsrFlow, 3, 1},      {&Dcb::fDtrControl, 4, 2}, {&Dcb::fDsrSensitivity, 6, 1},
    {&Dcb::fTXContinueOnXoff, 7, 1}, {&Dcb::fOutX, 8, 1},       {&Dcb::fInX, 9, 1},
    {&Dcb::fErrorChar, 10, 1},       {&Dcb::fNull, 11, 1},      {&Dcb::fRtsControl, 12, 2},
    {&Dcb::fAbortOnError, 14, 1},    {&Dcb::fDummy2, 15, 17},
};

} // namespace

std::array<uint8_t, Dcb::StoredSize> Dcb::ToBytes() const
{
    std::array<uint8_t, StoredSize> b{};
    Put32(&b[0], DCBlength);
    Put32(&b[4], BaudRate);
    uint32_t flags = 0;
    for (const Field& f : kFlagFields) {
        const uint32_t mask = f.width == 32 ? 0xFFFFFFFFu : ((1u << f.width) - 1u);
        flags |= (this->*f.member & mask) << f.shift;
    }
    Put32(&b[8], flags);
    Put16(&b[12], wReserved);
    Put16(&b[14], XonLim);
    Put16(&b[16], XoffLim);
    b[18] = ByteSize;
    b[19] = Parity;
    b[20] = StopBits;
    b[21] = XonChar;
    b[22] = XoffChar;
    b[23] = ErrorChar;
    b[24] = EofChar;
    b[25] = EvtChar;
    Put16(&b[26], wReserved1);
    return b;
}

Dcb Dcb::FromBytes(const uint8_t* b)
{
    Dcb d;
    d.DCBlength = Get32(&b[0]);
    d.BaudRate = Get32(&b[4]);
    const uint32_t flags = Get32(&b[8]);
    for (const Field& f : kFlagFields) {
        const uint32_t mask = (1u << f.width) - 1u;
        d.*f.member = (flags >> f.shift) & mask;
    }
    d.wReserved = Get16(&b[12]);
    d.XonLim = Get16(&b[14]);
    d.XoffLim = Get16(&b[16]);
    d.ByteSize = b[18];
    d.Parity = b[19];
    d.StopBits = b[20];
    d.XonChar = b[21];
    d.XoffChar = b[22];
    d.ErrorChar = b[23];
    d.EofChar = b[24];
    d.EvtChar = b[25];
    d.wReserved1 = Get16(&b[26]);
    return d;
}

std::array<uint8_t, CommConfig::StoredSize> CommConfig::ToBytes() const
{
    std::array<uint8_t, StoredSize> b{};
    Put32(&b[0], dwSize);
    Put16(&b[4], wVersion);
    Put16(&b[6], wReserved);
    const auto d = dcb.ToBytes();
    for (int i = 0; i < Dcb::StoredSize; ++i)
        b[8 + i] = d[i];
    Put32(&b[36], dwProviderSubType);
    Put32(&b[40], dwProviderOffset);
    Put32(&b[44], dwProviderSize);
    for (int i = 0; i < 4; ++i)
        b[48 + i] = wcProviderData[i];
    return b;
}

CommConfig CommConfig::FromBytes(const uint8_t* b)
{
    CommConfig c;
    c.dwSize = Get32(&b[0]);
    c.wVersion = Get16(&b[4]);
    c.wReserved = Get16(&b[6]);
    c.dcb = Dcb::FromBytes(&b[8]);
    c.dwProviderSubType = Get32(&b[36]);
    c.dwProviderOffset = Get32(&b[40]);
    c.dwProviderSize = Get32(&b[44]);
    for (int i = 0; i < 4; ++i)
        c.wcProviderData[i] = b[48 + i];
    return c;
}

} // namespace marlet
