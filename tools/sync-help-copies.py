#!/usr/bin/env python3
"""Writes zelupdate-cli's --help into the copies that tests/cli/tst_cli_help.cpp holds to it: the
README's help block and exit-code table, and the man page's exit status. The man page's synopsis
and the bash completion are edited by hand (their form differs); the test says where they differ.

    tools/sync-help-copies.py [ZELUPDATE_CLI]     (default: build/cli/zelupdate-cli-sim)
"""
import re
import subprocess
import sys
from pathlib import Path

root = Path(__file__).resolve().parent.parent
program = sys.argv[1] if len(sys.argv) > 1 else str(root / "build/cli/zelupdate-cli-sim")
help_text = subprocess.run([program, "--help"], capture_output=True, text=True,
                           check=True).stdout
codes = re.findall(r"^  (\d+)  (.*(?:\n     .*)*)", help_text.split("Exit codes:\n")[1], re.M)


def joined(text):
    return " ".join(text.split())


readme_path = root / "README.md"
readme = readme_path.read_text()
opening = "`zelupdate-cli --help`:\n\n```text\n"
start = readme.index(opening) + len(opening)
readme = readme[:start] + help_text + readme[readme.index("```", start):]
table = "| code | meaning |\n| --- | --- |\n"
start = readme.index(table) + len(table)
end = readme.index("\n\n", start)
readme = (readme[:start] + "".join(f"| {code} | {joined(text)} |\n" for code, text in codes)
          .rstrip("\n") + readme[end:])
readme_path.write_text(readme)


def roff(text):
    text = joined(text).replace("-", "\\-")
    for word in ("check", "list", "history", "probe"):
        text = re.sub(rf"\b{word}(?= \\-\\-|:)", rf"\\fB{word}\\fR", text)
    return text


man_path = root / "packaging/man/zelupdate-cli.1"
man = man_path.read_text()
start = man.index(".SH EXIT STATUS\n") + len(".SH EXIT STATUS\n")
end = man.index(".SH ", start)
man = man[:start] + "".join(f".TP\n.B {code}\n{roff(text)}\n" for code, text in codes) + man[end:]
man_path.write_text(man)
