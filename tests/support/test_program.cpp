#include "test_program.h"

#include <nds.h>

namespace vxtest {

void idleForever() {
    for (;;) swiWaitForVBlank();
}

}  // namespace vxtest
