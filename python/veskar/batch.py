"""Segment many images: ``python3 -m veskar batch INPUT... --out DIR``.

Every input gets a label map in DIR, named after it (``photo.jpg`` gives
``photo.pgm``; files found in a folder keep their place below it; inputs whose
names differ only in the extension keep it, ``x.png.pgm`` beside ``x.ppm.pgm``).
--preview, --outline, --labels-png and --region-table add, beside each map,
``<name>-preview.png``, ``<name>-outline.jpg``, ``<name>-labels.png`` and
``<name>-regions.csv``, the files Dornick's options of those names write.

A run can be interrupted and started again: outputs are written under a
temporary name and renamed when complete, and images whose outputs are complete
are skipped. DIR/batch-settings.jsonl records the settings every map was made
with; a run with other settings refuses to touch those images unless --force
is given, and then makes them again. A file that cannot be segmented is listed
with its reason in the report file and does not stop the others; the exit
status is then 1.

Images run in local worker processes (or threads), or on a Dask distributed
cluster given by ``--scheduler tcp://HOST:PORT``. On a cluster every worker
reads the inputs and writes the outputs itself, so all of them must see the
same paths (a shared file system) and import this package at this version;
both are checked before any image is sent.
"""

import argparse
import collections
import concurrent.futures
from concurrent.futures.process import BrokenProcessPool
import json
import os
import sys
import time
import warnings

from . import __version__

# Files in a folder are taken by these extensions; files named on the command
# line are taken whatever they are called.
IMAGE_EXTENSIONS = {
    ".bmp", ".gif", ".jpeg", ".jpg", ".pbm", ".pgm", ".png", ".pnm", ".ppm", ".tif", ".tiff", ".webp",
}
REPORT_NAME = "batch-report.txt"
SETTINGS_NAME = "batch-settings.jsonl"
# The files beside a map, by the option that asks for them: (name suffix, what the report calls them).
EXTRA_OUTPUTS = collections.OrderedDict([
    ("preview", ("-preview.png", "previews")),
    ("outline", ("-outline.jpg", "outlines")),
    ("labels_png", ("-labels.png", "PNG label maps")),
    ("region_table", ("-regions.csv", "region tables")),
])
FEWEST_REGIONS, MOST_REGIONS = 2, 2048
# The comment line every label map carries; a file with it is an output, never an input.
LABEL_MAP_COMMENT = b"# Created by Brindle image segmentation tool"

Job = collections.namedtuple("Job", "source target")
Outcome = collections.namedtuple("Outcome", "source target error notes")


def _walk_images(folder, skipped_folder):
    for root, folders, files in os.walk(folder):
        folders[:] = sorted(f for f in folders if not f.startswith(".")
                            and os.path.realpath(os.path.join(root, f)) != skipped_folder)
        for name in sorted(files):
            if not name.startswith(".") and os.path.splitext(name)[1].lower() in IMAGE_EXTENSIONS:
                yield os.path.join(root, name)


def _identity(path):
    """What writing to path would change: the file there, or the free name in its folder."""
    try:
        status = os.stat(path)
        return status.st_dev, status.st_ino
    except OSError:
        pass
    try:
        status = os.stat(os.path.dirname(path) or ".")
        return status.st_dev, status.st_ino, os.path.basename(path)
    except OSError:
        return os.path.abspath(path)


def _is_earlier_output(path):
    """True for a label map, or a file a batch writes beside one (a preview beside its map)."""
    if is_complete_label_map(path, LABEL_MAP_COMMENT):
        return True
    return any(path.endswith(suffix) and is_complete_label_map(path[:-len(suffix)] + ".pgm", LABEL_MAP_COMMENT)
               for suffix, _ in EXTRA_OUTPUTS.values())


