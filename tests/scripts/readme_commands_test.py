#!/usr/bin/env python3
"""The command-line tools the README (and the docs it links) tell a user to run are where the
commands say, after the README's build: every tool named at the head of a command in a fenced
block is run from `build/` (or, installed, by its bare name), is one of the targets that
scripts/run.sh builds, exists in the build folder and answers --help.
  readme_commands_test.py SOURCE_DIR BINARY_DIR RUN_TARGETS   (RUN_TARGETS: ;-separated)"""
import os
import pathlib
import re
import shlex
import subprocess
import sys

TOOLS = {"meter-sim", "meter-decode", "meter-query", "meter-record", "meter-forward"}
# Measurement records that name their own Release build folder, not commands for a user.
NOT_FOR_USERS = {"benchmarks.md", "query-outputs.md"}


def fenced_commands(text):
    """Yields the shell command lines of each fenced block: the lines after a "$ " prompt when the
    block has prompts (the rest is output), every line otherwise; continuation lines joined."""
    for block in re.findall(r"(?ms)^```[^\n]*\n(.*?)^```", text):
        lines = block.split("\n")
        prompted = any(line.startswith("$ ") for line in lines)
        command = None
        for line in lines:
            if command is not None:
                command += " " + line.strip()
            elif prompted and line.startswith("$ "):
                command = line[2:]
            elif not prompted and line.strip() and not line.lstrip().startswith("#"):
                command = line
            else:
                continue
            if command.endswith("\\"):
                command = command[:-1]
                continue
            yield command
            command = None


def command_words(command):
    """The first word of each simple command of a line (after sudo and VAR=value)."""
    command = command.split(" #", 1)[0]
    for segment in re.split(r"&&|\|\||[|;&]", command):
        try:
            words = shlex.split(segment)
        except ValueError:
            words = segment.split()
        while words and (words[0] in ("sudo", "time", "exec") or re.match(r"^\w+=", words[0])):
            words = words[1:]
        if words:
            yield words[0]


def main():
    source, binary = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    run_targets = set(sys.argv[3].split(";"))
    documents = [source / "README.md"] + sorted(
        p for p in (source / "docs").glob("*.md") if p.name not in NOT_FOR_USERS)
    named = {}
    failures = []
    for document in documents:
        for command in fenced_commands(document.read_text(encoding="utf-8")):
            for word in command_words(command):
                folder, _, tool = word.rpartition("/")
                if tool not in TOOLS:
                    continue
                named.setdefault(tool, document.name)
                if folder not in ("", "build"):
                    failures.append(f"{document.name}: '{word}' is not in the build folder build/: {command}")
    if not {"meter-query", "meter-record"} <= set(named):
        failures.append(f"expected the README to name meter-query and meter-record, found {sorted(named)}")
    for tool, document in sorted(named.items()):
        path = binary / tool
        if tool not in run_targets:
            failures.append(f"{tool} (named in {document}) is not built by scripts/run.sh")
        if not os.access(path, os.X_OK):
            failures.append(f"{tool} (named in {document}) is not in the build folder: {path}")
            continue
        result = subprocess.run([str(path), "--help"], capture_output=True, text=True, timeout=30,
                                env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
        if result.returncode != 0 or not (result.stdout + result.stderr).strip():
            failures.append(f"{tool} --help: exit code {result.returncode}, output {result.stdout + result.stderr!r}")
    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(named)} tools named in the README's commands: {', '.join(sorted(named))}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
