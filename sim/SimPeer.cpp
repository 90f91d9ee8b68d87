#include "sim/SimPeer.h"

namespace marlet::sim {

namespace {

uint8_t StopBitCount(uint8_t stopBits) { return stopBits == TwoStopBits ? 2 : 1; }

} // namespace

size_t SimPeer::Receive(const uint8_t* data, size_t length, uint32_t now)
{
    const size_t taken = sim.Accept(length, now);
    sim.Feed(data, taken, now);
    return taken;
}

size_t SimPeer::Send(uint8_t* data, size_t length, uint32_t now) { return sim.TakeOutput(data, length, now); }

void SimPeer::Opened(uint32_t now) { sim.Reconnect(now); }

void SimPeer::Configured(const CommConfig& config, uint32_t now)
{
    sim.SetLine(config.dcb.BaudRate, config.dcb.ByteSize, config.dcb.Parity,
                StopBitCount(config.dcb.StopBits), now);
}

bool SimPeer::RefusesConfig(const CommConfig& config, uint32_t now)
{
    // Only a refusal is applied here (and counted); accepted settings arrive through Configured.
    if (!sim.RefusesLineSettings())
        return false;
    sim.SetLine(config.dcb.BaudRate, config.dcb.ByteSize, config.dcb.Parity,
                StopBitCount(config.dcb.StopBits), now);
    return true;
}

} // namespace marlet::sim