def collect_jobs(inputs, out_dir, kinds=()):
    """Pairs every input image with its output path.

    Returns the jobs and the inputs that cannot be run, as ``(source, reason)``.
    The output folder itself is never searched for inputs, nor are the outputs
    of an earlier batch found in folders. Inputs whose names differ only in
    their extension keep it in their output names. No job writes onto an input,
    with its map or with the files beside it (``kinds``, keys of EXTRA_OUTPUTS):
    files are compared by what they are, so links and ``./`` count.
    """
    pairs, problems, taken = [], [], {}
    out_real = os.path.realpath(out_dir)
    for given in inputs:
        if os.path.isdir(given):
            pairs += [(path, os.path.relpath(path, given)) for path in _walk_images(given, out_real)
                      if not _is_earlier_output(path)]
        elif os.path.exists(given):
            pairs.append((given, os.path.basename(given)))
        else:
            problems.append((given, "no such file or folder"))
    stems = collections.Counter(os.path.normpath(os.path.splitext(relative)[0])
                                for source, relative in set(pairs))
    inputs_by_identity = {_identity(source): source for source, _ in pairs}
    jobs, seen = [], set()
    for source, relative in pairs:
        stem = os.path.splitext(relative)[0]
        name = relative if stems[os.path.normpath(stem)] > 1 else stem
        target = os.path.join(out_dir, name + ".pgm")
        first = taken.setdefault(os.path.normpath(target), source)
        replaced = [(path, inputs_by_identity[_identity(path)])
                    for path in [target] + list(extra_outputs(target, kinds).values())
                    if _identity(path) in inputs_by_identity]
        if replaced:
            problems.append((source, "its output %s would replace the input %s" % replaced[0]))
        elif first != source:
            problems.append((source, "its output %s is already the output of %s" % (target, first)))
        elif (source, target) not in seen:
            seen.add((source, target))
            jobs.append(Job(source, target))
    return jobs, problems


def extra_outputs(target, kinds):
    """The files beside the map ``target`` for the output kinds asked for."""
    name = target[:-len(".pgm")] if target.endswith(".pgm") else target
    return {kind: name + EXTRA_OUTPUTS[kind][0] for kind in kinds}


def is_complete_label_map(path, comment=None):
    """True when the file is a label map whose samples are all there (and carries the comment, if given)."""
    try:
        with open(path, "rb") as file:
            head = file.read(256)
            lines = head.split(b"\n", 4)
            if len(lines) < 5 or lines[0] != b"P5" or not lines[1].startswith(b"#"):
                return False
            if comment is not None and lines[1] != comment:
                return False
            width, height = (int(n) for n in lines[2].split())
            sample = {b"255": 1, b"65535": 2}[lines[3]]
            header = len(head) - len(lines[4])
            return os.fstat(file.fileno()).st_size == header + width * height * sample
    except (OSError, ValueError, KeyError):
        return False


def is_complete(job, kinds):
    return is_complete_label_map(job.target) and all(
        os.path.isfile(path) for path in extra_outputs(job.target, kinds).values())


def segment_file(source, target, settings):
    """Segments one file into its label map and the files beside it.

    Returns the error text (or None) and the loader's warnings. Runs in a
    worker, so it never raises: a bad file is a result, not a failure of the
    batch.
    """
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        try:
            from . import _core, segment, write_labels
            image = _core.read_image(source, 0.0, False, settings["auto_orient"], "--auto-orient")
            labels, colors = segment(image, settings["regions"], return_colors=True, fast=settings["fast"])
            os.makedirs(os.path.dirname(target) or ".", exist_ok=True)
            extras = extra_outputs(target, settings["outputs"])
            # The files beside the map first: a map stands only where they are complete.
            if extras:
                _core.write_outputs(image, labels, colors, extras.get("preview", ""), extras.get("outline", ""),
                                    extras.get("labels_png", ""), extras.get("region_table", ""))
            # The writer puts the map beside the target and renames it when complete.
            write_labels(target, labels)
            error = None
        except Exception as failure:  # every reason ends up in the report
            error = "%s: %s" % (type(failure).__name__, failure)
    return error, [str(warning.message) for warning in caught]


