"""The module against the Dornick program, and its behaviour on bad input and failures."""

import doctest
import re
import struct
import threading
import warnings

import numpy as np
import pytest

import veskar
from conftest import DATA_DIR, PHOTOS, SOURCE_DIR, dornick_map, parse_label_map, run_dornick

COUNTS = [None, 2, 40, 300]


@pytest.mark.parametrize("photo", PHOTOS, ids=lambda p: p.name)
def test_segment_of_read_image_writes_dornicks_map_byte_for_byte(photo, dornick, tmp_path):
    image = veskar.read_image(photo)
    assert image.dtype == np.uint8 and image.ndim == 3 and image.shape[2] == 3
    for count in COUNTS:
        expected = dornick_map(dornick, "AS", photo, tmp_path / "dornick.pgm", count)
        labels = veskar.segment(image, count)
        assert labels.dtype == np.int32 and labels.shape == image.shape[:2]
        np.testing.assert_array_equal(labels, parse_label_map(expected), err_msg=f"count {count}")
        veskar.write_labels(tmp_path / "module.pgm", labels)
        assert (tmp_path / "module.pgm").read_bytes() == expected, f"count {count}"
        if count is not None:
            assert labels.max() + 1 == count


def test_colors_give_one_display_colour_per_label():
    image = veskar.read_image(DATA_DIR / "rocket_96x64.png")
    labels, colors = veskar.segment(image, 10, return_colors=True)
    assert colors.shape == (10, 3) and colors.dtype == np.uint8
    np.testing.assert_array_equal(labels, veskar.segment(image, 10))
    # A region's display colour is its colour model's, close to its mean colour.
    for label in range(10):
        mean = image[labels == label].mean(axis=0)
        assert np.abs(colors[label] - mean).max() < 60, (label, colors[label], mean)
    assert len({tuple(c) for c in colors}) > 1


def test_grey_arrays_stand_for_three_equal_channels():
    grey = veskar.read_image(DATA_DIR / "golden" / "baboon_120x120.ppm")[:, :, 1]
    for count in (None, 40):
        np.testing.assert_array_equal(veskar.segment(grey, count),
                                      veskar.segment(np.repeat(grey[:, :, None], 3, axis=2), count))


def test_float_planes_are_rounded_as_dornick_rounds_a_16_bit_file(dornick, tmp_path):
    import cv2
    photo = veskar.read_image(DATA_DIR / "golden" / "hubble_161x121.ppm").astype(np.int64)
    # Sixteen-bit values just below and just above the half-way points between bytes
    # (v / 65535 * 255 = k + 128/257 or k + 129/257), so truncation or a misplaced
    # rounding step changes a byte.
    wide = photo * 257 + np.where(np.indices(photo.shape).sum(axis=0) % 2 == 0, 128, 129)
    wide = np.minimum(wide, 65535).astype(np.uint16)
    path = tmp_path / "wide.png"
    assert cv2.imwrite(str(path), wide[:, :, ::-1])
    planes = (wide / 65535.0).astype(np.float32)
    for count in (None, 300):
        expected = parse_label_map(dornick_map(dornick, "AS", path, tmp_path / "wide.pgm", count))
        np.testing.assert_array_equal(veskar.segment(planes, count), expected)
        np.testing.assert_array_equal(veskar.segment(planes.astype(np.float64), count), expected)
    # The comparison can tell roundings apart: truncated bytes segment differently.
    truncated = np.floor(planes.astype(np.float64) * 255).astype(np.uint8)
    assert not np.array_equal(veskar.segment(truncated, 300), expected)
    np.testing.assert_array_equal(veskar.read_image(path), np.round(planes * 255 - 1e-9).astype(np.uint8))


def test_float_values_outside_the_unit_range_are_refused_with_how_to_scale_them():
    image = veskar.read_image(DATA_DIR / "rocket_96x64.png").astype(np.float64)
    negative = image / 255
    negative[0, 0, 0] = -0.5
    for bad, held in ((image, "0 to 255"), (negative, "-0.5 to 1")):
        with pytest.raises(ValueError, match=r"within \[0, 1\], this one holds %s: scale it first \(image / 255"
                           % held):
            veskar.segment(bad, 5)
    np.testing.assert_array_equal(veskar.segment(image / 255, 5), veskar.segment(image.astype(np.uint8), 5))


