#!/usr/bin/env bash
# Checks what no build compiles: the CI workflow against the published schema of workflow files
# (check-jsonschema from PyPI carries it), every shell script of the project and every `run:` step
# of the workflow with shellcheck, and every C and C++ source against .clang-format (Debian's
# clang-format 19: another version may lay the same code out otherwise). Tools land in build-lint/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh lint

venv=build-lint/venv
if [[ ! -x $venv/bin/check-jsonschema ]]; then
  python3 -m venv "$venv"
  "$venv/bin/pip" install --quiet --disable-pip-version-check check-jsonschema==0.39.0
fi
workflows=(.github/workflows/*.yml)
"$venv/bin/check-jsonschema" --builtin-schema vendor.github-workflows "${workflows[@]}"

# The workflow's steps as scripts, each as the runner starts it (bash -eo pipefail).
steps=build-lint/workflow-steps
rm -rf "$steps"
mkdir -p "$steps"
"$venv/bin/python" - "$steps" "${workflows[@]}" <<'EOF'
import pathlib, sys
from ruamel.yaml import YAML

out = pathlib.Path(sys.argv[1])
for workflow in map(pathlib.Path, sys.argv[2:]):
    for job_name, job in YAML(typ="safe").load(workflow.read_text())["jobs"].items():
        for number, step in enumerate(job.get("steps", []), 1):
            if "run" in step:
                script = out / f"{workflow.stem}-{job_name}-{number}.sh"
                script.write_text("#!/usr/bin/env bash\nset -eo pipefail\n" + step["run"])
EOF

mapfile -t scripts < <(find . \( -name 'build*' -o -name .git -o -name node_modules \) -prune \
  -o -name '*.sh' -type f -print | sort)
shellcheck .ci/run "${scripts[@]}" "$steps"/*.sh

mapfile -t sources < <(find . \( -name 'build*' -o -name .git -o -name node_modules -o -name third_party \) \
  -prune -o \( -name '*.c' -o -name '*.cc' -o -name '*.h' \) -type f -print | sort)
if ! clang-format-19 --dry-run --Werror "${sources[@]}" 2>"build-lint/format.log"; then
  sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: error: .*/\1/p' build-lint/format.log | sort -u |
    sed 's/^/not formatted as .clang-format says (clang-format-19 -i fixes it): /'
  exit 1
fi
echo "lint: ${#workflows[@]} workflow(s) valid; shellcheck clean on $((${#scripts[@]} + 1)) scripts and $(find "$steps" -name '*.sh' | wc -l) workflow steps; ${#sources[@]} C and C++ sources formatted"
