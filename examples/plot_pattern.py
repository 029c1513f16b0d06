"""Plot diffraction patterns with matplotlib.

    python examples/plot_pattern.py [FILE[:INDEX] ...] [-o PICTURE]

Each FILE is loaded with difrax (any format it reads; FILE:INDEX picks one
scan of a multi-scan file) and drawn as intensity against 2theta. Without
files it draws the bundled corundum example: the overview and the detail scan
of examples/corundum.xrdml side by side. With -o the picture
is written to that file (PNG, SVG, PDF, ... by its extension) instead of
being shown in a window. docs/plot_pattern.png was made with

    python examples/plot_pattern.py -o docs/plot_pattern.png
"""

import argparse
import sys
from pathlib import Path

import difrax

EXAMPLES = Path(__file__).resolve().parent


def load(argument: str) -> tuple[str, difrax.Pattern]:
    """FILE or FILE:INDEX, loaded; the label names the file and the scan."""
    path, index = argument, 0
    head, sep, tail = argument.rpartition(":")
    if sep and tail.isdigit() and not Path(argument).exists():
        path, index = head, int(tail)
    label = Path(path).name if index == 0 else f"{Path(path).name}, scan {index}"
    return label, difrax.read(path, index=index)


def plot_files(arguments: list[str], axes) -> None:
    for argument in arguments:
        label, pattern = load(argument)
        axes.plot(pattern.x, pattern.y, linewidth=0.8, label=label)
    axes.set_xlabel("2θ (degrees)")
    axes.set_ylabel("Intensity")
    axes.margins(x=0)
    axes.legend(frameon=False)


def plot_example(figure) -> None:
    """The bundled XRDML example: the overview scan with its strongest
    reflections labelled, and beside it the slower detail scan over the
    104 and 110 reflections, where the Cu K-alpha doublets are resolved."""
    source = EXAMPLES / "corundum.xrdml"
    overview = difrax.read(str(source), index=0)
    detail = difrax.read(str(source), index=1)

    axes, zoom = figure.subplots(1, 2, width_ratios=(3, 1))
    axes.plot(overview.x, overview.y, color="tab:blue", linewidth=0.8)
    axes.set_xlabel("2θ (degrees)")
    axes.set_ylabel("Intensity (counts per step)")
    axes.set_title("scan 0: overview, 1 s per step", fontsize=10)
    axes.margins(x=0)
    axes.set_ylim(0, max(overview.y) * 1.12)
    axes.axvspan(detail.x[0], detail.x[-1], color="tab:red", alpha=0.12, linewidth=0)

    # Label the reflections that stand well above the background.
    reflections = {"012": 25.58, "104": 35.15, "110": 37.78, "113": 43.36, "024": 52.55,
                   "116": 57.50, "214": 66.52, "300": 68.21, "1010": 76.87}
    for hkl, angle in reflections.items():
        top = max(y for x, y in zip(overview.x, overview.y) if abs(x - angle) < 0.1)
        axes.annotate(hkl, (angle, top), textcoords="offset points", xytext=(0, 3),
                      ha="center", fontsize=8, color="dimgray")

    zoom.plot(detail.x, detail.y, color="tab:red", linewidth=0.8)
    zoom.set_xlabel("2θ (degrees)")
    zoom.set_title("scan 1: detail, 4 s per step", fontsize=10)
    zoom.margins(x=0)
    zoom.set_ylim(0, max(detail.y) * 1.12)
    figure.suptitle("examples/corundum.xrdml: synthetic corundum, Cu Kα")


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description="Plot diffraction patterns loaded with difrax.")
    parser.add_argument("files", nargs="*", metavar="FILE[:INDEX]")
    parser.add_argument("-o", "--output", help="write the picture to this file instead of showing it")
    args = parser.parse_args(argv)

    import matplotlib

    if args.output:
        matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    figure = plt.figure(figsize=(10, 4.5), layout="constrained")
    try:
        if args.files:
            plot_files(args.files, figure.subplots())
        else:
            plot_example(figure)
    except (OSError, ValueError) as error:
        print(f"plot_pattern: {error}", file=sys.stderr)
        return 1
    if args.output:
        figure.savefig(args.output, dpi=110)
    else:
        plt.show()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
