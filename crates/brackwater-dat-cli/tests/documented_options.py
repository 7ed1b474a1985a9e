"""Every command and option that brackwater-dat's --help lists is in its
manual page and offered by its bash completion, and the manual page renders
without a warning.

    documented_options.py TOOL MANUAL_PAGE COMPLETION
"""

import os
import re
import subprocess
import sys


def help_text(tool, *command):
    return subprocess.run([tool, *command, "--help"], capture_output=True, text=True,
                          check=True).stdout


def completions(script, words):
    """What bash offers after `words` (the last one being completed)."""
    line = " ".join(words)
    program = (f'source "{script}"; COMP_WORDS=({line}); COMP_CWORD={len(words) - 1}; '
               'complete -p brackwater-dat >/dev/null && _brackwater_dat; printf "%s\\n" "${COMPREPLY[@]}"')
    return set(subprocess.run(["bash", "-c", program], capture_output=True, text=True,
                              check=True).stdout.split())


def command_entries(page, commands):
    """Each command's entry in the page's COMMANDS section, by command: from
    its line to the next command's or the section's end."""
    section = re.search(r"^COMMANDS\n(.*?)^\S", page, re.M | re.S)
    if not section:
        return {}
    starts = [(m.start(), m.group(1)) for m in
              re.finditer(rf"^\s+({'|'.join(commands)}) ", section.group(1), re.M)]
    ends = [start for start, _ in starts[1:]] + [len(section.group(1))]
    return {name: section.group(1)[start:end] for (start, name), end in zip(starts, ends)}


def main(tool, manual, completion):
    rendered = subprocess.run(["man", "--warnings", "-l", manual], capture_output=True, text=True,
                              env={**os.environ, "MANWIDTH": "80", "MAN_KEEP_FORMATTING": ""})
    problems = [] if rendered.returncode == 0 and rendered.stderr == "" else \
        [f"man -l warns: {rendered.stderr.strip()}"]
    page = re.sub(r".\x08", "", rendered.stdout)
    program = help_text(tool)
    commands = re.findall(r"^  ([a-z]+) ", program.split("Commands:")[1], re.M)
    offered = completions(completion, ["brackwater-dat", '""'])
    entries = command_entries(page, commands)
    for command in commands:
        if command not in entries:
            problems.append(f"the manual page has no entry for {command}")
        if command not in offered:
            problems.append(f"completion does not offer {command}")
        options = set(re.findall(r"(--[a-z-]+)", help_text(tool, command)))
        offered_options = completions(completion, ["brackwater-dat", command, "--"])
        for option in sorted(options):
            # --help is every command's, and the page says so once.
            where = page if option == "--help" else entries.get(command, "")
            if not re.search(rf"{option}(?![a-z-])", where):
                problems.append(f"the manual page's entry for {command} does not mention {option}")
            if option not in offered_options:
                problems.append(f"completion does not offer {command}'s {option}")
    print(f"{len(commands)} commands checked")
    for problem in problems:
        print(problem)
    sys.exit(1 if problems or not commands else 0)


if __name__ == "__main__":
    main(*sys.argv[1:])
