#!/usr/bin/env python3
"""Measures Dornick's segmentations against human ones and against a regular grid.

Needs: python3 with numpy (Debian: apt-get install python3-numpy), ImageMagick's
`convert` on the PATH and a built Dornick. Not part of the build or the tests.

For every photo of a human-segmented set (a folder with bsds/<id>.png and
gt/<id>/<k>.png, 16-bit grey, value = segment) it runs `Dornick AS` once per
requested count and scores each label map against every human of the photo:
  PRI    Rand index from the contingency table, mean over humans (higher is better)
  VoI    variation of information in bits, mean over humans (lower is better)
  Cover  covering of each human by the machine, mean over humans (higher is better)
  P/R/F  boundary precision, recall and F with a pixel tolerance. Approximate: a
         boundary pixel counts as found when the other side has one within the
         tolerance disc (dilation), without one-to-one matching.
The same scores for `Dornick GL` with the cell size whose region count comes
closest to the segmenter's on that photo give a baseline. With --modes
exact,fast both of Dornick's modes are scored, and the fast mode's maps are
also compared with the exact mode's: the share of pixels whose labels agree
once each fast region is paired with one exact region (pairs chosen for the
largest total overlap), median over photos. The table shows means
over photos. The data's licence allows research use only: it is read in place.
PRI, VoI and Cover reproduce the figures of the data set's own benchmark example
(bsds_bench/expected) to six digits; P/R/F at 3 px come within about 0.015 of
its one-to-one matched boundary figures.

Examples: python3 scripts/evaluate_quality.py --counts none,10,40,100 --limit 10
          python3 scripts/evaluate_quality.py --counts none,10,40 --modes exact,fast
"""

import argparse
import concurrent.futures
import glob
import math
import os
import subprocess
import sys
import tempfile

try:
    import numpy as np
except ImportError:
    sys.exit("evaluate_quality.py needs numpy: apt-get install python3-numpy (or pip install numpy)")

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MEASURES = ("regions", "pri", "voi", "cover", "precision", "recall", "f")
# Dornick's modes by the options that select them; the fast one on one thread,
# since photos already run in parallel.
MODES = {"exact": [], "fast": ["--fast", "--threads", "1"]}


def parse_arguments():
    parser = argparse.ArgumentParser(description="Scores Dornick's label maps against human segmentations.")
    parser.add_argument("--bsds", default=os.path.join(REPO, "..", "shared", "bsds500"),
                        help="folder holding bsds/<id>.png and gt/<id>/<k>.png")
    parser.add_argument("--dornick", default=os.path.join(REPO, "build", "app", "Dornick"),
                        help="Dornick binary to run")
    parser.add_argument("--counts", default="none,10,40,100",
                        help="comma-separated region counts; 'none' lets the merging rules decide")
    parser.add_argument("--limit", type=int, default=0, help="only the first N photos (0: all)")
    parser.add_argument("--tolerance", type=float, default=3.0,
                        help="boundary tolerance in pixels (3 tracks the data set's own benchmark example)")
    parser.add_argument("--jobs", type=int, default=2, help="photos evaluated in parallel")
    parser.add_argument("--modes", default="exact",
                        help="comma-separated Dornick modes to score: exact, fast (the grid follows the first)")
    arguments = parser.parse_args()
    arguments.modes = [m.strip() for m in arguments.modes.split(",") if m.strip()]
    unknown = [m for m in arguments.modes if m not in MODES]
    if unknown or not arguments.modes:
        parser.error("--modes takes exact and fast, got %s" % ",".join(unknown or ["nothing"]))
    arguments.counts = [None if c.strip().lower() in ("none", "auto", "") else int(c)
                        for c in arguments.counts.split(",")]
    return arguments


def read_pgm(data, little_endian):
    """Label array of a binary PGM; 16-bit samples in the byte order given."""
    tokens, at = [], 0
    while len(tokens) < 4:
        while data[at:at + 1].isspace():
            at += 1
        if data[at:at + 1] == b"#":
            at = data.index(b"\n", at) + 1
            continue
        end = at
        while end < len(data) and not data[end:end + 1].isspace():
            end += 1
        tokens.append(data[at:end])
        at = end
    if tokens[0] != b"P5":
        raise ValueError("not a binary PGM")
    width, height, maxval = (int(t) for t in tokens[1:])
    # One whitespace byte separates the header from the samples.
    at += 1
    if maxval < 256:
        dtype = np.uint8
    else:
        dtype = np.dtype("<u2" if little_endian else ">u2")
    samples = np.frombuffer(data, dtype=dtype, count=width * height, offset=at)
    return samples.reshape(height, width).astype(np.int64)


def read_human(path):
    converted = subprocess.run(["convert", path, "-depth", "16", "pgm:-"], capture_output=True, check=True)
    return read_pgm(converted.stdout, little_endian=False)


