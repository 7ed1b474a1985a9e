"""Runs the README's commands that are marked for it, so that none can rot.

A fenced block preceded by `<!-- run: sh -->` or `<!-- run: python -->`
runs as written: the marked blocks of one section (a `## ` heading) run in
order in one shell session that starts at the repository root, as the
README tells a reader to, here a scratch folder where build/default is this
build and web/ the repository's; python blocks run as `python3 -` in that session. Nothing is put on
PATH or PYTHONPATH that the README does not put there. Any command that
fails fails the test.

Blocks marked `<!-- run: sh, rebuild -->` build the project again (an
install from the source tree): they run only with --rebuild, and then alone,
from a scratch copy of the repository, with the system's programs first on
PATH, as on the Debian machine the README speaks of (a Python of one's own
earlier on PATH has none of Debian's build packages).

    readme_commands.py README BUILD_DIR [--rebuild]
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile


def marked_sections(text, rebuild):
    """The marked blocks, as (heading, [(kind, body)]) in README order: those
    that build the project again with `rebuild`, the others without."""
    sections = []
    pattern = re.compile(r"^## ([^\n]*)$|<!-- run: (sh|python)(, rebuild)? -->\n```[a-z]*\n(.*?)```",
                         re.S | re.M)
    heading = None
    for match in pattern.finditer(text):
        if match.group(1) is not None:
            heading = match.group(1)
            continue
        if bool(match.group(3)) != rebuild:
            continue
        if not sections or sections[-1][0] != heading:
            sections.append((heading, []))
        sections[-1][1].append((match.group(2), match.group(4)))
    return sections


def main(readme, build_dir, *flags):
    rebuild = "--rebuild" in flags
    with open(readme) as f:
        sections = marked_sections(f.read(), rebuild)
    if not sections:
        sys.exit("no blocks in the README are marked to run")
    env = {k: v for k, v in os.environ.items()
           if k not in ("AC_BASE_PORTAL_DAT", "DOTNET_ROOT", "LS_TERMINAL_DLL", "PYTHONPATH")}
    failed = 0
    with tempfile.TemporaryDirectory() as scratch:
        if rebuild:
            source = os.path.dirname(os.path.abspath(readme))
            scratch = os.path.join(scratch, "repository")
            shutil.copytree(source, scratch, ignore=shutil.ignore_patterns(
                ".git", "build", "node_modules", ".venv", "dist", "*.egg-info"))
            env["PATH"] = "/usr/bin:" + env.get("PATH", "")
        else:
            os.makedirs(os.path.join(scratch, "build"))
            os.symlink(build_dir, os.path.join(scratch, "build", "default"))
            # The static server the README runs from the repository.
            os.symlink(os.path.join(os.path.dirname(os.path.abspath(readme)), "web"),
                       os.path.join(scratch, "web"))
        for heading, blocks in sections:
            script = ["set -euo pipefail"]
            for kind, body in blocks:
                script.append(body if kind == "sh" else f"python3 - <<'PYTHON'\n{body}PYTHON")
            print(f"# running the {len(blocks)} marked blocks of '{heading}'", flush=True)
            run = subprocess.run(["bash", "-c", "\n".join(script)], cwd=scratch, env=env)
            if run.returncode != 0:
                print(f"# '{heading}' failed with status {run.returncode}", flush=True)
                failed += 1
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main(*sys.argv[1:])
