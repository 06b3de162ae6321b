#!/usr/bin/env python3
"""Times scikit-image's felzenszwalb on the synthetic images of bench_segmentation, for a side-by-side."""
import argparse
import statistics
import sys
import time
import zlib

try:
    import numpy as np
    from skimage.segmentation import felzenszwalb
except ImportError:
    print("compare_skimage.py: scikit-image is not installed (Debian: python3-skimage); skipped")
    sys.exit(0)

# Must match bench_segmentation.cpp, so both programs segment the same pixels.
SEED = 20240601
BLOCK_COLUMNS = 16
BLOCK_ROWS = 12
NOISE_AMPLITUDE = 16


def mix32(x):
    """The benchmark's 32-bit hash, on uint32 arrays (products wrap as in C++)."""
    x = x ^ (x >> np.uint32(16))
    x = x * np.uint32(0x7FEB352D)
    x = x ^ (x >> np.uint32(15))
    x = x * np.uint32(0x846CA68B)
    return x ^ (x >> np.uint32(16))


def mixed_seed(seed):
    return mix32(np.array([seed], dtype=np.uint32))[0]


def synthetic_image(width, height):
    """Blocks of flat colour plus seeded noise, as an height x width x 3 uint8 array."""
    y, x, channel = np.meshgrid(np.arange(height, dtype=np.uint32), np.arange(width, dtype=np.uint32),
                                np.arange(3, dtype=np.uint32), indexing="ij")
    block = (y * BLOCK_ROWS // height) * BLOCK_COLUMNS + x * BLOCK_COLUMNS // width
    flat = (mix32(mixed_seed(SEED) ^ (block * 3 + channel)) % 256).astype(np.int32)
    counter = (y * width + x) * 3 + channel
    noise = (mix32(mixed_seed(SEED + 1) ^ counter) % (2 * NOISE_AMPLITUDE + 1)).astype(np.int32) - NOISE_AMPLITUDE
    return np.clip(flat + noise, 0, 255).astype(np.uint8)


def parse_sizes(text):
    return [tuple(int(n) for n in item.split("x")) for item in text.split(",")]


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--sizes", default="640x480,1000x1000,2560x1600", type=parse_sizes)
    parser.add_argument("--runs", default=3, type=int)
    parser.add_argument("--scale", default=100.0, type=float)
    parser.add_argument("--sigma", default=0.8, type=float)
    parser.add_argument("--min-size", default=50, type=int)
    args = parser.parse_args()
    print(f"felzenszwalb(scale={args.scale}, sigma={args.sigma}, min_size={args.min_size}), "
          f"median of {args.runs} run(s), times in ms")
    print(f"{'size':<12} {'checksum':>8} {'ms':>10} {'regions':>8}")
    for width, height in args.sizes:
        image = synthetic_image(width, height)
        checksum = zlib.adler32(image.tobytes())
        times = []
        for _ in range(args.runs):
            start = time.perf_counter()
            labels = felzenszwalb(image, scale=args.scale, sigma=args.sigma, min_size=args.min_size)
            times.append((time.perf_counter() - start) * 1000)
        size = f"{width}x{height}"
        print(f"{size:<12} {checksum:08x} {statistics.median(times):10.1f} {labels.max() + 1:8d}", flush=True)


if __name__ == "__main__":
    main()
