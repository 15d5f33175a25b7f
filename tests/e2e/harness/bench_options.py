"""What the benchmark programs share: their options, parsed the same way, and the test namespace
they must run in."""
import argparse

from . import net


def parse(doc, runs, **more):
    """Parses --runs (given default, kept within 1 to 50) and one option per keyword, named
    --<keyword with dashes> and typed after its default, for a program whose docstring is doc;
    leaves with a hint when the program runs outside the test namespace."""
    parser = argparse.ArgumentParser(description=" ".join(doc.split("\n\n")[0].split()))
    parser.add_argument("--runs", type=int, default=runs)
    for name, default in more.items():
        parser.add_argument("--" + name.replace("_", "-"), type=type(default), default=default)
    parsed = parser.parse_args()
    parsed.runs = min(max(parsed.runs, 1), 50)
    if not net.in_namespace():
        raise SystemExit("run inside the namespace " + net.NAMESPACE + " (scripts/netns.sh)")
    return parsed