class LocalRunner:
    """Worker processes or threads on this machine."""

    def __init__(self, workers, threads, work=None):
        self.workers = workers
        self.threads = threads
        self.work = work or segment_file
        self.executor = self._new_executor(workers)

    def _new_executor(self, workers):
        if self.threads:
            return concurrent.futures.ThreadPoolExecutor(workers)
        return concurrent.futures.ProcessPoolExecutor(workers)

    @property
    def capacity(self):
        return self.workers

    def submit(self, job, settings):
        return self.executor.submit(self.work, job.source, job.target, settings)

    def next_done(self, pending):
        done, _ = concurrent.futures.wait(pending, return_when=concurrent.futures.FIRST_COMPLETED)
        return list(done)

    def result(self, future):
        return future.result()

    def is_broken(self, future):
        return isinstance(future.exception(), BrokenProcessPool)

    def replace_broken(self):
        self.executor.shutdown(wait=False, cancel_futures=True)
        self.executor = self._new_executor(self.workers)

    def close(self):
        self.executor.shutdown(wait=True, cancel_futures=True)


def _probe_worker(sources, out_dir):
    """What a worker can do: run on it by value, so it needs nothing of this package."""
    import os
    import socket
    import sys
    found = {"python": sys.executable, "host": socket.gethostname(), "version": None, "error": None}
    try:
        import veskar
        found["version"] = veskar.__version__
    except Exception as failure:
        found["error"] = "%s: %s" % (type(failure).__name__, failure)
    found["unreachable"] = [source for source in sources if not os.path.isfile(source)]
    found["writable"] = os.path.isdir(out_dir) and os.access(out_dir, os.W_OK | os.X_OK)
    return found


def worker_problems(reports, out_dir, scheduler):
    """What keeps the workers from running this batch, one line each, from their probe reports."""
    if not reports:
        return ["the scheduler has no workers"]
    problems = []
    for address, found in sorted(reports.items()):
        worker = "worker %s (%s on %s)" % (address, found["python"], found["host"])
        if found["error"] is not None:
            problems.append("%s cannot import veskar (%s): start the workers with an interpreter that has it, "
                            "such as %s -m distributed.cli.dask_worker %s"
                            % (worker, found["error"], sys.executable, scheduler))
        elif found["version"] != __version__:
            problems.append("%s has veskar %s, this run %s" % (worker, found["version"], __version__))
        if found["unreachable"]:
            more = len(found["unreachable"]) - 1
            problems.append("%s cannot read %s%s" % (worker, found["unreachable"][0],
                                                      " and %d more inputs" % more if more else ""))
        if not found["writable"]:
            problems.append("%s cannot write to %s" % (worker, out_dir))
    return problems


class DaskRunner:
    """A Dask distributed cluster; its scheduler places the work."""

    def __init__(self, address):
        import distributed
        self.address = address
        self.client = distributed.Client(address)
        self.completed = distributed.as_completed()

    def check_workers(self, sources, out_dir):
        """Lines saying why the cluster cannot run these jobs; none when it can."""
        import cloudpickle
        cloudpickle.register_pickle_by_value(sys.modules[__name__])
        try:
            reports = self.client.run(_probe_worker, sources, out_dir)
        finally:
            cloudpickle.unregister_pickle_by_value(sys.modules[__name__])
        return worker_problems(reports, out_dir, self.address)

    @property
    def capacity(self):
        return max(1, sum(self.client.nthreads().values()))

    def submit(self, job, settings):
        future = self.client.submit(segment_file, job.source, job.target, settings, pure=False)
        self.completed.add(future)
        return future

    def next_done(self, pending):
        return [next(self.completed)]

    def result(self, future):
        # A worker that died on this image several times gives KilledWorker.
        try:
            return future.result()
        except Exception as error:
            return "%s: %s" % (type(error).__name__, error), []

    def is_broken(self, future):
        return False

    def close(self):
        self.client.close()


