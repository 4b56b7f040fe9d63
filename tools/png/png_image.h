// PNG files of RGB888 pixels, rows top to bottom.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vxpng {

bool writePng(const std::string& path, int width, int height, const uint8_t* rgb, std::string* error = nullptr);
bool readPng(const std::string& path, int& width, int& height, std::vector<uint8_t>& rgb, std::string* error = nullptr);

}  // namespace vxpng
