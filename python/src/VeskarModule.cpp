// The Python module veskar._core: the engine, the grid layout, Dornick's image
// loader, its label-map writer and its pictures and table, over numpy arrays.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/GridLayout.h"
#include "app/ImageLoading.h"
#include "app/ImageSize.h"
#include "app/Options.h"
#include "app/Outputs.h"
#include "color/T_ColorConverter.h"
#include "engine/M_RSST.h"
#include "storage/PgmFormat.h"
#include "storage/Report.h"
#include "storage/S_CImageStorage.h"
#include "storage/S_RegionStorage.h"

namespace py = pybind11;

namespace {

constexpr int64_t kMaxLabel = 65535;

// The library's texts carry line ends for the console; an exception text has none.
std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of("\n ");
  if (first == std::string::npos) return "";
  const auto last = text.find_last_not_of("\n ");
  return text.substr(first, last - first + 1);
}

// Dornick's words for its option, in the caller's spelling of it.
std::string withOption(std::string text, const std::string& spelling) {
  const std::string option = "--auto-orient";
  const size_t at = text.find(option);
  if (at != std::string::npos) text.replace(at, option.size(), spelling);
  return text;
}

void warn(const std::string& text) {
  if (PyErr_WarnEx(PyExc_RuntimeWarning, trimmed(text).c_str(), 2) != 0)
    throw py::error_already_set();
}

// Runs work without the GIL under a failure catcher: a library failure becomes a
// RuntimeError with the library's text; the warnings it gave are returned.
template <class Work>
std::vector<std::string> runUnlocked(const Work& work) {
  std::string problem;
  std::vector<std::string> warnings;
  {
    py::gil_scoped_release unlocked;
    veskar::FailureCatcher catcher;
    try {
      work();
    } catch (const veskar::Failure& failure) {
      problem = trimmed(failure.what());
    }
    warnings = catcher.getWarnings();
  }
  if (!problem.empty()) throw std::runtime_error(problem);
  return warnings;
}

std::string shapeText(const py::array& array) {
  std::string shape;
  for (py::ssize_t i = 0; i < array.ndim(); ++i) shape += (i > 0 ? ", " : "") + std::to_string(array.shape(i));
  return "(" + shape + ")";
}

std::string dtypeText(const py::array& array) { return py::str(static_cast<py::handle>(array.dtype())); }

// The image as the engine sees it: red, green and blue bytes, pixel by pixel, row by row.
struct ColorBytes {
  long height = 0, width = 0;
  std::vector<uint8_t> rgb;
};

// Channels: 1 grey, 2 grey and alpha, 3 RGB, 4 RGBA.
long channelCount(const py::array& image) {
  const bool valid = image.ndim() == 2 || (image.ndim() == 3 && image.shape(2) >= 2 && image.shape(2) <= 4);
  if (!valid)
    throw py::value_error("image must be an H x W x 3 RGB (or x 4 RGBA) array or an H x W grey array, got shape " +
                          shapeText(image));
  return image.ndim() == 2 ? 1 : static_cast<long>(image.shape(2));
}

// A 16-bit sample as Dornick's decoder hands it over (a float of the sample
// over 65535), rounded to the byte Dornick makes of it.
uint8_t wideSampleByte(uint16_t sample) {
  static const std::array<uint8_t, 65536> bytes = [] {
    std::array<uint8_t, 65536> table{};
    for (size_t v = 0; v < table.size(); ++v)
      table[v] = sampleByte(static_cast<float>((1.0 / 65535.0) * static_cast<double>(v)));
    return table;
  }();
  return bytes[sample];
}

// Dornick's rounding of a [0, 1] plane value to a byte.
uint8_t planeByte(double value) { return T_ColorConverter::round_double2uchar(value * 255.0); }

