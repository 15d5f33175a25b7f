"""Figures the tests measure: one "FIGURE" line per case on standard output, and tables of a
module's cases under build/e2e/figures/ (docs/robustness.md keeps them)."""
from . import wine


def figure(name, **values):
    print("FIGURE %s: %s" % (name, ", ".join("%s=%s" % item for item in values.items())))


class Table:
    """A Markdown table of the cases of the last run, written again after each row, so that an
    interrupted run still leaves the rows it measured."""

    def __init__(self, file_name, columns, row_format):
        self.path = wine.E2E_DIR / "figures" / file_name
        self.columns = columns
        self.row_format = row_format
        self.rows = []

    def add(self, *row):
        self.rows.append(row)
        self.path.parent.mkdir(parents=True, exist_ok=True)
        lines = ["| " + " | ".join(self.columns) + " |", "|" + "---|" * len(self.columns)]
        lines += [self.row_format % row for row in self.rows]
        self.path.write_text("\n".join(lines) + "\n")
