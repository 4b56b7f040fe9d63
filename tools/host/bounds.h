// The smallest box around the points seen so far: where a program has drawn
// on a black picture, whichever way the picture was read.
#pragma once

#include <algorithm>

namespace vxtest {

struct Bounds {
    int count = 0, minX = 0, maxX = 0, minY = 0, maxY = 0;  // the box means nothing while count is 0

    void add(int x, int y) {
        if (count++ == 0) {
            minX = maxX = x;
            minY = maxY = y;
            return;
        }
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        minY = std::min(minY, y);
        maxY = std::max(maxY, y);
    }
};

}  // namespace vxtest