// Alpha is dropped, as Dornick drops it, with its words when it hides anything.
template <class T, class ToByte>
void convertPixels(const py::array& image, long channels, T opaque, const ToByte& toByte, ColorBytes& bytes) {
  const auto values = py::array_t<T, py::array::c_style | py::array::forcecast>::ensure(image);
  const T* data = values.data();
  const size_t area = static_cast<size_t>(bytes.width) * static_cast<size_t>(bytes.height);
  const bool color = channels >= 3;
  const long alpha = channels == 2 || channels == 4 ? channels - 1 : -1;
  bool transparent = false;
  bytes.rgb.resize(3 * area);
  for (size_t i = 0; i < area; ++i) {
    const T* pixel = data + i * static_cast<size_t>(channels);
    bytes.rgb[3 * i] = toByte(pixel[0]);
    bytes.rgb[3 * i + 1] = toByte(pixel[color ? 1 : 0]);
    bytes.rgb[3 * i + 2] = toByte(pixel[color ? 2 : 0]);
    if (alpha >= 0 && pixel[alpha] < opaque) transparent = true;
  }
  if (transparent) warn("The image's transparency is ignored; its colours are used as they are.");
}

// A float image is taken as Dornick's decoder gives one, in [0, 1]; anything
// else is most likely a 0-255 image in floats, which clamping would whiten.
void checkUnitRange(const py::array& image) {
  const auto values = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(image);
  const double* data = values.data();
  double lowest = 0.0, highest = 1.0;
  for (py::ssize_t i = 0; i < values.size(); ++i) {
    if (!std::isfinite(data[i])) throw py::value_error("image holds NaN or infinite values");
    lowest = std::min(lowest, data[i]);
    highest = std::max(highest, data[i]);
  }
  if (lowest < 0.0 || highest > 1.0)
    throw py::value_error(py::str("a floating-point image must hold values within [0, 1], this one holds {:g} to "
                                  "{:g}: scale it first (image / 255 for values of 0 to 255, or pass it as uint8)")
                              .format(lowest, highest));
}

// uint8 as it is; uint16 and floats in [0, 1] as Dornick decodes a file holding them.
ColorBytes colorBytesOf(const py::array& image) {
  const long channels = channelCount(image);
  ColorBytes bytes;
  bytes.height = static_cast<long>(image.shape(0));
  bytes.width = static_cast<long>(image.shape(1));
  if (bytes.width > kMaxImageSide || bytes.height > kMaxImageSide) throw py::value_error(kImageTooLarge);
  const py::dtype type = image.dtype();
  if (type.kind() == 'u' && type.itemsize() == 1) {
    convertPixels<uint8_t>(image, channels, uint8_t{255}, [](uint8_t v) { return v; }, bytes);
  } else if (type.kind() == 'u' && type.itemsize() == 2) {
    convertPixels<uint16_t>(image, channels, uint16_t{65535}, wideSampleByte, bytes);
  } else if (type.kind() == 'f') {
    checkUnitRange(image);
    convertPixels<double>(image, channels, 1.0, planeByte, bytes);
  } else {
    throw py::value_error("image must be uint8, uint16, or floating point in [0, 1], got dtype " + dtypeText(image));
  }
  return bytes;
}

void fillStorage(const ColorBytes& bytes, S_CImageStorage& storage) {
  // An empty image has no size the storage could hold; the engine declines it like any under 5 x 5.
  storage.allocateStorage(static_cast<short>(bytes.width), static_cast<short>(bytes.height), CM_RGB);
  for (long y = 0; y < bytes.height; ++y)
    for (long x = 0; x < bytes.width; ++x) {
      const uint8_t* pixel = &bytes.rgb[3 * (static_cast<size_t>(y) * bytes.width + x)];
      storage.writePixelRgb(static_cast<short>(x), static_cast<short>(y), pixel[0], pixel[1], pixel[2]);
    }
}

// The C library would read the name only up to a NUL, and so open another file.
void checkPath(const std::string& path) {
  if (path.find('\0') != std::string::npos) throw py::value_error("path holds a NUL character");
}

unsigned checkedUnsigned(const py::object& value, const char* name) {
  if (!py::isinstance<py::int_>(value) || py::isinstance<py::bool_>(value))
    throw py::type_error(std::string(name) + " must be an integer");
  const long long number = value.cast<long long>();
  if (number < 0 || number > 0xFFFFFFFFLL) throw py::value_error(std::string(name) + " must be 0 or more");
  return static_cast<unsigned>(number);
}

