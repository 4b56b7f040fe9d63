// Display timing, the vertical-blank wait, power control, video memory and
// what reaches the screens: framebuffer and text console.
#include <gtest/gtest.h>
#include <nds.h>

#include "handheld_fixture.h"

using namespace vxtest;
using vxsim::Cpu;

namespace {

// --------------------------------------------------------- line counter

struct LineLog {
    bool seen[263] = {};
    int reads = 0;
    u16 lineAfterWait[4] = {}, statAfterWait[4] = {};
    u16 statMidFrame = 0;
} lines;

int lineMain(int, char**) {
    // One whole frame of busy reads: every line must show up once.
    while (REG_VCOUNT != 0) {
    }
    for (;;) {
        u16 v = REG_VCOUNT;
        ++lines.reads;
        if (v < 263) lines.seen[v] = true;
        if (v == 262) break;
    }
    lines.statMidFrame = REG_DISPSTAT;
    for (int i = 0; i < 4; ++i) {
        while (REG_VCOUNT > 192) {
        }
        while (REG_VCOUNT < 192) {
        }
        lines.lineAfterWait[i] = REG_VCOUNT;
        lines.statAfterWait[i] = REG_DISPSTAT;
        while (REG_VCOUNT == 192) {
        }
    }
    idleForever();
    return 0;
}

TEST(Display, LineCounterRunsThroughEveryLineAndTheWaitEndsOnLine192) {
    auto h = Handheld::boot(lineMain, nullptr);
    h->machine.runFrames(8);
    for (int l = 0; l < 263; ++l) EXPECT_TRUE(lines.seen[l]) << "line " << l;
    EXPECT_LT(lines.reads, 263 * 4) << "a spinning read skips ahead to the next line";
    EXPECT_FALSE(lines.statMidFrame & DISP_IN_VBLANK) << "line 262 is past the vertical blank";
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(lines.lineAfterWait[i], 192);
        EXPECT_TRUE(lines.statAfterWait[i] & DISP_IN_VBLANK);
    }
}

// --------------------------------------------------- vertical-blank wait

struct VBlankLog {
    int returns = 0;
    u16 line[16] = {};
    u32 cycleFrame[16] = {};
} vblank;

int vblankMain(int, char**) {
    irqInit();
    irqSet(IRQ_VBLANK, 0);  // as the main program does: no handler, never enabled
    for (;;) {
        swiWaitForVBlank();
        if (vblank.returns < 16) vblank.line[vblank.returns] = REG_VCOUNT;
        ++vblank.returns;
    }
    return 0;
}

TEST(Display, WaitForVBlankReturnsOncePerFrameWithOnlyIrqInit) {
    vblank = {};  // the log outlives a test when they share a process
    auto h = Handheld::boot(vblankMain, nullptr);
    h->machine.runFrames(10);
    h->machine.runFrames(1);
    EXPECT_EQ(vblank.returns, 10) << "the eleventh return comes just after the 11th blank begins";
    for (int i = 0; i < 10; ++i) EXPECT_EQ(vblank.line[i], 192) << i;
    EXPECT_EQ(h->machine.frameCount(), 11u);
}

int vblankDisabledMain(int, char**) {
    irqInit();
    irqDisable(IRQ_VBLANK);
    for (;;) {
        swiWaitForVBlank();
        ++vblank.returns;
    }
    return 0;
}

TEST(Display, WaitForVBlankHangsWhenTheProgramDisablesIt) {
    vblank = {};  // the log outlives a test when they share a process
    auto h = Handheld::boot(vblankDisabledMain, nullptr);
    h->machine.runFrames(5);
    EXPECT_EQ(vblank.returns, 0);
    EXPECT_EQ(h->machine.frameCount(), 5u) << "time still runs";
}

// ----------------------------------------------------------------- power

struct PowerLog {
    u16 mainAtStart = 0, mainAfterOn = 0, mainAfterByte = 0, mainAfterOff = 0;
    u16 coAtStart = 0xFFFF, coAfterOn = 0, sound = 0;
} power;

int powerMain(int, char**) {
    power.mainAtStart = REG_POWERCNT;
    powerON(POWER_LCD | POWER_2D_A | POWER_2D_B);
    power.mainAfterOn = REG_POWERCNT;
    VX_IO8(0x04000305) = 0x00;  // the high byte only: the swap bit goes, the rest stays
    power.mainAfterByte = REG_POWERCNT;
    REG_POWERCNT = REG_POWERCNT | POWER_SWAP_LCDS;
    powerOFF(POWER_2D_B);
    power.mainAfterOff = REG_POWERCNT;
    idleForever();
    return 0;
}

int powerCo(int, char**) {
    power.coAtStart = REG_POWERCNT;
    powerON(POWER_SOUND);
    power.coAfterOn = REG_POWERCNT;
    SOUND_CR = SOUND_ENABLE | SOUND_VOL(0x7F);
    power.sound = SOUND_CR;
    idleForever();
    return 0;
}

