#!/bin/sh
# The tools' command lines go through one class over CLI11: refusals keep CLI11's messages and
# exit codes (105 a bad value, 108 excluded options), and the tools' own checks theirs.
#   check_command_lines.sh NP3_ACQUIRE MURA_SYNTH MURA_FLASH
set -eu
acquire=$1 synth=$2 flash=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"

# Runs a tool and checks its exit status and one exact line of its standard error.
expect() { # status, line, command...
    want_status=$1 want_line=$2
    shift 2
    status=0
    "$@" >out.txt 2>err.txt || status=$?
    if [ "$status" -ne "$want_status" ] || ! grep -qxF -- "$want_line" err.txt; then
        echo "FAILED: $* -> exit status $status (expected $want_status), standard error:"
        cat err.txt
        echo "(expected the line '$want_line')"
        exit 1
    fi
}

expect 105 "--signal: Check square value in {neural->0,ramp->3,sine->2} OR {0,3,2} FAILED" \
    "$acquire" --signal square
# --signal is checked before --ap-gain: the gain's refusal shows that RAMP was taken as ramp.
expect 105 "--ap-gain: a Neuropixels 1.0 gain: 50, 125, 250, 500, 1000, 1500, 2000 or 3000" \
    "$acquire" --signal RAMP --ap-gain 700
expect 108 "--hardware excludes --virtual" "$acquire" --virtual --hardware
expect 105 "--content: nope not in {neural,psb,sine,ramp,counter}" "$synth" -o x.bin --content nope
expect 1 "mura-synth: --fault: expected KIND:STREAM:INDEX[:VALUE], got bad:1" "$synth" -o x.bin --fault bad:1
expect 2 "--box-flash requires --box-model" "$flash" --box-flash f.bin info-read
[ ! -e x.bin ] || { echo "FAILED: a refused mura-synth wrote x.bin"; exit 1; }

# A mapped option is named as an enumeration in the help, as CLI11 names one.
"$acquire" --help | grep -qF -- "--signal ENUM:value in {neural->0,ramp->3,sine->2} OR {0,3,2}" ||
    { echo "FAILED: np3-acquire --help does not show --signal as ENUM"; exit 1; }
echo "command lines: ok"
