// The EC handshake, port by port, against the simulated EC with zero, fixed
// and random latencies, and its bounded waits.
#include <gtest/gtest.h>

#include <string>

#include "Harness.h"
#include "ec/EcChannel.h"
#include "platform/Platform.h"

namespace zar::test {
namespace {

class EcChannel : public ::testing::Test {
protected:
    void SetUp() override
    {
        EcOpenChannel();
    }
    void TearDown() override { SetWaitLimits({0, 0}); }
};

sim::EcConfig Latency(sim::ReadDelay delay)
{
    sim::EcConfig config;
    config.IbfDelay = delay;
    config.ObfDelay = delay;
    return config;
}

// EcReadMemory as the EC sees it with IBF held for `ibf` reads after every
// write and OBF raised `obf` reads after the answer is ready.
std::string ExpectedReadMemory(uint8_t high, uint8_t low, uint8_t value, int ibf, int obf)
{
    std::string lines;
    auto line = [&](const char* dir, int port, int v) {
        char text[16];
        snprintf(text, sizeof text, "%s %02x %02x\n", dir, port, v);
        lines += text;
    };
    auto write = [&](int port, int v, bool last) {
        line("in", 0x66, 0x00);  // IBF clear: go
        line("out", port, v);
        for (int i = 0; i < ibf; ++i)
            line("in", 0x66, 0x02);
        line("in", 0x66, last && obf == 0 ? 0x01 : 0x00);  // taken; the answer may be up already
    };
    write(0x66, 0x92, false);
    write(0x62, high, false);
    write(0x62, low, true);
    for (int i = 0; i < obf; ++i)
        line("in", 0x66, 0x00);
    line("in", 0x66, 0x01);
    line("in", 0x62, value);
    return lines;
}

TEST_F(EcChannel, ReadMemoryPortByPort)
{
    for (int latency : {0, 1, 3}) {
        SCOPED_TRACE(latency);
        Rig rig(nullptr, Latency({latency ? sim::ReadDelay::Fixed : sim::ReadDelay::Zero,
                                  static_cast<uint32_t>(latency), 1}));
        rig.Ec().Memory()[0x0880] = 'Z';
        uint8_t value = 0;
        rig.With([&] { value = EcReadMemory(0x08, 0x80); });
        EXPECT_EQ(value, 'Z');
        EXPECT_EQ(rig.Trace().Lines(), ExpectedReadMemory(0x08, 0x80, 'Z', latency, latency));
        EXPECT_EQ(rig.Ec().Stats().DroppedWrites, 0u);
    }
}

// Under a random latency the host must still wait before every write and
// read the data port only with OBF up; the traffic without the status reads
// is the same as with no latency at all.
TEST_F(EcChannel, RandomLatencyKeepsTheHandshake)
{
    auto traffic = [](const MemoryTrace& trace) {
        std::string text;
        for (const PortAccess& a : trace.accesses)
            if (a.Write || a.Port == EC_DATA_PORT)
                text += std::to_string(a.Write) + ":" + std::to_string(a.Port) + ":" + std::to_string(a.Value) + " ";
        return text;
    };
    Rig calm;
    calm.With([] {
        for (int i = 0; i < 32; ++i)
            EcReadMemory(0x08, static_cast<uint8_t>(0x80 + i));
    });

    Rig jittery(nullptr, Latency({sim::ReadDelay::Random, 7, 42}));
    jittery.With([] {
        for (int i = 0; i < 32; ++i)
            EcReadMemory(0x08, static_cast<uint8_t>(0x80 + i));
    });
    EXPECT_EQ(traffic(jittery.Trace()), traffic(calm.Trace()));
    EXPECT_GT(jittery.Trace().accesses.size(), calm.Trace().accesses.size());

    uint8_t lastStatus = 0xFF;
    for (const PortAccess& a : jittery.Trace().accesses) {
        if (a.Write)
            EXPECT_EQ(lastStatus & EC_STATUS_IBF, 0) << "wrote with IBF set";
        else if (a.Port == EC_DATA_PORT)
            EXPECT_EQ(lastStatus & EC_STATUS_OBF, EC_STATUS_OBF) << "read data without OBF";
        else
            lastStatus = a.Value;
    }
    EXPECT_EQ(jittery.Ec().Stats().DroppedWrites, 0u);
}

TEST_F(EcChannel, SendCommandWritesAtOnceWhenIdleAndNeverDrainsData)
{
    Rig rig;
    rig.With([] { EcSendCommand(EC_CMD_FOLLOW_EXIT); });
    EXPECT_EQ(rig.Trace().Lines(), "in 66 00\nout 66 fe\nin 66 00\n");
    EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::ClosedExit);

