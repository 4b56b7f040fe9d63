// The handshake steps both back-ends share, played by hand on one block in
// host memory.
#include <gtest/gtest.h>

#include <cstring>

#include "wifi_link.h"

namespace {

using namespace vxshared::wifi;

constexpr uint32_t kFirst = 0x02000000, kEnd = 0x02010000, kAt = 0x02008000;
constexpr uint32_t kSize = sizeof(BlockHeader) + 24;

alignas(8) uint8_t memory[kEnd - kFirst];
void* see(uint32_t address, uint32_t bytes) {
    return address - kFirst + bytes <= sizeof memory ? memory + (address - kFirst) : nullptr;
}
constexpr MainMemory kMemory = {kFirst, kEnd, 8, see};

int ringsToMain = 0, ringsToCo = 0;
void toMain() { ++ringsToMain; }
void toCo() { ++ringsToCo; }

struct WifiLink : ::testing::Test {
    void SetUp() override {
        std::memset(memory, 0xA5, sizeof memory);
        ringsToMain = ringsToCo = 0;
        layOut(see(kAt, kSize), kAt, kSize);
    }
    void* attach(uint32_t word, uint32_t size = kSize) { return coAttach(word, size, kMemory, co); }
    void coRing() {
        if (SyncHandler ring = ringMain(h, co)) ring();
    }
    BlockHeader& h = *static_cast<BlockHeader*>(see(kAt, kSize));
    MainLink main = {toCo, false, 0};
    CoLink co = {toMain, 0, false};
};

TEST_F(WifiLink, OnlyTheWordOfALaidOutBlockIsAttached) {
    EXPECT_EQ(memory[kAt - kFirst + kSize - 1], 0);  // zero behind the header
    EXPECT_EQ(attach(kAt), &h);
    for (uint32_t word : {kAt + 8, kAt + 4, 0u, kEnd - 8, 0xFFFFFFF8u}) EXPECT_EQ(attach(word), nullptr) << word;
    EXPECT_EQ(attach(kAt, kSize + 8), nullptr);
    h.self = kAt + 0x400000;  // laid out for another view of main memory
    EXPECT_EQ(attach(kAt), nullptr);
}

TEST_F(WifiLink, MainHalfIsReadyOnlyAfterTheThirdSyncAndNoBellRingsTwice) {
    ASSERT_NE(attach(kAt), nullptr);
    coAttached(h);
    ASSERT_TRUE(coListen(h, co));
    coRing();
    publishStatus(h, co, kAssocDisconnected);  // news before the main half's Wifi_Sync
    coRing();
    EXPECT_EQ(ringsToMain, 1);
    EXPECT_FALSE(mainSynced(h, main));

    ASSERT_TRUE(answerDue(h));
    ringCo(h, main);
    ringCo(h, main);
    EXPECT_EQ(ringsToCo, 1);
    ASSERT_TRUE(coSynced(h, co));
    EXPECT_FALSE(main.ready);

    coRing();
    EXPECT_EQ(ringsToMain, 2);
    EXPECT_TRUE(mainSynced(h, main));
    EXPECT_TRUE(main.ready);
}

TEST_F(WifiLink, StatusAnswersOnlyTheLatestRequest) {
    EXPECT_EQ(linkStatus(h, main), kAssocDisconnected);
    postConnectRequest(h, main);
    EXPECT_EQ(linkStatus(h, main), kAssocSearching);
    ASSERT_TRUE(takeConnectRequest(h, co));
    EXPECT_FALSE(takeConnectRequest(h, co));
    publishStatus(h, co, kAssocCannotConnect);
    EXPECT_EQ(linkStatus(h, main), kAssocCannotConnect);

    postConnectRequest(h, main);
    EXPECT_EQ(linkStatus(h, main), kAssocSearching);
    ASSERT_TRUE(takeConnectRequest(h, co));
    publishStatus(h, co, kAssocAssociated);
    EXPECT_EQ(linkStatus(h, main), kAssocAssociated);
}

}  // namespace