py::object segment(const py::array& image, const py::object& regions, const py::object& marginObject,
                   bool returnColors, bool fast, const py::object& threadsObject) {
  // As Dornick: without a count the rules decide (floor 255); with one, forced to it.
  const unsigned wanted = regions.is_none() ? 0 : checkedUnsigned(regions, "regions");
  const unsigned regionFloor = regions.is_none() ? 255 : 0;
  const unsigned margin = checkedUnsigned(marginObject, "margin");
  const unsigned threads = checkedUnsigned(threadsObject, "threads");
  if (threads == 0) throw py::value_error("threads must be 1 or more");

  const ColorBytes bytes = colorBytesOf(image);
  auto input = std::make_unique<S_CImageStorage>();
  runUnlocked([&] { fillStorage(bytes, *input); });
  const long width = bytes.width;
  const long height = bytes.height;
  py::array_t<int32_t> labels({height, width});
  int32_t* out = labels.mutable_data();
  std::vector<uint8_t> colors;
  int regionCount = 0;
  const std::vector<std::string> warnings = runUnlocked([&] {
    auto engine = std::make_unique<M_RSST>();
    engine->fastMode = fast;
    engine->threadCount = threads;
    auto result = std::make_unique<S_RegionStorage>();
    try {
      engine->processFrame(*input, *result, wanted, regionFloor, margin);
      regionCount = result->getRegionNumber();
      colors.assign(static_cast<size_t>(regionCount) * 3, 0);
      for (long y = 0; y < height && regionCount > 0; ++y)
        for (long x = 0; x < width; ++x) {
          const E_RegionInfo* region = result->getCPtr2PelRegion(static_cast<short>(x), static_cast<short>(y));
          const int label = region == nullptr ? -1 : region->getObjectID();
          if (label < 0 || label >= regionCount) throw veskar::Failure("a pixel was left without a region");
          out[y * width + x] = label;
          region->readRegRgb(&colors[label * 3], &colors[label * 3 + 1], &colors[label * 3 + 2]);
        }
    } catch (const veskar::Failure&) {
      // Left half-way through a frame: neither is used again, nor trusted to tear itself down.
      engine.release();
      result.release();
      throw;
    }
  });
  if (regionCount == 0) {
    // The engine declines an image too small for it with a warning and no regions.
    throw py::value_error(warnings.empty() ? "the engine returned no regions" : trimmed(warnings.back()));
  }
  for (const std::string& warning : warnings) warn(warning);
  if (!returnColors) return std::move(labels);
  py::array_t<uint8_t> palette({static_cast<py::ssize_t>(regionCount), py::ssize_t{3}});
  std::copy(colors.begin(), colors.end(), palette.mutable_data());
  return py::make_tuple(labels, palette);
}

py::array_t<int32_t> grid(long height, long width, const py::object& cellObject) {
  if (height < 0 || width < 0) throw py::value_error("shape must not be negative");
  const unsigned cell = checkedUnsigned(cellObject, "cell");
  if (cell == 0) throw py::value_error("cell must be 1 or more");
  const GridLayout layout = makeGridLayout(static_cast<int>(width), static_cast<int>(height), cell);
  if (layout.getCellCount() > kMaxGridCells)
    throw py::value_error("A grid of more than 65535 cells does not fit a label map!");
  py::array_t<int32_t> labels({height, width});
  int32_t* out = labels.mutable_data();
  {
    py::gil_scoped_release unlocked;
    const std::vector<uint16_t> cells = gridLabels(layout, static_cast<int>(width), static_cast<int>(height));
    std::copy(cells.begin(), cells.end(), out);
  }
  return labels;
}

// Decoded by Dornick's loader and rounded as Dornick rounds, so segmenting the
// result gives Dornick's map for the same file.
py::array_t<uint8_t> readImage(const std::string& path, double maxMegapixels, bool acceptDamaged, bool autoOrient,
                               const std::string& autoOrientSpelling) {
  checkPath(path);
  if (!(maxMegapixels >= 0.0)) throw py::value_error("max_megapixels must be 0 or more");
  LoadLimits limits;
  limits.maxMegapixels = maxMegapixels;
  limits.acceptDamaged = acceptDamaged;
  limits.autoOrient = autoOrient;
  std::vector<uint8_t> rgb;
  std::vector<std::string> notes;
  long width = 0, height = 0;
  runUnlocked([&] {
    const ImageFile file(path.c_str(), limits);
    if (!file.isLoaded()) throw veskar::Failure("could not load " + path + ": " + file.getFailure());
    notes = file.getNotes();
    width = file.getWidth();
    height = file.getHeight();
    rgb.resize(3 * static_cast<size_t>(width) * static_cast<size_t>(height));
    file.forEachRow([&](size_t y, const float* samples) {
      for (size_t i = 0; i < 3 * static_cast<size_t>(width); ++i) rgb[3 * width * y + i] = sampleByte(samples[i]);
    });
  });
  for (const std::string& note : notes) warn(withOption(note, autoOrientSpelling));
  py::array_t<uint8_t> image({height, width, 3L});
  std::copy(rgb.begin(), rgb.end(), image.mutable_data());
  return image;
}