def run_jobs(runner, jobs, settings, on_outcome):
    """Runs the jobs with a bounded number in flight, reporting every outcome.

    When a worker process dies, every image then in flight is run again alone,
    so that only an image that kills a worker by itself is failed.
    """
    queue = collections.deque(jobs)
    suspects = []
    pending = {}
    window = 2 * runner.capacity

    def report(job, result):
        error, notes = result
        on_outcome(Outcome(job.source, job.target, error, notes))

    while queue or pending:
        while queue and not suspects and len(pending) < window:
            job = queue.popleft()
            pending[runner.submit(job, settings)] = job
        for future in runner.next_done(list(pending)):
            job = pending.pop(future)
            if runner.is_broken(future):
                suspects.append(job)
            else:
                report(job, runner.result(future))
        if suspects and not pending:
            runner.replace_broken()
            for job in suspects:
                alone = runner.submit(job, settings)
                runner.next_done([alone])
                if runner.is_broken(alone):
                    runner.replace_broken()
                    report(job, ("the worker process died on this image", []))
                else:
                    report(job, runner.result(alone))
            suspects = []


class SettingsRecord:
    """DIR/batch-settings.jsonl: the settings and extra outputs each map was made with.

    Kept apart from the maps, whose layout is fixed. One JSON line per change,
    appended as images finish, so a killed run loses at most its last line; a
    map without an entry was made by a run that did not live to record it, and
    is made again.
    """

    def __init__(self, out_dir):
        self.path = os.path.join(out_dir, SETTINGS_NAME)
        self.out_dir = out_dir
        self.maps = {}
        try:
            with open(self.path, encoding="utf-8") as file:
                lines = file.read().splitlines()
        except FileNotFoundError:
            lines = []
        for number, line in enumerate(lines):
            try:
                entry = json.loads(line)
                key = entry.pop("map")
            except (ValueError, KeyError, AttributeError, TypeError):
                if number == len(lines) - 1:
                    break  # cut short by a kill
                raise SystemExit("python3 -m veskar batch: %s is not a settings record; remove it to start "
                                 "afresh" % self.path)
            if entry.get("forgotten"):
                self.maps.pop(key, None)
            else:
                self.maps[key] = entry
        self.log = None

    def key(self, target):
        return os.path.relpath(target, self.out_dir)

    def get(self, target):
        return self.maps.get(self.key(target))

    def _append(self, entry):
        self.log.write(json.dumps(entry, sort_keys=True) + "\n")
        self.log.flush()

    def set(self, target, settings):
        entry = dict(settings, veskar=__version__)
        self.maps[self.key(target)] = entry
        self._append(dict(entry, map=self.key(target)))

    def forget(self, target):
        self.maps.pop(self.key(target), None)
        self._append({"map": self.key(target), "forgotten": True})

    def open(self):
        """Rewrites the record with one line per map, then takes further lines."""
        temporary = self.path + ".part"
        with open(temporary, "w", encoding="utf-8") as file:
            for key, entry in sorted(self.maps.items()):
                file.write(json.dumps(dict(entry, map=key), sort_keys=True) + "\n")
        os.replace(temporary, self.path)
        self.log = open(self.path, "a", encoding="utf-8")

    def close(self):
        if self.log is not None:
            self.log.close()
            self.log = None


def same_settings(made_with, settings):
    # Records from before the fast mode existed hold maps of the default mode.
    return (all(made_with.get(name) == settings[name] for name in ("regions", "auto_orient"))
            and bool(made_with.get("fast")) == settings["fast"])


def describe(settings):
    regions = settings.get("regions")
    text = "--regions %d" % regions if regions is not None else "no --regions"
    return text + (" --auto-orient" if settings.get("auto_orient") else "") + (" --fast" if settings.get("fast") else "")


