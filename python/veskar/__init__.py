"""Region-merging colour segmentation over numpy arrays.

The functions here are a thin layer over the Veskar library: ``segment`` runs
the same engine as the ``Dornick AS`` program and gives the same label map,
``read_image`` decodes files with the program's own loader, ``grid`` is its
grid layout and ``write_labels`` its label-map writer.

A failure of the library raises an exception (``ValueError`` for bad input,
``RuntimeError`` otherwise); it never ends the Python process. The engine
releases the GIL while it runs, so threads segment in parallel.
"""

import os

from . import _core

__version__ = _core.__version__

__all__ = ["segment", "grid", "read_image", "write_labels", "__version__"]


def segment(image, regions=None, margin=0, *, return_colors=False):
    """Segment a colour image into regions of similar colour and simple shape.

    Parameters
    ----------
    image : (M, N, 3) or (M, N) ndarray
        RGB or grey image. ``uint8`` values are used as they are; floating point
        values in [0, 1] are multiplied by 255 and rounded to the nearest byte,
        an exact half rounding down (values outside [0, 1] are clamped), which is
        how the ``Dornick`` program rounds the planes it decodes. A grey image
        stands for three equal channels. Width and height are at most 32767.
    regions : int, optional
        Number of regions wanted. With ``None`` the merging rules decide how many
        remain (at most 255), as the program without a count; with a number the
        regions are merged down to exactly that many (taken within 2 to 2048).
    margin : int, optional
        Border of this many pixels on each side left out of the segmentation; it
        becomes one extra region, label 0.
    return_colors : bool, optional
        Also return the display colour of every region.

    Returns
    -------
    labels : (M, N) ndarray of int32
        Region label of every pixel, numbered 0, 1, 2, ... without gaps: the
        values of the program's label map for the same image.
    colors : (R, 3) ndarray of uint8
        Only with ``return_colors=True``: RGB display colour of region ``i`` in
        row ``i``.

    Raises
    ------
    ValueError
        For an image of the wrong shape, type or content (NaN, infinity), an
        image that less the margin is narrower or lower than 5 pixels, or a
        negative ``regions`` or ``margin``.
    RuntimeError
        For any other failure of the library (memory exhausted, for instance).

    Examples
    --------
    >>> import numpy as np
    >>> import veskar
    >>> image = np.zeros((40, 60, 3), np.uint8)
    >>> image[:, 30:] = (200, 40, 40)
    >>> labels = veskar.segment(image, 2)
    >>> labels.shape, len(np.unique(labels))
    ((40, 60), 2)
    """
    return _core.segment(image, regions, margin, return_colors)


def grid(shape, cell):
    """Label a regular grid of square cells, as the program's grid layout does.

    Parameters
    ----------
    shape : tuple of int
        ``(height, width)`` of the image; further entries (channels) are ignored.
    cell : int
        Side of a cell in pixels, 1 or more.

    Returns
    -------
    labels : ndarray of int32, shape ``shape[:2]``
        Cells numbered row by row from the top-left corner; pixels right of or
        below the last whole cell get label 0.

    Raises
    ------
    ValueError
        For a cell size below 1 or a grid of more than 65535 cells.

    Examples
    --------
    >>> import veskar
    >>> veskar.grid((3, 5), 2)
    array([[0, 0, 1, 1, 0],
           [0, 0, 1, 1, 0],
           [0, 0, 0, 0, 0]], dtype=int32)
    """
    if len(shape) < 2:
        raise ValueError("shape must give at least a height and a width")
    return _core.grid(int(shape[0]), int(shape[1]), cell)


def read_image(path, *, max_megapixels=0, accept_damaged=False):
    """Decode an image file with the program's own loader.

    Parameters
    ----------
    path : str or os.PathLike
        Image file in any format the program reads (PNG, JPEG, GIF, TIFF, BMP,
        the netpbm family and WEBP, told by content; the first frame of an
        animation).
    max_megapixels : float, optional
        Refuse images larger than this; 0 allows as many as the machine's
        memory can segment.
    accept_damaged : bool, optional
        Decode what can be decoded of a damaged image (with a warning) instead
        of refusing it.

    Returns
    -------
    image : (M, N, 3) ndarray of uint8
        RGB values rounded exactly as the program rounds them, so that
        ``segment(read_image(path), n)`` equals the map ``Dornick AS path out n``
        writes.

    Raises
    ------
    RuntimeError
        When the file cannot be read or decoded, is damaged, too large for the
        limits, or larger than 32767 pixels on a side; the text gives the
        loader's reason.

    Warns
    -----
    RuntimeWarning
        What the program would tell about the file: further frames ignored,
        transparency dropped, damage accepted.
    """
    return _core.read_image(os.fspath(path), float(max_megapixels), bool(accept_damaged))


def write_labels(path, labels):
    """Write a label array as the program's PGM label map.

    Parameters
    ----------
    path : str or os.PathLike
        File to write.
    labels : (M, N) ndarray of int
        Labels within 0 to 65535. With a largest label below 255 the map has
        8-bit samples, else 16-bit samples written low byte first, as the
        program writes them.

    Raises
    ------
    ValueError
        For an array that is not 2-D and integer, or a label outside 0 to 65535.
    RuntimeError
        When the file cannot be written.
    """
    _core.write_labels(os.fspath(path), labels)