TEST(Power, EachProcessorHasItsOwnRegisterAndOnlyWrittenBitsChange) {
    auto h = Handheld::boot(powerMain, powerCo);
    h->machine.runFrames(1);
    EXPECT_EQ(power.mainAtStart, 0x8000);
    EXPECT_EQ(power.mainAfterOn, 0x8203);
    EXPECT_EQ(power.mainAfterByte, 0x0003);
    EXPECT_EQ(power.mainAfterOff, 0x8003);
    EXPECT_EQ(power.coAtStart, 0x0000);
    EXPECT_EQ(power.coAfterOn, 0x0001);
    EXPECT_EQ(power.sound, 0x807F);
    EXPECT_EQ(h->machine.peekIo(Cpu::Main, 0x04000304, 2), 0x8003u);
    EXPECT_EQ(h->machine.peekIo(Cpu::Co, 0x04000304, 2), 0x0001u);
}

// ----------------------------------------------------------- framebuffer

enum class FbCase { Lcd, BankInBackground, TextMode };
FbCase fbCase = FbCase::Lcd;
u32 previousBanks = 0xFFFFFFFF;

u16 pattern(int x, int y) { return static_cast<u16>(RGB15(x & 31, y & 31, (x ^ y) & 31)); }

int framebufferMain(int, char**) {
    powerON(POWER_ALL_2D);
    previousBanks = vramSetMainBanks(VRAM_A_MAIN_BG, VRAM_B_MAIN_BG, VRAM_C_SUB_BG, VRAM_D_LCD);
    u16* target = BG_GFX;  // bank A as main background memory
    if (fbCase != FbCase::BankInBackground) {
        vramSetBankA(VRAM_A_LCD);
        target = VRAM_A;
    }
    videoSetMode(fbCase == FbCase::TextMode ? MODE_0_2D : MODE_FB0);
    for (int y = 0; y < 192; ++y) {
        for (int x = 0; x < 256; ++x) target[y * 256 + x] = pattern(x, y);
    }
    idleForever();
    return 0;
}

TEST(Screens, FramebufferPixelsReachTheTopScreenThroughBankA) {
    auto h = Handheld::boot(framebufferMain, nullptr);
    h->machine.runFrames(1);
    EXPECT_EQ(previousBanks, 0u);
    auto rgb = h->machine.renderScreens();
    ASSERT_EQ(rgb.size(), 256u * 384u * 3u);
    for (int y = 0; y < 192; y += 7) {
        for (int x = 0; x < 256; x += 5) ASSERT_EQ(pixel(rgb, 0, x, y), expand555(pattern(x, y))) << x << "," << y;
    }
    EXPECT_EQ(pixel(rgb, 0, 255, 191), expand555(pattern(255, 191)));
    EXPECT_EQ(h->machine.peekIo(Cpu::Main, 0x04000240, 4), 0x80848980u)
        << "A LCD, B main BG at 0x06020000, C sub BG, D LCD";
}

// The pattern is written but the top screen stays black.
void expectTopScreenBlack(FbCase c) {
    fbCase = c;
    auto h = Handheld::boot(framebufferMain, nullptr);
    h->machine.runFrames(1);
    auto rgb = h->machine.renderScreens();
    for (int y = 0; y < 192; y += 3) {
        for (int x = 0; x < 256; x += 3) ASSERT_EQ(pixel(rgb, 0, x, y), (Pixel{0, 0, 0})) << x << "," << y;
    }
}

TEST(Screens, NoFramebufferWhenBankAIsNotInLcdMode) { expectTopScreenBlack(FbCase::BankInBackground); }

TEST(Screens, NoFramebufferInTextMode) { expectTopScreenBlack(FbCase::TextMode); }

int strayStoreMain(int, char**) {
    vramSetBankA(VRAM_A_MAIN_BG);
    VRAM_A[3] = 0x7FFF;  // bank A is not at its LCD address any more
    idleForever();
    return 0;
}

TEST(Screens, StoreToUnmappedVideoMemoryEndsTheRunNamingTheAddress) {
    EXPECT_EXIT(runOneFrame(strayStoreMain, nullptr), testing::ExitedWithCode(3),
                "vx-handheld: access to unmapped device memory at 0x06800006");
}

// --------------------------------------------------------------- console

void consoleSetUp() {
    powerON(POWER_ALL_2D);
    vramSetMainBanks(VRAM_A_LCD, VRAM_B_MAIN_BG, VRAM_C_SUB_BG, VRAM_D_LCD);
    videoSetModeSub(MODE_0_2D | DISPLAY_BG0_ACTIVE);
    SUB_BG0_CR = BG_MAP_BASE(31);
    BG_PALETTE_SUB[255] = RGB15(10, 31, 31);
    consoleInitDefault((u16*)0x0620F800, (u16*)0x06200000, 16);
}

// The console's rows after the program's first frame.
std::vector<std::string> rowsAfterOneFrame(Handheld& h) {
    h.machine.runFrames(1);
    auto text = h.machine.consoleLines();
    EXPECT_EQ(text.size(), 24u);
    text.resize(24);  // the checks index rows without a second guard
    return text;
}

