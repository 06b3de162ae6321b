#!/usr/bin/python3
"""Checks the test net by mutation: applies one small edit at a time to the
engine in a throwaway copy of the tree, rebuilds, runs the plain test suite
and reports which edits survive (no test fails).

Not run by CI; takes about a minute per edit. The real tree is never touched:
the copy lives in a temporary folder (or --work DIR) and is rebuilt
incrementally, only the edited file being recompiled.

Each edit is found by a literal line pattern anywhere under engine/; an edit
whose pattern is missing, or matches more than once, is reported as
"not applied" rather than counted, so moved or rewritten code shows up.

    /usr/bin/python3 scripts/mutation-check.py            # every edit
    /usr/bin/python3 scripts/mutation-check.py --list     # names only
    /usr/bin/python3 scripts/mutation-check.py --only weak-borders-strength,threshold-offset
    /usr/bin/python3 scripts/mutation-check.py --quick    # engine and golden tests only

--quick builds only the engine and golden test programs and runs them
directly instead of through ctest: a few times faster, but the program tests
(Dornick as a process) are left out.
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def row(step, before, old, new):
    """An edit of a limit in the stage table row of step: the number old that
    follows the text matched by before (a regex inside the row) becomes new."""
    return (r"(\{S::k%s,[^\n]*%s)%s" % (step, before, re.escape(old)), r"\g<1>" + new)


# name, what the edit does, alternatives of (regex, replacement); the first
# alternative that matches exactly once under engine/ is applied.
MUTATIONS = [
    # The thirteen edits of the review that found the stage limits unguarded.
    ("weak-borders-strength", "weak borders: boundary strength limit 0.9 -> 0.95",
     [row("WeakBorders", r"\{0\.08,\s*0\.9,\s*0\.95,\s*", "0.9}", "0.95}"),
      (r"computeBoundaryStrength\(a, b\) > 0\.9\)", "computeBoundaryStrength(a, b) > 0.95)")]),
    ("weak-borders-shape", "weak borders: shape limit 0.9 -> 0.95",
     [row("WeakBorders", r"\{0\.08,\s*", "0.9,", "0.95,"),
      (r"within\(0\.08, 0\.9, 0\.95\)", "within(0.08, 0.95, 0.95)")]),
    ("shape-reduction-colour", "shape reduction: colour limit 0.055 -> 0.08",
     [row("ShapeReduction", r"\{", "0.055,", "0.08,"), (r"within\(0\.055,", "within(0.08,")]),
    ("colour-contour-shape", "colour and contour: shape limit 0.85 -> 0.95",
     [row("ColorAndContour", r"\{kImageThreshold,\s*", "0.85,", "0.95,"),
      (r"within\(colorThreshold, 0\.85,", "within(colorThreshold, 0.95,")]),
    ("small-with-big-complexity", "small with big: complexity gate 5 -> 6",
     [row("SmallWithBig", r"kNoLimit,\s*", "5.0}", "6.0}"),
      (r"computeShapeComplexity\(a\) > 5\.0\) \|\| !\(computeShapeComplexity\(b\) > 5\.0\)",
       "computeShapeComplexity(a) > 6.0) || !(computeShapeComplexity(b) > 6.0)")]),
    ("background-colour", "background: colour limit 0.03 -> 0.06",
     [row("Background", r"\{", "0.03}", "0.06}"), (r"colorDistance > 0\.03\)", "colorDistance > 0.06)")]),
    ("very-similar-colour", "very similar colour: colour limit 0.018 -> 0.03",
     [row("VerySimilarColor", r"\{", "0.018,", "0.03,"), (r"within\(0\.018,", "within(0.03,")]),
    ("jagged-similar-jaggedness", "jagged and similar: jagged border limit 0.92 -> 0.97",
     [row("JaggedAndSimilar", r"\{0\.05,\s*0\.8,\s*0\.8,\s*", "0.92}", "0.97}"), (r"> 0\.92\)", "> 0.97)")]),
    ("remove-jagged-share", "remove jagged: least jagged share 0.25 -> 0.35",
     [row("RemoveJagged", r"0\.95,\s*", "0.25}", "0.35}"),
      (r"shareA < 0\.25 && shareB < 0\.25", "shareA < 0.35 && shareB < 0.35")]),
    ("medium-simpler-shape", "medium and simpler: shape limit 0.41 -> 0.5",
     [row("MediumAndSimpler", r"\{0\.06,\s*", "0.41,", "0.5,"), (r"within\(0\.06, 0\.41, 0\.5\)", "within(0.06, 0.5, 0.5)")]),
    ("creates-simple-complexity", "creates simple: merged complexity limit 4.5 -> 5.0",
     [row("CreatesSimple", r"0\.75,\s*", "4.5}", "5.0}"), (r"mergedComplexity > 4\.5\)", "mergedComplexity > 5.0)")]),
    ("medium-similar-colour", "medium and similar: colour limit 0.02 -> 0.04",
     [row("MediumAndSimilar", r"\{", "0.02,", "0.04,"), (r"within\(0\.02, 0\.8, 0\.8\)", "within(0.04, 0.8, 0.8)")]),
    ("remove-jagged-dropped", "the remove-jagged stage is not run",
     [(r"\(this->\*row\.stage\)\(\);",
       "if (std::string_view(row.step) != Step::kRemoveJagged) (this->*row.stage)();"),
      (r"\n[ \t]*merge_RemoveJagged\(\);", "")]),
    ("very-small-shape-swapped", "very small and shape reduction run in swapped order",
     [(r"(\n[ \t]*\{S::kVerySmall,[^\n]*)(\n[ \t]*\{S::kShapeReduction,[^\n]*)", r"\2\1"),
      (r"merge_VerySmall\(\);(\s*stepDone\(\"very small\"\);\s*)merge_ShapeComplxReduction\(\);",
       r"merge_ShapeComplxReduction();\1merge_VerySmall();")]),
    # The first stage.
    ("first-stage-limit", "first stage stops at its own target even when more regions are wanted",
     [(r"const uint32_t limit = wantedRegions > target \? wantedRegions : target;", "const uint32_t limit = target;")]),
    ("first-stage-one-more", "first stage stops one merge early",
     [(r"const uint32_t limit = wantedRegions > target \? wantedRegions : target;",
       "const uint32_t limit = (wantedRegions > target ? wantedRegions : target) + 1;")]),
    ("first-stage-size-weight", "first stage cost without the size weight of one region",
     [(r"static_cast<double>\(p->pixelCount\) \* q->pixelCount / \(p->pixelCount \+ q->pixelCount\)",
       "static_cast<double>(p->pixelCount) / (p->pixelCount + q->pixelCount)")]),
    ("first-stage-no-v", "first stage cost ignores v*",
     [(r"distance = dL \* dL \+ dU \* dU \+ dV \* dV;", "distance = dL * dL + dU * dU;"),
      (r"\(dL \* dL \+ dU \* dU \+ dV \* dV\)", "(dL * dL + dU * dU)")]),
    ("mean-weights-swapped", "merged mean of u* weighs the two regions the wrong way round",
     [(r"into->meanU = \(nFrom \* from->meanU \+ nInto \* into->meanU\)",
       "into->meanU = (nInto * from->meanU + nFrom * into->meanU)")]),
    # The colour threshold.
    ("threshold-offset", "colour threshold offset 0.117 -> 0.12",
     [(r"\(sum - 0\.117\)", "(sum - 0.12)")]),
    ("threshold-slope", "colour threshold slope 0.2 -> 0.25",
     [(r"\* 0\.2 \+ 0\.026", "* 0.25 + 0.026")]),
    ("threshold-base", "colour threshold base 0.026 -> 0.03",
     [(r"\+ 0\.026;", "+ 0.03;")]),
    ("threshold-half-pairs", "colour threshold counts each unordered pair once",
     [(r"for \(int j = 0; j < colorModelCount; \+\+j\)", "for (int j = i + 1; j < colorModelCount; ++j)")]),
    ("colour-inclusive", "a colour distance equal to its limit blocks",
     [(r"!\(colorDistance > maxColor\)", "!(colorDistance >= maxColor)")]),
    # The merge update of the contour-aware stages.
    ("update-no-colour-model", "a merge does not join the colour models",
     [(r"\n[ \t]*modelOf\(into\)\.addColorModel\(&modelOf\(from\)\);", "")]),
    ("update-no-contour", "a merge does not join the contours",
     [(r"\n[ \t]*updateContoursOfMergedReg\(from, into\);", "")]),
    ("update-models-reversed", "a merge adds the survivor's colour model to the absorbed one's",
     [(r"modelOf\(into\)\.addColorModel\(&modelOf\(from\)\);", "modelOf(from).addColorModel(&modelOf(into));")]),
    # Comparisons at the limits and the driver.
    ("shape-inclusive", "a shape cost equal to its limit blocks",
     [(r"!\(shapeCost > maxShape\)", "!(shapeCost >= maxShape)")]),
    ("border-inclusive", "a border cost equal to its limit blocks",
     [(r"!\(borderCost > maxBorder\)", "!(borderCost >= maxBorder)")]),
    ("exemption-dropped", "no small-and-included exemption",
     [(r"if \(bIsSmallAndIncluded\(a, b, 0\.0\) \|\| tests\(m\)\)", "if (tests(m))")]),
    ("included-two-links", "a region with two live links counts as included",
     [(r"countLinks\(r->linkList\) < 2", "countLinks(r->linkList) < 3")]),
    ("very-small-inclusive", "very small: a region of exactly the limit counts as very small",
     [(r"a->pixelCount < verySmallSizeLimit \|\| b->pixelCount < verySmallSizeLimit",
       "a->pixelCount <= verySmallSizeLimit || b->pixelCount <= verySmallSizeLimit")]),
    ("very-small-limit-count", "very small limit ignores the region count",
     [(r"imageArea / \(1\.0 / verySmallSizeRatio \+ regionCount\)", "imageArea / (1.0 / verySmallSizeRatio)")]),
    ("complex-gate-double", "remove complex gates hold A's complexity in double",
     [(r"static_cast<float>\(computeShapeComplexity\(a\)\) >= gate", "computeShapeComplexity(a) >= gate")]),
    ("force-floor-inclusive", "force stage stops one region above the floor",
     [(r"regionCount > regionFloor", "regionCount > regionFloor + 1")]),
    ("medium-inclusive", "medium and similar lets a region of exactly the medium limit in",
     [(r"(kMediumAndSimilar\);\n\s*if \(!\(a->pixelCount )<( mediumSizeLimit && b->pixelCount )<", r"\1<=\2<=")]),
]


def run(command, cwd, log=None, timeout=None):
    with open(log or os.devnull, "w") as out:
        return subprocess.run(command, cwd=cwd, stdout=out, stderr=subprocess.STDOUT, timeout=timeout).returncode


def engine_sources(tree):
    for folder, _, files in os.walk(os.path.join(tree, "engine")):
        for name in sorted(files):
            if name.endswith((".cpp", ".h")):
                yield os.path.join(folder, name)


def apply(tree, alternatives):
    """Applies the first alternative that matches exactly once; returns
    (path, original text) or None when none does."""
    for pattern, replacement in alternatives:
        hits = []
        for path in engine_sources(tree):
            with open(path) as f:
                text = f.read()
            count = len(re.findall(pattern, text))
            if count:
                hits.append((path, text, count))
        if len(hits) == 1 and hits[0][2] == 1:
            path, text, _ = hits[0]
            with open(path, "w") as f:
                f.write(re.sub(pattern, replacement, text, count=1))
            return path, text
    return None


def copy_tree(target):
    """Brings the copy up to date with the tree. Only files whose bytes differ
    are written, and they get a fresh time, so that a build kept from an
    earlier run recompiles exactly what changed."""
    files = subprocess.run(["git", "ls-files", "-co", "--exclude-standard"], cwd=ROOT, check=True,
                           capture_output=True, text=True).stdout.split("\n")
    for name in filter(None, files):
        source = os.path.join(ROOT, name)
        if not os.path.isfile(source):
            continue
        destination = os.path.join(target, name)
        with open(source, "rb") as f:
            data = f.read()
        if os.path.isfile(destination):
            with open(destination, "rb") as f:
                if f.read() == data:
                    continue
        os.makedirs(os.path.dirname(destination), exist_ok=True)
        with open(destination, "wb") as f:
            f.write(data)


QUICK_PROGRAMS = ["tests/engine/golden_tests", "tests/engine/engine_tests"]


def failing_tests(log):
    with open(log) as f:
        text = f.read()
    found = re.findall(r"\d+ - (\S+) \((?:Failed|Timeout|SEGFAULT|Subprocess aborted|Exception)", text)
    found += re.findall(r"^\[  FAILED  \] ([^ ,\n]+)(?:, where|$| \()", text, re.M)
    return sorted(set(found))


def build_and_test(build, tree, log, args):
    """Returns None when the build fails, else the failing tests."""
    if args.quick:
        targets = ["--target"] + [os.path.basename(p) for p in QUICK_PROGRAMS]
        if run(["cmake", "--build", build, "-j" + args.jobs] + targets, tree, log) != 0:
            return None
        with open(log, "w") as out:
            for program in QUICK_PROGRAMS:
                out.flush()
                try:
                    command = [os.path.join(build, program)]
                    if args.exclude_tests:
                        command.append("--gtest_filter=-" + args.exclude_tests)
                    status = subprocess.run(command, cwd=build, stdout=out,
                                            stderr=subprocess.STDOUT, timeout=1200).returncode
                except subprocess.TimeoutExpired:
                    status = -999  # a hanging edit counts as caught, by the timeout
                out.write("\nprogram %s ended with status %d\n" % (program, status))
                out.flush()
        found = failing_tests(log)
        with open(log) as f:
            crashed = re.findall(r"^program (\S+) ended with status (-?\d+)$", f.read(), re.M)
        return found + ["%s (status %s)" % c for c in crashed if c[1] != "0" and not found]
    if run(["cmake", "--build", build, "-j" + args.jobs], tree, log) != 0:
        return None
    run(["ctest", "-j" + args.jobs, "--timeout", "600"], build, log)
    return failing_tests(log)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--work", help="folder for the copy and its build (default: a new temporary folder)")
    parser.add_argument("--only", help="comma-separated edit names")
    parser.add_argument("--list", action="store_true", help="list the edits and stop")
    parser.add_argument("--quick", action="store_true", help="engine and golden test programs only")
    parser.add_argument("--exclude-tests", help="with --quick: gtest patterns to leave out, e.g. 'Radii/*'")
    parser.add_argument("--dry-run", action="store_true", help="only check that every edit applies")
    parser.add_argument("--jobs", default="2")
    args = parser.parse_args()
    chosen = MUTATIONS
    if args.only:
        names = args.only.split(",")
        unknown = set(names) - {m[0] for m in MUTATIONS}
        if unknown:
            sys.exit("unknown edits: " + ", ".join(sorted(unknown)))
        chosen = [m for m in MUTATIONS if m[0] in names]
    if args.list:
        for name, what, _ in chosen:
            print("%-28s %s" % (name, what))
        return 0

    work = args.work or tempfile.mkdtemp(prefix="veskar-mutation-")
    tree = os.path.join(work, "tree")
    build = os.path.join(work, "build")
    copy_tree(tree)
    print("copy of the tree: %s" % tree, flush=True)
    if args.dry_run:
        for name, what, alternatives in chosen:
            applied = apply(tree, alternatives)
            print("%-28s %s" % (name, "applies to " + os.path.relpath(applied[0], tree) if applied else "NOT APPLIED"))
            if applied:
                with open(applied[0], "w") as f:
                    f.write(applied[1])
        return 0
    log = os.path.join(work, "last.log")
    if run(["cmake", "-S", tree, "-B", build, "-DCMAKE_BUILD_TYPE=Release"], tree, log) != 0:
        sys.exit("the unedited copy does not configure; see " + log)
    baseline = build_and_test(build, tree, log, args)
    if baseline is None:
        sys.exit("the unedited copy does not build; see " + log)
    if baseline:
        sys.exit("the unedited copy fails its tests (%s); see %s" % (", ".join(baseline[:3]), log))

    results = []
    for name, what, alternatives in chosen:
        started = time.time()
        applied = apply(tree, alternatives)
        if applied is None:
            results.append((name, "NOT APPLIED", "pattern not found once under engine/", what))
            print("%-28s not applied" % name, flush=True)
            continue
        path, original = applied
        try:
            failed = build_and_test(build, tree, log, args)
            if failed is None:
                verdict, detail = "killed", "does not compile"
            else:
                golden = [t for t in failed if "GoldenMap" in t or "PngGivesTheGolden" in t]
                verdict = "killed" if failed else "SURVIVED"
                detail = "%d failing tests (%d golden)" % (len(failed), len(golden)) if failed else "all tests pass"
                if failed:
                    others = [t for t in failed if t not in golden]
                    detail += "; e.g. " + ", ".join((others or golden)[:2])
        finally:
            with open(path, "w") as f:
                f.write(original)
        results.append((name, verdict, detail, what))
        print("%-28s %-9s %s (%.0f s)" % (name, verdict, detail, time.time() - started), flush=True)

    build_and_test(build, tree, log, args)  # leave the copy built as it was
    print("\n%-28s %-11s %s" % ("edit", "result", "detail"))
    for name, verdict, detail, what in results:
        print("%-28s %-11s %s -- %s" % (name, verdict, detail, what))
    survivors = [r for r in results if r[1] == "SURVIVED"]
    missing = [r for r in results if r[1] == "NOT APPLIED"]
    print("\n%d edits: %d killed, %d survived, %d not applied" %
          (len(results), len(results) - len(survivors) - len(missing), len(survivors), len(missing)))
    return 1 if survivors or missing else 0


if __name__ == "__main__":
    sys.exit(main())
