"""Print a short summary of each diffraction pattern named on the command line."""

import sys

import difrax


def summary(path: str) -> str:
    p = difrax.read(path)
    x, y = p.x, p.y
    step = (x[-1] - x[0]) / (len(x) - 1) if len(x) > 1 else 0.0
    top = max(range(len(y)), key=y.__getitem__)
    return (
        f"{path}: {len(x)} points, 2theta {x[0]:g} to {x[-1]:g} deg (mean step {step:.4g}), "
        f"intensity {min(y):g} to {max(y):g}, strongest at {x[top]:g} deg"
    )


if __name__ == "__main__":
    status = 0
    for name in sys.argv[1:]:
        try:
            print(summary(name))
        except (OSError, ValueError) as err:
            print(f"{name}: {err}", file=sys.stderr)
            status = 1
    sys.exit(status)