def plan(jobs, record, settings, force):
    """Splits the jobs into those to run, those complete, and those made with other settings.

    With ``force`` the last are run too.
    """
    todo, skipped, other = [], [], []
    for job in jobs:
        made_with = record.get(job.target)
        if made_with is not None and not same_settings(made_with, settings) and os.path.exists(job.target):
            (todo if force else other).append(job)
        elif made_with is not None and is_complete(job, settings["outputs"]):
            skipped.append(job)
        else:
            todo.append(job)
    return todo, skipped, other


def forget_earlier_outputs(todo, record, settings):
    """Before a job runs again: its record entry goes, and so do the files beside
    its map that an earlier run made and this one will not make again."""
    for job in todo:
        made_with = record.get(job.target)
        if made_with is None:
            continue
        unwanted = set(made_with.get("outputs", [])) - set(settings["outputs"])
        for path in extra_outputs(job.target, sorted(unwanted & set(EXTRA_OUTPUTS))).values():
            try:
                os.remove(path)
            except FileNotFoundError:
                pass
        record.forget(job.target)


def write_report(path, counts, failures, notes):
    temporary = path + ".part"
    with open(temporary, "w", encoding="utf-8") as report:
        report.write("# %s\n" % summary(counts, failures))
        for source, reason in failures:
            report.write("%s\t%s\n" % (source, reason.replace("\n", " ")))
        for source, note in notes:
            report.write("%s\twarning: %s\n" % (source, note.replace("\n", " ")))
    os.replace(temporary, path)


def summary(counts, failures):
    written = ["%d maps" % counts["segmented"]] + [
        "%d %s" % (counts[kind], words) for kind, (_, words) in EXTRA_OUTPUTS.items() if counts[kind]]
    return "segmented %d, skipped %d (complete), failed %d; written: %s" % (
        counts["segmented"], counts["skipped"], len(failures), ", ".join(written))


def _whole_number(low, high):
    def read(text):
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError("%r is not a whole number" % text) from None
        if not low <= value <= (high if high is not None else value):
            within = "within %d to %d" % (low, high) if high is not None else "%d or more" % low
            raise argparse.ArgumentTypeError("%d is not %s" % (value, within))
        return value
    return read