def test_rgba_drops_alpha_as_dornick_does_and_says_so_only_when_it_hides_something(dornick, tmp_path):
    import cv2
    image = veskar.read_image(DATA_DIR / "golden" / "baboon_120x120.ppm")
    alpha = np.full(image.shape[:2], 255, np.uint8)
    alpha[:10, :10] = 0
    path = tmp_path / "rgba.png"
    assert cv2.imwrite(str(path), np.dstack([image[:, :, ::-1], alpha]))
    done = run_dornick(dornick, "AS", path, tmp_path / "rgba.pgm", 30)
    assert "transparency is ignored" in done.stderr
    expected = parse_label_map((tmp_path / "rgba.pgm").read_bytes())
    with pytest.warns(RuntimeWarning, match="^The image's transparency is ignored"):
        np.testing.assert_array_equal(veskar.segment(np.dstack([image, alpha]), 30), expected)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        opaque = np.dstack([image, np.full(image.shape[:2], 255, np.uint8)])
        np.testing.assert_array_equal(veskar.segment(opaque, 30), expected)
        # Grey with alpha is grey.
        grey = image[:, :, 1]
        np.testing.assert_array_equal(veskar.segment(np.dstack([grey, np.full_like(grey, 255)]), 30),
                                      veskar.segment(grey, 30))


def test_uint16_is_decoded_as_dornick_decodes_a_16_bit_file(dornick, tmp_path):
    import cv2
    # Every 16-bit value once, in a 256 x 256 picture, then a photo widened to 16 bits.
    every = np.arange(65536, dtype=np.uint16).reshape(256, 256)
    ramp = np.dstack([every, every[::-1], every.T])
    photo = veskar.read_image(DATA_DIR / "golden" / "hubble_161x121.ppm").astype(np.uint32)
    wide = (photo * 257 + np.indices(photo.shape).sum(axis=0) % 200).astype(np.uint16)
    for name, image in (("ramp", ramp), ("photo", wide)):
        path = tmp_path / (name + ".png")
        assert cv2.imwrite(str(path), np.ascontiguousarray(image[:, :, ::-1]))
        decoded = veskar.read_image(path)
        # With one label nothing is drawn: the outline is the image as the engine sees it.
        one_label = np.zeros(image.shape[:2], np.int32)
        np.testing.assert_array_equal(veskar.outline(image, one_label), decoded, err_msg=name)
        expected = parse_label_map(dornick_map(dornick, "AS", path, tmp_path / (name + ".pgm"), 40))
        np.testing.assert_array_equal(veskar.segment(image, 40), expected, err_msg=name)


@pytest.mark.parametrize("bad, message", [
    (np.zeros((20, 20, 5), np.uint8), "H x W x 3"),
    (np.zeros((20, 20, 3, 1), np.uint8), "H x W x 3"),
    (np.zeros(400, np.uint8), "H x W x 3"),
    (np.zeros((20, 20, 3), np.int32), r"uint8, uint16, or floating point in \[0, 1\], got dtype int32"),
    (np.zeros((20, 20), bool), "dtype bool"),
    (np.full((20, 20, 3), np.nan), "NaN"),
    (np.full((20, 20), np.inf, np.float32), "infinite"),
    (np.zeros((5, 32768, 3), np.uint8), "32767"),
])
def test_bad_arrays_raise_value_error(bad, message):
    with pytest.raises(ValueError, match=message):
        veskar.segment(bad)


def test_fast_mode_writes_dornicks_fast_map_whatever_the_threads(dornick, tmp_path):
    photo = max(PHOTOS, key=lambda p: p.stat().st_size)
    image = veskar.read_image(photo)
    for count in (None, 40):
        wanted = [] if count is None else [count]
        done = run_dornick(dornick, "AS", photo, tmp_path / "dornick.pgm", *wanted, "--fast")
        assert done.returncode == 0, done.stdout + done.stderr
        expected = parse_label_map((tmp_path / "dornick.pgm").read_bytes())
        for threads in (1, 3):
            labels = veskar.segment(image, count, fast=True, threads=threads)
            np.testing.assert_array_equal(labels, expected, err_msg=f"count {count}, {threads} threads")


