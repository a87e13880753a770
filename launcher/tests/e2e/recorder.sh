#!/bin/sh
# Stands in for the main application: appends one line per start to
# $VELTO_RECORDER_LOG, its arguments separated by tabs, then one line each with
# the startup-notification identifier and the activation token it was given.
{
  printf 'start'
  for argument in "$@"; do printf '\t%s' "$argument"; done
  printf '\n'
  printf 'startup-id\t%s\n' "${DESKTOP_STARTUP_ID-}"
  printf 'activation-token\t%s\n' "${XDG_ACTIVATION_TOKEN-}"
} >> "$VELTO_RECORDER_LOG"