def parse_arguments(argv):
    parser = argparse.ArgumentParser(prog="python3 -m veskar", description="Segment images into label maps.")
    commands = parser.add_subparsers(dest="command", required=True)
    batch = commands.add_parser("batch", help="segment files and folders of images into DIR",
                                description=__doc__.split("\n\n", 1)[1],
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    batch.add_argument("inputs", nargs="+", metavar="INPUT", help="image file, or folder searched for images")
    batch.add_argument("--out", required=True, metavar="DIR", help="folder for the label maps")
    batch.add_argument("--regions", type=_whole_number(FEWEST_REGIONS, MOST_REGIONS), metavar="N",
                       help="regions per image, %d to %d (default: as many as the merging rules leave)"
                            % (FEWEST_REGIONS, MOST_REGIONS))
    for kind, (suffix, words) in EXTRA_OUTPUTS.items():
        batch.add_argument("--" + kind.replace("_", "-"), action="store_true",
                           help="also write <name>%s beside each map, as Dornick's option of that name" % suffix)
    batch.add_argument("--auto-orient", action="store_true",
                       help="turn each image as its EXIF orientation says, as viewers show it")
    batch.add_argument("--fast", action="store_true",
                       help="the engine's fast mode: as good, several times faster, other maps than the default")
    batch.add_argument("--force", action="store_true",
                       help="make again the maps in DIR that were made with other settings")
    batch.add_argument("--workers", type=_whole_number(1, None), metavar="K", default=len(os.sched_getaffinity(0)),
                       help="local worker processes (default: one per processor)")
    batch.add_argument("--threads", action="store_true", help="local workers are threads, not processes")
    batch.add_argument("--scheduler", metavar="ADDRESS",
                       help="run on the Dask distributed cluster of this scheduler (tcp://HOST:PORT)")
    batch.add_argument("--report", metavar="FILE", help="failure report (default: DIR/%s)" % REPORT_NAME)
    batch.add_argument("--no-progress", action="store_true", help="no progress bar")
    arguments = parser.parse_args(argv)
    if os.path.exists(arguments.out) and not os.path.isdir(arguments.out):
        batch.error("--out %s is a file, not a folder" % arguments.out)
    return batch, arguments


def file_signature(path):
    try:
        status = os.stat(path)
        return status.st_ino, status.st_mtime_ns
    except OSError:
        return None


def main(argv=None):
    parser, arguments = parse_arguments(sys.argv[1:] if argv is None else argv)
    from tqdm import tqdm

    # Workers may run anywhere and in any folder: they get absolute paths.
    out_dir = os.path.abspath(arguments.out)
    settings = {"regions": arguments.regions, "auto_orient": arguments.auto_orient, "fast": arguments.fast,
                "outputs": [kind for kind in EXTRA_OUTPUTS if getattr(arguments, kind)]}
    jobs, problems = collect_jobs([os.path.abspath(given) for given in arguments.inputs], out_dir,
                                  settings["outputs"])
    if not jobs and not problems:
        parser.error("no images in %s (files ending in %s)"
                     % (", ".join(arguments.inputs), ", ".join(sorted(IMAGE_EXTENSIONS))))
    os.makedirs(out_dir, exist_ok=True)
    report_path = arguments.report or os.path.join(out_dir, REPORT_NAME)
    record = SettingsRecord(out_dir)
    todo, skipped, other = plan(jobs, record, settings, arguments.force)
    if other:
        made_with = record.get(other[0].target)
        print("python3 -m veskar batch: %d maps in %s were made with other settings (%s, this run %s), %s among "
              "them; --force makes them again" % (len(other), out_dir, describe(made_with), describe(settings),
                                                  other[0].target), file=sys.stderr)
        return 2

    runner = DaskRunner(arguments.scheduler) if arguments.scheduler else LocalRunner(arguments.workers,
                                                                                    arguments.threads)
    if arguments.scheduler:
        refusals = runner.check_workers([job.source for job in todo], out_dir)
        if refusals:
            runner.close()
            for line in refusals:
                print("python3 -m veskar batch: %s" % line, file=sys.stderr)
            return 2
    record.open()
    forget_earlier_outputs(todo, record, settings)
    failures = list(problems)
    notes = []
    counts = collections.Counter(skipped=len(skipped))
    before = {job.target: file_signature(job.target) for job in todo}
    unreported = {job.target: job for job in todo}

    started = time.monotonic()
    # Inputs refused before the run count as failed images from the start.
    progress = tqdm(total=len(todo) + len(problems), initial=len(problems), unit="image",
                    disable=arguments.no_progress, file=sys.stderr)

    def count_written(target):
        counts["segmented"] += 1
        for kind in settings["outputs"]:
            counts[kind] += 1
        record.set(target, settings)

    def on_outcome(outcome):
        unreported.pop(outcome.target, None)
        notes.extend((outcome.source, note) for note in outcome.notes)
        if outcome.error is None:
            count_written(outcome.target)
        else:
            failures.append((outcome.source, outcome.error))
        progress.update(1)
        progress.set_postfix(done=counts["segmented"], failed=len(failures), refresh=False)

    status = 1 if failures else 0
    try:
        run_jobs(runner, todo, settings, on_outcome)
    except KeyboardInterrupt:
        failures.append(("(batch)", "interrupted; run the same command again to finish"))
        status = 130
    finally:
        progress.close()
        runner.close()
        # Workers may have finished images whose outcome never came back.
        for target, job in unreported.items():
            if file_signature(target) != before[target] and is_complete(job, settings["outputs"]):
                count_written(target)
        record.close()
        write_report(report_path, counts, failures, notes)
    elapsed = time.monotonic() - started
    print("%s in %.1f s (%.2f images/s); report: %s"
          % (summary(counts, failures), elapsed, counts["segmented"] / elapsed if elapsed > 0 else 0.0,
             report_path))
    return status if status == 130 else (1 if failures else 0)