def test_counts_take_numpy_integers_and_refuse_what_the_engine_cannot_reach():
    image = veskar.read_image(DATA_DIR / "rocket_96x64.png")
    labels = veskar.segment(image, 10)
    for count in (np.int64(10), np.uint16(10), np.int32(10)):
        np.testing.assert_array_equal(veskar.segment(image, count), labels)
    for count in (10**12, 0, 1, 2049, -1):
        with pytest.raises(ValueError, match="^regions must lie within 2 to 2048, got %d " % count):
            veskar.segment(image, count)
    for kwargs in ({"margin": -2}, {"start_label": -1}):
        with pytest.raises(ValueError, match="must be 0 or more"):
            veskar.segment(image, **kwargs)
    for threads in (0, -3):
        with pytest.raises(ValueError, match="^threads must be 1 or more"):
            veskar.segment(image, threads=threads)
    for kwargs in ({"regions": 2.5}, {"regions": True}, {"regions": np.float64(3)}, {"margin": "1"},
                   {"threads": 1.0}, {"threads": True}):
        with pytest.raises(TypeError, match="must be an integer"):
            veskar.segment(image, **kwargs)


def test_start_label_shifts_dornicks_numbering_and_keeps_its_colours():
    image = veskar.read_image(DATA_DIR / "rocket_96x64.png")
    labels, colors = veskar.segment(image, 10, return_colors=True)
    shifted, shifted_colors = veskar.segment(image, 10, start_label=1, return_colors=True)
    np.testing.assert_array_equal(shifted, labels + 1)
    np.testing.assert_array_equal(shifted_colors, colors)
    framed = veskar.segment(image, 10, margin=3, start_label=1)
    assert framed[0, 0] == 1 and set(np.unique(framed)) == set(range(1, 12))


def test_too_small_images_raise_and_the_module_keeps_working():
    image = veskar.read_image(DATA_DIR / "rocket_96x64.png")
    before = veskar.segment(image, 40)
    for small, margin in ((image[:4, :4], 0), (image[:100, :4], 0), (image[:20, :20], 8), (image[:0, :0], 0)):
        with pytest.raises(ValueError, match="^Input image too small!$"):
            veskar.segment(small, margin=margin)
    assert veskar.segment(image[:5, :5]).shape == (5, 5)
    np.testing.assert_array_equal(veskar.segment(image, 40), before)


def test_a_margin_becomes_region_zero_around_the_segmented_area():
    image = veskar.read_image(DATA_DIR / "rocket_96x64.png")
    labels = veskar.segment(image, 10, margin=3)
    border = np.ones(labels.shape, bool)
    border[3:-3, 3:-3] = False
    assert (labels[border] == 0).all()
    assert (labels[3:-3, 3:-3] != 0).all()
    assert set(np.unique(labels)) == set(range(11))


def test_library_failures_raise_runtime_error_and_the_module_keeps_working(tmp_path):
    corrupt = tmp_path / "corrupt.png"
    corrupt.write_bytes((DATA_DIR / "rocket_96x64.png").read_bytes()[:300])
    with pytest.raises(RuntimeError):
        veskar.read_image(corrupt)
    with pytest.raises(RuntimeError, match="^could not load .*missing.png: .*No such file"):
        veskar.read_image(tmp_path / "missing.png")
    labels = np.zeros((6, 8), np.int32)
    with pytest.raises(RuntimeError, match="^failure in opening file .*nothere/x.pgm$"):
        veskar.write_labels(tmp_path / "nothere" / "x.pgm", labels)
    with pytest.raises(RuntimeError, match="^failure in closing file /dev/full$"):
        veskar.write_labels("/dev/full", np.zeros((300, 300), np.int32))
    veskar.write_labels(tmp_path / "x.pgm", labels)
    assert parse_label_map((tmp_path / "x.pgm").read_bytes()).shape == (6, 8)


