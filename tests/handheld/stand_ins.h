// Test-side programs for one processor of the handheld, playing the partner
// of a real program. They live in stand_ins.cpp, which sees only the
// handheld's own headers; this header names no handheld type.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

namespace hhtest {

// What a stand-in writes to its send FIFO: `burst` at once after enabling the
// FIFO (after `framesBefore` vertical blanks), then each word of `paced` once
// the partner has taken the previous one, then `finalBurst` at once.
struct FifoScript {
    int framesBefore = 0;
    std::vector<uint32_t> burst;
    std::vector<uint32_t> paced;
    std::vector<uint32_t> finalBurst;
    // Co-processor stand-in only: words to take from the main processor
    // before it writes anything.
    int wordsToTake = 0;
};

extern FifoScript fifoScript;
extern std::atomic<bool> standInDone;
extern std::atomic<bool> standInStuck;  // the partner stopped taking words
extern std::vector<uint32_t> standInTook;

// The main processor's part, for the co-processor program.
int mainStandIn(int argc, char** argv);
// The co-processor's part, for the main-processor program.
int coStandIn(int argc, char** argv);

// Entries that set REG_POWERCNT to a value of their own before they enter the
// real program, as a loader could have left it.
extern int (*realEntry)(int, char**);
extern uint16_t powerBefore;
int withPowerBefore(int argc, char** argv);

}  // namespace hhtest