    // A byte already waiting is left for the next EcReadData.
    Rig waiting;
    waiting.With([] {
        EcSendCommand(EC_CMD_FOLLOW_ENTER);
        EcSendCommand(FOLLOW_START);
    });
    EXPECT_EQ(waiting.Trace().Lines(), "in 66 00\nout 66 dc\nin 66 01\nin 66 01\nout 66 01\nin 66 01\n");
}

TEST_F(EcChannel, FollowModeEntryAndRead)
{
    Rig rig;
    uint8_t id = 0;
    rig.With([&] {
        EcEnterFollowMode();
        EcSendCommand(FOLLOW_START);
        EcSendCommand(FOLLOW_OPCODE);
        EcSendCommand(0x9F);
        id = EcFollowRead();
    });
    EXPECT_EQ(rig.Output(), "");
    EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::Follow);
    EXPECT_EQ(id, rig.Chip().Info().Part->Rdid[0]);
    EXPECT_EQ(rig.Trace().CommandStream(), "DC 01 02 9F R");
}

TEST_F(EcChannel, WrongAcknowledgementIsReportedOnce)
{
    sim::EcConfig config;
    config.FollowAck = 0x00;
    Rig rig(nullptr, config);
    rig.With([] { EcEnterFollowMode(); });
    EXPECT_EQ(rig.Output(), "\r\nEC ACK Fail. \r\n\r\n");
    EXPECT_FALSE(EcChannelDead());
}

// A dead EC: each wait gives up after its bound, says which wait it was and
// nothing more reaches the ports.
TEST_F(EcChannel, WaitsGiveUpAfterTheirBound)
{
    SetWaitLimits({500, 0});
    sim::EcConfig stuck;
    stuck.Faults.IbfStuckAfterWrites = 0;
    Rig rig(nullptr, stuck);
    rig.With([] {
        EcSendCommand(EC_CMD_READ_MEMORY);
        EcWriteData(0x08);
        EXPECT_EQ(EcReadData(), 0xFF);
    });
    EXPECT_EQ(EcChannelFault().Wait, WaitFault::EcInputBuffer);
    EXPECT_TRUE(EcChannelDead());
    EXPECT_EQ(rig.Ec().Stats().Writes, 1u);
    EXPECT_EQ(rig.Ec().Stats().StatusReads, 1u + 500u);  // the go-ahead read, then the bound

    SetUp();
    sim::EcConfig mute;
    mute.Faults.ObfStuckAfterAnswers = 0;
    Rig silent(nullptr, mute);
    silent.With([] {
        EcEnterFollowMode();
        EcSendCommand(FOLLOW_START);
    });
    EXPECT_EQ(EcChannelFault().Wait, WaitFault::EcOutputBuffer);
    EXPECT_EQ(silent.Output(), "");  // no ACK message for an answer that never came
    EXPECT_EQ(silent.Trace().CommandStream(), "DC");
    EXPECT_EQ(silent.Ec().Stats().StatusReads, 2u + 500u);
}

TEST_F(EcChannel, LoweredBoundsComeBackToTheDefaults)
{
    SetWaitLimits({7, 9});
    EXPECT_EQ(CurrentWaitLimits().EcStatusReads, 7u);
    SetWaitLimits({0, 0});
    EXPECT_EQ(CurrentWaitLimits().FlashPolls, DEFAULT_WAIT_LIMITS.FlashPolls);
}

}  // namespace
}  // namespace zar::test
