// The serial configuration record: our own type whose stored form is the
// platform's 52-byte COMMCONFIG carrying its 28-byte DCB (little-endian).
#pragma once

#include <array>
#include <cstdint>

namespace marlet {

// Device control block. Members keep the platform's names; the bit fields of
// the packed flags word are held as separate integers here and packed only
// when the record is converted to its stored bytes.
struct Dcb {
    uint32_t DCBlength = 0;
    uint32_t BaudRate = 0;
    uint32_t fBinary = 0;           // 1 bit
    uint32_t fParity = 0;           // 1 bit
    uint32_t fOutxCtsFlow = 0;      // 1 bit
    uint32_t fOutxDsrFlow = 0;      // 1 bit
    uint32_t fDtrControl = 0;       // 2 bits: 0 disable, 1 enable, 2 handshake
    uint32_t fDsrSensitivity = 0;   // 1 bit
    uint32_t fTXContinueOnXoff = 0; // 1 bit
    uint32_t fOutX = 0;             // 1 bit
    uint32_t fInX = 0;              // 1 bit
    uint32_t fErrorChar = 0;        // 1 bit
    uint32_t fNull = 0;             // 1 bit
    uint32_t fRtsControl = 0;       // 2 bits: 0 disable, 1 enable, 2 handshake, 3 toggle
    uint32_t fAbortOnError = 0;     // 1 bit
    uint32_t fDummy2 = 0;           // 17 bits
    uint16_t wReserved = 0;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 0;
    uint8_t Parity = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t StopBits = 0; // 0 one, 1 one and a half, 2 two
    uint8_t XonChar = 0;
    uint8_t XoffChar = 0;
    uint8_t ErrorChar = 0;
    uint8_t EofChar = 0;
    uint8_t EvtChar = 0;
    uint16_t wReserved1 = 0;

    static constexpr int StoredSize = 28;
    std::array<uint8_t, StoredSize> ToBytes() const;
    static Dcb FromBytes(const uint8_t* bytes);
    bool operator==(const Dcb&) const = default;
};

enum : uint8_t { NoParity = 0, OddParity = 1, EvenParity = 2, MarkParity = 3, SpaceParity = 4 };
enum : uint8_t { OneStopBit = 0, One5StopBits = 1, TwoStopBits = 2 };

struct CommConfig {
    uint32_t dwSize = 0;
    uint16_t wVersion = 0;
    uint16_t wReserved = 0;
    Dcb dcb;
    uint32_t dwProviderSubType = 0;
    uint32_t dwProviderOffset = 0;
    uint32_t dwProviderSize = 0;
    std::array<uint8_t, 4> wcProviderData{}; // one wide character and the padding to 52 bytes

    static constexpr int StoredSize = 52;
    std::array<uint8_t, StoredSize> ToBytes() const;
    static CommConfig FromBytes(const uint8_t* bytes);
    bool operator==(const CommConfig&) const = default;
};

// The five read and write time-outs in milliseconds.
struct CommTimeouts {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
    bool operator==(const CommTimeouts&) const = default;
};

// The status record of the transmit/receive queues and hold states.
struct CommStatus {
    bool fCtsHold = false;
    bool fDsrHold = false;
    bool fRlsdHold = false;
    bool fXoffHold = false;
    bool fXoffSent = false;
    bool fEof = false;
    bool fTxim = false;
    uint32_t cbInQue = 0;
    uint32_t cbOutQue = 0;
};

// Error word bits of the status query.
enum : uint32_t { CE_DNS = 0x0800, CE_OOP = 0x1000 };
// Modem status bit.
enum : uint32_t { MS_DSR_ON = 0x20 };

} // namespace marlet
