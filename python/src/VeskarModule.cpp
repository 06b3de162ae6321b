// The Python module veskar._core: the engine, the grid layout, Dornick's image
// loader and the label-map writer, over numpy arrays.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/GridLayout.h"
#include "app/ImageLoading.h"
#include "app/ImageSize.h"
#include "color/T_ColorConverter.h"
#include "engine/M_RSST.h"
#include "storage/Report.h"
#include "storage/S_CImageStorage.h"
#include "storage/S_RegionStorage.h"

namespace py = pybind11;

namespace {

// The library's texts carry line ends for the console; an exception text has none.
std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of("\n ");
  if (first == std::string::npos) return "";
  const auto last = text.find_last_not_of("\n ");
  return text.substr(first, last - first + 1);
}

// Runs work with the library's failures caught: one is raised as RuntimeError with the
// library's text. Returns the warnings the library gave meanwhile. abandon runs first
// on a failure, to let go of whatever the library left half-way.
template <class Work, class Abandon>
std::vector<std::string> catchingFailures(const Work& work, const Abandon& abandon) {
  veskar::FailureCatcher catcher;
  try {
    work();
  } catch (const veskar::Failure& failure) {
    abandon();
    throw std::runtime_error(trimmed(failure.what()));
  }
  return catcher.getWarnings();
}

template <class Work>
std::vector<std::string> catchingFailures(const Work& work) {
  return catchingFailures(work, [] {});
}

// The warnings the library gave while the GIL was released, as Python warnings.
void forwardWarnings(const std::vector<std::string>& warnings) {
  for (const std::string& warning : warnings)
    if (PyErr_WarnEx(PyExc_RuntimeWarning, trimmed(warning).c_str(), 2) != 0) throw py::error_already_set();
}

// Dornick's rounding of a [0, 1] plane value to a byte.
unsigned char planeByte(double value) { return T_ColorConverter::round_double2uchar(value * 255.0); }

struct ImageShape {
  long height, width;
  bool grey;
};

ImageShape checkImageShape(const py::array& image) {
  const bool grey = image.ndim() == 2;
  if (!grey && !(image.ndim() == 3 && image.shape(2) == 3)) {
    std::string shape;
    for (py::ssize_t i = 0; i < image.ndim(); ++i) shape += (i > 0 ? ", " : "") + std::to_string(image.shape(i));
    throw py::value_error("image must be an H x W x 3 RGB array or an H x W grey array, got shape (" + shape + ")");
  }
  const ImageShape shape{static_cast<long>(image.shape(0)), static_cast<long>(image.shape(1)), grey};
  if (shape.width > kMaxImageSide || shape.height > kMaxImageSide) throw py::value_error(kImageTooLarge);
  return shape;
}

// Pixel (x, y) has its channels at [(y * width + x) * step + c], c = 0 for every channel of grey.
template <class T, class ToByte>
void fillImage(const T* data, const ImageShape& shape, ToByte toByte, S_CImageStorage& storage) {
  const long step = shape.grey ? 1 : 3;
  const long green = shape.grey ? 0 : 1;
  const long blue = shape.grey ? 0 : 2;
  for (long y = 0; y < shape.height; ++y)
    for (long x = 0; x < shape.width; ++x) {
      const T* pixel = data + (y * shape.width + x) * step;
      storage.writePixelRgb(static_cast<short>(x), static_cast<short>(y), toByte(pixel[0]), toByte(pixel[green]),
                            toByte(pixel[blue]));
    }
}

// uint8 as it is; floats in [0, 1] rounded as Dornick rounds its decoded planes.
void toColorImage(const py::array& image, S_CImageStorage& storage) {
  const ImageShape shape = checkImageShape(image);
  const py::dtype type = image.dtype();
  // An empty image has no size the storage could hold; the engine declines it like any under 5 x 5.
  storage.allocateStorage(static_cast<short>(shape.width), static_cast<short>(shape.height), CM_RGB);
  if (shape.width == 0 || shape.height == 0) return;
  if (type.is(py::dtype::of<uint8_t>())) {
    const auto bytes = py::array_t<uint8_t, py::array::c_style | py::array::forcecast>::ensure(image);
    fillImage(bytes.data(), shape, [](uint8_t v) { return v; }, storage);
  } else if (type.kind() == 'f') {
    const auto values = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(image);
    const double* data = values.data();
    for (py::ssize_t i = 0; i < values.size(); ++i)
      if (!std::isfinite(data[i])) throw py::value_error("image holds NaN or infinite values");
    fillImage(data, shape, planeByte, storage);
  } else {
    throw py::value_error("image must be uint8, or floating point in [0, 1], got dtype " +
                          py::str(static_cast<py::handle>(type)).cast<std::string>());
  }
}