// Labels of a label map: 2-D, integer, within 0 to 65535.
LabelPicture checkedLabels(const py::array& labelArray) {
  if (labelArray.ndim() != 2) throw py::value_error("labels must be a 2-D array, got shape " + shapeText(labelArray));
  const char kind = py::dtype(labelArray.dtype()).kind();
  if (kind != 'i' && kind != 'u') throw py::value_error("labels must be an integer array, got dtype " + dtypeText(labelArray));
  const auto values = py::array_t<int64_t, py::array::c_style | py::array::forcecast>::ensure(labelArray);
  if (values.shape(0) > kMaxImageSide || values.shape(1) > kMaxImageSide) throw py::value_error(kImageTooLarge);
  LabelPicture picture;
  picture.height = static_cast<int>(values.shape(0));
  picture.width = static_cast<int>(values.shape(1));
  picture.labels.resize(static_cast<size_t>(values.size()));
  int64_t largest = -1;
  for (py::ssize_t i = 0; i < values.size(); ++i) {
    const int64_t label = values.data()[i];
    if (label < 0 || label > kMaxLabel) throw py::value_error("labels must lie within 0 to 65535");
    picture.labels[i] = static_cast<uint32_t>(label);
    largest = std::max(largest, label);
  }
  // Labels 0..n-1 declare n, as the engine's maps do.
  picture.declaredCount = static_cast<long>(largest + 1);
  return picture;
}

// The labels over the image they were made from, and the image's bytes.
LabelPicture checkedPicture(const ColorBytes& bytes, const py::array& labelArray) {
  LabelPicture picture = checkedLabels(labelArray);
  if (picture.height != bytes.height || picture.width != bytes.width)
    throw py::value_error("labels of shape " + shapeText(labelArray) + " do not match an image of " +
                          std::to_string(bytes.height) + " x " + std::to_string(bytes.width) + " pixels");
  return picture;
}

// Display colours indexed by label; None keeps Dornick's grid-mode rule (the mean).
void setDisplayColors(LabelPicture& picture, const py::object& display) {
  if (display.is_none()) return;
  const auto colors = py::array_t<uint8_t, py::array::c_style | py::array::forcecast>::ensure(display);
  if (!colors || colors.ndim() != 2 || colors.shape(1) != 3) throw py::value_error("colors must be an R x 3 array");
  picture.displayColors.resize(static_cast<size_t>(colors.shape(0)));
  for (size_t label = 0; label < picture.displayColors.size(); ++label)
    for (int c = 0; c < 3; ++c) picture.displayColors[label][c] = colors.at(label, c);
}

void writeLabels(const std::string& path, const py::array& labelArray) {
  checkPath(path);
  const LabelPicture picture = checkedLabels(labelArray);
  const std::vector<uint16_t> labels(picture.labels.begin(), picture.labels.end());
  // Labels 0..n-1 take 16-bit samples from n = 256 on, as the region storage writes them.
  runUnlocked([&] {
    writeLabelMap(path.c_str(), labels, picture.width, picture.height, pgm::needsWideSamples(picture.declaredCount));
  });
}

using PictureMaker = std::vector<unsigned char> (*)(const LabelPicture&, const std::vector<unsigned char>&);

py::array_t<uint8_t> picture(PictureMaker make, const py::array& image, const py::array& labelArray) {
  const ColorBytes bytes = colorBytesOf(image);
  const LabelPicture labels = checkedPicture(bytes, labelArray);
  std::vector<unsigned char> pixels;
  runUnlocked([&] { pixels = make(labels, bytes.rgb); });
  py::array_t<uint8_t> result({bytes.height, bytes.width, 3L});
  std::copy(pixels.begin(), pixels.end(), result.mutable_data());
  return result;
}

