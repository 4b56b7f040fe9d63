// The handheld's hardware library, as the programs see it: types, registers
// at their hardware addresses, bits, masks and library calls.
//
// Two back-ends stand behind these names. On the device itself (built with
// VX_DEVICE defined, platform/device/) a register is volatile memory at its
// hardware address. On the simulated handheld (platform/sim/) I/O registers
// are reached through IoReg, which hands every access to the machine's I/O
// dispatcher by address, so a register read or write behaves as the hardware
// would (reading the FIFO takes a word, the line counter follows time). Memory
// (main RAM, palettes, video memory) is mapped at its hardware addresses, so
// pointers to it mean what they mean on the device.
#ifndef NDS_H
#define NDS_H

#include <stddef.h>
#include <stdint.h>

typedef uint8_t uint8;
typedef uint16_t uint16;
typedef uint32_t uint32;
typedef uint64_t uint64;
typedef int8_t int8;
typedef int16_t int16;
typedef int32_t int32;
typedef int64_t int64;
typedef uint8_t u8;
typedef uint16_t u16;
typedef uint32_t u32;
typedef uint64_t u64;
typedef int8_t s8;
typedef int16_t s16;
typedef int32_t s32;
typedef int64_t s64;
typedef volatile uint8_t vuint8;
typedef volatile uint16_t vuint16;
typedef volatile uint32_t vuint32;
typedef volatile uint8_t vu8;
typedef volatile uint16_t vu16;
typedef volatile uint32_t vu32;
typedef volatile int16_t vs16;
typedef volatile int32_t vs32;

#ifndef BIT
#define BIT(n) (1u << (n))
#endif

// ---------------------------------------------------------------- I/O access
#ifdef VX_DEVICE
#define VX_IO16(addr) (*(volatile uint16_t*)(addr))
#define VX_IO32(addr) (*(volatile uint32_t*)(addr))
#define VX_IO8(addr) (*(volatile uint8_t*)(addr))
#else
namespace vxhw {
uint32_t ioRead(uint32_t address, unsigned bytes);
void ioWrite(uint32_t address, unsigned bytes, uint32_t value);

template <typename T, uint32_t Address>
struct IoReg {
    operator T() const { return static_cast<T>(ioRead(Address, sizeof(T))); }
    const IoReg& operator=(T value) const {
        ioWrite(Address, sizeof(T), value);
        return *this;
    }
    const IoReg& operator|=(T value) const { return *this = static_cast<T>(T(*this) | value); }
    const IoReg& operator&=(T value) const { return *this = static_cast<T>(T(*this) & value); }
    const IoReg& operator^=(T value) const { return *this = static_cast<T>(T(*this) ^ value); }
};
}  // namespace vxhw

#define VX_IO16(addr) (::vxhw::IoReg<uint16_t, (addr)>{})
#define VX_IO32(addr) (::vxhw::IoReg<uint32_t, (addr)>{})
#define VX_IO8(addr) (::vxhw::IoReg<uint8_t, (addr)>{})
#endif

// ------------------------------------------------------------ display, both
#define DISPLAY_CR VX_IO32(0x04000000)
#define REG_DISPCNT DISPLAY_CR
#define REG_DISPSTAT VX_IO16(0x04000004)
#define DISP_STATUS REG_DISPSTAT
#define REG_VCOUNT VX_IO16(0x04000006)
#define DISP_Y REG_VCOUNT
#define BG0_CR VX_IO16(0x04000008)
#define SUB_DISPLAY_CR VX_IO32(0x04001000)
#define REG_DISPCNT_SUB SUB_DISPLAY_CR
#define SUB_BG0_CR VX_IO16(0x04001008)
#define REG_BG0CNT_SUB SUB_BG0_CR

#define DISP_IN_VBLANK BIT(0)
#define DISP_IN_HBLANK BIT(1)
#define DISP_YTRIGGERED BIT(2)
#define DISP_VBLANK_IRQ BIT(3)
#define DISP_HBLANK_IRQ BIT(4)
#define DISP_YTRIGGER_IRQ BIT(5)

#define MODE_0_2D 0x00010000
#define MODE_FB0 0x00020000
#define MODE_FB1 0x00060000
#define MODE_FB2 0x000A0000
#define MODE_FB3 0x000E0000
#define DISPLAY_BG0_ACTIVE BIT(8)
#define DISPLAY_BG1_ACTIVE BIT(9)
#define DISPLAY_BG2_ACTIVE BIT(10)
#define DISPLAY_BG3_ACTIVE BIT(11)

