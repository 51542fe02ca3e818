#!/usr/bin/env bash
# Fails when a build folder that was just built still has work to do: a rule whose output
# is never up to date, or one that consumes its own input, shows here as a step to run.
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${1:-build}"
bash scripts/build.sh >/dev/null
plan="$(ninja -C "$dir" -n)"
if ! grep -q "no work to do" <<<"$plan"; then
  echo "A second build of $dir is not a no-op; ninja would run:" >&2
  echo "$plan" >&2
  exit 1
fi
echo "A second build of $dir has nothing to do."