// Column by column, as Dornick's table has them.
py::dict regionTable(const py::array& image, const py::array& labelArray, const py::object& display) {
  const ColorBytes bytes = colorBytesOf(image);
  LabelPicture labels = checkedPicture(bytes, labelArray);
  setDisplayColors(labels, display);
  std::vector<RegionSummary> rows;
  runUnlocked([&] { rows = summarizeRegions(labels, bytes.rgb); });
  const auto count = static_cast<py::ssize_t>(rows.size());
  py::dict table;
  const auto column = [&](const char* name, auto value) {
    py::array_t<decltype(value(rows.front()))> values(count);
    for (py::ssize_t r = 0; r < count; ++r) values.mutable_at(r) = value(rows[r]);
    table[name] = values;
  };
  column("label", [](const RegionSummary& r) { return static_cast<int32_t>(r.label); });
  column("pixels", [](const RegionSummary& r) { return static_cast<int64_t>(r.pixels); });
  column("left", [](const RegionSummary& r) { return static_cast<int32_t>(r.left); });
  column("top", [](const RegionSummary& r) { return static_cast<int32_t>(r.top); });
  column("right", [](const RegionSummary& r) { return static_cast<int32_t>(r.right); });
  column("bottom", [](const RegionSummary& r) { return static_cast<int32_t>(r.bottom); });
  column("centroid_x", [](const RegionSummary& r) { return r.centroidX; });
  column("centroid_y", [](const RegionSummary& r) { return r.centroidY; });
  const char* const names[2][3] = {{"display_red", "display_green", "display_blue"},
                                   {"mean_red", "mean_green", "mean_blue"}};
  for (int c = 0; c < 3; ++c) column(names[0][c], [c](const RegionSummary& r) { return r.displayColor[c]; });
  for (int c = 0; c < 3; ++c) column(names[1][c], [c](const RegionSummary& r) { return r.meanColor[c]; });
  return table;
}

// Dornick's --preview, --outline, --labels-png and --regions files, byte for
// byte; an empty path skips that file.
void writeOutputs(const py::array& image, const py::array& labelArray, const py::object& display,
                  const std::string& preview, const std::string& outline, const std::string& labelsPng,
                  const std::string& regions) {
  for (const std::string* path : {&preview, &outline, &labelsPng, &regions}) checkPath(*path);
  const ColorBytes bytes = colorBytesOf(image);
  LabelPicture labels = checkedPicture(bytes, labelArray);
  setDisplayColors(labels, display);
  Options options;
  options.previewPath = preview;
  options.outlinePath = outline;
  options.labelsPngPath = labelsPng;
  options.regionsPath = regions;
  runUnlocked([&] {
    for (const std::string* path : {&options.previewPath, &options.outlinePath})
      if (!path->empty()) checkImageFormat(*path);
    writeRequestedOutputs(options, labels, bytes.rgb);
  });
}

}  // namespace

PYBIND11_MODULE(_core, module) {
  // ImageMagick is set up once for the process and never torn down: a worker
  // thread may still be decoding when the interpreter exits.
  static MagickSession* magick = new MagickSession("veskar");
  (void)magick;

  // numpy's C interface is looked up on first use behind a static guard; done
  // by two threads at once, one waits on the guard holding the GIL the other needs.
  py::array_t<uint8_t> first(0);
  (void)first;

  module.attr("__version__") = VESKAR_VERSION;
  module.def("segment", &segment, py::arg("image"), py::arg("regions") = py::none(), py::arg("margin") = 0,
             py::arg("return_colors") = false, py::arg("fast") = false, py::arg("threads") = 1);
  module.def("grid", &grid, py::arg("height"), py::arg("width"), py::arg("cell"));
  module.def("read_image", &readImage, py::arg("path"), py::arg("max_megapixels") = 0.0,
             py::arg("accept_damaged") = false, py::arg("auto_orient") = false,
             py::arg("auto_orient_spelling") = "auto_orient=True");
  module.def("write_labels", &writeLabels, py::arg("path"), py::arg("labels"));
  module.def("preview", [](const py::array& image, const py::array& labels) {
    return picture(previewPixels, image, labels);
  });
  module.def("outline", [](const py::array& image, const py::array& labels) {
    return picture(outlinePixels, image, labels);
  });
  module.def("region_table", &regionTable);
  module.def("write_outputs", &writeOutputs);
}