#define BG_MAP_BASE(base) ((base) << 8)
#define BG_TILE_BASE(base) ((base) << 2)
#define BG_PRIORITY(n) (n)
#define BG_COLOR_16 0x0
#define BG_COLOR_256 0x80
#define BG_32x32 (0 << 14)

#define SCREEN_WIDTH 256
#define SCREEN_HEIGHT 192

#define RGB15(r, g, b) ((r) | ((g) << 5) | ((b) << 10))

// ------------------------------------------------------------------ palettes
#define BG_PALETTE ((u16*)0x05000000)
#define SPRITE_PALETTE ((u16*)0x05000200)
#define BG_PALETTE_SUB ((u16*)0x05000400)
#define SPRITE_PALETTE_SUB ((u16*)0x05000600)

// -------------------------------------------------------------- video memory
#define VRAM_A ((u16*)0x06800000)
#define VRAM_B ((u16*)0x06820000)
#define VRAM_C ((u16*)0x06840000)
#define VRAM_D ((u16*)0x06860000)
#define VRAM_E ((u16*)0x06880000)
#define BG_GFX ((u16*)0x06000000)
#define BG_GFX_SUB ((u16*)0x06200000)
#define SPRITE_GFX ((u16*)0x06400000)
#define SPRITE_GFX_SUB ((u16*)0x06600000)

#define VRAM_CR VX_IO32(0x04000240)
#define VRAM_A_CR VX_IO8(0x04000240)
#define VRAM_B_CR VX_IO8(0x04000241)
#define VRAM_C_CR VX_IO8(0x04000242)
#define VRAM_D_CR VX_IO8(0x04000243)
#define VRAM_E_CR VX_IO8(0x04000244)
#define VRAM_ENABLE BIT(7)
#define VRAM_OFFSET(n) ((n) << 3)

typedef enum {
    VRAM_A_LCD = 0,
    VRAM_A_MAIN_BG = 1,
    VRAM_A_MAIN_BG_0x06000000 = 1 | VRAM_OFFSET(0),
    VRAM_A_MAIN_BG_0x06020000 = 1 | VRAM_OFFSET(1),
    VRAM_A_MAIN_SPRITE = 2,
} VRAM_A_TYPE;

typedef enum {
    VRAM_B_LCD = 0,
    VRAM_B_MAIN_BG = 1 | VRAM_OFFSET(1),
    VRAM_B_MAIN_BG_0x06000000 = 1 | VRAM_OFFSET(0),
    VRAM_B_MAIN_BG_0x06020000 = 1 | VRAM_OFFSET(1),
    VRAM_B_MAIN_SPRITE = 2,
} VRAM_B_TYPE;

typedef enum {
    VRAM_C_LCD = 0,
    VRAM_C_MAIN_BG = 1 | VRAM_OFFSET(2),
    VRAM_C_ARM7 = 2,
    VRAM_C_SUB_BG = 4,
    VRAM_C_SUB_BG_0x06200000 = 4 | VRAM_OFFSET(0),
} VRAM_C_TYPE;

typedef enum {
    VRAM_D_LCD = 0,
    VRAM_D_MAIN_BG = 1 | VRAM_OFFSET(3),
    VRAM_D_ARM7 = 2,
    VRAM_D_SUB_SPRITE = 4,
} VRAM_D_TYPE;

typedef enum {
    VRAM_E_LCD = 0,
    VRAM_E_MAIN_BG = 1,
    VRAM_E_MAIN_SPRITE = 2,
} VRAM_E_TYPE;

// ------------------------------------------------------------------- keypad
#define REG_KEYINPUT VX_IO16(0x04000130)
#define REG_KEYCNT VX_IO16(0x04000132)
#define REG_KEYXY VX_IO16(0x04000136)

typedef enum KEYPAD_BITS {
    KEY_A = BIT(0),
    KEY_B = BIT(1),
    KEY_SELECT = BIT(2),
    KEY_START = BIT(3),
    KEY_RIGHT = BIT(4),
    KEY_LEFT = BIT(5),
    KEY_UP = BIT(6),
    KEY_DOWN = BIT(7),
    KEY_R = BIT(8),
    KEY_L = BIT(9),
    KEY_X = BIT(10),
    KEY_Y = BIT(11),
    KEY_TOUCH = BIT(12),
    KEY_LID = BIT(13),
} KEYPAD_BITS;

// REG_KEYXY bits (co-processor only; 0 = held / touching)
#define XKEY_X BIT(0)
#define XKEY_Y BIT(1)
#define XKEY_DEBUG BIT(3)
#define XKEY_PEN_UP BIT(6)
#define XKEY_HINGE_CLOSED BIT(7)

