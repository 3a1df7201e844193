#!/usr/bin/env python3
"""Runs the README's examples under Wine and compares what the tools print with what the
README shows, so the README cannot drift from the tools.

An example is a fenced block right after a line "<!-- example -->". In it, a line starting
with the prompt "C:\\Users\\you> " is a command; the lines after it, up to the next command,
are what `qrt` or `thumbs` print (standard output and error together). In those lines "..."
stands for any text, a line of only "..." for any number of lines, a run of blanks or tabs
for any run of blanks or tabs, and blanks at the end of a line are not compared. Other commands (mkdir, echo, copy, reg) run through Wine's cmd
or reg; their output is not compared.

All examples run in order in one fresh folder that stands for C:\\Users\\you, holding a
Pictures folder with two pictures; C:\\Lumora stands for a host folder inside it. The host's
registry values are removed before and after.
Usage: readme_examples.py README BINDIR PICTURE:NAME...
"""
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

PROMPT = "C:\\Users\\you> "
HOME = "C:\\Users\\you"
HOST = "C:\\Lumora"
REGISTRY_KEYS = ["HKLM\\SOFTWARE\\Brannic", "HKCU\\Software\\Velnor"]


def examples(readme):
    """The example blocks: lists of (command, expected lines)."""
    blocks, lines, i = [], readme.splitlines(), 0
    while i < len(lines):
        if lines[i].strip() != "<!-- example -->":
            i += 1
            continue
        i += 1
        while i < len(lines) and not lines[i].startswith("```"):
            i += 1
        i += 1
        steps = []
        while i < len(lines) and not lines[i].startswith("```"):
            if lines[i].startswith(PROMPT):
                steps.append((lines[i][len(PROMPT):], []))
            elif steps:
                steps[-1][1].append(lines[i])
            i += 1
        blocks.append(steps)
    return blocks


def pattern(expected):
    """A regular expression for the expected lines."""
    parts = []
    for line in expected:
        if line == "...":
            parts.append("(?:[^\n]*\n)*")
            continue
        piece = ""
        for token in re.split(r"(\.\.\.|[ \t]+)", line):
            if token == "...":
                piece += "[^\n]*"
            elif token and token.strip(" \t") == "":
                piece += "[ \t]+"
            else:
                piece += re.escape(token)
        parts.append(piece + "[ \t]*\n")  # blanks at the end of a line do not count
    return re.compile("".join(parts))


def wine(args, cwd):
    return subprocess.run(["wine"] + args, cwd=cwd, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, timeout=120)


def main():
    readme_path, bindir, pictures = sys.argv[1], sys.argv[2], sys.argv[3:]
    with open(readme_path, encoding="utf-8") as f:
        blocks = examples(f.read())
    if not blocks:
        print("no examples found in " + readme_path)
        return 1
    work = tempfile.mkdtemp(prefix="glimmerly-readme-")
    failures = 0
    try:
        os.mkdir(os.path.join(work, "Pictures"))
        for picture in pictures:
            source, name = picture.rsplit(":", 1)
            shutil.copy(source, os.path.join(work, "Pictures", name))
        os.mkdir(os.path.join(work, "Lumora"))
        win_home = subprocess.run(["winepath", "-w", work], stdout=subprocess.PIPE,
                                  text=True).stdout.strip()
        win_host = win_home + "\\Lumora"

        def to_wine(text):
            return text.replace(HOST, win_host).replace(HOME, win_home)

        def from_wine(text):
            return text.replace(win_host, HOST).replace(win_home, HOME)

        for key in REGISTRY_KEYS:
            wine(["reg", "delete", key, "/f"], work)
        steps = 0
        for block in blocks:
            for command, expected in block:
                steps += 1
                line = to_wine(command)
                words = [w[1:-1] if len(w) > 1 and w[0] == w[-1] == '"' else w
                         for w in shlex.split(line, posix=False)]
                if words[0] in ("qrt", "thumbs"):
                    result = wine([os.path.join(bindir, words[0] + ".exe")] + words[1:], work)
                    actual = from_wine(result.stdout.decode("utf-8", "replace"))
                    if not pattern(expected).fullmatch(actual):
                        failures += 1
                        print("FAILED: " + command)
                        print("  expected:\n    " + "\n    ".join(expected))
                        print("  printed:\n    " + "\n    ".join(actual.splitlines()))
                        continue
                else:
                    result = wine(["reg"] + words[1:] if words[0] == "reg"
                                  else ["cmd", "/c", line], work)
                    if result.returncode != 0:
                        failures += 1
                        print("FAILED (exit %d): %s" % (result.returncode, command))
                        continue
                print("ok: " + command)
        print("%d command(s), %d failure(s)" % (steps, failures))
    finally:
        for key in REGISTRY_KEYS:
            wine(["reg", "delete", key, "/f"], work)
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
