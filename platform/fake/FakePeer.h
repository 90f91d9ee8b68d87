// What sits at the far end of a fake port or fake socket: in tests, a
// simulated printer. Time is the virtual clock's tick count.
#pragma once

#include "platform/CommConfig.h"

#include <cstddef>
#include <cstdint>

namespace marlet {

class FakePeer {
public:
    virtual ~FakePeer() = default;
    // The program wrote bytes; returns how many the peer accepted (fewer
    // models a full line or a stalled reader).
    virtual size_t Receive(const uint8_t* data, size_t length, uint32_t now) = 0;
    // Up to length bytes the peer has sent by now; 0 when it has none.
    virtual size_t Send(uint8_t* data, size_t length, uint32_t now) = 0;
    // The port was opened or closed, or given a serial configuration.
    virtual void Opened(uint32_t) {}
    virtual void Closed(uint32_t) {}
    virtual void Configured(const CommConfig&, uint32_t) {}
    // Asked before a serial configuration is applied: true makes the device
    // report the set-up as failed (and not call Configured).
    virtual bool RefusesConfig(const CommConfig&, uint32_t) { return false; }
    // Whether the peer holds the line with XOFF.
    virtual bool XoffHeld() { return false; }
    // Whether the peer has gone away (a dropped connection, an unplugged adapter).
    virtual bool Gone() { return false; }
};

} // namespace marlet