// ------------------------------------------------------------------ IPC FIFO
#define REG_IPC_SYNC VX_IO16(0x04000180)
#define REG_IPC_FIFO_CR VX_IO16(0x04000184)
#define REG_IPC_FIFO_TX VX_IO32(0x04000188)
#define REG_IPC_FIFO_RX VX_IO32(0x04100000)

#define IPC_FIFO_SEND_EMPTY BIT(0)
#define IPC_FIFO_SEND_FULL BIT(1)
#define IPC_FIFO_SEND_IRQ BIT(2)
#define IPC_FIFO_SEND_CLEAR BIT(3)
#define IPC_FIFO_RECV_EMPTY BIT(8)
#define IPC_FIFO_RECV_FULL BIT(9)
#define IPC_FIFO_RECV_IRQ BIT(10)
#define IPC_FIFO_ERROR BIT(14)
#define IPC_FIFO_ENABLE BIT(15)

// ------------------------------------------------------------------- timers
#define TIMER_DATA(n) VX_IO16(0x04000100 + (n)*4)
#define TIMER_CR(n) VX_IO16(0x04000102 + (n)*4)
#define TIMER0_DATA TIMER_DATA(0)
#define TIMER1_DATA TIMER_DATA(1)
#define TIMER2_DATA TIMER_DATA(2)
#define TIMER3_DATA TIMER_DATA(3)
#define TIMER0_CR TIMER_CR(0)
#define TIMER1_CR TIMER_CR(1)
#define TIMER2_CR TIMER_CR(2)
#define TIMER3_CR TIMER_CR(3)

#define TIMER_DIV_1 0
#define TIMER_DIV_64 1
#define TIMER_DIV_256 2
#define TIMER_DIV_1024 3
#define TIMER_CASCADE BIT(2)
#define TIMER_IRQ_REQ BIT(6)
#define TIMER_ENABLE BIT(7)
// The reload for n overflows a second at TIMER_DIV_1: timers count the bus
// clock, 33,513,982 Hz (n from 512 up, so the count fits 16 bits).
#define TIMER_FREQ(n) static_cast<u16>(0x10000 - 33513982 / (n))

// --------------------------------------------------------------- interrupts
#define REG_IME VX_IO32(0x04000208)
#define REG_IE VX_IO32(0x04000210)
#define REG_IF VX_IO32(0x04000214)

typedef enum IRQ_MASKS {
    IRQ_VBLANK = BIT(0),
    IRQ_HBLANK = BIT(1),
    IRQ_VCOUNT = BIT(2),
    IRQ_TIMER0 = BIT(3),
    IRQ_TIMER1 = BIT(4),
    IRQ_TIMER2 = BIT(5),
    IRQ_TIMER3 = BIT(6),
    IRQ_SERIAL_RTC = BIT(7),  // co-processor: the serial port (RCNT), where the clock's interrupt line arrives
    IRQ_DMA0 = BIT(8),
    IRQ_DMA1 = BIT(9),
    IRQ_DMA2 = BIT(10),
    IRQ_DMA3 = BIT(11),
    IRQ_KEYS = BIT(12),
    IRQ_CART = BIT(13),
    IRQ_IPC_SYNC = BIT(16),
    IRQ_FIFO_EMPTY = BIT(17),
    IRQ_FIFO_NOT_EMPTY = BIT(18),
    IRQ_CARD = BIT(19),
    IRQ_CARD_LINE = BIT(20),
    IRQ_GEOMETRY_FIFO = BIT(21),
    IRQ_LID = BIT(22),
    IRQ_SPI = BIT(23),
    IRQ_WIFI = BIT(24),
    IRQ_ALL = 0x7FFFFFFF,
} IRQ_MASK;

#define IRQ_TIMER(n) (1 << ((n) + 3))

typedef void (*VoidFunctionPointer)(void);
typedef VoidFunctionPointer IntFn;

extern "C" {
void irqInit(void);
void irqSet(int mask, VoidFunctionPointer handler);
void irqClear(int mask);
void irqEnable(uint32 mask);
void irqDisable(uint32 mask);
void swiWaitForVBlank(void);
}

// -------------------------------------------------------------------- power
#define REG_POWERCNT VX_IO16(0x04000304)

// Main processor: display power and which engine drives the top screen.
#define POWER_LCD BIT(0)
#define POWER_2D_A BIT(1)
#define POWER_3D_CORE BIT(2)  // 3D rendering engine
#define POWER_MATRIX BIT(3)   // 3D geometry engine
#define POWER_2D_B BIT(9)
#define POWER_SWAP_LCDS BIT(15)
#define POWER_ALL_2D (POWER_LCD | POWER_2D_A | POWER_2D_B)
// Co-processor: sound and wireless power.
#define POWER_SOUND BIT(0)
#define POWER_WIFI BIT(1)

