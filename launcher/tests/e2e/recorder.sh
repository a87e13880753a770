#!/bin/sh
# Stands in for the main application: appends one line per start to
# $VELTO_RECORDER_LOG, its arguments separated by tabs.
{
  printf 'start'
  for argument in "$@"; do printf '\t%s' "$argument"; done
  printf '\n'
} >> "$VELTO_RECORDER_LOG"
