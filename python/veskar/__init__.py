"""Region-merging colour segmentation over numpy arrays.

The functions here are a thin layer over the Veskar library: ``segment`` runs
the same engine as the ``Dornick AS`` program and gives the same label map,
``read_image`` decodes files with the program's own loader, ``grid`` is its
grid layout, ``write_labels`` and ``read_labels`` its label-map writer and a
reader for it, and ``preview``, ``outline`` and ``region_table`` give what its
``--preview``, ``--outline`` and ``--regions`` options write.

Images are taken as scikit-image takes them: H x W x 3 RGB, H x W x 4 RGBA (the
alpha channel is dropped) or H x W grey, of ``uint8``, ``uint16`` or floating
point values in [0, 1].

A failure of the library raises an exception (``ValueError`` for bad input,
``RuntimeError`` otherwise); it never ends the Python process. The engine
releases the GIL while it runs, so threads segment in parallel.
"""

import operator as _operator
import os as _os

import numpy as _np

from . import _core

__version__ = _core.__version__

__all__ = ["segment", "grid", "read_image", "write_labels", "read_labels", "preview", "outline",
           "region_table", "__version__"]

# The engine merges down to a count within this range.
_FEWEST_REGIONS = 2
_MOST_REGIONS = 2048


def _whole_number(value, name):
    """``value`` as a Python int: numpy integers are taken, bools and floats are not."""
    if isinstance(value, (bool, _np.bool_)):
        raise TypeError("%s must be an integer, got %r" % (name, value))
    try:
        return _operator.index(value)
    except TypeError:
        raise TypeError("%s must be an integer, got %s" % (name, type(value).__name__)) from None


def segment(image, regions=None, margin=0, *, start_label=0, return_colors=False, fast=False, threads=1):
    """Segment a colour image into regions of similar colour and simple shape.

    Parameters
    ----------
    image : (M, N, 3), (M, N, 4) or (M, N) ndarray
        RGB, RGBA or grey image, decoded as ``Dornick`` decodes a file holding
        the same values. ``uint8`` values are used as they are; ``uint16``
        values and floating point values in [0, 1] are rounded to the nearest
        byte, an exact half rounding down. A floating point image with values
        outside [0, 1] is refused. An alpha channel is dropped, with a warning
        when it is not opaque everywhere. A grey image stands for three equal
        channels. Width and height are at most 32767.
    regions : int, optional
        Number of regions wanted, 2 to 2048. With ``None`` the merging rules
        decide how many remain (at most 255), as the program without a count;
        with a number the regions are merged down to exactly that many.
    margin : int, optional
        Border of this many pixels on each side left out of the segmentation; it
        becomes one extra region, the first label.
    start_label : int, optional
        The first label. The default 0 gives the program's numbering; 1 leaves
        0 free for scikit-image's background convention (``regionprops``,
        ``label2rgb``).
    return_colors : bool, optional
        Also return the engine's display colour of every region: the colour of
        its colour model, close to but not its mean colour (``region_table``
        gives the mean).
    fast : bool, optional
        Merge inside tiles first, as the program's ``--fast`` does: as good a
        segmentation several times faster, but not the same map as the default.
    threads : int, optional
        Threads the engine may use, 1 or more (the program's ``--threads``).
        The map does not depend on it.

    Returns
    -------
    labels : (M, N) ndarray of int32
        Region label of every pixel, numbered ``start_label``,
        ``start_label + 1``, ... without gaps: less ``start_label``, the values
        of the program's label map for the same image.
    colors : (R, 3) ndarray of uint8
        Only with ``return_colors=True``: RGB display colour of label
        ``start_label + i`` in row ``i``.

    Raises
    ------
    ValueError
        For an image of the wrong shape, type or content (NaN, infinity, floats
        outside [0, 1]), an image that less the margin is narrower or lower
        than 5 pixels, ``regions`` outside 2 to 2048, a negative ``margin`` or
        ``start_label``, or ``threads`` below 1.
    TypeError
        For a count, margin, first label or thread count that is not an integer.
    RuntimeError
        For any other failure of the library (memory exhausted, for instance).

    Warns
    -----
    RuntimeWarning
        When an alpha channel that is not opaque everywhere is dropped.

    Examples
    --------
    >>> import numpy as np
    >>> import veskar
    >>> image = np.zeros((40, 60, 3), np.uint8)
    >>> image[:, 30:] = (200, 40, 40)
    >>> labels = veskar.segment(image, 2)
    >>> labels.shape, len(np.unique(labels))
    ((40, 60), 2)
    >>> int(veskar.segment(image, 2, start_label=1).min())
    1
    """
    if regions is not None:
        regions = _whole_number(regions, "regions")
        if not _FEWEST_REGIONS <= regions <= _MOST_REGIONS:
            raise ValueError("regions must lie within %d to %d, got %d (None lets the merging rules decide)"
                             % (_FEWEST_REGIONS, _MOST_REGIONS, regions))
    margin = _whole_number(margin, "margin")
    if margin < 0:
        raise ValueError("margin must be 0 or more, got %d" % margin)
    start_label = _whole_number(start_label, "start_label")
    if start_label < 0:
        raise ValueError("start_label must be 0 or more, got %d" % start_label)
    threads = _whole_number(threads, "threads")
    if threads < 1:
        raise ValueError("threads must be 1 or more, got %d" % threads)
    result = _core.segment(image, regions, margin, return_colors, bool(fast), threads)
    labels = result[0] if return_colors else result
    if start_label:
        labels += start_label
    return result


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
    cell = _whole_number(cell, "cell")
    return _core.grid(_whole_number(shape[0], "height"), _whole_number(shape[1], "width"), cell)


