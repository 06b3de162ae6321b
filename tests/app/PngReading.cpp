// libpng's classic reader; palettes expand to RGB, alpha is dropped.
#include "PngReading.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>

PngPicture readPng(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    ADD_FAILURE() << "cannot open " << path;
    return {};
  }
  png_structp reader = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(reader);
  PngPicture picture;
  std::vector<png_byte> bytes;
  if (setjmp(png_jmpbuf(reader))) {
    png_destroy_read_struct(&reader, &info, nullptr);
    std::fclose(file);
    ADD_FAILURE() << path << " is not a readable PNG";
    return {};
  }
  png_init_io(reader, file);
  png_read_info(reader, info);
  picture.width = static_cast<int>(png_get_image_width(reader, info));
  picture.height = static_cast<int>(png_get_image_height(reader, info));
  picture.bitDepth = png_get_bit_depth(reader, info);
  const int colorType = png_get_color_type(reader, info);
  picture.palette = colorType == PNG_COLOR_TYPE_PALETTE;
  if (picture.palette) png_set_palette_to_rgb(reader);
  if (colorType & PNG_COLOR_MASK_ALPHA) png_set_strip_alpha(reader);
  if (colorType == PNG_COLOR_TYPE_GRAY && picture.bitDepth < 8) png_set_expand_gray_1_2_4_to_8(reader);
  png_read_update_info(reader, info);
  picture.channels = png_get_channels(reader, info);
  const size_t rowBytes = png_get_rowbytes(reader, info);
  bytes.resize(rowBytes * static_cast<size_t>(picture.height));
  std::vector<png_bytep> rows(static_cast<size_t>(picture.height));
  for (int y = 0; y < picture.height; ++y) rows[static_cast<size_t>(y)] = bytes.data() + rowBytes * y;
  png_read_image(reader, rows.data());
  const bool wide = png_get_bit_depth(reader, info) == 16;
  png_destroy_read_struct(&reader, &info, nullptr);
  std::fclose(file);
  const size_t count = static_cast<size_t>(picture.width) * picture.height * picture.channels;
  picture.samples.resize(count);
  for (size_t i = 0; i < count; ++i)
    picture.samples[i] = wide ? (bytes[2 * i] << 8) | bytes[2 * i + 1] : bytes[i];
  return picture;
}
