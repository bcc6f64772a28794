#!/usr/bin/env bash
# Cases that only the bootstrap interpreter has: its own limits and refusals.
exec bash "$(dirname "$0")/../run_cases.sh" tests/kep0