int consoleMain(int, char**) {
    consoleSetUp();
    iprintf("Hello %d\n", 42);
    iprintf("no end ");
    iprintf("continued\n");
    iprintf("%5d|%-4d|%04x|%X|%c|%s|%%|%u|%i\n", -42, 7, 0xbe, 0xCAFEu, 'Z', "ok", 4000000000u, -3);
    iprintf("%s\n", "0123456789abcdefghijklmnopqrstuvwxyzABCD");
    idleForever();
    return 0;
}

TEST(Console, TextContinuesWrapsAndIsTraced) {
    auto h = Handheld::boot(consoleMain, nullptr);
    auto text = rowsAfterOneFrame(*h);
    EXPECT_EQ(text[0], "Hello 42");
    EXPECT_EQ(text[1], "no end continued");
    EXPECT_EQ(text[2], "  -42|7   |00be|CAFE|Z|ok|%|4000");
    EXPECT_EQ(text[3], "000000|-3");
    EXPECT_EQ(text[4], "0123456789abcdefghijklmnopqrstuv");
    EXPECT_EQ(text[5], "wxyzABCD");
    EXPECT_EQ(text[6], "");
    auto traced = h->texts(Cpu::Main, TraceKind::Console);
    ASSERT_EQ(traced.size(), 6u);
    EXPECT_EQ(traced[1], "no end continued");
    EXPECT_EQ(traced[5], "wxyzABCD");
}

struct FormatLog {
    int counts[3] = {};
} formats;

int formatMain(int, char**) {
    consoleSetUp();
    formats.counts[0] = iprintf("%lld|%+d|% d|%*d|%-*d|\n", -9000000000LL, 5, 6, 4, 7, 6, -3);
    formats.counts[1] = iprintf("%.3d|%8.3d|%.2s|%5.1s|%-3c|\n", 7, -7, "abc", "xyz", 'q');
    formats.counts[2] = iprintf("%f%g|%lu|%zu|%hx|%p\n", 1.5, 2.5, 4000000000ul, sizeof(int), 0xBEEF, (void*)0x1234);
    idleForever();
    return 0;
}

TEST(Console, IntegerFormatsWidthsPrecisionsAndSizes) {
    auto h = Handheld::boot(formatMain, nullptr);
    auto text = rowsAfterOneFrame(*h);
    EXPECT_EQ(text[0], "-9000000000|+5| 6|   7|-3    |");
    EXPECT_EQ(text[1], "007|    -007|ab|    x|q  |");
    EXPECT_EQ(text[2], "|4000000000|4|beef|0x1234") << "floating point prints nothing";
    EXPECT_EQ(formats.counts[0], 31);
    EXPECT_EQ(formats.counts[1], 27);
    EXPECT_EQ(formats.counts[2], 26);
}

int scrollMain(int, char**) {
    consoleSetUp();
    for (int i = 0; i < 30; ++i) iprintf("line %d\n", i);
    idleForever();
    return 0;
}

TEST(Console, ScrollsOneRowWhenWritingPastTheLastRow) {
    auto h = Handheld::boot(scrollMain, nullptr);
    auto text = rowsAfterOneFrame(*h);
    // 30 lines end with a line feed: the cursor waits below the last row,
    // so the last 24 lines fill the screen without an empty row.
    for (int r = 0; r < 24; ++r) EXPECT_EQ(text[r], "line " + std::to_string(r + 6)) << r;
}

TEST(Console, GlyphsAreDrawnInPaletteEntry255OnTheBottomScreen) {
    auto h = Handheld::boot(consoleMain, nullptr);
    h->machine.runFrames(1);
    auto rgb = h->machine.renderScreens();
    const Pixel text = expand555(RGB15(10, 31, 31)), black{0, 0, 0};
    auto litIn = [&](int col, int row) {
        int lit = 0;
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 8; ++x) {
                Pixel p = pixel(rgb, 1, col * 8 + x, row * 8 + y);
                EXPECT_TRUE(p == text || p == black);
                lit += p == text;
            }
        }
        return lit;
    };
    EXPECT_GT(litIn(0, 0), 8) << "H";
    EXPECT_EQ(litIn(5, 0), 0) << "space";
    EXPECT_GT(litIn(6, 0), 8) << "4";
    EXPECT_EQ(litIn(20, 0), 0) << "past the end of the line";
    // Every printable glyph is its own picture.
    for (int a = 0; a < 32; ++a) {
        for (int b = a + 1; b < 32; ++b) {
            bool same = true;
            for (int y = 0; y < 8 && same; ++y) {
                for (int x = 0; x < 8 && same; ++x)
                    same = pixel(rgb, 1, a * 8 + x, 32 + y) == pixel(rgb, 1, b * 8 + x, 32 + y);
            }
            EXPECT_FALSE(same) << "columns " << a << " and " << b << " of row 4";
        }
    }
    // The main engine is on the top screen (the swap bit is set at start).
    EXPECT_EQ(pixel(rgb, 0, 0, 0), black);
}

}  // namespace
