#include "platform/posix/PosixCommDevice.h"

#include <gtest/gtest.h>

#include <sstream>

namespace marlet {
namespace {

TEST(TerminalConfig, AnswersChangeTheRecordAndEmptyAnswersKeepIt)
{
    CommConfig config = PosixCommDevice::DefaultConfig();
    std::istringstream in("19200\ne\n7\n2\nhardware\n");
    std::ostringstream out;
    ASSERT_TRUE(AskCommConfig(in, out, "COM5", config));
    EXPECT_EQ(config.dcb.BaudRate, 19200u);
    EXPECT_EQ(config.dcb.Parity, EvenParity);
    EXPECT_EQ(config.dcb.ByteSize, 7);
    EXPECT_EQ(config.dcb.StopBits, TwoStopBits);
    EXPECT_EQ(config.dcb.fOutxCtsFlow, 1u);
    EXPECT_EQ(config.dcb.fRtsControl, 2u);
    // The questions show the record's values as defaults.
    EXPECT_NE(out.str().find("COM5"), std::string::npos);
    EXPECT_NE(out.str().find("Speed [9600]"), std::string::npos);
    EXPECT_NE(out.str().find("Flow control (none, xon, hardware) [none]"), std::string::npos);

    std::istringstream keep("\n\n\n\nxon\n");
    ASSERT_TRUE(AskCommConfig(keep, out, "COM5", config));
    EXPECT_EQ(config.dcb.BaudRate, 19200u);
    EXPECT_EQ(config.dcb.ByteSize, 7);
    EXPECT_EQ(config.dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(config.dcb.fOutX, 1u);
    EXPECT_EQ(config.dcb.fInX, 1u);
}

TEST(TerminalConfig, InvalidAnswersAreAskedAgain)
{
    CommConfig config = PosixCommDevice::DefaultConfig();
    std::istringstream in("fast\n14400\n115200\nq\nn\n9\n8\n3\n1\nmaybe\nnone\n");
    std::ostringstream out;
    ASSERT_TRUE(AskCommConfig(in, out, "COM1", config));
    EXPECT_EQ(config.dcb.BaudRate, 115200u);
    EXPECT_EQ(config.dcb.ByteSize, 8);
    EXPECT_EQ(config.dcb.StopBits, OneStopBit);
    EXPECT_NE(out.str().find("Not a valid answer: 14400"), std::string::npos);
}

TEST(TerminalConfig, EndOfInputCancelsAndChangesNothing)
{
    CommConfig config = PosixCommDevice::DefaultConfig();
    std::istringstream in("38400\ne\n");
    std::ostringstream out;
    EXPECT_FALSE(AskCommConfig(in, out, "COM1", config));
    EXPECT_EQ(config, PosixCommDevice::DefaultConfig());
}

} // namespace
} // namespace marlet
