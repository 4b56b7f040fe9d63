// The handshake steps both back-ends share, played by hand on one block in
// host memory: which FIFO words designate a block, the order of the syncs,
// the doorbells, and the association reports.
#include <gtest/gtest.h>

#include <cstring>

#include "wifi_link.h"

namespace {

using namespace vxshared::wifi;

constexpr uint32_t kFirst = 0x02000000;
constexpr uint32_t kEnd = 0x02010000;
constexpr uint32_t kAt = 0x02008000;

struct TestBlock {
    BlockHeader header;
    uint32_t payload[6];
};

// A small main memory at kFirst, as the co half sees it.
alignas(8) uint8_t memory[kEnd - kFirst];

void* see(uint32_t address, uint32_t bytes) {
    if (address < kFirst || address - kFirst + bytes > sizeof memory) return nullptr;
    return memory + (address - kFirst);
}

constexpr MainMemory kMemory = {kFirst, kEnd, 8, see};

// Rings are counted; a handler is only a function pointer.
int ringsToMain = 0, ringsToCo = 0;
void toMain() { ++ringsToMain; }
void toCo() { ++ringsToCo; }

class WifiLink : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(memory, 0xA5, sizeof memory);
        ringsToMain = ringsToCo = 0;
        layOut(see(kAt, sizeof(TestBlock)), kAt, sizeof(TestBlock));
        main.sync = toCo;
        co.sync = toMain;
    }
    BlockHeader& header() { return static_cast<TestBlock*>(see(kAt, sizeof(TestBlock)))->header; }
    void* attach(uint32_t word, uint32_t size = sizeof(TestBlock)) { return coAttach(word, size, kMemory, co); }
    // The end of the co half's work: rings the main half if it should.
    void coRing() {
        if (SyncHandler ring = ringMain(header(), co)) ring();
    }

    MainLink main = {};
    CoLink co = {};
};

TEST_F(WifiLink, OnlyTheWordOfALaidOutBlockIsAttached) {
    auto* block = static_cast<TestBlock*>(see(kAt, sizeof(TestBlock)));
    EXPECT_EQ(block->payload[5], 0u);  // laid out zero behind the header
    EXPECT_EQ(attach(kAt), block);

    EXPECT_EQ(attach(kAt + 8), nullptr);                     // inside memory, not the block's start
    EXPECT_EQ(attach(kAt + 4), nullptr);                     // misaligned
    EXPECT_EQ(attach(0), nullptr);                           // below main memory
    EXPECT_EQ(attach(kEnd - 8), nullptr);                    // runs past the end of memory
    EXPECT_EQ(attach(0xFFFFFFF8), nullptr);                  // far above it
    EXPECT_EQ(attach(kEnd - 16, 16), nullptr);               // too small to hold a header
    EXPECT_EQ(attach(kAt, sizeof(TestBlock) + 8), nullptr);  // laid out for another size

    block->header.version = kVersion + 1;
    EXPECT_EQ(attach(kAt), nullptr);
    block->header.version = kVersion;
    block->header.self = kAt + 0x400000;  // the same block, laid out for another view
    EXPECT_EQ(attach(kAt), nullptr);
    block->header.self = kAt;
    block->header.magic = 0;
    EXPECT_EQ(attach(kAt), nullptr);
    EXPECT_EQ(block->header.coState, kCoAbsent);  // refusing touches nothing
}

TEST_F(WifiLink, MainHalfIsReadyOnlyAfterTheThirdSync) {
    BlockHeader& h = header();
    ASSERT_NE(attach(kAt), nullptr);
    coAttached(h);

    // Without a sync handler the co half cannot say anything yet.
    co.sync = nullptr;
    EXPECT_FALSE(coListen(h, co));
    coRing();
    EXPECT_EQ(h.coState, kCoAttached);
    co.sync = toMain;

    // First sync, co to main: Listening.
    EXPECT_TRUE(coListen(h, co));
    EXPECT_FALSE(coListen(h, co));
    coRing();
    EXPECT_EQ(ringsToMain, 1);
    EXPECT_FALSE(mainSynced(h, main));
    EXPECT_FALSE(main.ready);

    // Second, main to co: the answer.
    ASSERT_TRUE(answerDue(h));
    ringCo(h, main);
    EXPECT_EQ(ringsToCo, 1);
    EXPECT_TRUE(coSynced(h, co));
    EXPECT_TRUE(coRunning(h));
    EXPECT_FALSE(main.ready);

    // Third, co to main: only now is the main half ready, once.
    coRing();
    EXPECT_EQ(ringsToMain, 2);
    EXPECT_TRUE(mainSynced(h, main));
    EXPECT_TRUE(main.ready);
    EXPECT_FALSE(mainSynced(h, main));
}

TEST_F(WifiLink, AnUnansweredDoorbellHoldsFurtherRingsBack) {
    BlockHeader& h = header();
    ASSERT_NE(attach(kAt), nullptr);
    coAttached(h);
    ASSERT_TRUE(coListen(h, co));
    coRing();
    // More news before the main half's Wifi_Sync: no second ring.
    publishStatus(h, co, kAssocSearching);
    coRing();
    EXPECT_EQ(ringsToMain, 1);
    mainSynced(h, main);
    publishStatus(h, co, kAssocSearching);
    coRing();
    EXPECT_EQ(ringsToMain, 2);

    ringCo(h, main);
    ringCo(h, main);
    EXPECT_EQ(ringsToCo, 1);
    coSynced(h, co);
    ringCo(h, main);
    EXPECT_EQ(ringsToCo, 2);
}

TEST_F(WifiLink, StatusAnswersOnlyTheLatestRequest) {
    BlockHeader& h = header();
    ASSERT_NE(attach(kAt), nullptr);
    EXPECT_EQ(linkStatus(h, main), kAssocDisconnected);

    postConnectRequest(h, main);
    EXPECT_EQ(linkStatus(h, main), kAssocSearching);  // not taken yet
    ASSERT_TRUE(takeConnectRequest(h, co));
    EXPECT_FALSE(takeConnectRequest(h, co));
    publishStatus(h, co, kAssocCannotConnect);
    EXPECT_EQ(linkStatus(h, main), kAssocCannotConnect);

    // A new request is not answered by the last one's status.
    postConnectRequest(h, main);
    EXPECT_EQ(linkStatus(h, main), kAssocSearching);
    ASSERT_TRUE(takeConnectRequest(h, co));
    publishStatus(h, co, kAssocAssociated);
    EXPECT_EQ(linkStatus(h, main), kAssocAssociated);

    // A fresh Wifi_Init on the co-processor forgets the requests it took.
    ASSERT_NE(attach(kAt), nullptr);
    EXPECT_TRUE(takeConnectRequest(h, co));
}

}  // namespace
