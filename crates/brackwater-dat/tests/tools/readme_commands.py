"""Runs the README's commands that are marked for it, so that none can rot.

A fenced block preceded by `<!-- run: sh -->` or `<!-- run: python -->` runs,
in order, in one shell session that starts in a scratch folder where
build/default is this build; python blocks run as `python3 -` there with the
build's module on PYTHONPATH. Any command that fails fails the test.

    readme_commands.py README BUILD_DIR
"""

import os
import re
import subprocess
import sys
import tempfile


def marked_blocks(text):
    pattern = re.compile(r"<!-- run: (sh|python) -->\n```[a-z]*\n(.*?)```", re.S)
    return [(kind, body) for kind, body in pattern.findall(text)]


def main(readme, build_dir):
    with open(readme) as f:
        blocks = marked_blocks(f.read())
    if not blocks:
        sys.exit("no blocks in the README are marked to run")
    script = ["set -euo pipefail", f'export PYTHONPATH="{build_dir}/python"']
    for kind, body in blocks:
        script.append(f"echo '# running a {kind} block of the README'")
        script.append(body if kind == "sh" else f"python3 - <<'PYTHON'\n{body}PYTHON")
    with tempfile.TemporaryDirectory() as scratch:
        os.makedirs(os.path.join(scratch, "build"))
        os.symlink(build_dir, os.path.join(scratch, "build", "default"))
        env = {k: v for k, v in os.environ.items()
               if k not in ("AC_BASE_PORTAL_DAT", "DOTNET_ROOT", "LS_TERMINAL_DLL")}
        run = subprocess.run(["bash", "-c", "\n".join(script)], cwd=scratch, env=env)
    print(f"{len(blocks)} README blocks ran")
    sys.exit(run.returncode)


if __name__ == "__main__":
    main(*sys.argv[1:])
