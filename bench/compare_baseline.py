#!/usr/bin/env python3
"""Before/after figures of two Dornick builds, run interleaved on the same inputs.

    /usr/bin/python3 bench/compare_baseline.py --baseline BASELINE_BUILD [--build BUILD]
        [--sizes small,1mp,4mp,12mp] [--kinds photo,black,nearflat,stripes,checker,noise,framed]
        [--counts none,10,40] [--runs 3] [--steps] [--peers]
        [--baseline-args "..."] [--build-args "..."]

BASELINE_BUILD and BUILD are CMake build directories (app/Dornick, and with --steps
bench/bench_segmentation). For every input and count it alternates the two
programs RUNS times and reports medians of wall time, CPU time (user + system)
and peak resident memory of the whole process, with the ratio before/after.
CPU time is the figure to read on a shared machine: it does not count the time
the process waited for a core. --steps adds each pipeline step of the benchmark
program (wall time, median). --peers times OpenCV's graph segmentation and
scikit-image's felzenszwalb in process on the same pixels when python3-opencv
and python3-skimage are installed. --baseline-args and --build-args add options
to each side's Dornick line (both sides may be one build, e.g. --baseline-args
"--threads 1" --build-args "--fast --threads 2"). Needs ImageMagick's convert
and GNU time.
"""
import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile

IMAGES = os.environ.get("IMAGES", "/work/shared/images")
# (label, source photo, geometry): 0.15, 0.3, 0.9, 4 and 12 megapixels.
SIZES = {
    "small": ("aero1_640x480.png", "448x336!"),
    "0.3mp": ("aero1_640x480.png", None),
    "1mp": ("hubble_1000x872.png", None),
    "4mp": ("ladybird_2560x1600.png", None),
    "12mp": ("ladybird_2560x1600.png", "4000x3000!"),
}


def make_input(work, size, kind):
    photo, geometry = SIZES[size]
    src = os.path.join(IMAGES, photo)
    out = os.path.join(work, f"{kind}_{size}.ppm")
    if os.path.exists(out):
        return out
    base = ["convert", src] + (["-resize", geometry] if geometry else [])
    dims = subprocess.run(base + ["-format", "%wx%h", "info:"], capture_output=True, text=True, check=True).stdout
    w, h = (int(v) for v in dims.split("x"))
    size_arg = f"{w}x{h}"
    if kind == "photo":
        cmd = base
    elif kind == "black":
        cmd = ["convert", "-size", size_arg, "xc:black"]
    elif kind == "nearflat":
        cmd = ["convert", "-size", size_arg, "-seed", "11", "xc:rgb(40,40,40)", "-attenuate", "0.02",
               "+noise", "Uniform"]
    elif kind == "stripes":
        cmd = ["convert", "-size", size_arg, "pattern:vertical3"]
    elif kind == "checker":
        cmd = ["convert", "-size", size_arg, "pattern:checkerboard"]
    elif kind == "noise":
        cmd = ["convert", "-size", size_arg, "-seed", "7", "xc:", "+noise", "Random"]
    elif kind == "framed":  # the photo at half size centred on a black frame
        cmd = base + ["-resize", f"{w // 2}x{h // 2}!", "-background", "black", "-gravity", "center",
                      "-extent", size_arg]
    else:
        sys.exit(f"compare_baseline.py: unknown kind {kind}")
    subprocess.run(cmd + ["-depth", "8", "ppm:" + out], check=True)
    return out


def run_dornick(build, image, count, work, extra=()):
    out = os.path.join(work, "out.pgm")
    args = ["/usr/bin/time", "-f", "%e %U %S %M", os.path.join(build, "app", "Dornick"), "AS", image, out]
    if count != "none":
        args.append(count)
    args.extend(extra)
    proc = subprocess.run(args, capture_output=True, text=True)
    last = proc.stderr.strip().splitlines()[-1].split()
    wall, user, system, kb = float(last[0]), float(last[1]), float(last[2]), int(last[3])
    with open(out, "rb") as f:
        labels = f.read()
    return wall, user + system, kb * 1024, labels


STEP_LINE = re.compile(r"^(\S.*?)\s+(\d+\.\d)\s")


def run_steps(build, image, count):
    bench = os.path.join(build, "bench", "bench_segmentation")
    c = "0" if count == "none" else count
    proc = subprocess.run([bench, "--sizes", "none", "--counts", c, "--runs", "1", image],
                          capture_output=True, text=True, check=True)
    steps = {}
    in_table = False
    for line in proc.stdout.splitlines():
        if line.startswith("step "):
            in_table = True
            continue
        if in_table:
            if line.startswith("regions in result") or not line.strip():
                break
            m = STEP_LINE.match(line)
            if m:
                steps[m.group(1).strip()] = float(m.group(2))
    return steps


def fmt_bytes_per_pixel(b, pixels):
    return f"{b / pixels:6.0f}"


