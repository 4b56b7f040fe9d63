// vx-romtool: packs the handheld's two programs (ARM ELF executables) into
// one ROM image that the boot loader of a card, a flash cartridge or an
// emulator can start.
#include <cstdio>
#include <cstring>
#include <string>

#include "rom_image.h"

namespace {

constexpr int kBadInput = 1;
constexpr int kUsageError = 2;

const char kUsage[] =
    "Usage: vx-romtool --arm9 ELF --arm7 ELF --output ROM [--title TEXT] [--game-code CODE] [--maker-code CODE]\n"
    "\n"
    "Packs a main-processor and a co-processor program into one ROM image.\n"
    "  --title TEXT       up to 12 characters, stored upper-case (default VXTANKS)\n"
    "  --game-code CODE   4 characters (default ####)\n"
    "  --maker-code CODE  2 characters (default 00)\n"
    "  --help             this text\n"
    "  --version          the version\n";

int fail(int status, const std::string& message) {
    std::fprintf(stderr, "vx-romtool: %s\n", message.c_str());
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    std::string arm9Path, arm7Path, outputPath;
    vxrom::Identity identity;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (option == "--version") {
            std::puts("vx-romtool (vxtanks) " VX_VERSION);
            return 0;
        }
        std::string* target = option == "--arm9"         ? &arm9Path
                              : option == "--arm7"       ? &arm7Path
                              : option == "--output"     ? &outputPath
                              : option == "--title"      ? &identity.title
                              : option == "--game-code"  ? &identity.gameCode
                              : option == "--maker-code" ? &identity.makerCode
                                                         : nullptr;
        if (!target) return fail(kUsageError, "unknown option '" + option + "' (see --help)");
        if (i + 1 >= argc) return fail(kUsageError, option + " needs a value");
        *target = argv[++i];
    }
    if (arm9Path.empty() || arm7Path.empty() || outputPath.empty())
        return fail(kUsageError, "--arm9, --arm7 and --output are all needed (see --help)");
    if (const std::string why = vxrom::checkIdentity(identity); !why.empty()) return fail(kUsageError, why);

    std::string error;
    const auto arm9 = vxrom::readElf(arm9Path, error);
    if (!arm9) return fail(kBadInput, "arm9: " + error);
    const auto arm7 = vxrom::readElf(arm7Path, error);
    if (!arm7) return fail(kBadInput, "arm7: " + error);
    for (const auto& [processor, program] :
         {std::pair{vxrom::Processor::Main, &*arm9}, std::pair{vxrom::Processor::Co, &*arm7}}) {
        if (const std::string why = vxrom::checkPlacement(processor, *program); !why.empty())
            return fail(kBadInput, why);
    }
    if (const std::string why = vxrom::checkOverlap(*arm9, *arm7); !why.empty()) return fail(kBadInput, why);

    const auto rom = vxrom::buildRom(*arm9, *arm7, identity);
    if (!vxrom::writeAtomically(outputPath, rom, error)) return fail(kBadInput, error);
    std::printf("%s: %zu bytes; arm9 %zu bytes at 0x%08X, arm7 %zu bytes at 0x%08X\n", outputPath.c_str(), rom.size(),
                arm9->bytes.size(), arm9->load, arm7->bytes.size(), arm7->load);
    return 0;
}
