"""Segment many images: ``python3 -m veskar batch INPUT... --out DIR``.

Every input gets a label map in DIR, named after it (``photo.jpg`` gives
``photo.pgm``; files found in a folder keep their place below it). A run can be
interrupted and started again: outputs are written under a temporary name and
renamed when complete, and complete outputs are skipped. A file that cannot be
segmented is listed with its reason in the report file and does not stop the
others; the exit status is then 1.

Images run in local worker processes (or threads), or on a Dask distributed
cluster given by ``--scheduler tcp://HOST:PORT``. On a cluster every worker
reads the inputs and writes the outputs itself, so all of them must see the
same paths (a shared file system) and have this package installed.
"""

import argparse
import collections
import concurrent.futures
from concurrent.futures.process import BrokenProcessPool
import os
import sys
import time

# Files in a folder are taken by these extensions; files named on the command
# line are taken whatever they are called.
IMAGE_EXTENSIONS = {
    ".bmp", ".gif", ".jpeg", ".jpg", ".pbm", ".pgm", ".png", ".pnm", ".ppm", ".tif", ".tiff", ".webp",
}
REPORT_NAME = "batch-report.txt"

Job = collections.namedtuple("Job", "source target")
Outcome = collections.namedtuple("Outcome", "source target error")


def _walk_images(folder, skipped_folder):
    for root, folders, files in os.walk(folder):
        folders[:] = sorted(f for f in folders if not f.startswith(".")
                            and os.path.realpath(os.path.join(root, f)) != skipped_folder)
        for name in sorted(files):
            if not name.startswith(".") and os.path.splitext(name)[1].lower() in IMAGE_EXTENSIONS:
                yield os.path.join(root, name)


def collect_jobs(inputs, out_dir):
    """Pairs every input image with its output path.

    Returns the jobs and the inputs that cannot be run, as ``(source, reason)``.
    The output folder itself is never searched for inputs.
    """
    jobs, problems, taken = [], [], {}
    out_real = os.path.realpath(out_dir)
    for given in inputs:
        if os.path.isdir(given):
            pairs = [(path, os.path.relpath(path, given)) for path in _walk_images(given, out_real)]
        elif os.path.exists(given):
            pairs = [(given, os.path.basename(given))]
        else:
            problems.append((given, "no such file or folder"))
            continue
        for source, relative in pairs:
            target = os.path.join(out_dir, os.path.splitext(relative)[0] + ".pgm")
            first = taken.setdefault(os.path.normpath(target), source)
            if first != source:
                problems.append((source, "its output %s is already the output of %s" % (target, first)))
            else:
                jobs.append(Job(source, target))
    return jobs, problems


def is_complete_label_map(path):
    """True when the file is a label map whose samples are all there."""
    try:
        with open(path, "rb") as file:
            head = file.read(256)
            lines = head.split(b"\n", 4)
            if len(lines) < 5 or lines[0] != b"P5" or not lines[1].startswith(b"#"):
                return False
            width, height = (int(n) for n in lines[2].split())
            sample = {b"255": 1, b"65535": 2}[lines[3]]
            header = len(head) - len(lines[4])
            return os.fstat(file.fileno()).st_size == header + width * height * sample
    except (OSError, ValueError, KeyError):
        return False


def segment_file(source, target, regions):
    """Segments one file into its label map; returns the error text, or None.

    Runs in a worker, so it never raises: a bad file is a result, not a failure
    of the batch.
    """
    try:
        from . import read_image, segment, write_labels
        labels = segment(read_image(source), regions)
        os.makedirs(os.path.dirname(target) or ".", exist_ok=True)
        # The writer puts the map beside the target and renames it when complete.
        write_labels(target, labels)
        return None
    except Exception as error:  # every reason ends up in the report
        return "%s: %s" % (type(error).__name__, error)


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

    def submit(self, job, regions):
        return self.executor.submit(self.work, job.source, job.target, regions)

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


class DaskRunner:
    """A Dask distributed cluster; its scheduler places the work."""

    def __init__(self, address):
        import distributed
        self.distributed = distributed
        self.client = distributed.Client(address)
        self.completed = distributed.as_completed()
        self.done = []

    @property
    def capacity(self):
        return max(1, sum(self.client.nthreads().values()))

    def submit(self, job, regions):
        future = self.client.submit(segment_file, job.source, job.target, regions, pure=False)
        self.completed.add(future)
        return future

    def next_done(self, pending):
        return [next(self.completed)]

    def result(self, future):
        # A worker that died on this image several times gives KilledWorker.
        try:
            return future.result()
        except Exception as error:
            return "%s: %s" % (type(error).__name__, error)

    def is_broken(self, future):
        return False

    def close(self):
        self.client.close()


