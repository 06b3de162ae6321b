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
    assert summary == "# segmented %d, skipped %d (complete), failed 1" % (segmented, skipped)
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
    kept = {path: os.stat(path).st_mtime_ns for path in present if path != cut}
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
        done = run_batch(root, "--out", out, "--regions", REGIONS, "--scheduler", cluster.scheduler_address,
                         "--no-progress")
        assert len(cluster.scheduler.workers) == 2
    check_run(done, out, photo_set, segmented=20, skipped=0)


def die_on_poison(source, target, regions):
    if "poison" in source:
        os._exit(3)
    return None


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


def test_clashing_output_names_and_missing_inputs_are_refused_up_front(tmp_path):
    for name in ("x.png", "x.ppm", "y.jpg"):
        (tmp_path / name).write_bytes(b"")
    (tmp_path / ".hidden.png").write_bytes(b"")
    (tmp_path / "notes.txt").write_bytes(b"")
    jobs, problems = batch.collect_jobs([str(tmp_path), str(tmp_path / "gone.png")], str(tmp_path / "out"))
    assert [os.path.basename(j.target) for j in jobs] == ["x.pgm", "y.pgm"]
    assert [(os.path.basename(p), r.split(" ")[0]) for p, r in problems] == [("x.ppm", "its"), ("gone.png", "no")]
