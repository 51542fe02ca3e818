#!/bin/sh
# Writes a help2man include file holding each subcommand's --help, so the manual page of a
# program with subcommands lists their options too.
#   subcommand_help.sh PROGRAM OUTPUT SUBCOMMAND...
set -eu
program="$1"
out="$2"
shift 2
name="$(basename "$program")"
{
  echo "[SUBCOMMAND OPTIONS]"
  for sub in "$@"; do
    echo ".SS $sub"
    echo ".nf"
    # The usage line names the program as it was started here; the exit codes are in the
    # page once; backslashes and lines that start with a dot or a quote are escaped for roff.
    "$program" "$sub" --help | sed -e '/^Exit codes:/,/^$/d' -e "s|^Usage: .*$name|Usage: $name|" -e 's/\\/\\e/g' \
      -e 's/^\./\\\&./' -e "s/^'/\\\\\\&'/"
    echo ".fi"
  done
} > "$out.tmp"
mv "$out.tmp" "$out"