extern "C" void powerON(int bits);
extern "C" void powerOFF(int bits);

// -------------------------------------------------------------------- sound
#define SOUND_CR VX_IO16(0x04000500)
#define REG_SOUNDCNT SOUND_CR
#define SOUND_ENABLE BIT(15)
#define SOUND_VOL(n) (n)

// ---------------------------------------------------------- video library
extern "C" {
uint32 vramSetMainBanks(VRAM_A_TYPE a, VRAM_B_TYPE b, VRAM_C_TYPE c, VRAM_D_TYPE d);
void vramSetBankA(VRAM_A_TYPE a);
void vramSetBankB(VRAM_B_TYPE b);
void vramSetBankC(VRAM_C_TYPE c);
void vramSetBankD(VRAM_D_TYPE d);
void vramSetBankE(VRAM_E_TYPE e);
}
inline void videoSetMode(uint32 mode) { DISPLAY_CR = mode; }
inline void videoSetModeSub(uint32 mode) { SUB_DISPLAY_CR = mode; }

// ----------------------------------------------------------- text console
extern "C" {
void consoleInitDefault(u16* map, u16* charBase, u8 bitDepth);
int iprintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
}

// ------------------------------------------------------------------- keys
extern "C" {
void scanKeys(void);
uint32 keysHeld(void);
uint32 keysDown(void);
uint32 keysUp(void);
}

// ----------------------------------------------------- shared transfer region
typedef struct rtcTimeAndDate {
    uint8 year;
    uint8 month;
    uint8 day;
    uint8 weekday;
    uint8 hours;
    uint8 minutes;
    uint8 seconds;
} rtcTimeAndDate;

// Filled by the co-processor every frame. Field for field the device's layout;
// soundData holds a 32-bit device address, as a pointer does on the device.
typedef struct sTransferRegion {
    vs16 touchX, touchY;      // raw touch position
    vs16 touchXpx, touchYpx;  // touch position in pixels
    vs16 touchZ1, touchZ2;    // pressure conversions
    vu16 tdiode1, tdiode2;    // temperature diodes
    vu32 temperature;         // computed temperature, 20.12 fixed point
    u16 buttons;              // REG_KEYXY as read
    union {
        vu8 curtime[8];
        struct {
            vu8 command;
            vu8 year;
            vu8 month;
            vu8 day;
            vu8 weekday;
            vu8 hours;
            vu8 minutes;
            vu8 seconds;
        } rtc;
    } time;
    vs32 unixTime;
    u16 battery;
    u16 aux;
    vu32 soundData;
    vu32 mailAddr;
    vu32 mailData;
    vu8 mailRead;
    vu8 mailBusy;
    vu32 mailSize;
} TransferRegion, *pTransferRegion;

static_assert(sizeof(TransferRegion) == 60, "transfer region layout");
static_assert(offsetof(TransferRegion, buttons) == 20 && offsetof(TransferRegion, time) == 22 &&
                  offsetof(TransferRegion, battery) == 36 && offsetof(TransferRegion, soundData) == 40,
              "transfer region layout");

#define TRANSFER_REGION_ADDRESS 0x027FF000
inline TransferRegion volatile* getIPC() { return (TransferRegion volatile*)TRANSFER_REGION_ADDRESS; }
#define IPC getIPC()

// ------------------------------------------------- co-processor devices
typedef struct touchPosition {
    int16 x;
    int16 y;
    int16 px;
    int16 py;
    int16 z1;
    int16 z2;
} touchPosition;

// Touch controller command bytes: start bit, channel in bits 4-6, 12-bit mode.
#define TSC_MEASURE_TEMP1 0x84
#define TSC_MEASURE_Y 0x94
#define TSC_MEASURE_BATTERY 0xA4
#define TSC_MEASURE_Z1 0xB4
#define TSC_MEASURE_Z2 0xC4
#define TSC_MEASURE_X 0xD4
#define TSC_MEASURE_AUX 0xE4
#define TSC_MEASURE_TEMP2 0xF4

extern "C" {
touchPosition touchReadXY(void);
uint16 touchRead(uint32 command);
uint32 touchReadTemperature(int* t1, int* t2);
void rtcReset(void);
void rtcGetTime(uint8* time);
void BCDToInteger(uint8* data, uint32 length);
}

#endif