def run_jobs(runner, jobs, regions, on_outcome):
    """Runs the jobs with a bounded number in flight, reporting every outcome.

    When a worker process dies, every image then in flight is run again alone,
    so that only an image that kills a worker by itself is failed.
    """
    queue = collections.deque(jobs)
    suspects = []
    pending = {}
    window = 2 * runner.capacity
    while queue or pending:
        while queue and not suspects and len(pending) < window:
            job = queue.popleft()
            pending[runner.submit(job, regions)] = job
        for future in runner.next_done(list(pending)):
            job = pending.pop(future)
            if runner.is_broken(future):
                suspects.append(job)
            else:
                on_outcome(Outcome(job.source, job.target, runner.result(future)))
        if suspects and not pending:
            runner.replace_broken()
            for job in suspects:
                alone = runner.submit(job, regions)
                runner.next_done([alone])
                if runner.is_broken(alone):
                    runner.replace_broken()
                    on_outcome(Outcome(job.source, job.target, "the worker process died on this image"))
                else:
                    on_outcome(Outcome(job.source, job.target, runner.result(alone)))
            suspects = []


def write_report(path, counts, failures):
    temporary = path + ".part"
    with open(temporary, "w", encoding="utf-8") as report:
        report.write("# segmented %d, skipped %d (complete), failed %d\n"
                     % (counts["segmented"], counts["skipped"], len(failures)))
        for source, reason in failures:
            report.write("%s\t%s\n" % (source, reason.replace("\n", " ")))
    os.replace(temporary, path)


def _count(text):
    value = int(text)
    if value < 0:
        raise argparse.ArgumentTypeError("must be 0 or more")
    return value


def _positive(text):
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError("must be 1 or more")
    return value


def parse_arguments(argv):
    parser = argparse.ArgumentParser(prog="python3 -m veskar", description="Segment images into label maps.")
    commands = parser.add_subparsers(dest="command", required=True)
    batch = commands.add_parser("batch", help="segment files and folders of images into DIR",
                                description=__doc__.split("\n\n", 1)[1],
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    batch.add_argument("inputs", nargs="+", metavar="INPUT", help="image file, or folder searched for images")
    batch.add_argument("--out", required=True, metavar="DIR", help="folder for the label maps")
    batch.add_argument("--regions", type=_count, metavar="N",
                       help="regions per image (default: as many as the merging rules leave)")
    batch.add_argument("--workers", type=_positive, metavar="K", default=len(os.sched_getaffinity(0)),
                       help="local worker processes (default: one per processor)")
    batch.add_argument("--threads", action="store_true", help="local workers are threads, not processes")
    batch.add_argument("--scheduler", metavar="ADDRESS",
                       help="run on the Dask distributed cluster of this scheduler (tcp://HOST:PORT)")
    batch.add_argument("--report", metavar="FILE", help="failure report (default: DIR/%s)" % REPORT_NAME)
    batch.add_argument("--no-progress", action="store_true", help="no progress bar")
    return parser.parse_args(argv)


def main(argv=None):
    arguments = parse_arguments(sys.argv[1:] if argv is None else argv)
    from tqdm import tqdm

    os.makedirs(arguments.out, exist_ok=True)
    report_path = arguments.report or os.path.join(arguments.out, REPORT_NAME)
    jobs, problems = collect_jobs(arguments.inputs, arguments.out)
    failures = list(problems)
    counts = collections.Counter()
    todo = []
    for job in jobs:
        if is_complete_label_map(job.target):
            counts["skipped"] += 1
        else:
            todo.append(job)

    started = time.monotonic()
    # Inputs refused before the run count as failed images from the start.
    progress = tqdm(total=len(todo) + len(problems), initial=len(problems), unit="image",
                    disable=arguments.no_progress, file=sys.stderr)

    def on_outcome(outcome):
        if outcome.error is None:
            counts["segmented"] += 1
        else:
            failures.append((outcome.source, outcome.error))
        progress.update(1)
        progress.set_postfix(done=counts["segmented"], failed=len(failures), refresh=False)

    runner = DaskRunner(arguments.scheduler) if arguments.scheduler else LocalRunner(arguments.workers,
                                                                                    arguments.threads)
    try:
        run_jobs(runner, todo, arguments.regions, on_outcome)
    except KeyboardInterrupt:
        failures.append(("(batch)", "interrupted; run the same command again to finish"))
        return 130
    finally:
        progress.close()
        runner.close()
        write_report(report_path, counts, failures)
    elapsed = time.monotonic() - started
    print("segmented %d, skipped %d (complete), failed %d in %.1f s (%.2f images/s); report: %s"
          % (counts["segmented"], counts["skipped"], len(failures), elapsed,
             counts["segmented"] / elapsed if elapsed > 0 else 0.0, report_path))
    return 1 if failures else 0