unsigned checkedUnsigned(const py::object& value, const char* name) {
  if (!py::isinstance<py::int_>(value) || py::isinstance<py::bool_>(value))
    throw py::type_error(std::string(name) + " must be an integer");
  const long long number = value.cast<long long>();
  if (number < 0 || number > 0xFFFFFFFFLL) throw py::value_error(std::string(name) + " must be 0 or more");
  return static_cast<unsigned>(number);
}

py::object segment(const py::array& image, const py::object& regions, const py::object& marginObject,
                   bool returnColors) {
  // As Dornick: without a count the rules decide (floor 255); with one, forced to it.
  const unsigned wanted = regions.is_none() ? 0 : checkedUnsigned(regions, "regions");
  const unsigned regionFloor = regions.is_none() ? 255 : 0;
  const unsigned margin = checkedUnsigned(marginObject, "margin");

  auto input = std::make_unique<S_CImageStorage>();
  catchingFailures([&] { toColorImage(image, *input); });
  const long width = input->getWidth();
  const long height = input->getHeight();
  py::array_t<int32_t> labels({height, width});
  int32_t* out = labels.mutable_data();
  std::vector<uint8_t> colors;
  std::vector<std::string> warnings;
  int regionCount = 0;
  {
    py::gil_scoped_release unlocked;
    std::unique_ptr<M_RSST> engine;
    std::unique_ptr<S_RegionStorage> result;
    const auto work = [&] {
      engine = std::make_unique<M_RSST>();
      result = std::make_unique<S_RegionStorage>();
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
    };
    // Left half-way through a frame: neither is used again, nor trusted to tear itself down.
    warnings = catchingFailures(work, [&] {
      engine.release();
      result.release();
    });
  }
  if (regionCount == 0) {
    // The engine declines an image too small for it with a warning and no regions.
    throw py::value_error(warnings.empty() ? "the engine returned no regions" : trimmed(warnings.back()));
  }
  forwardWarnings(warnings);
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
py::array_t<uint8_t> readImage(const std::string& path, double maxMegapixels, bool acceptDamaged) {
  if (!(maxMegapixels >= 0.0)) throw py::value_error("max_megapixels must be 0 or more");
  LoadLimits limits;
  limits.maxMegapixels = maxMegapixels;
  limits.acceptDamaged = acceptDamaged;
  std::unique_ptr<ImageFile> file;
  RgbPlanes planes;
  std::vector<std::string> notes;
  long width = 0, height = 0;
  {
    py::gil_scoped_release unlocked;
    catchingFailures([&] {
      file = std::make_unique<ImageFile>(path.c_str(), limits);
      if (!file->isLoaded()) throw std::runtime_error("could not load " + path + ": " + file->getFailure());
      notes = file->getNotes();
      width = file->getWidth();
      height = file->getHeight();
      planes = file->readPlanes();
    });
  }
  forwardWarnings(notes);
  py::array_t<uint8_t> image({height, width, 3L});
  uint8_t* out = image.mutable_data();
  {
    py::gil_scoped_release unlocked;
    for (long i = 0; i < width * height; ++i) {
      out[3 * i] = planeByte(planes.red[i]);
      out[3 * i + 1] = planeByte(planes.green[i]);
      out[3 * i + 2] = planeByte(planes.blue[i]);
    }
  }
  return image;
}

void writeLabels(const std::string& path, const py::array& labelArray) {
  if (labelArray.ndim() != 2) throw py::value_error("labels must be a 2-D array");
  if (py::dtype(labelArray.dtype()).kind() != 'i' && py::dtype(labelArray.dtype()).kind() != 'u')
    throw py::value_error("labels must be an integer array");
  const auto values = py::array_t<int64_t, py::array::c_style | py::array::forcecast>::ensure(labelArray);
  const long height = static_cast<long>(values.shape(0));
  const long width = static_cast<long>(values.shape(1));
  if (width > kMaxImageSide || height > kMaxImageSide) throw py::value_error(kImageTooLarge);
  std::vector<uint16_t> labels(static_cast<size_t>(values.size()));
  int64_t largest = 0;
  for (py::ssize_t i = 0; i < values.size(); ++i) {
    const int64_t label = values.data()[i];
    if (label < 0 || label > 65535) throw py::value_error("labels must lie within 0 to 65535");
    labels[i] = static_cast<uint16_t>(label);
    if (label > largest) largest = label;
  }
  py::gil_scoped_release unlocked;
  // Labels 0..n-1 take 16-bit samples from n = 256 on, as the region storage writes them.
  catchingFailures(
      [&] { writeLabelMap(path.c_str(), labels, static_cast<int>(width), static_cast<int>(height), largest >= 255); });
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
             py::arg("return_colors") = false);
  module.def("grid", &grid, py::arg("height"), py::arg("width"), py::arg("cell"));
  module.def("read_image", &readImage, py::arg("path"), py::arg("max_megapixels") = 0.0,
             py::arg("accept_damaged") = false);
  module.def("write_labels", &writeLabels, py::arg("path"), py::arg("labels"));
}