def run_dornick(dornick, arguments, output):
    """Runs Dornick with the arguments given (output path included) and reads the map it wrote."""
    result = subprocess.run([dornick] + arguments, capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError("%s failed (%d): %s" % (" ".join([dornick] + arguments), result.returncode,
                                                   (result.stderr or result.stdout).strip()))
    with open(output, "rb") as stream:
        return read_pgm(stream.read(), little_endian=True)


def segment(dornick, image, count, output, mode="exact"):
    wanted = [] if count is None else [str(count)]
    return run_dornick(dornick, ["AS", image, output] + wanted + MODES[mode], output)


def grid(dornick, image, cell, output):
    return run_dornick(dornick, ["GL", image, output, str(cell)], output)


def grid_region_count(width, height, cell):
    # Cells are numbered from 0 and pixels beyond the last whole cell get label 0 too,
    # so that strip joins the first cell.
    return max((width // cell) * (height // cell), 1)


def cell_size_for(width, height, regions):
    """Cell size whose grid has the region count closest to the one wanted (larger cell on a tie)."""
    best = max(width, height)
    for cell in range(max(width, height), 0, -1):
        if abs(grid_region_count(width, height, cell) - regions) < abs(grid_region_count(width, height, best) - regions):
            best = cell
    return best


def contingency(rows, columns):
    """Pixel counts of every (row label, column label) pair."""
    _, row_index = np.unique(rows, return_inverse=True)
    _, column_index = np.unique(columns, return_inverse=True)
    row_count, column_count = row_index.max() + 1, column_index.max() + 1
    pairs = np.bincount(row_index.ravel() * column_count + column_index.ravel(),
                        minlength=row_count * column_count)
    return pairs.reshape(row_count, column_count).astype(np.float64)


def rand_index(table):
    n = table.sum()
    disagreeing = (np.square(table.sum(1)).sum() / 2 + np.square(table.sum(0)).sum() / 2
                   - np.square(table).sum())
    return 1.0 - disagreeing / (n * (n - 1) / 2)


def entropy(shares):
    shares = shares[shares > 0]
    return -(shares * np.log2(shares)).sum()


def variation_of_information(table):
    joint = table / table.sum()
    return 2 * entropy(joint.ravel()) - entropy(joint.sum(1)) - entropy(joint.sum(0))


def covering(table):
    """Covering of the row segmentation by the column one: best overlap per row region, size-weighted."""
    rows, columns = table.sum(1), table.sum(0)
    overlap = table / (rows[:, None] + columns[None, :] - table)
    return (rows * overlap.max(1)).sum() / rows.sum()


def boundaries(labels):
    edge = np.zeros(labels.shape, dtype=bool)
    edge[:, :-1] |= labels[:, :-1] != labels[:, 1:]
    edge[:-1, :] |= labels[:-1, :] != labels[1:, :]
    return edge


def dilate(mask, radius):
    reach = int(math.floor(radius))
    height, width = mask.shape
    padded = np.pad(mask, reach)
    grown = np.zeros_like(mask)
    for dy in range(-reach, reach + 1):
        for dx in range(-reach, reach + 1):
            if dx * dx + dy * dy <= radius * radius:
                grown |= padded[reach + dy:reach + dy + height, reach + dx:reach + dx + width]
    return grown


def boundary_scores(machine, humans, tolerance):
    """Precision against all humans at once, recall summed over humans (approximate, by dilation)."""
    found = boundaries(machine)
    human_edges = [boundaries(h) for h in humans]
    near_human = dilate(np.logical_or.reduce(human_edges), tolerance)
    near_machine = dilate(found, tolerance)
    precision = (found & near_human).sum() / found.sum() if found.any() else 0.0
    recalled = sum((e & near_machine).sum() for e in human_edges)
    total = sum(e.sum() for e in human_edges)
    recall = recalled / total if total else 0.0
    f = 2 * precision * recall / (precision + recall) if precision + recall else 0.0
    return precision, recall, f


def matched_agreement(labels, reference):
    """Share of pixels on which two label maps agree, each region of one paired with at most one of the other."""
    table = contingency(labels, reference)
    try:
        from scipy.optimize import linear_sum_assignment
        rows, columns = linear_sum_assignment(-table)
        return table[rows, columns].sum() / table.sum()
    except ImportError:
        # Greedy pairing by overlap, largest first: a lower bound of the best pairing.
        order = np.argsort(-table, axis=None)
        used_rows, used_columns, agreed = set(), set(), 0.0
        for flat in order:
            row, column = divmod(int(flat), table.shape[1])
            if table[row, column] == 0:
                break
            if row not in used_rows and column not in used_columns:
                used_rows.add(row)
                used_columns.add(column)
                agreed += table[row, column]
        return agreed / table.sum()


def score(machine, humans, tolerance):
    tables = [contingency(h, machine) for h in humans]
    precision, recall, f = boundary_scores(machine, humans, tolerance)
    return {"regions": len(np.unique(machine)),
            "pri": np.mean([rand_index(t) for t in tables]),
            "voi": np.mean([variation_of_information(t) for t in tables]),
            "cover": np.mean([covering(t) for t in tables]),
            "precision": precision, "recall": recall, "f": f}


def evaluate_photo(job):
    """Scores of one photo: {(count, mode or 'grid'): measures}."""
    image, human_paths, dornick, counts, tolerance, modes = job
    humans = [read_human(p) for p in human_paths]
    height, width = humans[0].shape
    results = {}
    with tempfile.TemporaryDirectory() as folder:
        output = os.path.join(folder, "labels.pgm")
        for count in counts:
            maps = {}
            for mode in modes:
                maps[mode] = segment(dornick, image, count, output, mode)
                if maps[mode].shape != humans[0].shape:
                    raise RuntimeError("%s: label map %s, humans %s" % (image, maps[mode].shape, humans[0].shape))
                results[(count, mode)] = score(maps[mode], humans, tolerance)
            if "exact" in maps and "fast" in maps:
                results[(count, "fast")]["agree"] = matched_agreement(maps["fast"], maps["exact"])
            cell = cell_size_for(width, height, results[(count, modes[0])]["regions"])
            results[(count, "grid")] = score(grid(dornick, image, cell, output), humans, tolerance)
    return results


def list_jobs(arguments):
    images = sorted(glob.glob(os.path.join(arguments.bsds, "bsds", "*.png")))
    jobs = []
    for image in images:
        photo = os.path.splitext(os.path.basename(image))[0]
        humans = sorted(glob.glob(os.path.join(arguments.bsds, "gt", photo, "*.png")))
        if humans:
            jobs.append((image, humans, arguments.dornick, arguments.counts, arguments.tolerance, arguments.modes))
    return jobs[:arguments.limit] if arguments.limit > 0 else jobs


def print_table(all_results, counts, tolerance, modes):
    compared = "exact" in modes and "fast" in modes
    print("%-6s %-8s %8s %7s %7s %7s %7s %7s %7s%s" % ("count", "method", "regions", "PRI", "VoI", "Cover",
                                                      "P", "R", "F", " agree" if compared else ""))
    for count in counts:
        for method in modes + ["grid"]:
            means = [np.mean([r[(count, method)][m] for r in all_results]) for m in MEASURES]
            agree = ""
            if compared and method == "fast":
                agree = " %6.3f" % np.median([r[(count, method)]["agree"] for r in all_results])
            print("%-6s %-8s %8.1f %7.3f %7.3f %7.3f %7.3f %7.3f %7.3f%s"
                  % (("none" if count is None else count, method) + tuple(means) + (agree,)))
    print("Means over %d photos; PRI, VoI (bits), Cover: mean over each photo's humans; "
          "P/R/F: boundaries within %g px, by dilation (approximate)." % (len(all_results), tolerance))
    if compared:
        print("agree: pixels whose labels agree between the fast and the exact map once regions are paired, "
              "median over photos.")
        print("fast - exact:", "; ".join(
            "%s: PRI %+.3f, VoI %+.3f, Cover %+.3f, F %+.3f, regions %+.1f%%" % (
                "none" if count is None else count,
                *(np.mean([r[(count, "fast")][m] - r[(count, "exact")][m] for r in all_results])
                  for m in ("pri", "voi", "cover", "f")),
                100 * (np.mean([r[(count, "fast")]["regions"] for r in all_results])
                       / np.mean([r[(count, "exact")]["regions"] for r in all_results]) - 1))
            for count in counts))


def main():
    arguments = parse_arguments()
    if not os.access(arguments.dornick, os.X_OK):
        sys.exit("no Dornick binary at %s (build it, or give --dornick)" % arguments.dornick)
    jobs = list_jobs(arguments)
    if not jobs:
        sys.exit("no photos with human segmentations under %s" % arguments.bsds)
    all_results = []
    with concurrent.futures.ProcessPoolExecutor(max_workers=max(1, arguments.jobs)) as pool:
        try:
            for done, results in enumerate(pool.map(evaluate_photo, jobs), 1):
                all_results.append(results)
                if sys.stderr.isatty():
                    print("\r%d/%d photos" % (done, len(jobs)), end="" if done < len(jobs) else "\n",
                          file=sys.stderr, flush=True)
        except (RuntimeError, ValueError, subprocess.CalledProcessError) as failure:
            sys.exit("evaluate_quality.py: %s" % failure)
    print_table(all_results, arguments.counts, arguments.tolerance, arguments.modes)


if __name__ == "__main__":
    main()
