// The simulated printer behind the FakePeer interface, so that the fake comm
// device and the fake sockets can talk to it in virtual time.
#pragma once

#include "platform/fake/FakePeer.h"
#include "sim/PrinterSim.h"

namespace marlet::sim {

class SimPeer : public FakePeer {
public:
    explicit SimPeer(SimConfig config = {}) : sim(std::move(config)) {}

    size_t Receive(const uint8_t* data, size_t length, uint32_t now) override;
    size_t Send(uint8_t* data, size_t length, uint32_t now) override;
    // Opening the port again after a drop is the cable plugged back in.
    void Opened(uint32_t now) override;
    void Configured(const CommConfig& config, uint32_t now) override;
    bool RefusesConfig(const CommConfig& config, uint32_t now) override;
    bool XoffHeld() override { return sim.XoffHeld(); }
    bool Gone() override { return sim.Dropped(); }

    PrinterSim& Sim() { return sim; }

private:
    PrinterSim sim;
};

} // namespace marlet::sim