def read_image(path, *, max_megapixels=0, accept_damaged=False, auto_orient=False):
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
    auto_orient : bool, optional
        Turn the pixels as the image's EXIF orientation says, as viewers show
        them (the program's ``--auto-orient``). By default they are returned as
        stored, with a warning when the orientation says otherwise.

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
        transparency dropped, damage accepted, an EXIF orientation not applied,
        an ICC colour profile ignored, a GIF frame smaller than its canvas.
    """
    return _core.read_image(_os.fspath(path), float(max_megapixels), bool(accept_damaged), bool(auto_orient))


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
    _core.write_labels(_os.fspath(path), labels)


def _header_fields(data, count):
    """The first ``count`` whitespace-separated netpbm header fields, and where the samples start."""
    fields, at = [], 0
    while len(fields) < count:
        while at < len(data) and data[at:at + 1].isspace():
            at += 1
        if data[at:at + 1] == b"#":
            end = data.find(b"\n", at)
            at = len(data) if end < 0 else end + 1
            continue
        start = at
        while at < len(data) and not data[at:at + 1].isspace() and data[at:at + 1] != b"#":
            at += 1
        if start == at:
            break
        fields.append(data[start:at])
    # One whitespace byte ends the header.
    return fields, at + 1


def read_labels(path):
    """Read a label map written by the program or by ``write_labels``.

    Other readers take the map's 16-bit samples as high byte first; this one
    reads them as they are written, low byte first.

    Parameters
    ----------
    path : str or os.PathLike
        Binary PGM label map.

    Returns
    -------
    labels : (M, N) ndarray of int32
        Label of every pixel.

    Raises
    ------
    ValueError
        When the file is not a binary PGM or holds fewer or more samples than
        its header declares.
    OSError
        When the file cannot be read.

    Examples
    --------
    >>> import os, tempfile
    >>> import numpy as np
    >>> import veskar
    >>> path = os.path.join(tempfile.mkdtemp(), "labels.pgm")
    >>> veskar.write_labels(path, np.array([[0, 300], [7, 1]]))
    >>> veskar.read_labels(path)
    array([[  0, 300],
           [  7,   1]], dtype=int32)
    """
    with open(path, "rb") as file:
        data = file.read()
    fields, start = _header_fields(data, 4)
    if len(fields) < 4 or fields[0] != b"P5" or not all(f.isdigit() for f in fields[1:]):
        raise ValueError("%s is not a label map (a binary PGM starting with P5)" % _os.fspath(path))
    width, height, maximum = (int(f) for f in fields[1:])
    if not 0 < maximum <= 65535:
        raise ValueError("%s declares a maximum of %d; a label map has 255 or 65535" % (_os.fspath(path), maximum))
    dtype = _np.dtype("<u2" if maximum > 255 else _np.uint8)
    samples = data[start:]
    if len(samples) != width * height * dtype.itemsize:
        raise ValueError("%s holds %d bytes of samples; its header declares %d x %d samples of %d bytes"
                         % (_os.fspath(path), len(samples), width, height, dtype.itemsize))
    return _np.frombuffer(samples, dtype).reshape(height, width).astype(_np.int32)


def preview(image, labels):
    """Paint every region in its mean colour, with borders: the program's ``--preview``.

    Parameters
    ----------
    image : (M, N, 3), (M, N, 4) or (M, N) ndarray
        The image the labels were made from, taken as ``segment`` takes it.
    labels : (M, N) ndarray of int
        Labels within 0 to 65535.

    Returns
    -------
    picture : (M, N, 3) ndarray of uint8
        Every pixel in the rounded mean colour of its region; a pixel whose
        right or lower neighbour has another label is a border pixel, black, or
        white on a dark region. These are the pixels of the file ``--preview``
        writes.

    Raises
    ------
    ValueError
        For an image ``segment`` refuses, or labels that are not 2-D integers
        within 0 to 65535 of the image's height and width.
    """
    return _core.preview(image, labels)


def outline(image, labels):
    """Draw the region borders over the image: the program's ``--outline``.

    Parameters
    ----------
    image : (M, N, 3), (M, N, 4) or (M, N) ndarray
        The image the labels were made from, taken as ``segment`` takes it.
    labels : (M, N) ndarray of int
        Labels within 0 to 65535.

    Returns
    -------
    picture : (M, N, 3) ndarray of uint8
        The image with every border pixel (its right or lower neighbour has
        another label) in the one colour of magenta, green, yellow, cyan and
        red that the fewest of the image's pixels resemble. These are the
        pixels ``--outline`` encodes.

    Raises
    ------
    ValueError
        As for ``preview``.
    """
    return _core.outline(image, labels)


def _display_by_label(labels, colors):
    """Display colours indexed by label, from one row per label in label order."""
    if colors is None:
        return None
    colors = _np.asarray(colors)
    present = _np.unique(labels)
    if colors.ndim != 2 or colors.shape != (len(present), 3):
        raise ValueError("colors must hold one RGB row per label (%d x 3), got shape %s"
                         % (len(present), colors.shape))
    by_label = _np.zeros((int(present[-1]) + 1 if len(present) else 0, 3), _np.uint8)
    by_label[present] = colors
    return by_label


def region_table(image, labels, colors=None):
    """Measure every region: the program's ``--regions`` table.

    Parameters
    ----------
    image : (M, N, 3), (M, N, 4) or (M, N) ndarray
        The image the labels were made from, taken as ``segment`` takes it.
    labels : (M, N) ndarray of int
        Labels within 0 to 65535.
    colors : (R, 3) ndarray of uint8, optional
        Display colours as ``segment(..., return_colors=True)`` returns them,
        one row per label in label order. Without them the display colour
        columns hold the mean colour, as the program's grid mode writes them.

    Returns
    -------
    table : dict of str to ndarray
        One entry per column, one element per label that owns a pixel, in label
        order, in the manner of ``skimage.measure.regionprops_table``:
        ``label``, ``pixels``, the inclusive box ``left``, ``top``, ``right``,
        ``bottom``, ``centroid_x`` and ``centroid_y`` (the CSV shows them to two
        decimals), ``display_red``, ``display_green``, ``display_blue`` and the
        rounded mean colour ``mean_red``, ``mean_green``, ``mean_blue``. These
        are the values of the file ``--regions`` writes.

    Raises
    ------
    ValueError
        As for ``preview``, and for ``colors`` without one row per label.

    Examples
    --------
    >>> import numpy as np
    >>> import veskar
    >>> image = np.zeros((4, 6, 3), np.uint8)
    >>> image[:, 3:] = (200, 40, 40)
    >>> table = veskar.region_table(image, veskar.grid(image.shape, 3))
    >>> table["label"], table["pixels"], table["mean_red"]
    (array([0, 1], dtype=int32), array([15,  9]), array([ 40, 200], dtype=uint8))
    """
    return _core.region_table(image, labels, _display_by_label(labels, colors))
