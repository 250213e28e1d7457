// The analog multiplexer over one register word.
#include <gtest/gtest.h>

#include <memory>

#include "devio/reg_access.h"
#include "istd/exception.h"
#include "bmc/analog_mux.h"

namespace {

// A multiplexer register served by a model that counts writes, as the board's mapping would be.
class MuxRegister : public devio::RegisterModel {
public:
    uint32_t OnRead32(size_t) override { return value; }
    void OnWrite32(size_t, uint32_t v) override
    {
        value = v;
        ++writes;
    }
    uint32_t value = 0xFFFF0000;
    int writes = 0;
};

TEST(AnalogMuxTest, InputsBelowTheCountAreSelected)
{
    alignas(8) volatile bmc::FPGAMem_t mapped[8] = {};
    auto reg = std::make_shared<MuxRegister>();
    devio::RangeClaim claim(mapped + 4, 4, reg);

    const bmc::AnalogMux mux(mapped + 4, "temperature", 4);
    EXPECT_EQ(reg->writes, 1);
    EXPECT_EQ(mux.GetInput(), 0u);
    EXPECT_TRUE(mux.SetInput(3));
    EXPECT_FALSE(mux.SetInput(4));
    EXPECT_EQ(reg->writes, 2);
    EXPECT_EQ(mux.GetInput(), 3u);
    const bmc::AnalogMux copy = mux; // drives the same register
    EXPECT_TRUE(copy.SetInput(2));
    EXPECT_EQ(mux.GetInput(), 2u);
    reg->value = 0xABCD0001; // read back unmasked
    EXPECT_EQ(mux.GetInput(), 0xABCD0001u);

    reg->writes = 0;
    const bmc::AnalogMux none(mapped + 4, "none", 0);
    EXPECT_FALSE(none.SetInput(0));
    EXPECT_EQ(reg->writes, 0);

    EXPECT_THROW(bmc::AnalogMux(nullptr, "null", 2), istd::Exception);
    EXPECT_THROW(bmc::AnalogMux(mapped + 1, "odd", 2), istd::Exception);
}

} // namespace
