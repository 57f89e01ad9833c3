#!/usr/bin/env bash
# Runs a command that starts the game with XDG_DATA_HOME in a fresh temporary
# folder (the game keeps its player data there), removed afterwards.
#   with_data_home.sh COMMAND [ARGS...]
set -u
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
XDG_DATA_HOME=$home/data "$@"
