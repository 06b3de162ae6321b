"""The batch command: outputs identical to Dornick's, resumption, failures reported, a Dask cluster."""

import os
import pathlib
import re
import signal
import subprocess
import sys
import time

import cv2
import numpy as np
import pytest

import veskar
from veskar import batch
from conftest import DATA_DIR, PHOTOS, dornick_map

REGIONS = 40


def write_ppm(path, image):
    height, width = image.shape[:2]
    path.write_bytes(b"P6\n%d %d\n255\n" % (width, height) + image.tobytes())


@pytest.fixture(scope="module")
def photo_set(tmp_path_factory, dornick):
    """Twenty photos in two folders (PPM and PNG), a corrupt file, and Dornick's maps of the photos."""
    root = tmp_path_factory.mktemp("photos")
    (root / "a").mkdir()
    (root / "b" / "deeper").mkdir(parents=True)
    made = []
    for i, photo in enumerate(PHOTOS):
        image = veskar.read_image(photo)
        stem = photo.stem
        variants = [(root / "a" / (stem + ".ppm"), image),
                    (root / "b" / (stem + "_flipped.png"), image[:, ::-1]),
                    (root / "b" / "deeper" / (stem + "_crop.png"), image[image.shape[0] // 4:, : image.shape[1] * 3 // 4])]
        for path, variant in variants:
            if len(made) == 20:
                break
            if path.suffix == ".ppm":
                write_ppm(path, np.ascontiguousarray(variant))
            else:
                assert cv2.imwrite(str(path), np.ascontiguousarray(variant[:, :, ::-1]))
            made.append(path)
    assert len(made) == 20
    corrupt = root / "b" / "corrupt.png"
    corrupt.write_bytes((DATA_DIR / "rocket_96x64.png").read_bytes()[:400])
    expected = {}
    maps = tmp_path_factory.mktemp("dornick")
    for path in made:
        relative = path.relative_to(root)
        out = maps / (str(relative).replace(os.sep, "_") + ".pgm")
        expected[str(relative.with_suffix(".pgm"))] = dornick_map(dornick, "AS", path, out, REGIONS)
    return root, corrupt, expected


def maps_in(out_dir):
    """Label maps under their final names (a killed writer leaves a hidden temporary)."""
    return [path for path in pathlib.Path(out_dir).rglob("*.pgm") if not path.name.startswith(".")]


def outputs_of(out_dir):
    return {str(path.relative_to(out_dir)): path.read_bytes() for path in maps_in(out_dir)}


def run_batch(*arguments, **options):
    command = [sys.executable, "-m", "veskar", "batch", *map(str, arguments)]
    return subprocess.run(command, capture_output=True, text=True, timeout=300, **options)


def report_lines(out_dir):
    lines = (pathlib.Path(out_dir) / batch.REPORT_NAME).read_text().splitlines()
    return lines[0], lines[1:]


def check_run(done, out_dir, photo_set, segmented, skipped):
    root, corrupt, expected = photo_set
    assert done.returncode == 1, done.stdout + done.stderr
    assert "segmented %d, skipped %d (complete), failed 1" % (segmented, skipped) in done.stdout
    assert outputs_of(out_dir) == expected
    summary, failures = report_lines(out_dir)
    assert summary == "# segmented %d, skipped %d (complete), failed 1; written: %d maps" % (segmented, skipped,
                                                                                             segmented)
    assert len(failures) == 1 and failures[0].startswith(str(corrupt) + "\tRuntimeError: ")


def test_two_local_worker_processes_write_dornicks_maps_and_report_the_corrupt_file(photo_set, tmp_path):
    root = photo_set[0]
    out = tmp_path / "out"
    done = run_batch(root / "a", root / "b", "--out", out, "--regions", REGIONS, "--workers", 2)
    # Outputs keep their place below the folder given: a/x.ppm -> x.pgm, b/deeper/y.png -> deeper/y.pgm.
    renamed = {str(pathlib.Path(*pathlib.Path(k).parts[1:])): v for k, v in photo_set[2].items()}
    assert done.returncode == 1, done.stdout + done.stderr
    assert outputs_of(out) == renamed
    assert "segmented 20, skipped 0 (complete), failed 1" in done.stdout
    assert re.search(r"done=20, failed=1", done.stderr)


def test_an_interrupted_run_is_finished_by_running_it_again(photo_set, tmp_path):
    root, corrupt, expected = photo_set
    out = tmp_path / "out"
    first = subprocess.Popen([sys.executable, "-m", "veskar", "batch", str(root), "--out", str(out),
                              "--regions", str(REGIONS), "--workers", "1", "--no-progress"],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    deadline = time.monotonic() + 120
    while len(maps_in(out)) < 3 and first.poll() is None and time.monotonic() < deadline:
        time.sleep(0.01)
    try:
        os.killpg(first.pid, signal.SIGKILL)
    except ProcessLookupError:  # it finished first: the rerun then only skips
        pass
    first.wait()
    # Whatever the kill interrupted, no output stands under its name half written.
    present = {path: path.read_bytes() for path in maps_in(out)}
    assert len(present) >= 3
    for path, data in present.items():
        assert data == expected[str(path.relative_to(out))]
    # A map cut short by something else is not taken for complete.
    cut, cut_data = next(iter(present.items()))
    cut.write_bytes(cut_data[:-10])
    # Maps whose settings were recorded are kept; one the kill left unrecorded is made again.
    recorded = {line.split('"map": "')[1].split('"')[0]
                for line in (out / batch.SETTINGS_NAME).read_text().splitlines() if '"map": "' in line}
    kept = {path: os.stat(path).st_mtime_ns for path in present
            if path != cut and str(path.relative_to(out)) in recorded}
    assert len(kept) >= len(present) - 2
    done = run_batch(root, "--out", out, "--regions", REGIONS, "--workers", 2, "--threads", "--no-progress")
    check_run(done, out, photo_set, segmented=20 - len(kept), skipped=len(kept))
    for path, modified in kept.items():
        assert os.stat(path).st_mtime_ns == modified, path


def test_a_dask_cluster_of_two_worker_processes_writes_dornicks_maps(photo_set, tmp_path):
    distributed = pytest.importorskip("distributed")
    root = photo_set[0]
    out = tmp_path / "out"
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster:
        # Paths relative to a folder the workers were not started in.
        done = run_batch(".", "--out", os.path.relpath(out, root), "--regions", REGIONS,
                         "--scheduler", cluster.scheduler_address, "--no-progress", cwd=root)
        assert len(cluster.scheduler.workers) == 2
    check_run(done, out, photo_set, segmented=20, skipped=0)


def test_a_cluster_whose_workers_lack_the_package_is_refused_before_any_work(photo_set, tmp_path):
    distributed = pytest.importorskip("distributed")
    plain = {name: value for name, value in os.environ.items() if name != "PYTHONPATH"}
    if subprocess.run([sys.executable, "-c", "import veskar"], env=plain, cwd=tmp_path).returncode == 0:
        pytest.skip("this interpreter has the package without PYTHONPATH")
    root = photo_set[0]
    with distributed.LocalCluster(n_workers=0, processes=False, protocol="tcp://", dashboard_address=None) as cluster:
        worker = subprocess.Popen([sys.executable, "-m", "distributed.cli.dask_worker", cluster.scheduler_address,
                                   "--nthreads", "1", "--no-dashboard"], env=plain, cwd=tmp_path,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            with distributed.Client(cluster) as client:
                client.wait_for_workers(1, timeout=120)
            done = run_batch(root, "--out", tmp_path / "out", "--scheduler", cluster.scheduler_address,
                             "--no-progress")
        finally:
            worker.terminate()
            worker.wait()
    assert done.returncode == 2
    assert "cannot import veskar (ModuleNotFoundError: No module named 'veskar')" in done.stderr
    assert "-m distributed.cli.dask_worker " + cluster.scheduler_address in done.stderr
    assert maps_in(tmp_path / "out") == []


def die_on_poison(source, target, settings):
    if "poison" in source:
        os._exit(3)
    return None, []


def test_only_the_image_that_kills_a_worker_process_fails():
    jobs = [batch.Job("img%d%s" % (i, "-poison" if i == 4 else ""), "out%d" % i) for i in range(9)]
    outcomes = []
    runner = batch.LocalRunner(2, threads=False, work=die_on_poison)
    try:
        batch.run_jobs(runner, jobs, None, outcomes.append)
    finally:
        runner.close()
    assert sorted(o.source for o in outcomes) == sorted(j.source for j in jobs)
    failed = [o for o in outcomes if o.error is not None]
    assert [(o.source, o.error) for o in failed] == [("img4-poison", "the worker process died on this image")]


def test_inputs_sharing_a_stem_are_kept_apart_and_missing_ones_refused(tmp_path):
    for name in ("x.png", "x.ppm", "y.jpg"):
        (tmp_path / name).write_bytes(b"")
    (tmp_path / ".hidden.png").write_bytes(b"")
    (tmp_path / "notes.txt").write_bytes(b"")
    jobs, problems = batch.collect_jobs([str(tmp_path), str(tmp_path / "gone.png")], str(tmp_path / "out"))
    assert [os.path.basename(j.target) for j in jobs] == ["x.png.pgm", "x.ppm.pgm", "y.pgm"]
    assert [(os.path.basename(p), r) for p, r in problems] == [("gone.png", "no such file or folder")]


def dornick_outputs(dornick, image, folder, name, regions):
    """Dornick's map and the four files beside it, by the batch's names for them."""
    names = {"map": name + ".pgm", "preview": name + "-preview.png", "outline": name + "-outline.jpg",
             "labels-png": name + "-labels.png", "region-table": name + "-regions.csv"}
    options = [item for option, file in names.items() if option != "map" for item in ("--" + option, folder / file)]
    done = subprocess.run([dornick, "AS", image, folder / names["map"], str(regions), *options],
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    return {file: (folder / file).read_bytes() for file in names.values()}


def test_outputs_beside_the_maps_are_dornicks_and_a_rerun_with_other_settings_redoes_them(dornick, tmp_path):
    import cv2
    images = tmp_path / "in"
    images.mkdir()
    photo = veskar.read_image(PHOTOS[0])
    write_ppm(images / "x.ppm", photo)
    assert cv2.imwrite(str(images / "x.png"), np.ascontiguousarray(photo[::-1, :, ::-1]))
    write_ppm(images / "other.ppm", veskar.read_image(PHOTOS[1]))
    out = tmp_path / "out"
    flags = ["--preview", "--outline", "--labels-png", "--region-table"]

    def expected(regions):
        made = {}
        folder = tmp_path / ("dornick%d" % regions)
        folder.mkdir(exist_ok=True)
        for name in ("x.ppm", "x.png", "other.ppm"):
            stem = name if name.startswith("x.") else "other"
            made.update(dornick_outputs(dornick, images / name, folder, stem, regions))
        return made

    def outputs():
        return {path.name: path.read_bytes() for path in out.iterdir() if not path.name.startswith("batch-")}

    done = run_batch(images, "--out", out, "--regions", 10, *flags, "--no-progress")
    assert done.returncode == 0, done.stderr
    assert "segmented 3, skipped 0 (complete), failed 0; written: 3 maps, 3 previews, 3 outlines, " \
           "3 PNG label maps, 3 region tables" in done.stdout
    assert outputs() == expected(10)
    # Other settings: refused until --force, which makes every image again and
    # leaves none of the earlier files that this run does not make.
    before = outputs()
    refused = run_batch(images, "--out", out, "--regions", 25, "--no-progress")
    assert refused.returncode == 2
    assert "3 maps in %s were made with other settings (--regions 10, this run --regions 25)" % out \
        in refused.stderr
    assert "--force makes them again" in refused.stderr
    assert outputs() == before
    forced = run_batch(images, "--out", out, "--regions", 25, "--force", "--no-progress")
    assert forced.returncode == 0, forced.stderr
    assert "segmented 3, skipped 0 (complete), failed 0; written: 3 maps" in forced.stdout
    assert outputs() == {name: data for name, data in expected(25).items() if name.endswith(".pgm")}
    again = run_batch(images, "--out", out, "--regions", 25, "--no-progress")
    assert "segmented 0, skipped 3 (complete)" in again.stdout


def test_bad_arguments_are_refused_with_a_reason(tmp_path):
    (tmp_path / "empty").mkdir()
    (tmp_path / "afile").write_text("")
    image = PHOTOS[0]
    for arguments, reason in (
            ([image, "--out", tmp_path / "o", "--regions", "abc"], "argument --regions: 'abc' is not a whole number"),
            ([image, "--out", tmp_path / "o", "--regions", 5000], "argument --regions: 5000 is not within 2 to 2048"),
            ([image, "--out", tmp_path / "o", "--regions", 0], "argument --regions: 0 is not within 2 to 2048"),
            ([image, "--out", tmp_path / "afile"], "--out %s is a file, not a folder" % (tmp_path / "afile")),
            ([tmp_path / "empty", "--out", tmp_path / "o"], "no images in %s (files ending in .bmp, " % (tmp_path / "empty"))):
        done = run_batch(*arguments)
        assert done.returncode == 2, reason
        assert reason in done.stderr
        assert not (tmp_path / "o").exists()


def test_no_output_replaces_an_input_and_earlier_outputs_are_not_inputs(tmp_path, dornick):
    photos = tmp_path / "photos"
    (photos / "a").mkdir(parents=True)
    photo = DATA_DIR / "rocket_96x64.png"
    scan = photos / "scan.pgm"
    subprocess.run(["convert", str(photo), "-colorspace", "gray", str(scan)], check=True)
    (photos / "a" / "x.png").write_bytes(photo.read_bytes())
    # A map and a preview left by an earlier batch; a photo named like a preview.
    dornick_map(dornick, "AS", photo, photos / "a" / "y.pgm", REGIONS)
    (photos / "a" / "y-preview.png").write_bytes(photo.read_bytes())
    (photos / "a" / "x-preview.png").write_bytes(photo.read_bytes())
    scan_before = scan.read_bytes()
    for out in (str(photos), str(photos) + "/."):
        jobs, problems = batch.collect_jobs([str(photos)], out, ["preview"])
        assert [os.path.relpath(j.source, photos) for j in jobs] == [os.path.join("a", "x-preview.png")]
        assert [(p, r.split(" ")[2]) for p, r in problems] == [
            (str(scan), os.path.join(out, "scan.pgm")),
            (str(photos / "a" / "x.png"), os.path.join(out, "a", "x-preview.png"))]
        assert all("would replace the input" in reason for _, reason in problems)
    done = run_batch(photos, "--out", photos, "--no-progress")
    assert done.returncode == 1, done.stdout + done.stderr
    assert scan.read_bytes() == scan_before
    assert batch.is_complete_label_map(photos / "a" / "x.pgm")