def test_the_loaders_limits_and_damage_rules_apply(tmp_path):
    import cv2
    photo = veskar.read_image(DATA_DIR / "golden" / "rocket_240x161.ppm")
    encoded = cv2.imencode(".jpg", photo[:, :, ::-1])[1].tobytes()
    damaged = tmp_path / "damaged.jpg"
    damaged.write_bytes(encoded[: len(encoded) * 6 // 10])
    with pytest.raises(RuntimeError, match="damaged"):
        veskar.read_image(damaged)
    with pytest.warns(RuntimeWarning, match="damaged"):
        partial = veskar.read_image(damaged, accept_damaged=True)
    assert partial.shape == photo.shape
    # The decoded top of the picture is the photo's, give or take JPEG's losses.
    assert np.abs(partial[:40].astype(int) - photo[:40]).mean() < 8
    whole = tmp_path / "whole.jpg"
    whole.write_bytes(encoded)
    with pytest.raises(RuntimeError, match="megapixels"):
        veskar.read_image(whole, max_megapixels=0.03)
    assert veskar.read_image(whole, max_megapixels=0.04).shape == photo.shape


def test_write_labels_refuses_what_a_label_map_cannot_hold(tmp_path):
    for bad in (np.zeros((3, 3), np.float32), np.zeros(9, np.int32), np.full((3, 3), -1), np.full((3, 3), 65536)):
        with pytest.raises(ValueError):
            veskar.write_labels(tmp_path / "x.pgm", bad)
    assert not (tmp_path / "x.pgm").exists()
    # Cut at the NUL, the name would be another file's.
    with pytest.raises(ValueError, match="NUL"):
        veskar.write_labels(str(tmp_path / "x.pgm") + "\0.txt", np.zeros((3, 3), np.int32))
    with pytest.raises(ValueError, match="NUL"):
        veskar.read_image(str(DATA_DIR / "rocket_96x64.png") + "\0.txt")
    assert not (tmp_path / "x.pgm").exists()
    # 255 labels fit bytes; label 255 needs 16-bit samples.
    for largest, maximum in ((254, b"255"), (255, b"65535"), (65535, b"65535")):
        labels = np.array([[0, largest]], np.uint16)
        veskar.write_labels(tmp_path / "x.pgm", labels)
        data = (tmp_path / "x.pgm").read_bytes()
        assert data.split(b"\n")[3] == maximum
        np.testing.assert_array_equal(parse_label_map(data), labels)


def test_grid_equals_dornicks_grid_layout(dornick, tmp_path):
    photo = DATA_DIR / "golden" / "hubble_161x121.ppm"
    for cell in (1, 7, 40, 200):
        expected = dornick_map(dornick, "GL", photo, tmp_path / "grid.pgm", cell)
        labels = veskar.grid((121, 161, 3), cell)
        np.testing.assert_array_equal(labels, parse_label_map(expected))
        veskar.write_labels(tmp_path / "module.pgm", labels)
        assert (tmp_path / "module.pgm").read_bytes() == expected
    with pytest.raises(ValueError, match="65535 cells"):
        veskar.grid((300, 300), 1)
    for cell in (0, -3):
        with pytest.raises(ValueError):
            veskar.grid((10, 10), cell)


def csv_rows(table):
    """The region table's values as Dornick writes them in its CSV."""
    columns = list(table)
    rows = [",".join(columns)]
    for r in range(len(table["label"])):
        rows.append(",".join("%.2f" % table[c][r] if c.startswith("centroid") else str(table[c][r])
                             for c in columns))
    return "\n".join(rows) + "\n"


@pytest.mark.parametrize("photo", [PHOTOS[0], DATA_DIR / "rocket_96x64.png"], ids=lambda p: p.name)
def test_pictures_table_and_read_labels_give_dornicks_files_value_for_value(photo, dornick, tmp_path):
    import cv2
    image = veskar.read_image(photo)
    for count in (None, 300):
        files = {name: tmp_path / name for name in ("map.pgm", "preview.png", "outline.png", "table.csv")}
        done = run_dornick(dornick, "AS", photo, files["map.pgm"], *([] if count is None else [count]),
                           "--preview", files["preview.png"], "--outline", files["outline.png"],
                           "--region-table", files["table.csv"])
        assert done.returncode == 0, done.stderr
        labels, colors = veskar.segment(image, count, return_colors=True)
        np.testing.assert_array_equal(veskar.read_labels(files["map.pgm"]), labels)
        for name, made in (("preview.png", veskar.preview(image, labels)), ("outline.png", veskar.outline(image, labels))):
            np.testing.assert_array_equal(made, cv2.imread(str(files[name]))[:, :, ::-1], err_msg=name)
        table = veskar.region_table(image, labels, colors)
        assert csv_rows(table) == files["table.csv"].read_text()
        # Shifted labels give the same pictures and the same rows under their own labels.
        shifted = veskar.region_table(image, labels + 1, colors)
        np.testing.assert_array_equal(shifted["label"], table["label"] + 1)
        np.testing.assert_array_equal(shifted["mean_red"], table["mean_red"])
        np.testing.assert_array_equal(veskar.preview(image, labels + 1), veskar.preview(image, labels))
    # Without display colours the table gives the means there, as the grid mode does.
    plain = veskar.region_table(image, labels)
    np.testing.assert_array_equal(plain["display_green"], plain["mean_green"])
    for bad in (labels[:-1], labels.astype(float), labels - 1):
        with pytest.raises(ValueError):
            veskar.preview(image, bad)
    with pytest.raises(ValueError, match="one RGB row per label"):
        veskar.region_table(image, labels, colors[:-1])
    (tmp_path / "short.pgm").write_bytes(files["map.pgm"].read_bytes()[:-1])
    with pytest.raises(ValueError, match="its header declares"):
        veskar.read_labels(tmp_path / "short.pgm")


def with_exif_orientation(jpeg, orientation):
    """The JPEG with an EXIF segment holding only the orientation tag."""
    entry = struct.pack("<HHIHH", 0x0112, 3, 1, orientation, 0)
    exif = b"Exif\0\0II*\0" + struct.pack("<IH", 8, 1) + entry + struct.pack("<I", 0)
    return jpeg[:2] + b"\xff\xe1" + struct.pack(">H", len(exif) + 2) + exif + jpeg[2:]


def test_exif_orientation_is_warned_about_and_auto_orient_turns_the_picture(dornick, tmp_path):
    import cv2
    photo = veskar.read_image(DATA_DIR / "golden" / "rocket_240x161.ppm")[:, :200]
    path = tmp_path / "phone.jpg"
    path.write_bytes(with_exif_orientation(cv2.imencode(".jpg", photo[:, :, ::-1])[1].tobytes(), 6))
    with pytest.warns(RuntimeWarning, match="EXIF orientation is 6.*auto_orient=True"):
        stored = veskar.read_image(path)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        turned = veskar.read_image(path, auto_orient=True)
    # Orientation 6: viewers turn the stored pixels a quarter clockwise.
    np.testing.assert_array_equal(turned, np.rot90(stored, -1))
    as_stored = run_dornick(dornick, "AS", path, tmp_path / "stored.pgm", 20)
    assert as_stored.returncode == 0
    assert "\nWARNING: Dornick -> The image's EXIF orientation is 6" in as_stored.stderr
    assert "(--auto-orient turns it first)" in as_stored.stderr
    as_shown = run_dornick(dornick, "AS", path, tmp_path / "shown.pgm", 20, "--auto-orient")
    assert as_shown.returncode == 0 and as_shown.stderr == ""
    np.testing.assert_array_equal(veskar.read_labels(tmp_path / "stored.pgm"), veskar.segment(stored, 20))
    np.testing.assert_array_equal(veskar.read_labels(tmp_path / "shown.pgm"), veskar.segment(turned, 20))


def test_the_namespace_holds_the_api_only():
    public = {name for name in dir(veskar) if not name.startswith("_")}
    assert public - {"batch"} == set(veskar.__all__) - {"__version__"}
    for name in veskar.__all__:
        assert getattr(veskar, name) is not None


def test_threads_give_the_results_of_single_calls():
    images = [veskar.read_image(p) for p in PHOTOS[:4]]
    jobs = [(i, count) for i in range(len(images)) for count in (None, 10, 40)] * 2
    expected = {job: veskar.segment(images[job[0]], job[1]) for job in set(jobs)}
    results = [None] * len(jobs)
    errors = []

    def work(slot):
        try:
            for k in range(slot, len(jobs), 4):
                i, count = jobs[k]
                results[k] = veskar.segment(images[i], count)
        except BaseException as error:  # surfaced below
            errors.append(error)

    threads = [threading.Thread(target=work, args=(slot,)) for slot in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert not errors
    for job, labels in zip(jobs, results):
        np.testing.assert_array_equal(labels, expected[job])


def test_version_is_the_projects():
    declared = re.search(r"project\(Veskar VERSION ([0-9.]+)", (SOURCE_DIR / "CMakeLists.txt").read_text())
    assert veskar.__version__ == declared.group(1)


def test_docstring_examples_hold():
    assert doctest.testmod(veskar).failed == 0