def peers(image, runs):
    code = r"""
import sys, time, statistics
path, runs = sys.argv[1], int(sys.argv[2])
import numpy as np
def read_ppm(p):
    with open(p, 'rb') as f:
        data = f.read()
    parts, pos = [], 2
    while len(parts) < 3:
        while data[pos:pos+1].isspace(): pos += 1
        if data[pos:pos+1] == b'#':
            pos = data.index(b'\n', pos); continue
        start = pos
        while not data[pos:pos+1].isspace(): pos += 1
        parts.append(int(data[start:pos]))
    pos += 1
    w, h, _ = parts
    return np.frombuffer(data, dtype=np.uint8, count=w*h*3, offset=pos).reshape(h, w, 3)
img = read_ppm(path)
out = []
try:
    import cv2
    seg = cv2.ximgproc.segmentation.createGraphSegmentation(sigma=0.8, k=300, min_size=50)
    ts = []
    for _ in range(runs):
        t = time.perf_counter(); seg.processImage(img[:, :, ::-1].copy()); ts.append(time.perf_counter() - t)
    out.append('opencv %.3f' % statistics.median(ts))
except Exception as e:
    out.append('opencv -')
try:
    from skimage.segmentation import felzenszwalb
    ts = []
    for _ in range(runs):
        t = time.perf_counter(); felzenszwalb(img, scale=300, sigma=0.8, min_size=50); ts.append(time.perf_counter() - t)
    out.append('skimage %.3f' % statistics.median(ts))
except Exception as e:
    out.append('skimage -')
print(' '.join(out))
"""
    proc = subprocess.run(["/usr/bin/python3", "-c", code, image, str(runs)], capture_output=True, text=True)
    fields = proc.stdout.split()
    return {fields[i]: fields[i + 1] for i in range(0, len(fields) - 1, 2)}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--baseline", required=True)
    ap.add_argument("--build", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build"))
    ap.add_argument("--sizes", default="small,1mp,4mp")
    ap.add_argument("--kinds", default="photo")
    ap.add_argument("--counts", default="none,10,40")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--steps", action="store_true")
    ap.add_argument("--peers", action="store_true")
    ap.add_argument("--baseline-args", default="", help="options added to the baseline's Dornick line")
    ap.add_argument("--build-args", default="", help="options added to the build's Dornick line")
    opt = ap.parse_args()
    extra = {"before": opt.baseline_args.split(), "after": opt.build_args.split()}

    with tempfile.TemporaryDirectory() as work:
        print("input               count   wall before  after  ratio |  cpu before  after  ratio | B/px before after | maps")
        for size in opt.sizes.split(","):
            for kind in opt.kinds.split(","):
                image = make_input(work, size, kind)
                with open(image, "rb") as f:
                    header = f.read(64).split()
                pixels = int(header[1]) * int(header[2])
                peer_times = {}
                for count in opt.counts.split(","):
                    results = {"before": [], "after": []}
                    maps = {}
                    for _ in range(opt.runs):
                        for side, build in (("before", opt.baseline), ("after", opt.build)):
                            wall, cpu, peak, labels = run_dornick(build, image, count, work, extra[side])
                            results[side].append((wall, cpu, peak))
                            maps[side] = labels
                        # The peers take no region count: timed between the runs of the first one.
                        if opt.peers and count == opt.counts.split(",")[0]:
                            for name, seconds in peers(image, 1).items():
                                if seconds != "-":
                                    peer_times.setdefault(name, []).append(float(seconds))
                    med = {s: [statistics.median(v[i] for v in results[s]) for i in range(3)] for s in results}
                    b, a = med["before"], med["after"]
                    same = "same" if maps["before"] == maps["after"] else "DIFFERENT"
                    print(f"{kind + ' ' + size:<19} {count:>5} {b[0]:10.2f} {a[0]:6.2f} {b[0] / a[0]:6.2f} |"
                          f" {b[1]:10.2f} {a[1]:6.2f} {b[1] / a[1]:6.2f} |"
                          f" {fmt_bytes_per_pixel(b[2], pixels)} {fmt_bytes_per_pixel(a[2], pixels)} | {same}",
                          flush=True)
                    if opt.steps:
                        before = run_steps(opt.baseline, image, count)
                        after = run_steps(opt.build, image, count)
                        for step in after:
                            if step in before and (before[step] >= 1.0 or after[step] >= 1.0):
                                ratio = before[step] / after[step] if after[step] > 0 else float("inf")
                                print(f"    {step:<24} {before[step]:10.1f} ms {after[step]:10.1f} ms {ratio:6.2f}")
                if opt.peers:
                    p = {name: f"{statistics.median(t):.2f}" for name, t in peer_times.items()}
                    print(f"    peers in process (wall, median): OpenCV graph segmentation {p.get('opencv', '-')} s,"
                          f" scikit-image felzenszwalb {p.get('skimage', '-')} s", flush=True)


if __name__ == "__main__":
    main()
