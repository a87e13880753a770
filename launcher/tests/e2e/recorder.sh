#!/bin/sh
# Stands in for the main application: appends one line per start to
# $VELTO_RECORDER_LOG, its arguments separated by tabs, then one line with the
# startup-notification identifier it was given.
{
  printf 'start'
  for argument in "$@"; do printf '\t%s' "$argument"; done
  printf '\n'
  printf 'startup-id\t%s\n' "${DESKTOP_STARTUP_ID-}"
} >> "$VELTO_RECORDER_LOG"
