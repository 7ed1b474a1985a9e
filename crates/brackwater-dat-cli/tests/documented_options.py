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


def main(tool, manual, completion):
    rendered = subprocess.run(["man", "--warnings", "-l", manual], capture_output=True, text=True,
                              env={**os.environ, "MANWIDTH": "80", "MAN_KEEP_FORMATTING": ""})
    problems = [] if rendered.returncode == 0 and rendered.stderr == "" else \
        [f"man -l warns: {rendered.stderr.strip()}"]
    page = re.sub(r".\x08", "", rendered.stdout)
    program = help_text(tool)
    commands = re.findall(r"^  ([a-z]+) ", program.split("Commands:")[1], re.M)
    offered = completions(completion, ["brackwater-dat", '""'])
    for command in commands:
        if not re.search(rf"^\s+{command} ", page, re.M):
            problems.append(f"the manual page has no entry for {command}")
        if command not in offered:
            problems.append(f"completion does not offer {command}")
        options = set(re.findall(r"(--[a-z-]+)", help_text(tool, command)))
        offered_options = completions(completion, ["brackwater-dat", command, "--"])
        for option in sorted(options):
            if option not in page:
                problems.append(f"the manual page does not mention {command}'s {option}")
            if option not in offered_options:
                problems.append(f"completion does not offer {command}'s {option}")
    print(f"{len(commands)} commands checked")
    for problem in problems:
        print(problem)
    sys.exit(1 if problems or not commands else 0)


if __name__ == "__main__":
    main(*sys.argv[1:])
