#include "png_image.h"

#include <png.h>

#include <cstring>

namespace vxpng {

bool writePng(const std::string& path, int width, int height, const uint8_t* rgb, std::string* error) {
    if (width <= 0 || height <= 0 || !rgb) {
        if (error) *error = "empty image";
        return false;
    }
    png_image img;
    std::memset(&img, 0, sizeof img);
    img.version = PNG_IMAGE_VERSION;
    img.width = static_cast<png_uint_32>(width);
    img.height = static_cast<png_uint_32>(height);
    img.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&img, path.c_str(), 0, rgb, width * 3, nullptr)) {
        if (error) *error = std::string("cannot write ") + path + ": " + img.message;
        return false;
    }
    return true;
}

bool readPng(const std::string& path, int& width, int& height, std::vector<uint8_t>& rgb, std::string* error) {
    png_image img;
    std::memset(&img, 0, sizeof img);
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, path.c_str())) {
        if (error) *error = std::string("cannot read ") + path + ": " + img.message;
        return false;
    }
    img.format = PNG_FORMAT_RGB;
    rgb.assign(PNG_IMAGE_SIZE(img), 0);
    if (!png_image_finish_read(&img, nullptr, rgb.data(), 0, nullptr)) {
        if (error) *error = std::string("cannot decode ") + path + ": " + img.message;
        png_image_free(&img);
        return false;
    }
    width = static_cast<int>(img.width);
    height = static_cast<int>(img.height);
    return true;
}

}  // namespace vxpng
